#include "qocore/base/rdr/NullOutStream.h"

namespace rdr {

void NullOutStream::writeBytesSlow(const void* /*data*/, int32_t len) {
  if (len > 0) offset_ += static_cast<uint32_t>(len);
}

int32_t NullOutStream::writeData(const uint8_t* /*buf*/, int32_t len, bool /*wait*/) { return len; }

}  // namespace rdr
