#include "qocore/base/xml/TextBuffer.h"

#include <cstring>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/xml/CharEncoding.h"

namespace xml {

namespace detail {

size_t escapedLength(const char* text, int encoding) noexcept {
  const unsigned char* kinds = escapeKinds(encoding);
  size_t n = 0;
  for (const char* p = text;;) {
    const char* e = plainRunEnd(p, kinds);
    n += static_cast<size_t>(e - p);
    if (!*e) return n;
    char entity[kEntityRoom];
    n += static_cast<size_t>(putEntity(entity, *e) - entity);
    p = e + 1;
  }
}

char* writeEscaped(char* out, const char* text, int encoding) noexcept {
  const unsigned char* kinds = escapeKinds(encoding);
  for (const char* p = text;;) {
    const char* e = plainRunEnd(p, kinds);
    std::memcpy(out, p, static_cast<size_t>(e - p));
    out += e - p;
    if (!*e) return out;
    char entity[kEntityRoom];
    const size_t len = static_cast<size_t>(putEntity(entity, *e) - entity);
    std::memcpy(out, entity, len);
    out += len;
    p = e + 1;
  }
}

}  // namespace detail

const char* TextBuffer::setEscaped(const char* text) {
  if (!text) text = "";
  plat::DString repaired;
  if (!plat::isValidUtf8(text)) {
    plat::utf8Sanitise(repaired, text);
    text = repaired.c_str();
  }
  size_t len = detail::escapedLength(text, kUtf8);
  if (!text_ || static_cast<size_t>(capacity_) <= len) {
    clear();
    text_ = new char[len + 1];
    capacity_ = static_cast<int>(len + 1);
  }
  *detail::writeEscaped(text_, text, kUtf8) = '\0';
  if (repaired.buf()) plat::secureZero(repaired.buf(), static_cast<size_t>(repaired.capacity()));
  return text_;
}

void TextBuffer::clear() noexcept {
  if (text_) plat::secureZero(text_, static_cast<size_t>(capacity_));
  delete[] text_;
  text_ = nullptr;
  capacity_ = 0;
}

}  // namespace xml
