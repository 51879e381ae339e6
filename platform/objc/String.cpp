#include "platform/objc/String.h"

#include <cstring>

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

}  // namespace objc
