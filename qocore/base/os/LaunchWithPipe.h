#pragma once
// os::LaunchWithPipe: a child program that talks back to its parent over a
// private byte channel.  This part holds the copy between two streams that
// the launches and the HTTP client share.

#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace os {

class LaunchWithPipe {
 public:
  // Copies from in to out until in ends (true), in would block (false) or
  // out is full: then OutStreamFull "OutStream full" with failWhenFull,
  // else false.  After false a later call resumes the copy; the bytes
  // copied so far are consumed from in.  Other failures pass on.
  [[nodiscard]] static bool writeAll(rdr::InStream& in, rdr::OutStream& out, bool failWhenFull);
};

}  // namespace os
