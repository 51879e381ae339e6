#include "qocore/base/os/LaunchWithPipe.h"

#include <algorithm>

#include "qocore/base/rdr/Exceptions.h"

namespace os {

bool LaunchWithPipe::writeAll(rdr::InStream& in, rdr::OutStream& out, bool failWhenFull) {
  try {
    out.flush();
    int32_t space = out.spaceLimit();
    while (space > 0) {
      if (in.nUnread() == 0 && !in.check(false, 1)) return false;
      int32_t n = std::min(in.nUnread(), space);
      if (n == 0) return false;
      const uint8_t* bytes = in.getPtr();
      in.advance(n);
      out.writeBytes(bytes, n);
      // The copied bytes are not given back by a later rewind.
      in.setCheckpoint();
      out.flush();
      space = out.spaceLimit();
    }
    if (failWhenFull) throw rdr::OutStreamFull("OutStream full");
    return false;
  } catch (const rdr::EndOfStream&) {
    return true;
  } catch (const rdr::EndOfMsg&) {
    return true;
  }
}

}  // namespace os
