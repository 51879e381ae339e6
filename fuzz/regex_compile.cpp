// plat::Regex compilation over arbitrary bytes: the plain form (the first
// byte picks the flags), the '/'-delimited form and the substitution form.
// Every refusal must be an exception.  Escaping the same bytes must give a
// pattern that compiles, plain and delimited, and matches the text whole
// when the text is valid UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Regex.h"
#include "qocore/base/plat/Utf8.h"

namespace {

void checkEscape(const std::string& text, bool delimited) {
  const plat::CharArray escaped = plat::Regex::escape(text.c_str(), delimited);
  try {
    if (delimited) {
      const std::string literal = "/" + std::string(escaped.get()) + "/";
      const char* cursor = literal.c_str();
      plat::Regex re(&cursor);
      if (*cursor || (plat::isValidUtf8(text.c_str()) && !re.matches(text.c_str()))) std::abort();
    } else {
      plat::Regex re(escaped.get(), 0);
      if (plat::isValidUtf8(text.c_str()) && !re.matches(text.c_str())) std::abort();
    }
  } catch (const plat::Exception&) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  const uint32_t flags = data[0] & 7;
  // A NUL ends the pattern, as it does for every caller.
  const std::string pattern(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    plat::Regex re(pattern.c_str(), flags);
    if (re.groupCount() < 0 || re.flags() != flags) std::abort();
  } catch (const plat::Exception&) {
  }
  try {
    const char* cursor = pattern.c_str();
    plat::Regex re(&cursor);
  } catch (const plat::Exception&) {
  }
  try {
    const char* cursor = pattern.c_str();
    plat::CharArray replacement;
    plat::Regex re(&cursor, replacement);
  } catch (const plat::Exception&) {
  }
  checkEscape(pattern.c_str(), false);
  checkEscape(pattern.c_str(), true);
  return 0;
}
