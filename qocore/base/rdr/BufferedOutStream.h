#pragma once
// rdr::BufferedOutStream: an output stream that collects bytes in a buffer
// of its own and passes them on with writeData(), which subclasses supply.
//
// When the buffer is full the stream first tries to pass bytes on without
// waiting; only when that frees too little does the buffer double, up to a
// maximum (by default the MaxOutBufferSize parameter), and only at the
// maximum does it wait for the receiver.  The writable window reaches at
// most 16384 bytes past the used part, so a slow receiver does not make a
// writer touch its whole maximum buffer at once.

#include <cstdint>
#include <memory>

#include "qocore/base/rdr/OutStream.h"

namespace plat {
class IntParameter;
}

namespace rdr {

// "MaxOutBufferSize": the most bytes an output stream buffers for a slow
// receiver.  Also caps how far an input stream's buffer grows to keep a
// long message from its checkpoint.
extern plat::IntParameter maxOutBufferSize;

class BufferedOutStream : public OutStream {
 public:
  static constexpr int32_t kDefaultBufSize = 16384;
  // The most the window reaches past the used part of the buffer.
  static constexpr int32_t kWindowStep = 16384;

  // bufSize negative: kDefaultBufSize.  maxBufSize negative: the current
  // value of MaxOutBufferSize.  The maximum is the larger of the two.
  explicit BufferedOutStream(int32_t bufSize = -1, int32_t maxBufSize = -1);
  ~BufferedOutStream() override;

  int32_t length() override;
  int32_t pendingBytes() override;
  int32_t spaceLimit() override;
  // Passes the pending bytes on, waiting unless the stream is lazy, until
  // all are taken or the receiver takes nothing.
  void flush() override;
  void setThrowErrors(bool on) override { throwErrors_ = on; }

  // Pass the pending bytes on, waiting or not; each answers whether all
  // were taken.  writeOnce makes a single writeData call.
  bool flushNoWait(bool wait = false);
  [[nodiscard]] bool tryWrite(bool wait);
  [[nodiscard]] bool writeOnce(bool wait);

  // Hex-dump every write to the log.
  void setTrace(bool on) noexcept { trace_ = on; }
  // How long a write that must wait may wait for the receiver (30000 ms at
  // first; negative: without limit).
  void setTimeoutMs(int32_t ms) noexcept { timeoutMs_ = ms; }
  // The current capacity.
  int32_t bufSize() const noexcept { return bufSize_; }

 protected:
  int32_t overrun(int32_t itemSize, int32_t nItems) override;
  // Passes up to len bytes on; answers how many were taken, 0 when none
  // could be without waiting (or, with wait, when the receiver took none).
  virtual int32_t writeData(const uint8_t* buf, int32_t len, bool wait) = 0;

  int32_t bufSize_;
  int32_t maxBufSize_;
  uint32_t offset_ = 0;  // bytes passed on before the buffer start
  int32_t timeoutMs_ = 30000;
  uint8_t* start() const noexcept { return buf_.get(); }

  std::unique_ptr<uint8_t[]> buf_;
  uint8_t* flushed_;  // bytes before this have been passed on
  bool blocking_ = true;
  bool throwErrors_ = true;
  bool trace_ = false;

 private:
  // writeData until everything pending is taken or a call takes nothing
  // (after one call when `once`); answers whether all was taken, and then
  // empties the buffer.
  bool passOn(bool wait, bool once = false);
  // Moves the pending bytes to the buffer start.
  void compact() noexcept;
  // The bytes written but not yet passed on, as pendingBytes() answers
  // here, without the virtual call.
  int32_t unpassed() const noexcept { return static_cast<int32_t>(ptr_ - flushed_); }
};

// A buffered output stream that never grows its buffer; it never reports a
// space limit.
class BufferedNBOutStream : public BufferedOutStream {
 public:
  explicit BufferedNBOutStream(int32_t bufSize = -1)
      : BufferedOutStream(bufSize, bufSize < 0 ? kDefaultBufSize : bufSize) {}

  int32_t spaceLimit() override { return kNoLimit; }
};

// A buffered output stream whose flushes can be made not to wait.
class BufferedLazyOutStream : public BufferedOutStream {
 public:
  using BufferedOutStream::BufferedOutStream;

  // Lazy: flush() no longer waits for the receiver.  Then passes the
  // pending bytes on, waiting only when not lazy.
  virtual void setLazy(bool lazy);
};

}  // namespace rdr
