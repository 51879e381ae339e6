#pragma once
// rdr::MemOutStream: output into a growable buffer in memory, optionally
// capped at a limit; the written bytes can then be read in place or taken
// over by the caller.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/OutStream.h"

namespace rdr {

class MemOutStream : public OutStream {
 public:
  static constexpr int32_t kDefaultSize = 256;

  // initialSize negative: kDefaultSize; 0 allocates nothing until the first
  // write.  limit 0: none; otherwise writing past `limit` bytes is
  // OutStreamFull.
  explicit MemOutStream(int32_t initialSize = -1, int32_t limit = 0);
  ~MemOutStream() override;

  int32_t length() override { return static_cast<int32_t>(ptr_ - start()); }
  int32_t spaceLimit() override;

  void setLimit(int32_t limit);

  // The bytes written so far.
  const uint8_t* data() const noexcept { return buf_.get(); }

  // Each hands the written bytes over and leaves the stream empty.
  plat::Buffer takeBuffer();
  std::unique_ptr<uint8_t[]> takeData();
  // NUL-terminated (a NUL is appended unless the last byte is one; it may
  // go one byte past the limit).
  plat::CharArray takeString();
  // Wipes the target's old contents when it is secure (the target stays
  // secure), frees them, and moves the written bytes into it.
  void moveToBuffer(plat::Buffer& target);

  // Appends a zero byte unless the bytes written already end in one.
  void writeNul();

 protected:
  int32_t overrun(int32_t itemSize, int32_t nItems) override;
  // Makes room for the whole length at once, so a writeBytes that would
  // pass the limit writes nothing.
  void writeBytesSlow(const void* data, int32_t len) override;

 private:
  // Grows the buffer to at least `capacity` bytes regardless of the limit.
  void reallocate(int64_t capacity);
  // Frees the buffer (or forgets it once its ownership has passed
  // elsewhere) and leaves the stream empty.
  void release() noexcept;
  uint8_t* start() const noexcept { return buf_.get(); }

  std::unique_ptr<uint8_t[]> buf_;
  int32_t capacity_ = 0;
  int32_t limit_ = 0;
};

}  // namespace rdr
