#include "platform/objc/String.h"

#include <cstring>
#include <string>

#include "qocore/base/plat/Utf8.h"

namespace objc {

namespace {
// Embedded NULs are kept, as the platform does, so the whole range is
// checked rather than up to the first NUL.
bool validUtf8Range(const char* p, const char* end) noexcept {
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p++);
    if (c < 0x80) continue;
    if (plat::utf8Decode(c, &p, static_cast<int>(end - p) + 1) < 0) return false;
  }
  return true;
}
}  // namespace

String* String::create(const char* bytes, size_t length) {
  if (!bytes) bytes = "", length = 0;
  if (!validUtf8Range(bytes, bytes + length)) return nullptr;
  plat::CharArray text = plat::CharArray::zeroed(length + 1);
  if (length) memcpy(text.get(), bytes, length);
  return new String(std::move(text), length);
}

String* String::withUtf8(const char* text) {
  if (!text) return nullptr;
  String* s = create(text, strlen(text));
  if (s) s->autorelease();
  return s;
}

const std::vector<uint16_t>& String::units() const {
  if (haveUnits_) return units_;
  const char* p = text_.c_str();
  const char* end = p + length_;
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p++);
    int32_t cp = c < 0x80 ? c : plat::utf8Decode(c, &p, static_cast<int>(end - p) + 1);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units_.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      units_.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units_.push_back(static_cast<uint16_t>(cp));
    }
  }
  haveUnits_ = true;
  return units_;
}

uint16_t String::characterAt(size_t index) const {
  const std::vector<uint16_t>& u = units();
  return index < u.size() ? u[index] : 0;
}

String* String::substring(size_t location, size_t count) const {
  const std::vector<uint16_t>& u = units();
  if (location > u.size() || count > u.size() - location) return nullptr;
  String* s = fromUtf16(u.data() + location, count);
  if (s) s->autorelease();
  return s;
}

String* String::fromUtf16(const uint16_t* units, size_t count) {
  std::string out;
  out.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    int32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00) {
      if (i + 1 >= count || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000) return nullptr;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      return nullptr;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char buf[4];
    char* q = buf;
    plat::utf8Encode(cp, &q);
    out.append(buf, static_cast<size_t>(q - buf));
  }
  return create(out.data(), out.size());
}

}  // namespace objc
