// The body form of the JSON parser.  The input is a content type, a line
// feed and the body; without a line feed it is all body and the content
// type is not checked.  The body is parsed from the reader's own bytes and
// from a stream of the caller's, and turned into log text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Json.h"
#include "qocore/base/rdr/MemInStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const void* newline = std::memchr(data, '\n', size);
  plat::CharArray contentType;
  const uint8_t* body = data;
  if (newline) {
    body = static_cast<const uint8_t*>(newline) + 1;
    contentType = plat::CharArray(reinterpret_cast<const char*>(data), static_cast<int>(body - 1 - data));
  }
  const int32_t bodySize = static_cast<int32_t>(data + size - body);

  plat::CharArray own;
  try {
    plat::JsonReader reader(body, bodySize);
    own = plat::Json::parseHttpBody(contentType.get(), reader)->toText();
  } catch (const plat::Exception&) {
  }

  // The caller's stream stops after the value: it accepts whatever the
  // reader's own bytes accept.
  try {
    rdr::MemInStream in(body, bodySize);
    plat::JsonReader reader(in);
    const plat::CharArray streamed = plat::Json::parseHttpBody(contentType.get(), reader)->toText();
    if (own && std::strcmp(own.get(), streamed.get()) != 0) std::abort();
  } catch (const plat::Exception&) {
    if (own) std::abort();
  }

  const plat::MBuf<unsigned char> bytes(body, bodySize);
  for (bool integersOnly : {true, false}) {
    if (!plat::Json::toLogText(bytes, contentType.get(), integersOnly)) std::abort();
  }
  return 0;
}
