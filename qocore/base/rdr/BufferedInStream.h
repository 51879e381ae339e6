#pragma once
// rdr::BufferedInStream: an input stream that reads from its source in
// blocks into a buffer of its own; subclasses supply readData().
//
// Every byte from the checkpoint on stays in the buffer, so a parser that
// rewinds finds it again.  When those bytes fill the buffer and the room
// after them cannot hold what the reader asks for (a message longer than
// the buffer, re-read from its start, or an item straddling the buffer's
// end), the buffer doubles, up to the current value of the
// MaxOutBufferSize parameter; beyond that the read fails with "InStream
// overrun: buffer size exceeded".

#include <cstdint>

#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/InStream.h"

namespace rdr {

class OutStream;

class BufferedInStream : public InStream {
 public:
  static constexpr int32_t kDefaultBufSize = 16800;

  // bufSize negative: kDefaultBufSize.
  explicit BufferedInStream(int32_t bufSize = -1);
  // Zeroes the buffer first when secure.
  ~BufferedInStream() override;

  // Bytes consumed since the stream began, including those dropped from
  // the buffer.
  int32_t pos() override;
  // Drops the buffered bytes; consumed bytes stay counted.
  void reset();

  // Hands buffered input over to another stream (a connection taken over by
  // a new owner): saveUnread writes the unread byte count (u32) and the
  // bytes; restoreUnread reads them back and appends them after the window.
  void saveUnread(OutStream& os);
  void restoreUnread(InStream& is);

  // Zero the buffer before it is released (input that carries secrets).
  void setSecure(bool on) noexcept { secure_ = on; }
  // Hex-dump every read to the log.
  void setTrace(bool on) noexcept { trace_ = on; }
  // The current capacity.
  int32_t bufferSize() const noexcept { return buf_.count(); }

 protected:
  bool overrun(int32_t needed) override;
  // Reads up to len bytes into buf; answers the number read, 0 when reading
  // would block.  The end of the source is an EndOfStream.
  virtual int32_t readData(uint8_t* buf, int32_t len) = 0;

  uint32_t offset_ = 0;  // bytes dropped from the front of the buffer
  plat::Buffer buf_;
  bool secure_ = false;
  bool trace_ = false;

 private:
  // Doubles the buffer (capped by MaxOutBufferSize); false at the cap.
  bool grow();
  uint8_t* start() noexcept { return buf_.data(); }
  uint8_t* bufEnd() noexcept { return buf_.data() + buf_.count(); }
};

// A buffered input stream whose source can be switched between waiting for
// data and answering "would block".
class BufferedNonBlockableInStream : public BufferedInStream {
 public:
  using BufferedInStream::BufferedInStream;

  // Stores the flag (readData then returns 0 instead of waiting) and sets a
  // checkpoint.  A non-blocking stream is made rewindable, so a read that
  // would block returns to the checkpoint; a blocking one is not, so it
  // keeps no byte it has handed out (setRewindable after this call keeps
  // them, for an owner that rewinds).
  virtual void setNonBlocking(bool on);

 protected:
  bool nonBlocking_ = false;
};

}  // namespace rdr
