#pragma once
// The byte trace of the buffered streams: a hex dump of the bytes that
// passed, written to a log source at debug level.

#include <cstdint>

namespace plat {
class LogSrc;
}

namespace rdr {

// One log line per 16 bytes: each byte as "%02x " with one more blank
// after every fourth, then the printable characters ('.' for others).  The
// first line starts with `prefix` (" <-- " for reads, " --> " for
// writes), later lines with as many blanks.
void traceBytes(plat::LogSrc& log, const char* prefix, const uint8_t* data, int32_t len);

}  // namespace rdr
