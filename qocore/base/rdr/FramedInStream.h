#pragma once
// rdr::FramedInStream: reads the messages a FramedOutStream writes.  A
// message of several frames reaches the reader as one unbroken stream that
// ends with EndOfMsg; empty frames that are not the last are skipped.
//
// The window lies inside the underlying stream's window and never extends
// past the end of the current frame, so reads that cross a frame boundary
// are served a frame at a time.  Bytes consumed here are committed to the
// underlying stream (its pointer, the frame's remaining size, pos_) before
// the underlying stream is asked for anything.
//
// Non-blocking use: startMsg(false) answers false until a frame header is
// complete, and then sets a checkpoint at the start of the body.  A read
// that would block rewinds the underlying stream and the frame state to the
// last checkpoint, so the reader can run again from there.
//
// rdr::InStreamV4 reads the two-byte header: length = (b0 & 0x7F) << 8 | b1,
// last = b0 >> 7.

#include <cstdint>

#include "qocore/base/rdr/InStream.h"

namespace rdr {

class FramedInStream : public InStream {
 public:
  ~FramedInStream() override;

  // Points at another stream (may be null), dropping any open message.
  void setUnderlying(InStream* underlying) noexcept;

  // Opens the next message: true at once when one is open.  Without wait,
  // false while its first frame header is incomplete.
  [[nodiscard]] bool startMsg(bool wait);
  bool inMsg() const noexcept { return inMsg_; }
  // Discards the rest of the open message.  What was read before and each
  // piece skipped are committed (the checkpoint moves past them), so a skip
  // that blocks goes on from where it stopped when called again.
  void skipRestOfMsg();
  // Closes the open message, which must have been read to its end.
  void endMsg();

  int32_t pos() override;
  void setCheckpoint() override;
  void rewind() override;
  // Whether nothing of the open message remains.
  bool atEnd() override;

 protected:
  explicit FramedInStream(InStream* underlying) noexcept;

  // The underlying stream, which must be set.
  InStream& lower() const;

  // Reads one frame header from the underlying stream.  Throws
  // BlockException when the header is incomplete and it cannot wait.
  virtual void readFrameHeader(int32_t& length, bool& last, bool wait) = 0;

  bool overrun(int32_t needed) override;

 private:
  // Passes the bytes consumed in the window on to the underlying stream.
  void commit();
  // The window: the buffered part of the current frame's payload.
  void setWindow();
  // Reads headers while the current frame is empty and not the last.
  // Without wait, false when a header is incomplete.
  // Reads the next frame header into frameSize_ and lastFrame_; false when
  // it would block and wait is false.
  bool nextFrame(bool wait);
  bool skipEmptyFrames(bool wait);

  bool inMsg_ = false;
  bool lastFrame_ = false;
  bool checkpointInMsg_ = false;
  bool checkpointLastFrame_ = false;
  int32_t frameSize_ = 0;  // payload bytes of the current frame not yet committed
  int32_t checkpointFrameSize_ = 0;
  uint32_t pos_ = 0;  // bytes consumed before the window
  InStream* underlying_;
};

class InStreamV4 : public FramedInStream {
 public:
  explicit InStreamV4(InStream* underlying) noexcept;

 protected:
  void readFrameHeader(int32_t& length, bool& last, bool wait) override;
};

}  // namespace rdr
