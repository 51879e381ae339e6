#pragma once
// Time values: the two clocks, Unix conversions, the calendar, the ISO-8601
// text forms, a strftime wrapper and the waiting helpers.
//
// Every time is a plat::TimeValue, a signed count of 100-ns ticks.  Wall-
// clock values count from 1601-01-01 00:00:00 UTC; monotonic values count
// from the first monotonic reading in the process.  Conversions saturate at
// the 64-bit limits instead of overflowing.

#include <poll.h>
#include <sys/time.h>

#include <cstdint>
#include <ctime>

#include "qocore/base/plat/DString.h"

namespace plat {

using TimeValue = int64_t;

constexpr TimeValue kTicksPerMs = 10'000;
constexpr TimeValue kTicksPerSecond = 10'000'000;
constexpr TimeValue kTicksPerDay = 864'000'000'000;
// 1970-01-01 00:00:00 UTC as a wall-clock value, and in seconds.
constexpr TimeValue kUnixEpoch = 116'444'736'000'000'000;
constexpr int64_t kUnixEpochSeconds = 11'644'473'600;

// ---- Clocks ----

// The wall clock now (gettimeofday), saturating.
TimeValue getTime() noexcept;

// Monotonic ticks since the first reading in the process; -1 when the
// scaled host reading does not fit.  `expected` is the latest value the
// caller expects (-1 for none) and `jumped`, when given, is set when the
// clock has jumped.  The host clock never jumps: it clears the flag and
// ignores `expected`.  When a replacement clock is installed, both
// arguments are handed to it unchanged.
TimeValue getMonotonicTime(TimeValue expected = -1, bool* jumped = nullptr);

// Test seams.  Each installs a replacement (null restores the real clock)
// and returns the previous one; safe to call from any thread.
using MonotonicClockFn = TimeValue (*)(TimeValue expected, bool* jumped);
MonotonicClockFn setMonotonicClock(MonotonicClockFn clock) noexcept;
using WallClockFn = TimeValue (*)();
WallClockFn setWallClock(WallClockFn clock) noexcept;

// ---- Conversions ----

// Unix seconds to a wall-clock value: below -933,981,677,285 the smallest
// value, from 910,692,730,086 up the largest.
TimeValue unixToTime(int64_t seconds) noexcept;
// The same with a sub-second part: microseconds × 10, nanoseconds ÷ 100
// (truncated).
TimeValue timevalToTime(int64_t seconds, int64_t microseconds) noexcept;
TimeValue timespecToTime(int64_t seconds, int64_t nanoseconds) noexcept;
// Unix seconds (floor) and the microseconds within the second (0..999,999).
timeval timeToTimeval(TimeValue value) noexcept;

// ---- Calendar ----
// Months are 1-12 here; the C calendar record (tm) keeps 0-11 and years
// since 1900, as the C library does.

// Month 1-12, day within the month, hour < 24, minute < 60, second < 61 (a
// leap second is allowed).  Any year.
bool isValidDate(int year, int month, int day, int hour, int minute, int second) noexcept;
// The UTC wall-clock value of a date; false when it is not valid, the year
// is outside ±1,000,000, or the value does not fit in 64 bits.
[[nodiscard]] bool dateToTime(TimeValue& out, int year, int month, int day, int hour, int minute, int second) noexcept;
// Throws plat::Exception "invalid date (YYYY-MM-DDTHH:MM:SS)" instead.
TimeValue dateToTimeChecked(int year, int month, int day, int hour, int minute, int second);
// The record read as UTC; the same exception when it is not a valid date.
TimeValue calendarToTime(const tm& fields);
// Seconds since 1601-01-01 of the record read as UTC.  Whole 400-year
// cycles are taken out of the year first, so far years do not overflow.
int64_t calendarToSeconds(const tm& fields) noexcept;
// Splits a value into UTC fields (the sub-second part is dropped); zone
// "UTC", offset 0.
void toCalendarUtc(tm& out, TimeValue value) noexcept;
// The same in local time; the UTC fields when the C library cannot.
void toCalendarLocal(tm& out, TimeValue value) noexcept;

// ---- Text forms ----
// Formatters never throw for a year that does not fit in 32 bits: they
// write "<date error>" and return false.

// Replaces out by "YYYY-MM-DDTHH:MM:SS" from the record and, with
// withMillis, ".mmm" from value.
bool appendIsoDate(DString& out, const tm& fields, TimeValue value, bool withMillis);
// The same followed by the record's offset from UTC ("+HH:MM"), which is
// the record read as UTC minus value.  The offset must be under a year.
bool formatIsoDate(DString& out, const tm& fields, TimeValue value, bool withMillis);
// The UTC form with a "Z": the time stamp of log lines.
bool formatIsoDateUtc(DString& out, TimeValue value, bool withMillis);

// "YYYY-MM-DDTHH:MM:SS[.fraction][Z|±HH:MM|±HHMM|±HH]": year 1-9999, hour,
// minute and second of two digits, a fraction of 1-12 digits, no zone
// meaning UTC.  A negative zero offset is refused.
[[nodiscard]] bool parseIsoDate(TimeValue& out, const char* text);
// Throws plat::Exception "invalid date (<text>)" instead.
TimeValue parseIsoDateChecked(const char* text);
// "P[nD][T[nH][nM][n[.fraction]S]]" in ticks; weeks, years and months are
// refused, and so is any result outside the 64-bit range.
[[nodiscard]] bool parseIsoDuration(TimeValue& out, const char* text);
// A compiler build date such as "Mar  5 2024": month name, day 1-31, year
// 1-9999, separated by blanks.
[[nodiscard]] bool parseBuildDate(int& year, int& month, int& day, const char* text);

// Appends strftime's text to out.  Every %Y becomes the whole year of at
// least four digits.  A result that is empty or longer than about 1 KB
// gives "<date error>" and false.
bool formatTime(DString& out, const char* format, const tm& fields);

// ---- Waiting ----

// poll() with a time-out in milliseconds.  A negative (or absent)
// time-out waits without limit; otherwise one millisecond is added, unless
// it is 0 or INT32_MAX, so the wait never ends early.  An interrupted wait
// clears every revents and returns -1; any other failure throws
// plat::SystemException "poll".  With updateTimeout, a result of 0 or less
// after a limited wait writes back the milliseconds left (never below 0).
// The remaining time is measured on the host clock, which the poll itself
// waits on, even while a replacement monotonic clock is installed.
int pollMs(pollfd* fds, nfds_t count, int* timeoutMs, bool updateTimeout);

// Sleeps ms milliseconds (0 or more); signals do not shorten it.
void sleepMs(int ms);

}  // namespace plat
