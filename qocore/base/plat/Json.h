#pragma once
// The JSON parser: strict and small.  Numbers are signed 64-bit integers,
// containers nest at most 33 deep, strings must be valid UTF-8 without NUL,
// and every parse error is a JsonException "<error> at line <n>" naming the
// line counted so far.

#include <cstdint>
#include <optional>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/MemInStream.h"

namespace plat {

// The parse context: the input, the line counter (the line feeds skipped
// between tokens so far) and the integers-only flag.  Without that flag a
// number with a fraction or an exponent is accepted and read as 0.
class JsonReader {
 public:
  // Reads from a stream of the caller's; a value is parsed up to its last
  // byte and the rest is left unread.
  explicit JsonReader(rdr::InStream& in, bool integersOnly = true) noexcept : in_(&in), integersOnly_(integersOnly) {}
  // Reads the caller's bytes, which must stay alive while the reader is
  // used.  The top-level parse then refuses anything but white space after
  // the value.
  JsonReader(const void* data, int32_t length, bool integersOnly = true) noexcept
      : own_(std::in_place, data, length), in_(&*own_), integersOnly_(integersOnly) {}
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  int line() const noexcept { return line_; }
  bool integersOnly() const noexcept { return integersOnly_; }

 private:
  friend class JsonParser;

  std::optional<rdr::MemInStream> own_;
  rdr::InStream* in_;
  int32_t line_ = 0;
  bool integersOnly_;
};

namespace Json {

// Parses a request or response body.  The content type, unless null, must
// be "application/json" (any letter case, blanks around it allowed),
// optionally followed by ";" and "charset=utf-8"; otherwise JsonException
// "Unknown Content-Type '<content type>'".  Input that ends inside the value
// is "Truncated JSON"; a reader over its own bytes also refuses "Trailing
// bytes after JSON".
JsonRef parseHttpBody(const char* contentType, JsonReader& reader);

// One value from the reader's current position; the top level is depth 0
// and values at depth 33 are refused.  The end of input inside the value
// is the stream's own EndOfStream here.
JsonRef parse(JsonReader& reader, int depth);

// The body re-written as JSON text, or "<not JSON-encoded data: <message>>"
// when it does not parse.
CharArray toLogText(const MBuf<unsigned char>& body, const char* contentType, bool integersOnly);

}  // namespace Json

}  // namespace plat
