#include "qocore/base/xml/TextBuffer.h"

#include <cstring>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/xml/CharEncoding.h"

namespace xml {

namespace detail {

namespace {

// The entity of a character that needs one, or null.
const char* entityFor(char c) noexcept {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    default:
      return nullptr;
  }
}

}  // namespace

size_t escapedLength(const char* text, int encoding) noexcept {
  size_t n = 0;
  for (const char* p = text; *p;) {
    int len = charLength(encoding, p);
    const char* e = len == 1 ? entityFor(*p) : nullptr;
    n += e ? std::strlen(e) : static_cast<size_t>(len);
    p += len;
  }
  return n;
}

char* writeEscaped(char* out, const char* text, int encoding) noexcept {
  for (const char* p = text; *p;) {
    int len = charLength(encoding, p);
    const char* e = len == 1 ? entityFor(*p) : nullptr;
    if (e) {
      size_t el = std::strlen(e);
      std::memcpy(out, e, el);
      out += el;
    } else {
      std::memcpy(out, p, static_cast<size_t>(len));
      out += len;
    }
    p += len;
  }
  return out;
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
