#pragma once
// rdr::MemIoStream: an in-memory pipe.  What is written through its
// OutStream side is read back through its InStream side, in one thread.
//
// The bytes live in a ring of equal-sized buffers.  From the front: buffers
// kept only because the reader's checkpoint lies in the first of them, the
// reader's buffer, the buffers it has yet to read, the writer's buffer, and
// spare buffers waiting to be written again.  The checkpoint always lies in
// the first buffer: setting it gives every buffer before the reader's back
// to the spare end of the ring, and so does the reader moving on from a
// buffer it used up at the checkpoint.  A reader that never sets a
// checkpoint (and is rewindable) keeps every buffer, so the writer
// eventually meets the buffer limit.  A writer whose reader has read all of
// its buffer and set its checkpoint there fills that buffer again from its
// start rather than moving on, so a pipe whose reader keeps up stays in one
// buffer, and a pipe limited to one buffer (maxBytes 0) can go on.
//
// The reader sees the bytes of a buffer the writer has moved on from, and
// of the writer's own buffer up to the last flush().  With nothing left to
// read, the reader gets, in this order of precedence, the recorded error
// (see setError), "End of in-memory IO stream" once the pipe is closed for
// writing, or "would block".
//
// InStream and OutStream both have check(), getPtr(), getEnd() and
// setPtr(); call them through the side meant.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CircularVector.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"
#include "qocore/base/rdr/Serializable.h"

namespace rdr {

class MemIoStream : public InStream, public OutStream, public Serializable {
 public:
  static constexpr int32_t kDefaultBufSize = 2048;

  // The party at the other end of the pipe.  Each notice may be answered
  // at once by reading or writing the pipe.
  class Callback {
   public:
    // There are new bytes to read, or an error or the end is waiting.
    virtual void dataAvailable(MemIoStream* pipe) = 0;
    // The writer may write again.
    virtual void spaceAvailable(MemIoStream* pipe) = 0;
    // Sent by MemIoStream::notify().
    virtual void notify(MemIoStream* pipe) = 0;
    // The writing side has been closed.
    virtual void closedForWriting(MemIoStream* pipe) = 0;
    // The reader found nothing to read, and neither an error nor the end
    // is recorded: the writer may produce bytes it can make without
    // waiting (a decrypting writer may hold input that no new event will
    // announce).  The reader looks once more afterwards.  The answer is
    // the writer's own status code; the pipe ignores it.
    virtual int32_t dataWanted(MemIoStream* /*pipe*/) { return 0; }
    // Bytes the writer holds for the pipe that are not written yet; they
    // count as pending output of the pipe.
    virtual int32_t pendingBytes(MemIoStream* /*pipe*/) { return 0; }

   protected:
    ~Callback() = default;
  };

  // bufSize below 1: kDefaultBufSize.  maxBytes: the unread bytes the pipe
  // must be able to hold (see setMaxBytes).  The callback may be null and
  // is not owned.
  explicit MemIoStream(Callback* callback = nullptr, int32_t maxBytes = -1, int32_t bufSize = -1);
  ~MemIoStream() override;

  // The most buffers in use at once becomes enough for maxBytes plus one
  // partly read buffer; negative maxBytes: as many as 2 GiB fill.
  void setMaxBytes(int32_t maxBytes);

  // Records an error for the reader, which gets it (as SystemException
  // when it is one, keeping the error number, else as a plain Exception
  // with the same text) once the buffered bytes are read.  flush() then
  // tells the callback.  An empty pointer clears it.
  void setError(const plat::LinkedPtr<plat::Exception>& error) noexcept;

  // ---- Reading side ----
  int32_t pos() final;
  // Also gives every buffer before the reader's back to the spare ring.
  // When a writer was turned away by a full pipe and there is room again,
  // the callback hears spaceAvailable.
  void setCheckpoint() override;
  void rewind() override;

  // ---- Writing side ----
  // Bytes written since the pipe began.
  virtual int32_t writtenLength();
  // Makes the written bytes visible to the reader.  Calls dataAvailable
  // when that changed what can be read (or an error or the end is
  // waiting), then spaceAvailable when the pipe is open and not full.
  void flush() override;
  // Sends the callback's third notice.
  virtual void notify();
  // How many more bytes may be written before the pipe is full (0 once it
  // is closed for writing), at most kNoLimit.
  virtual int32_t spaceAvailable();
  // The reader sees the end after the buffered bytes; writing again throws
  // PipeException.  Flushes and tells the callback.
  bool closeForWriting() override;

  // In-process only: restore() expects a pipe with the same buffer size.
  // The callback and the recorded error are not part of the state.
  void restore(InStream& is) override;
  void save(OutStream& os) override;

  int32_t length() override { return writtenLength(); }
  int32_t spaceLimit() override { return spaceAvailable(); }
  // What the callback reports as pending (0 without one).
  int32_t pendingBytes() override { return callback_ ? callback_->pendingBytes(this) : 0; }

 protected:
  // Reading side: moves on to the next buffer when the current one is used
  // up; true when bytes are readable.  With nothing readable and no error
  // or end recorded, asks the callback once for data (dataWanted) and
  // looks again.
  bool overrun(int32_t needed) override;
  // Writing side: moves the writer on to a fresh buffer.
  int32_t overrun(int32_t itemSize, int32_t nItems) override;

 private:
  // One buffer of the ring: bufSize_ bytes from start(); the reader sees
  // [start(), end).
  struct Buffer {
    std::unique_ptr<uint8_t[]> block;
    uint8_t* end = nullptr;
    uint8_t* start() const noexcept { return block.get(); }
  };

  // Whether the writer may not move on to another buffer.
  bool full() const noexcept { return nFilled_ >= maxBufs_ - 1; }
  // Whether the writer's buffer is the only one in use and the reader has
  // read all of it and set its checkpoint at the end: it may be filled
  // again from its start.
  bool spent() const noexcept;
  // Whether the writer can go on when its window is used up.
  bool hasRoom() const noexcept { return !full() || spent(); }
  void reuseSpentBuffer() noexcept;
  bool hasUnread() noexcept;
  // Moves the first buffer (read, not needed for rewinding) to the back of
  // the ring as a spare.
  void releaseFront() noexcept;
  [[noreturn]] void throwError() const;

  plat::CircularVector<Buffer> bufs_;
  int32_t isIdx_ = 0;  // the reader's buffer
  // bufs_[isIdx_].start(), kept for pos(): a buffer keeps its block while
  // the ring moves it.
  const uint8_t* readStart_ = nullptr;
  int32_t nFilled_ = 0;  // buffers before the writer's, which is bufs_[nFilled_]
  int32_t bufSize_;
  int32_t maxBufs_ = 0;
  Callback* callback_;
  plat::LinkedPtr<plat::Exception> error_;
  bool closedForWriting_ = false;
  // The writer met a full pipe and has not heard spaceAvailable since.
  bool writerStopped_ = false;
  // The stream positions (modulo 2^32) of the start of the reader's and of
  // the writer's buffer.
  uint32_t readBase_ = 0;
  uint32_t writeBase_ = 0;
  // writtenLength() at the last flush (modulo 2^32).
  uint32_t flushedLength_ = 0;
};

}  // namespace rdr
