#pragma once
// rdr::NullOutStream: counts what is written and keeps none of it.

#include "qocore/base/rdr/BufferedOutStream.h"

namespace rdr {

class NullOutStream : public BufferedNBOutStream {
 public:
  // writeBytes' bytes are counted without being copied.
  NullOutStream() : BufferedNBOutStream(kBufSize) { bytesBypassWindow_ = true; }

 protected:
  void writeBytesSlow(const void* data, int32_t len) override;
  int32_t writeData(const uint8_t* buf, int32_t len, bool wait) override;

 private:
  static constexpr int32_t kBufSize = 1024;
};

}  // namespace rdr
