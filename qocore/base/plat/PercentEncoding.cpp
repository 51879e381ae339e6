#include "qocore/base/plat/PercentEncoding.h"

#include <cstdint>
#include <string>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"

namespace plat {

namespace {

bool isUnreserved(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' || c == '-' ||
         c == '.' || c == '_';
}

}  // namespace

CharArray percentEncode(const char* text, bool encodeHighBytes) {
  if (!text) return CharArray();
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char* p = text; *p; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (isUnreserved(c) || (c >= 128 && !encodeHighBytes)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return CharArray(out.c_str());
}

CharArray percentDecode(const char* text, bool plusIsBlank) {
  if (!text) return CharArray();
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '%') {
      uint64_t value = 0;
      // The second test only runs when the first digit was there, so it
      // never reads past the NUL.
      if (!hexDigitValue(p[1], &value) || !hexDigitValue(p[2], &value) || value == 0)
        throw Exception("Bad percent encoding");
      out.push_back(static_cast<char>(value));
      p += 2;
    } else if (*p == '+' && plusIsBlank) {
      out.push_back(' ');
    } else {
      out.push_back(*p);
    }
  }
  return CharArray(out.c_str());
}

}  // namespace plat
