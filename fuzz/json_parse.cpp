// plat::Json::parse over arbitrary bytes, with and without the
// integers-only flag.  A value that parses must write out as text that
// parses back and writes out the same again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Json.h"

namespace {

void checkRoundTrip(const plat::JsonValue& value) {
  const plat::CharArray text = value.toText();
  try {
    plat::JsonReader reader(text.get(), plat::strLen(text.get()));
    const plat::CharArray again = plat::Json::parseHttpBody(nullptr, reader)->toText();
    if (std::strcmp(text.get(), again.get()) != 0) std::abort();
  } catch (const plat::Exception&) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  for (bool integersOnly : {true, false}) {
    plat::JsonReader reader(data, static_cast<int32_t>(size), integersOnly);
    try {
      checkRoundTrip(*plat::Json::parse(reader, 0));
    } catch (const plat::Exception&) {
      // Refused input, or the end of input inside a value.
    }
  }
  return 0;
}
