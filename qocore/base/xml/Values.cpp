#include "qocore/base/xml/Values.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace xml {

namespace {

bool absent(const char* text) noexcept { return !text || !*text; }

template <typename T>
T clampedInteger(const char* text) noexcept {
  long long v = std::strtoll(text, nullptr, 10);
  if (v < std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
  if (v > std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

}  // namespace

int16_t textToShort(const char* text, int16_t defaultValue) noexcept {
  return absent(text) ? defaultValue : clampedInteger<int16_t>(text);
}

int32_t textToInt(const char* text, int32_t defaultValue) noexcept {
  return absent(text) ? defaultValue : clampedInteger<int32_t>(text);
}

int64_t textToInt64(const char* text, int64_t defaultValue) noexcept {
  return absent(text) ? defaultValue : clampedInteger<int64_t>(text);
}

double textToDouble(const char* text, double defaultValue) noexcept {
  if (absent(text)) return defaultValue;
  // from_chars ignores the locale: documents always use a decimal point.
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
  if (*p == '+') ++p;
  double v = 0;
  if (std::from_chars(p, p + std::strlen(p), v).ec != std::errc()) return 0;
  return v;
}

char textToChar(const char* text, char defaultValue) noexcept { return absent(text) ? defaultValue : text[0]; }

const char* textOr(const char* text, const char* defaultValue) noexcept { return text ? text : defaultValue; }

}  // namespace xml
