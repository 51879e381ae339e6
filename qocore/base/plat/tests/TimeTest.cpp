#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"

namespace {

using plat::TimeValue;
using testing::HasSubstr;

constexpr TimeValue kSecond = plat::kTicksPerSecond;

TimeValue fromUnix(int64_t seconds, TimeValue extraTicks = 0) { return plat::unixToTime(seconds) + extraTicks; }

// A calendar record as the C library keeps it (month 0-11, years since
// 1900); the year is wide so that records beyond 32-bit years can be made.
tm calendar(int64_t year, int month, int day, int hour, int minute, int second) {
  tm fields{};
  fields.tm_year = static_cast<int>(year - 1900);
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return fields;
}

// ---- Parsing ----

TEST(TimeParseTest, IsoDates) {
  const int64_t jan1At8 = 1704096000;  // 2024-01-01T08:00:00Z
  struct Case {
    const char* text;
    bool ok;
    TimeValue value;
  } cases[] = {
      {"2024-02-29T12:00:00Z", true, fromUnix(1709208000)},
      {"2023-02-29T12:00:00Z", false, 0},
      {"2024-01-01T00:00:60", true, fromUnix(1704067260)},  // a leap second counts into the next minute
      {"2024-01-01T0:00:00", false, 0},
      {"2024-01-01T08:00:00Z", true, fromUnix(jan1At8)},
      {"2024-01-01T08:00:00", true, fromUnix(jan1At8)},
      {"2024-01-01T10:00:00+02:00", true, fromUnix(jan1At8)},
      {"2024-01-01T10:00:00+0200", true, fromUnix(jan1At8)},
      {"2024-01-01T10:00:00+02", true, fromUnix(jan1At8)},
      {"2024-01-01T02:30:00-05:30", true, fromUnix(jan1At8)},
      {"2024-01-01T08:00:00+00:00", true, fromUnix(jan1At8)},
      {"2024-01-01T08:00:00-00:00", false, 0},
      {"2024-01-01T08:00:00-0000", false, 0},
      {"2024-01-01T08:00:00-00", false, 0},
      {"2024-01-01T08:00:00+2:00", false, 0},
      {"2024-01-01T08:00:00+02:0", false, 0},
      {"2024-01-01T08:00:00+020", false, 0},
      {"2024-01-01T08:00:00Zx", false, 0},
      {"2024-01-01T08:00:00.5Z", true, fromUnix(jan1At8, 5'000'000)},
      {"2024-01-01T09:00:00.5+01:00", true, fromUnix(jan1At8, 5'000'000)},
      {"2024-01-01T08:00:00.0000001", true, fromUnix(jan1At8, 1)},
      {"2024-01-01T08:00:00.00000009", true, fromUnix(jan1At8)},  // below a tick: truncated
      {"2024-01-01T08:00:00.999999999999Z", true, fromUnix(jan1At8, 9'999'999)},
      {"2024-01-01T08:00:00.9999999999999Z", false, 0},
      {"2024-01-01T08:00:00.Z", false, 0},
      {"2024-01-01T08:00:00.5x", false, 0},
      {"0001-01-01T00:00:00Z", true, fromUnix(-62135596800)},
      {"9999-12-31T23:59:59Z", true, fromUnix(253402300799)},
      {"0000-01-01T00:00:00Z", false, 0},
      {"10000-01-01T00:00:00Z", false, 0},
      {"2024-13-01T00:00:00Z", false, 0},
      {"2024-01-01T24:00:00Z", false, 0},
      {"2024-01-01T08:00:61Z", false, 0},
      {"2024-01-01 08:00:00Z", false, 0},
      {"2024-01-01T08:00Z", false, 0},
      {"2024/01/01T08:00:00Z", false, 0},
      {"+2024-01-01T08:00:00Z", false, 0},
      {"2024-01-01T08:00:0x", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    TimeValue value = 0;
    EXPECT_EQ(plat::parseIsoDate(value, c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  TimeValue value;
  EXPECT_FALSE(plat::parseIsoDate(value, nullptr));
}

TEST(TimeParseTest, CheckedDateParseNamesTheText) {
  EXPECT_EQ(plat::parseIsoDateChecked("1970-01-01T00:00:00Z"), plat::kUnixEpoch);
  try {
    plat::parseIsoDateChecked("2023-02-29T12:00:00Z");
    FAIL() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "invalid date (2023-02-29T12:00:00Z)");
  }
}

TEST(TimeParseTest, IsoDurations) {
  const TimeValue hour = 3600 * kSecond;
  struct Case {
    const char* text;
    bool ok;
    TimeValue value;
  } cases[] = {
      {"PT1H30M", true, 54'000'000'000},
      {"P1DT0.25S", true, 864'002'500'000},
      {"PT0.999999999999S", true, 9'999'999},
      {"PT0.9999999999999S", false, 0},
      {"P1W", false, 0},
      {"P1Y", false, 0},
      {"P1M", false, 0},
      {"P2D", true, 2 * plat::kTicksPerDay},
      {"P1DT", true, plat::kTicksPerDay},
      {"P", true, 0},
      {"PT", true, 0},
      {"PT5S", true, 5 * kSecond},
      {"PT1H1S", true, hour + kSecond},
      {"PT1M1H", false, 0},
      {"PT1H1H", false, 0},
      {"PTH", false, 0},
      {"PT1.5H", false, 0},
      {"PT.5S", false, 0},
      {"PT1.S", false, 0},
      {"PT1S2", false, 0},
      {"P1D2H", false, 0},
      {"P-1D", false, 0},
      {"PT2147483647S", true, 2'147'483'647 * kSecond},
      {"PT2147483648S", false, 0},
      // The day count in 64-bit ticks: 10,675,199 days fit, 10,675,200 do not.
      {"P10675199D", true, 10'675'199 * plat::kTicksPerDay},
      {"P10675200D", false, 0},
      {"P10675199DT2H", true, 10'675'199 * plat::kTicksPerDay + 2 * hour},
      {"P10675199DT3H", false, 0},
      {"P2147483647D", false, 0},
      {"1D", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    TimeValue value = -1;
    EXPECT_EQ(plat::parseIsoDuration(value, c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(TimeParseTest, BuildDates) {
  struct Case {
    const char* text;
    bool ok;
    int year, month, day;
  } cases[] = {
      {"Mar  5 2024", true, 2024, 3, 5},
      {"Jan 1 1", true, 1, 1, 1},
      {"Dec 31 9999", true, 9999, 12, 31},
      {" Feb\t29 2024 ", true, 2024, 2, 29},
      {"mar 5 2024", false, 0, 0, 0},
      {"March 5 2024", false, 0, 0, 0},
      {"Mar 0 2024", false, 0, 0, 0},
      {"Mar 32 2024", false, 0, 0, 0},
      {"Mar 5 0", false, 0, 0, 0},
      {"Mar 5 10000", false, 0, 0, 0},
      {"Mar 5x 2024", false, 0, 0, 0},
      {"Mar 5 2024x", false, 0, 0, 0},
      {"Mar 5", false, 0, 0, 0},
      {"Mar 5 2024 12", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int year = 0, month = 0, day = 0;
    EXPECT_EQ(plat::parseBuildDate(year, month, day, c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(year, c.year) << c.text;
      EXPECT_EQ(month, c.month) << c.text;
      EXPECT_EQ(day, c.day) << c.text;
    }
  }
}

// ---- Conversions and calendar ----

TEST(TimeConversionTest, UnixBoundsSaturate) {
  struct Case {
    TimeValue value;
    TimeValue expected;
  } cases[] = {
      {plat::unixToTime(0), 116'444'736'000'000'000},
      {plat::unixToTime(910'692'730'085), 9'223'372'036'850'000'000},
      {plat::unixToTime(910'692'730'086), INT64_MAX},
      {plat::unixToTime(INT64_MAX), INT64_MAX},
      {plat::unixToTime(-933'981'677'285), -9'223'372'036'850'000'000},
      {plat::unixToTime(-933'981'677'286), INT64_MIN},
      {plat::unixToTime(INT64_MIN), INT64_MIN},
      {plat::timevalToTime(0, 1), plat::kUnixEpoch + 10},
      {plat::timevalToTime(-1, 999'999), plat::kUnixEpoch - 10},
      {plat::timevalToTime(910'692'730'085, 999'999), INT64_MAX},
      {plat::timevalToTime(0, INT64_MAX), INT64_MAX},
      {plat::timespecToTime(0, 199), plat::kUnixEpoch + 1},
      {plat::timespecToTime(-933'981'677'285, -999'999'999), INT64_MIN},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].value, cases[i].expected) << "case " << i;
}

TEST(TimeConversionTest, TimevalUsesFloorDivision) {
  struct Case {
    TimeValue value;
    int64_t seconds;
    int64_t micros;
  } cases[] = {
      {plat::kUnixEpoch, 0, 0},
      {plat::kUnixEpoch + 15, 0, 1},
      {plat::kUnixEpoch - 1, -1, 999'999},
      {plat::kUnixEpoch - kSecond, -1, 0},
      {0, -11'644'473'600, 0},
      {-10, -11'644'473'601, 999'999},
  };
  for (const Case& c : cases) {
    timeval tv = plat::timeToTimeval(c.value);
    EXPECT_EQ(tv.tv_sec, c.seconds) << c.value;
    EXPECT_EQ(tv.tv_usec, c.micros) << c.value;
  }
}

TEST(TimeCalendarTest, DateValidityAndRange) {
  struct Case {
    int year, month, day, hour, minute, second;
    bool valid;  // isValidDate
    bool fits;   // dateToTime
  } cases[] = {
      {2024, 2, 29, 0, 0, 0, true, true},
      {2023, 2, 29, 0, 0, 0, false, false},
      {2000, 2, 29, 0, 0, 0, true, true},
      {1900, 2, 29, 0, 0, 0, false, false},
      {2024, 4, 31, 0, 0, 0, false, false},
      {2024, 0, 1, 0, 0, 0, false, false},
      {2024, 13, 1, 0, 0, 0, false, false},
      {2024, 1, 0, 0, 0, 0, false, false},
      {2024, 1, 1, 24, 0, 0, false, false},
      {2024, 1, 1, 23, 60, 0, false, false},
      {2024, 1, 1, 23, 59, 60, true, true},
      {2024, 1, 1, 23, 59, 61, false, false},
      {2024, 1, 1, -1, 0, 0, false, false},
      // No year bound for validity; 64-bit ticks end in 30828 and -27627.
      {30828, 9, 14, 2, 48, 5, true, true},
      {30828, 9, 14, 2, 48, 6, true, false},
      {-27627, 4, 19, 21, 11, 55, true, true},
      {-27627, 4, 19, 21, 11, 54, true, false},
      {1'000'001, 1, 1, 0, 0, 0, true, false},
      {-4, 2, 29, 0, 0, 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day << "T" << c.hour << ":" << c.minute
                                    << ":" << c.second);
    EXPECT_EQ(plat::isValidDate(c.year, c.month, c.day, c.hour, c.minute, c.second), c.valid);
    TimeValue value;
    EXPECT_EQ(plat::dateToTime(value, c.year, c.month, c.day, c.hour, c.minute, c.second), c.fits);
  }
  TimeValue value;
  ASSERT_TRUE(plat::dateToTime(value, 1601, 1, 1, 0, 0, 0));
  EXPECT_EQ(value, 0);
  ASSERT_TRUE(plat::dateToTime(value, 30828, 9, 14, 2, 48, 5));
  EXPECT_EQ(value, INT64_MAX / kSecond * kSecond);
}

TEST(TimeCalendarTest, CheckedFormsNameTheFields) {
  struct Case {
    tm fields;
    const char* message;
  } cases[] = {
      {calendar(2023, 2, 29, 12, 0, 0), "invalid date (2023-02-29T12:00:00)"},
      // The year is limited first, so that adding 1900 does not overflow.
      {calendar(int64_t{INT_MAX} + 1900, 1, 2, 3, 4, 5), "invalid date (2147483647-01-02T03:04:05)"},
  };
  for (const Case& c : cases) {
    try {
      plat::calendarToTime(c.fields);
      ADD_FAILURE() << c.message;
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), c.message);
    }
  }
  EXPECT_THROW(plat::dateToTimeChecked(2024, 2, 30, 0, 0, 0), plat::Exception);
  EXPECT_EQ(plat::dateToTimeChecked(1970, 1, 1, 0, 0, 0), plat::kUnixEpoch);
  EXPECT_EQ(plat::calendarToTime(calendar(2024, 1, 1, 8, 0, 0)), fromUnix(1704096000));
}

// The calendar arithmetic against the C library over random instants.
TEST(TimeCalendarTest, AgreesWithTheCLibrary) {
  std::mt19937_64 random(20240229);
  const int64_t first = -11'644'473'600;  // 1601-01-01
  const int64_t last = 253'402'300'799;   // 9999-12-31T23:59:59
  std::uniform_int_distribution<int64_t> seconds(first, last);
  std::uniform_int_distribution<int64_t> subsecond(0, kSecond - 1);
  for (int i = 0; i < 20000; ++i) {
    int64_t s = i == 0 ? first : i == 1 ? last : seconds(random);
    TimeValue value = plat::unixToTime(s) + subsecond(random);
    time_t t = static_cast<time_t>(s);
    tm expected{};
    ASSERT_NE(gmtime_r(&t, &expected), nullptr);

    tm fields;
    plat::toCalendarUtc(fields, value);
    ASSERT_EQ(fields.tm_year, expected.tm_year) << s;
    ASSERT_EQ(fields.tm_mon, expected.tm_mon) << s;
    ASSERT_EQ(fields.tm_mday, expected.tm_mday) << s;
    ASSERT_EQ(fields.tm_hour, expected.tm_hour) << s;
    ASSERT_EQ(fields.tm_min, expected.tm_min) << s;
    ASSERT_EQ(fields.tm_sec, expected.tm_sec) << s;
    ASSERT_EQ(fields.tm_wday, expected.tm_wday) << s;
    ASSERT_EQ(fields.tm_yday, expected.tm_yday) << s;
    ASSERT_EQ(fields.tm_gmtoff, 0) << s;
    ASSERT_STREQ(fields.tm_zone, "UTC") << s;

    ASSERT_EQ(timegm(&expected), t);
    ASSERT_EQ(plat::calendarToSeconds(fields), s + plat::kUnixEpochSeconds) << s;
    ASSERT_EQ(plat::calendarToTime(fields), plat::unixToTime(s)) << s;
  }
}

// Splitting and rebuilding is exact to the second over the whole range,
// before 1601 included.
TEST(TimeCalendarTest, SplitAndRebuildRoundTrip) {
  std::mt19937_64 random(1601);
  std::uniform_int_distribution<TimeValue> values(INT64_MIN + plat::kTicksPerDay, INT64_MAX);
  for (int i = 0; i < 20000; ++i) {
    TimeValue value = i == 0 ? INT64_MAX : i == 1 ? -1 : values(random);
    tm fields;
    plat::toCalendarUtc(fields, value);
    TimeValue rebuilt;
    ASSERT_TRUE(plat::dateToTime(rebuilt, fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                                 fields.tm_min, fields.tm_sec))
        << value;
    TimeValue floorSecond = value / kSecond * kSecond - (value % kSecond < 0 ? kSecond : 0);
    ASSERT_EQ(rebuilt, floorSecond) << value;
    ASSERT_EQ(plat::calendarToSeconds(fields), floorSecond / kSecond) << value;
  }
  tm fields;
  plat::toCalendarUtc(fields, 0);
  EXPECT_EQ(fields.tm_wday, 1);  // 1601-01-01 was a Monday
}

TEST(TimeCalendarTest, FarYearsTakeOutWholeCycles) {
  tm fields = calendar(2024, 1, 1, 0, 0, 0);
  int64_t base = plat::calendarToSeconds(fields);
  const int64_t cycles = 5'000'000;
  fields.tm_year += cycles * 400;
  EXPECT_EQ(plat::calendarToSeconds(fields), base + cycles * 12'622'780'800);
  fields.tm_year = INT_MAX;  // must not overflow
  EXPECT_GT(plat::calendarToSeconds(fields), base);
}

// ---- Formatting ----

TEST(TimeFormatTest, IsoDatesInUtc) {
  struct Case {
    TimeValue value;
    bool withMillis;
    const char* text;
  } cases[] = {
      {plat::kUnixEpoch, true, "1970-01-01T00:00:00.000Z"},
      {plat::kUnixEpoch, false, "1970-01-01T00:00:00Z"},
      {fromUnix(1709208000, 1'234'567), true, "2024-02-29T12:00:00.123Z"},
      {fromUnix(253402300799, 9'999'999), true, "9999-12-31T23:59:59.999Z"},
      {-1, true, "1600-12-31T23:59:59.999Z"},
      {fromUnix(-62135596800), false, "0001-01-01T00:00:00Z"},
      {INT64_MAX, true, "30828-09-14T02:48:05.477Z"},
  };
  for (const Case& c : cases) {
    plat::DString out("stale");
    EXPECT_TRUE(plat::formatIsoDateUtc(out, c.value, c.withMillis));
    EXPECT_STREQ(out.c_str(), c.text);
  }
}

TEST(TimeFormatTest, IsoDatesWithZoneOffset) {
  const TimeValue at8Utc = fromUnix(1704096000);  // 2024-01-01T08:00:00Z
  struct Case {
    tm fields;
    TimeValue value;
    const char* text;
  } cases[] = {
      {calendar(2024, 1, 1, 10, 0, 0), at8Utc, "2024-01-01T10:00:00+02:00"},
      {calendar(2024, 1, 1, 8, 0, 0), at8Utc + 5'000'000, "2024-01-01T08:00:00+00:00"},
      {calendar(2024, 1, 1, 2, 30, 0), at8Utc, "2024-01-01T02:30:00-05:30"},
      {calendar(2024, 1, 1, 20, 45, 0), at8Utc, "2024-01-01T20:45:00+12:45"},
  };
  for (const Case& c : cases) {
    plat::DString out;
    EXPECT_TRUE(plat::formatIsoDate(out, c.fields, c.value, false));
    EXPECT_STREQ(out.c_str(), c.text);
  }
}

TEST(TimeFormatTest, YearsBeyond32BitsAreDateErrors) {
  tm fields = calendar(int64_t{INT_MAX} + 1, 1, 1, 0, 0, 0);
  plat::DString out("kept?");
  EXPECT_FALSE(plat::appendIsoDate(out, fields, 0, true));
  EXPECT_STREQ(out.c_str(), "<date error>");
  EXPECT_FALSE(plat::formatIsoDate(out, fields, 0, true));
  EXPECT_STREQ(out.c_str(), "<date error>");
  plat::DString appended("x ");
  EXPECT_FALSE(plat::formatTime(appended, "%d", fields));
  EXPECT_STREQ(appended.c_str(), "x <date error>");

  fields.tm_year = INT_MAX - 1900;  // the last year that fits
  EXPECT_TRUE(plat::appendIsoDate(out, fields, 0, false));
  EXPECT_STREQ(out.c_str(), "2147483647-01-01T00:00:00");
}

TEST(TimeFormatDeathTest, ZoneOffsetOfAYearIsFatal) {
  tm fields = calendar(2025, 1, 1, 0, 0, 0);
  plat::DString out;
  EXPECT_EXIT(plat::formatIsoDate(out, fields, fromUnix(1704096000), false), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'offSecs < 365*86400 && offSecs > -365*86400' failed"));
}

TEST(TimeFormatTest, LocalTimeFollowsTheZone) {
  // The zone is read once per process, so a child sets it before its first
  // use.  A POSIX zone rule needs no zone files.
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    setenv("TZ", "XST-5:30", 1);
    tm fields;
    plat::toCalendarLocal(fields, fromUnix(1704096000));
    plat::DString out;
    bool ok = plat::formatIsoDate(out, fields, fromUnix(1704096000, 1'230'000), true);
    _exit(ok && std::string(out.c_str()) == "2024-01-01T13:30:00.123+05:30" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(TimeFormatTest, StrftimeWrapper) {
  tm year12345 = calendar(12345, 3, 4, 5, 6, 7);
  tm year5 = calendar(5, 1, 1, 0, 0, 0);
  std::string longText(600, 'a');
  std::string tooLong(1100, 'a');
  struct Case {
    const char* format;
    const tm& fields;
    bool ok;
    const char* text;
  } cases[] = {
      {"%Y", year12345, true, "12345"},
      {"%Y-%m-%d %H:%M:%S", year12345, true, "12345-03-04 05:06:07"},
      {"%Y", year5, true, "0005"},
      {"%%Y=%Y", year5, true, "%Y=0005"},
      {"", year5, false, "<date error>"},
      {longText.c_str(), year5, true, longText.c_str()},
      {tooLong.c_str(), year5, false, "<date error>"},
  };
  for (const Case& c : cases) {
    plat::DString out("> ");
    EXPECT_EQ(plat::formatTime(out, c.format, c.fields), c.ok) << c.format;
    EXPECT_EQ(std::string(out.c_str()), std::string("> ") + c.text) << c.format;
  }
}

// ---- Clocks ----

TimeValue fixedWallClock() { return 42; }

TimeValue lastExpected;
bool* lastJumped;
TimeValue recordingClock(TimeValue expected, bool* jumped) {
  lastExpected = expected;
  lastJumped = jumped;
  return 1234;
}

TEST(TimeClockTest, MonotonicClockStartsNearZeroAndNeverJumps) {
  bool jumped = true;
  TimeValue first = plat::getMonotonicTime(5, &jumped);
  EXPECT_FALSE(jumped);
  EXPECT_GE(first, 0);
  // The origin is the first reading of the process; the test binary has
  // not been running for an hour.
  EXPECT_LT(first, 3600 * kSecond);
  TimeValue previous = first;
  for (int i = 0; i < 1000; ++i) {
    TimeValue now = plat::getMonotonicTime();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(TimeClockTest, ReplacementClocksSeeTheArguments) {
  EXPECT_EQ(plat::setMonotonicClock(&recordingClock), nullptr);
  bool jumped = false;
  EXPECT_EQ(plat::getMonotonicTime(777, &jumped), 1234);
  EXPECT_EQ(lastExpected, 777);
  EXPECT_EQ(lastJumped, &jumped);
  EXPECT_EQ(plat::setMonotonicClock(nullptr), &recordingClock);
  EXPECT_NE(plat::getMonotonicTime(), 1234);

  TimeValue before = plat::unixToTime(time(nullptr));
  TimeValue now = plat::getTime();
  EXPECT_GE(now, before);
  EXPECT_LT(now, before + 5 * kSecond);
  EXPECT_EQ(plat::setWallClock(&fixedWallClock), nullptr);
  EXPECT_EQ(plat::getTime(), 42);
  EXPECT_EQ(plat::setWallClock(nullptr), &fixedWallClock);
}

// ---- Waiting ----

TimeValue hostNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return plat::timespecToTime(ts.tv_sec, ts.tv_nsec);
}

volatile sig_atomic_t alarms = 0;
void countAlarm(int) { alarms = alarms + 1; }

// SIGALRM every `periodMs`, interrupting waits (no SA_RESTART); stopped
// and the old handler put back on destruction.
class PeriodicAlarm {
 public:
  explicit PeriodicAlarm(int firstMs, int periodMs = 0) {
    alarms = 0;
    struct sigaction action {};
    action.sa_handler = &countAlarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &old_);
    itimerval timer{};
    timer.it_value.tv_usec = firstMs * 1000;
    timer.it_interval.tv_usec = periodMs * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~PeriodicAlarm() {
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old_, nullptr);
  }

 private:
  struct sigaction old_;
};

class PollTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pipe2(fds_, O_CLOEXEC), 0); }
  void TearDown() override {
    close(fds_[0]);
    close(fds_[1]);
  }
  int fds_[2];
};

TEST_F(PollTest, ReadyDescriptorLeavesTheTimeOut) {
  ASSERT_EQ(write(fds_[1], "x", 1), 1);
  pollfd fd{fds_[0], POLLIN, 0};
  int timeout = 5000;
  EXPECT_EQ(plat::pollMs(&fd, 1, &timeout, true), 1);
  EXPECT_EQ(fd.revents, POLLIN);
  EXPECT_EQ(timeout, 5000);
}

TEST_F(PollTest, TimedWaitNeverEndsEarlyAndReportsNothingLeft) {
  struct Case {
    int timeout;
  } cases[] = {{0}, {1}, {30}};
  for (const Case& c : cases) {
    pollfd fd{fds_[0], POLLIN, 0};
    int timeout = c.timeout;
    TimeValue start = hostNow();
    EXPECT_EQ(plat::pollMs(&fd, 1, &timeout, true), 0) << c.timeout;
    EXPECT_GE(hostNow() - start, c.timeout * plat::kTicksPerMs) << c.timeout;
    EXPECT_EQ(timeout, 0) << c.timeout;
  }
}

TEST_F(PollTest, WaitWithoutLimitEndsWhenReady) {
  std::thread writer([this] {
    plat::sleepMs(20);
    ASSERT_EQ(write(fds_[1], "x", 1), 1);
  });
  pollfd fd{fds_[0], POLLIN, 0};
  int timeout = -1;
  EXPECT_EQ(plat::pollMs(&fd, 1, &timeout, true), 1);
  EXPECT_EQ(timeout, -1);
  EXPECT_EQ(plat::pollMs(&fd, 1, nullptr, false), 1);
  writer.join();
}

TEST_F(PollTest, InterruptedWaitClearsEventsAndReportsTheRest) {
  PeriodicAlarm alarm(20);
  pollfd fds[2] = {{fds_[0], POLLIN, 0x7fff}, {fds_[1], 0, 0x7fff}};
  int timeout = 5000;
  TimeValue start = hostNow();
  EXPECT_EQ(plat::pollMs(fds, 2, &timeout, true), -1);
  TimeValue waited = (hostNow() - start) / plat::kTicksPerMs;
  EXPECT_EQ(alarms, 1);
  EXPECT_EQ(fds[0].revents, 0);
  EXPECT_EQ(fds[1].revents, 0);
  // The wait inside lasted no longer than the one measured around it.
  EXPECT_LE(timeout, 5000);
  EXPECT_GE(timeout, 5000 - waited - 1);
}

TEST_F(PollTest, OtherFailuresThrow) {
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  int timeout = 0;
  try {
    // More descriptors than the process may hold: EINVAL.
    plat::pollMs(nullptr, static_cast<nfds_t>(limit.rlim_cur) + 1, &timeout, true);
    FAIL() << "no exception";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), EINVAL);
    EXPECT_THAT(e.str(), testing::StartsWith("poll: "));
  }
}

TEST(SleepTest, SignalsDoNotShortenTheSleep) {
  PeriodicAlarm alarm(10, 10);
  TimeValue start = hostNow();
  plat::sleepMs(100);
  EXPECT_GE(hostNow() - start, 100 * plat::kTicksPerMs);
  EXPECT_GE(alarms, 1);
  plat::sleepMs(0);  // one zero-length wait, then back
}

}  // namespace
