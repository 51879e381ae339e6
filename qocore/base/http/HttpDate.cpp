#include "qocore/base/http/HttpDate.h"

#include <cstring>
#include <ctime>
#include <string>

#include "qocore/base/plat/Exception.h"

namespace http {

namespace {

constexpr const char* kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The text up to the delimiter (consumed), or false when there is none.
bool field(const char*& cursor, char delimiter, std::string& out) {
  const char* end = std::strchr(cursor, delimiter);
  if (!end) return false;
  out.assign(cursor, end);
  cursor = end + 1;
  return true;
}

// A whole unsigned decimal number of a sensible size.
bool number(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

int monthNumber(const std::string& text) {
  for (int i = 0; i < 12; i++)
    if (text == kMonths[i]) return i + 1;
  return 0;
}

}  // namespace

void appendHttpDate(plat::DString& out, plat::TimeValue time, HttpDateForm form) {
  tm fields{};
  plat::toCalendarUtc(fields, time);
  const std::string day(kDays[fields.tm_wday % 7]);
  const char* month = kMonths[fields.tm_mon % 12];
  const int year = fields.tm_year + 1900;
  switch (form) {
    case HttpDateForm::kRfc1123:
      out.appendf("%s, %02d %s %04d %02d:%02d:%02d GMT", day.substr(0, 3).c_str(), fields.tm_mday, month, year,
                  fields.tm_hour, fields.tm_min, fields.tm_sec);
      break;
    case HttpDateForm::kRfc850:
      out.appendf("%s, %02d-%s-%02d %02d:%02d:%02d GMT", day.c_str(), fields.tm_mday, month, year % 100, fields.tm_hour,
                  fields.tm_min, fields.tm_sec);
      break;
    case HttpDateForm::kAsctime:
      out.appendf("%s %s %2d %02d:%02d:%02d %04d", day.substr(0, 3).c_str(), month, fields.tm_mday, fields.tm_hour,
                  fields.tm_min, fields.tm_sec, year);
      break;
  }
}

bool parseHttpDate(const char* text, plat::TimeValue& out) {
  if (!text) return false;
  const bool comma = std::strchr(text, ',') != nullptr;
  const HttpDateForm form = !comma                   ? HttpDateForm::kAsctime
                            : std::strchr(text, '-') ? HttpDateForm::kRfc850
                                                     : HttpDateForm::kRfc1123;
  const char* cursor = text;
  std::string weekday, dayText, monthText, yearText, hourText, minuteText, secondText;
  if (form == HttpDateForm::kAsctime) {
    if (!field(cursor, ' ', weekday) || !field(cursor, ' ', monthText)) return false;
    while (*cursor == ' ') cursor++;
    if (!field(cursor, ' ', dayText) || !field(cursor, ':', hourText) || !field(cursor, ':', minuteText) ||
        !field(cursor, ' ', secondText))
      return false;
    yearText = cursor;
  } else {
    const char dateDelimiter = form == HttpDateForm::kRfc850 ? '-' : ' ';
    if (!field(cursor, ' ', weekday) || !field(cursor, dateDelimiter, dayText) ||
        !field(cursor, dateDelimiter, monthText) || !field(cursor, ' ', yearText) || !field(cursor, ':', hourText) ||
        !field(cursor, ':', minuteText) || !field(cursor, ' ', secondText))
      return false;
  }
  int year, day, hour, minute, second;
  if (!number(yearText, year) || !number(dayText, day) || !number(hourText, hour) || !number(minuteText, minute) ||
      !number(secondText, second))
    return false;
  const int month = monthNumber(monthText);
  if (month == 0) return false;
  if (year < 100) year += 1900;
  plat::TimeValue time;
  if (!plat::dateToTime(time, year, month, day, hour, minute, second)) return false;
  plat::DString again;
  appendHttpDate(again, time, form);
  if (std::strcmp(again.c_str(), text) != 0) return false;
  out = time;
  return true;
}

plat::TimeValue parseHttpDateOrThrow(const char* text) {
  plat::TimeValue time;
  if (!parseHttpDate(text, time)) throw plat::ExceptionFmt("invalid HTTP date (%s)", text ? text : "");
  return time;
}

}  // namespace http
