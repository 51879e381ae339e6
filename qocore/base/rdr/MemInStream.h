#pragma once
// rdr::MemInStream: an input stream over a byte range in memory.  Nothing
// is copied: the caller keeps the bytes alive while the stream reads them.

#include "qocore/base/rdr/InStream.h"

namespace rdr {

class MemInStream : public InStream {
 public:
  MemInStream(const void* data, int32_t len) noexcept : start_(static_cast<const uint8_t*>(data)) {
    ptr_ = start_;
    end_ = start_ + (len > 0 ? len : 0);
    checkpointPtr_ = start_;
  }

  int32_t pos() override { return static_cast<int32_t>(ptr_ - start_); }
  bool atEnd() override { return ptr_ == end_; }

 protected:
  // Everything is in the window already: a shortfall is the end.
  bool overrun(int32_t /*needed*/) override {
    if (ptr_ < end_) return true;
    throw EndOfStream();
  }

 private:
  const uint8_t* start_;
};

}  // namespace rdr
