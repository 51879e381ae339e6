#include "qocore/base/plat/Uuid.h"

#include <cstdint>
#include <string>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"

namespace plat {

namespace {

constexpr int kTextSize = 36;  // 32 digits and 4 dashes

}  // namespace

bool Uuid::tryParse(Uuid& out, const char* text) noexcept {
  Uuid parsed;
  if (text && *text) {
    const char* p = text;
    for (unsigned char& byte : parsed.bytes) {
      if (*p == '-') ++p;
      uint64_t value = 0;
      if (!hexDigitValue(p[0], &value) || !hexDigitValue(p[1], &value)) return false;
      byte = static_cast<unsigned char>(value);
      p += 2;
    }
    if (*p) return false;
  }
  out = parsed;
  return true;
}

Uuid Uuid::parse(const char* text) {
  Uuid parsed;
  if (!tryParse(parsed, text)) throw Exception("Invalid Uuid '%s'", text);
  return parsed;
}

CharArray Uuid::toString(const unsigned char* bytes, bool dashed) {
  if (!bytes) return CharArray();
  char text[kTextSize + 1];
  int n = 0;
  for (int i = 0; i < 16; ++i) {
    if (dashed && (i == 4 || i == 6 || i == 8 || i == 10)) text[n++] = '-';
    text[n++] = hexDigit(bytes[i] >> 4);
    text[n++] = hexDigit(bytes[i] & 0x0F);
  }
  text[n] = '\0';
  return CharArray(text, n);
}

UuidSet uuidSetFromList(const char* text) {
  UuidSet set;
  if (!text) return set;
  for (const char* p = text;;) {
    const char* comma = std::strchr(p, ',');
    size_t n = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
    if (n > 0) set.insert(Uuid::parse(std::string(p, n).c_str()));
    if (!comma) break;
    p = comma + 1;
  }
  return set;
}

CharArray uuidSetToString(const UuidSet& set) {
  std::string joined;
  joined.reserve(set.size() * (kTextSize + 1));
  for (const Uuid& id : set) {
    if (!joined.empty()) joined += ',';
    joined += id.toString(true).get();
  }
  return CharArray(joined.c_str(), static_cast<int>(joined.size()));
}

}  // namespace plat
