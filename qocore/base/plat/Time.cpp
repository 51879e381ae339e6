#include "qocore/base/plat/Time.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/hostclock/HostClock.h"
#include "qocore/base/os/mac/MachTimebaseConverter.h"
#include "qocore/base/plat/Exception.h"

namespace plat {

namespace {

constinit std::atomic<MonotonicClockFn> monotonicClock{nullptr};
constinit std::atomic<WallClockFn> wallClock{nullptr};

// Years since 1900 above this would overflow an int when 1900 is added.
constexpr int kMaxYearsSince1900 = INT_MAX - 1900;  // 2,147,481,747
constexpr int64_t kSecondsPer400Years = 12'622'780'800;
constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kMonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr const char* kDateError = "<date error>";

int64_t floorDiv(int64_t a, int64_t b) noexcept {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int64_t floorMod(int64_t a, int64_t b) noexcept { return a - floorDiv(a, b) * b; }

TimeValue saturatingAdd(TimeValue a, TimeValue b) noexcept {
  TimeValue sum;
  if (__builtin_add_overflow(a, b, &sum)) return b < 0 ? INT64_MIN : INT64_MAX;
  return sum;
}

bool isLeapYear(int64_t year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int monthLength(int64_t year, int month) noexcept {
  return month == 2 && isLeapYear(year) ? 29 : kMonthLength[month - 1];
}

// Days from 1601-01-01 to the given date; month 1-12.
int64_t daysSince1601(int64_t year, int month, int64_t day) noexcept {
  int64_t y = year - 1601;
  int64_t leapDays = floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400);
  int64_t days = 365 * y + leapDays + kDaysBeforeMonth[month - 1] + day - 1;
  if (month > 2 && isLeapYear(year)) ++days;
  return days;
}

// The host clock in ticks since the first reading; -1 when it does not fit.
TimeValue hostMonotonicTime() {
  uint64_t ticks = os::MachTimebaseConverter::process().ticksAt(hostclock::hostAbsoluteTime());
  return ticks > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<TimeValue>(ticks);
}

// A run of 1 to maxDigits decimal digits and nothing else.
bool parseDigits(std::string_view text, size_t maxDigits, uint64_t& out) noexcept {
  if (text.empty() || text.size() > maxDigits) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  out = value;
  return true;
}

// A whole number in 0..limit; leading zeros are allowed.
bool parseNumber(std::string_view text, uint64_t limit, uint64_t& out) noexcept {
  while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
  uint64_t value;
  // 18 digits cannot overflow 64 bits.
  if (!parseDigits(text, 18, value) || value > limit) return false;
  out = value;
  return true;
}

// Ticks of a fraction of a second given by its digits (at most 12),
// truncated.  999,999,999,999 × 10^7 still fits in 64 unsigned bits.
bool parseFraction(std::string_view digits, TimeValue& ticks) noexcept {
  uint64_t value;
  if (!parseDigits(digits, 12, value)) return false;
  uint64_t scale = 1;
  for (size_t i = 0; i < digits.size(); ++i) scale *= 10;
  ticks = static_cast<TimeValue>(value * static_cast<uint64_t>(kTicksPerSecond) / scale);
  return true;
}

// Cuts text at the first c: the head goes to part, text keeps the tail.
bool cutAt(std::string_view& text, char c, std::string_view& part) noexcept {
  size_t p = text.find(c);
  if (p == std::string_view::npos) return false;
  part = text.substr(0, p);
  text.remove_prefix(p + 1);
  return true;
}

// Cuts text at the first of `any` (or its end); returns the character that
// ended the part, 0 at the end.
char cutAtAny(std::string_view& text, const char* any, std::string_view& part) noexcept {
  size_t p = text.find_first_of(any);
  if (p == std::string_view::npos) {
    part = text;
    text = {};
    return 0;
  }
  char ender = text[p];
  part = text.substr(0, p);
  text.remove_prefix(p + 1);
  return ender;
}

// tm_mon + 1 without overflowing on a nonsense field.
int monthOf(const tm& fields) noexcept { return static_cast<int>(static_cast<unsigned>(fields.tm_mon) + 1u); }

}  // namespace

// ---- Clocks ----

TimeValue getTime() noexcept {
  if (WallClockFn clock = wallClock.load(std::memory_order_acquire)) return clock();
  timeval now;
  gettimeofday(&now, nullptr);
  return timevalToTime(now.tv_sec, now.tv_usec);
}

TimeValue getMonotonicTime(TimeValue expected, bool* jumped) {
  if (MonotonicClockFn clock = monotonicClock.load(std::memory_order_acquire)) return clock(expected, jumped);
  if (jumped) *jumped = false;
  return hostMonotonicTime();
}

MonotonicClockFn setMonotonicClock(MonotonicClockFn clock) noexcept {
  return monotonicClock.exchange(clock, std::memory_order_acq_rel);
}

WallClockFn setWallClock(WallClockFn clock) noexcept { return wallClock.exchange(clock, std::memory_order_acq_rel); }

// ---- Conversions ----

TimeValue unixToTime(int64_t seconds) noexcept {
  if (seconds < -933'981'677'285) return INT64_MIN;
  if (seconds >= 910'692'730'086) return INT64_MAX;
  // Offset first: the product alone leaves the range at the low end.
  return (seconds + kUnixEpochSeconds) * kTicksPerSecond;
}

TimeValue timevalToTime(int64_t seconds, int64_t microseconds) noexcept {
  TimeValue sub;
  if (__builtin_mul_overflow(microseconds, 10, &sub)) sub = microseconds < 0 ? INT64_MIN : INT64_MAX;
  return saturatingAdd(unixToTime(seconds), sub);
}

TimeValue timespecToTime(int64_t seconds, int64_t nanoseconds) noexcept {
  return saturatingAdd(unixToTime(seconds), nanoseconds / 100);
}

timeval timeToTimeval(TimeValue value) noexcept {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(floorDiv(value, kTicksPerSecond) - kUnixEpochSeconds);
  tv.tv_usec = static_cast<suseconds_t>(floorMod(value, kTicksPerSecond) / 10);
  return tv;
}

// ---- Calendar ----

bool isValidDate(int year, int month, int day, int hour, int minute, int second) noexcept {
  if (month < 1 || month > 12) return false;
  if (day < 1 || day > monthLength(year, month)) return false;
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 61;
}

bool dateToTime(TimeValue& out, int year, int month, int day, int hour, int minute, int second) noexcept {
  if (!isValidDate(year, month, day, hour, minute, second)) return false;
  if (year < -1'000'000 || year > 1'000'000) return false;
  __int128 ticks = static_cast<__int128>(daysSince1601(year, month, day)) * kTicksPerDay +
                   static_cast<__int128>(hour) * 36'000'000'000 + static_cast<__int128>(minute) * 600'000'000 +
                   static_cast<__int128>(second) * kTicksPerSecond;
  if (ticks < INT64_MIN || ticks > INT64_MAX) return false;
  out = static_cast<TimeValue>(ticks);
  return true;
}

TimeValue dateToTimeChecked(int year, int month, int day, int hour, int minute, int second) {
  TimeValue value;
  if (!dateToTime(value, year, month, day, hour, minute, second))
    throw Exception("invalid date (%04d-%02d-%02dT%02d:%02d:%02d)", year, month, day, hour, minute, second);
  return value;
}

TimeValue calendarToTime(const tm& fields) {
  int yearsSince1900 = fields.tm_year > kMaxYearsSince1900 ? kMaxYearsSince1900 : fields.tm_year;
  return dateToTimeChecked(yearsSince1900 + 1900, monthOf(fields), fields.tm_mday, fields.tm_hour, fields.tm_min,
                           fields.tm_sec);
}

int64_t calendarToSeconds(const tm& fields) noexcept {
  int64_t cycles = fields.tm_year / 400;
  int64_t year = fields.tm_year - cycles * 400 + 1900;
  // A month outside 0-11 counts into the neighbouring years.
  year += floorDiv(fields.tm_mon, 12);
  int month = static_cast<int>(floorMod(fields.tm_mon, 12)) + 1;
  int64_t days = daysSince1601(year, month, fields.tm_mday);
  return days * 86'400 + int64_t{fields.tm_hour} * 3'600 + int64_t{fields.tm_min} * 60 + fields.tm_sec +
         cycles * kSecondsPer400Years;
}

void toCalendarUtc(tm& out, TimeValue value) noexcept {
  int64_t days = floorDiv(value, kTicksPerDay);
  int64_t secondOfDay = floorMod(value, kTicksPerDay) / kTicksPerSecond;
  // 1601-01-01 was a Monday.
  int weekday = static_cast<int>((floorMod(days, 7) + 1) % 7);

  // Cycles counted from 1601, so each leap-century year (and each leap
  // year) ends its cycle: 400 years of 146,097 days, centuries of 36,524
  // (the last one a day longer), four-year runs of 1,461, years of 365.
  int64_t cycles = floorDiv(days, 146'097);
  int64_t d = floorMod(days, 146'097);
  int64_t centuries = d / 36'524;
  if (centuries == 4) centuries = 3;
  d -= centuries * 36'524;
  int64_t runs = d / 1'461;
  d -= runs * 1'461;
  int64_t years = d / 365;
  if (years == 4) years = 3;
  d -= years * 365;
  int64_t year = 1601 + cycles * 400 + centuries * 100 + runs * 4 + years;

  int month = 1;
  int64_t dayOfMonth = d;
  while (dayOfMonth >= monthLength(year, month)) dayOfMonth -= monthLength(year, month++);

  out = tm{};
  out.tm_sec = static_cast<int>(secondOfDay % 60);
  out.tm_min = static_cast<int>(secondOfDay / 60 % 60);
  out.tm_hour = static_cast<int>(secondOfDay / 3600);
  out.tm_mday = static_cast<int>(dayOfMonth + 1);
  out.tm_mon = month - 1;
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_wday = weekday;
  out.tm_yday = static_cast<int>(d);
  out.tm_isdst = 0;
  out.tm_gmtoff = 0;
  out.tm_zone = "UTC";
}

void toCalendarLocal(tm& out, TimeValue value) noexcept {
  static const bool zoneRead = [] {
    tzset();
    return true;
  }();
  (void)zoneRead;
  time_t seconds = static_cast<time_t>(floorDiv(value, kTicksPerSecond) - kUnixEpochSeconds);
  if (!localtime_r(&seconds, &out)) toCalendarUtc(out, value);
}

// ---- Text forms ----

bool appendIsoDate(DString& out, const tm& fields, TimeValue value, bool withMillis) {
  out.clear();
  if (fields.tm_year > kMaxYearsSince1900) {
    out.assign(kDateError);
    return false;
  }
  out.appendf("%04d-%02d-%02dT%02d:%02d:%02d", fields.tm_year + 1900, monthOf(fields), fields.tm_mday, fields.tm_hour,
              fields.tm_min, fields.tm_sec);
  // Floor division keeps the milliseconds of a value before 1601 in 0..999.
  if (withMillis) out.appendf(".%03d", static_cast<int>(floorMod(floorDiv(value, kTicksPerMs), 1000)));
  return true;
}

bool formatIsoDate(DString& out, const tm& fields, TimeValue value, bool withMillis) {
  if (!appendIsoDate(out, fields, value, withMillis)) return false;
  int64_t offSecs = calendarToSeconds(fields) - floorDiv(value, kTicksPerSecond);
  PLAT_ASSERT_TEXT(offSecs < 365 * 86400 && offSecs > -365 * 86400, "offSecs < 365*86400 && offSecs > -365*86400");
  int64_t magnitude = offSecs < 0 ? -offSecs : offSecs;
  out.appendf("%c%02d:%02d", offSecs >= 0 ? '+' : '-', static_cast<int>(magnitude / 3600),
              static_cast<int>(magnitude / 60 % 60));
  return true;
}

bool formatIsoDateUtc(DString& out, TimeValue value, bool withMillis) {
  tm fields;
  toCalendarUtc(fields, value);
  if (!appendIsoDate(out, fields, value, withMillis)) return false;
  out.append("Z");
  return true;
}

bool parseIsoDate(TimeValue& out, const char* text) {
  if (!text) return false;
  std::string_view rest(text);
  std::string_view yearText, monthText, dayText, hourText, minuteText, secondText;
  if (!cutAt(rest, '-', yearText) || !cutAt(rest, '-', monthText) || !cutAt(rest, 'T', dayText) ||
      !cutAt(rest, ':', hourText) || !cutAt(rest, ':', minuteText))
    return false;
  char ender = cutAtAny(rest, ".Z+-", secondText);
  if (hourText.size() != 2 || minuteText.size() != 2 || secondText.size() != 2) return false;

  uint64_t year, month, day, hour, minute, second;
  if (!parseNumber(yearText, 9999, year) || year < 1 || !parseNumber(monthText, INT_MAX, month) ||
      !parseNumber(dayText, INT_MAX, day) || !parseNumber(hourText, 99, hour) || !parseNumber(minuteText, 99, minute) ||
      !parseNumber(secondText, 99, second))
    return false;
  TimeValue value;
  if (!dateToTime(value, static_cast<int>(year), static_cast<int>(month), static_cast<int>(day), static_cast<int>(hour),
                  static_cast<int>(minute), static_cast<int>(second)))
    return false;

  if (ender == '.') {
    std::string_view fractionText;
    ender = cutAtAny(rest, "Z+-", fractionText);
    TimeValue fraction;
    if (!parseFraction(fractionText, fraction)) return false;
    value += fraction;  // at most 9999-12-31T23:59:60.99..., far inside the range
  }

  if (ender == 0) {
    out = value;
    return true;
  }
  if (ender == 'Z') {
    if (!rest.empty()) return false;
    out = value;
    return true;
  }
  std::string_view hoursText, minutesText;
  if (rest.size() == 5 && rest[2] == ':') {
    hoursText = rest.substr(0, 2);
    minutesText = rest.substr(3, 2);
  } else if (rest.size() == 4) {
    hoursText = rest.substr(0, 2);
    minutesText = rest.substr(2, 2);
  } else if (rest.size() == 2) {
    hoursText = rest;
    minutesText = "00";
  } else {
    return false;
  }
  uint64_t offsetHours, offsetMinutes;
  if (!parseDigits(hoursText, 2, offsetHours) || !parseDigits(minutesText, 2, offsetMinutes)) return false;
  TimeValue offset = static_cast<TimeValue>(offsetHours * 60 + offsetMinutes) * 60 * kTicksPerSecond;
  // "-00:00" means "offset unknown" in the standard; it names no zone.
  if (ender == '-' && offset == 0) return false;
  out = ender == '+' ? value - offset : value + offset;
  return true;
}

TimeValue parseIsoDateChecked(const char* text) {
  TimeValue value;
  if (!parseIsoDate(value, text)) throw Exception("invalid date (%s)", text ? text : "(null)");
  return value;
}

bool parseIsoDuration(TimeValue& out, const char* text) {
  out = 0;
  if (!text || text[0] != 'P') return false;
  std::string_view rest(text + 1);
  TimeValue total = 0;
  auto addUnits = [&total](uint64_t count, TimeValue unit) {
    TimeValue product;
    return !__builtin_mul_overflow(static_cast<TimeValue>(count), unit, &product) &&
           !__builtin_add_overflow(total, product, &total);
  };

  std::string_view daysText;
  if (cutAt(rest, 'D', daysText)) {
    uint64_t days;
    if (!parseNumber(daysText, INT32_MAX, days) || !addUnits(days, kTicksPerDay)) return false;
  }
  if (!rest.empty()) {
    if (rest.front() != 'T') return false;
    rest.remove_prefix(1);
    static constexpr char kDesignators[] = "HMS";
    static constexpr TimeValue kUnits[] = {36'000'000'000, 600'000'000, kTicksPerSecond};
    size_t next = 0;  // designators before this one are used up
    while (!rest.empty()) {
      std::string_view number;
      char designator = cutAtAny(rest, kDesignators, number);
      if (designator == 0) return false;
      size_t index = static_cast<size_t>(strchr(kDesignators, designator) - kDesignators);
      if (index < next) return false;
      next = index + 1;
      std::string_view fractionText;
      bool hasFraction = false;
      if (designator == 'S') {
        size_t dot = number.find('.');
        if (dot != std::string_view::npos) {
          fractionText = number.substr(dot + 1);
          number = number.substr(0, dot);
          hasFraction = true;
        }
      }
      uint64_t count;
      if (!parseNumber(number, INT32_MAX, count) || !addUnits(count, kUnits[index])) return false;
      if (hasFraction) {
        TimeValue fraction;
        if (!parseFraction(fractionText, fraction) || __builtin_add_overflow(total, fraction, &total)) return false;
      }
    }
  }
  out = total;
  return true;
}

bool parseBuildDate(int& year, int& month, int& day, const char* text) {
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (!text) return false;
  std::string_view tokens[3];
  std::string_view rest(text);
  for (std::string_view& token : tokens) {
    size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    rest.remove_prefix(start);
    size_t end = rest.find_first_of(" \t");
    token = rest.substr(0, end);
    rest.remove_prefix(token.size());
  }
  if (rest.find_first_not_of(" \t") != std::string_view::npos) return false;

  int foundMonth = 0;
  for (int i = 0; i < 12; ++i)
    if (tokens[0] == kMonths[i]) foundMonth = i + 1;
  uint64_t foundDay, foundYear;
  if (!foundMonth || !parseNumber(tokens[1], 31, foundDay) || foundDay < 1 ||
      !parseNumber(tokens[2], 9999, foundYear) || foundYear < 1)
    return false;
  year = static_cast<int>(foundYear);
  month = foundMonth;
  day = static_cast<int>(foundDay);
  return true;
}

bool formatTime(DString& out, const char* format, const tm& fields) {
  if (fields.tm_year > kMaxYearsSince1900) {
    out.append(kDateError);
    return false;
  }
  // strftime pads %Y differently across C libraries and may not print a
  // year above 9999 whole; put the year in as text.  "%%" stays a literal.
  char yearText[16];
  snprintf(yearText, sizeof yearText, "%04d", fields.tm_year + 1900);
  std::string pattern;
  for (const char* p = format ? format : ""; *p; ++p) {
    if (p[0] == '%' && p[1] == 'Y') {
      pattern += yearText;
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      pattern += "%%";
      ++p;
    } else {
      pattern += *p;
    }
  }
  // strftime reports 0 both for "too small" and for an empty result, so
  // the room doubles up to a bound.
  std::string room;
  for (size_t size = 16; size <= 1024; size *= 2) {
    room.resize(size);
    size_t n = strftime(room.data(), size, pattern.c_str(), &fields);
    if (n > 0) {
      out.append(room.data(), static_cast<int>(n));
      return true;
    }
  }
  out.append(kDateError);
  return false;
}

// ---- Waiting ----

int pollMs(pollfd* fds, nfds_t count, int* timeoutMs, bool updateTimeout) {
  int requested = timeoutMs ? *timeoutMs : -1;
  int wait = requested;
  if (requested > 0 && requested != INT_MAX) wait = requested + 1;  // never end early
  bool update = updateTimeout && requested >= 0;
  TimeValue deadline = update ? hostMonotonicTime() + requested * kTicksPerMs + 9'999 : 0;

  int rv = ::poll(fds, count, wait < 0 ? -1 : wait);
  if (rv < 0) {
    int error = errno;
    if (error != EINTR) throw SystemException("poll", error);
    for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
  }
  if (update && rv <= 0) {
    TimeValue left = (deadline - hostMonotonicTime()) / kTicksPerMs;
    *timeoutMs = left < 0 ? 0 : static_cast<int>(left);
  }
  return rv;
}

void sleepMs(int ms) {
  int left = ms;
  do {
    pollMs(nullptr, 0, &left, true);
  } while (left > 0);
}

}  // namespace plat
