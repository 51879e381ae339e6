#include "qocore/base/plat/NumberParse.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Exception.h"

namespace plat {

namespace {

constexpr char kIntFailure[] = "Failed to parse integer";
constexpr char kS64Failure[] = "Failed to parse S64 integer";
constexpr char kU64Failure[] = "Failed to parse U64 integer";

// The parsers read errno to tell a range error, but their callers may be
// in the middle of reporting an earlier failure: errno is put back.
class ErrnoKeeper {
 public:
  ErrnoKeeper() noexcept : saved_(errno) { errno = 0; }
  ~ErrnoKeeper() { errno = saved_; }
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

 private:
  int saved_;
};

// The C library refuses other bases with EINVAL but leaves the end pointer
// unset (and a sanitizer's wrapper then hands back garbage), so they are
// refused here first.
bool validBase(int base) noexcept { return base == 0 || (base >= 2 && base <= 36); }

bool hasMinus(const char* start, const char* end) noexcept {
  return std::memchr(start, '-', static_cast<size_t>(end - start)) != nullptr;
}

}  // namespace

bool parseInt(int32_t& out, const char*& cursor, int base) {
  ErrnoKeeper keep;
  const char* start = cursor;
  if (!start || !validBase(base)) return false;
  char* end = const_cast<char*>(start);
  long value = std::strtol(start, &end, base);
  if (end == start || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  cursor = end;
  return true;
}

bool parseUInt(uint32_t& out, const char*& cursor, int base) {
  ErrnoKeeper keep;
  const char* start = cursor;
  if (!start || !validBase(base)) return false;
  char* end = const_cast<char*>(start);
  unsigned long value = std::strtoul(start, &end, base);
  // strtoul negates a "-" number instead of refusing it.
  if (end == start || errno == ERANGE || value > UINT32_MAX || hasMinus(start, end)) return false;
  out = static_cast<uint32_t>(value);
  cursor = end;
  return true;
}

bool parseS64(int64_t& out, const char*& cursor, int base) {
  ErrnoKeeper keep;
  const char* start = cursor;
  if (!start || !validBase(base)) return false;
  char* end = const_cast<char*>(start);
  long long value = std::strtoll(start, &end, base);
  if (end == start || errno == ERANGE) return false;
  out = value;
  cursor = end;
  return true;
}

bool parseU64(uint64_t& out, const char*& cursor, int base) {
  ErrnoKeeper keep;
  const char* start = cursor;
  if (!start || !validBase(base)) return false;
  char* end = const_cast<char*>(start);
  unsigned long long value = std::strtoull(start, &end, base);
  if (end == start || errno == ERANGE || hasMinus(start, end)) return false;
  out = value;
  cursor = end;
  return true;
}

int32_t parseIntOrThrow(const char*& cursor, int base) {
  int32_t value;
  if (!parseInt(value, cursor, base)) throw BadNum(kIntFailure);
  return value;
}

uint32_t parseUIntOrThrow(const char*& cursor, int base) {
  uint32_t value;
  if (!parseUInt(value, cursor, base)) throw BadNum(kIntFailure);
  return value;
}

int64_t parseS64OrThrow(const char*& cursor, int base) {
  int64_t value;
  if (!parseS64(value, cursor, base)) throw BadNum(kS64Failure);
  return value;
}

uint64_t parseU64OrThrow(const char*& cursor, int base) {
  uint64_t value;
  if (!parseU64(value, cursor, base)) throw BadNum(kU64Failure);
  return value;
}

int64_t parseS64Whole(const char* text, int base) {
  const char* p = text;
  int64_t value;
  if (!parseS64(value, p, base) || *p) throw BadNum(kS64Failure);
  return value;
}

uint64_t parseU64Whole(const char* text, int base) {
  const char* p = text;
  uint64_t value;
  if (!parseU64(value, p, base) || *p) throw BadNum(kU64Failure);
  return value;
}

int32_t parseIntRange(const char* text, int base, const char* message, int32_t minimum, int32_t maximum) {
  const char* p = text;
  int32_t value;
  if (!parseInt(value, p, base) || *p || value < minimum || value > maximum) {
    throw BadNum(message ? message : kIntFailure);
  }
  return value;
}

uint32_t parseUIntRange(const char* text, int base, const char* message, uint32_t minimum, uint32_t maximum) {
  const char* p = text;
  uint32_t value;
  if (!parseUInt(value, p, base) || *p || value < minimum || value > maximum) {
    throw BadNum(message ? message : kIntFailure);
  }
  return value;
}

}  // namespace plat
