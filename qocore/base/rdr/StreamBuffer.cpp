// Filling a plat::MBuf from a stream.  MBuf.h declares this without the
// stream classes, which are defined on top of the platform core.

#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/InStream.h"

namespace rdr {

void readIntoBuffer(InStream& in, void* dest, int32_t n) { in.readBytes(dest, n); }

}  // namespace rdr
