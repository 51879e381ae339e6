#pragma once
// rdr::FramedOutStream: cuts the bytes written into it into messages made
// of frames, so that a reader learns where a message ends without knowing
// its content.  Each frame is a header followed by its payload; exactly the
// last frame of a message is marked as such.
//
// The payload is written straight into the underlying stream's window:
// opening a frame reserves room for its header there, and closing it fills
// the header in and moves the underlying pointer past the payload.  A frame
// therefore ends where the underlying window ends, or at maxFrameSize bytes.
// An empty frame is written only as the last one of a message.
//
// When the lower stream refuses room for the next frame (OutStreamFull),
// the message stays open without a frame; the next write or endMsg opens
// one, so a writer can go on once the lower stream has room again.
//
// rdr::OutStreamV4 fixes the header: two bytes, big-endian
// (last << 15) | length, with at most 32766 payload bytes per frame.

#include <cstdint>

#include "qocore/base/rdr/OutStream.h"

namespace rdr {

class FramedOutStream : public OutStream {
 public:
  ~FramedOutStream() override;

  // Points at another stream (may be null), dropping any open message.
  void setUnderlying(OutStream* underlying) noexcept;

  // Opens a message and its first frame.
  void startMsg();
  // Closes the open frame; a non-last empty frame is dropped.
  void endFrame(bool last);
  // Closes the message with a last frame; with flush, flushes the
  // underlying stream.
  void endMsg(bool flush = true);

  int32_t length() override;
  // Inside a message, passes the data so far on as a non-last frame and
  // opens a new one.
  void flush() override;
  OutStream* lowerStream() override;
  // The underlying stream's limit less one header.
  int32_t spaceLimit() override;
  bool closeForWriting() override;

 protected:
  FramedOutStream(OutStream* underlying, int32_t maxFrameSize, int32_t hdrSize) noexcept;

  // Writes the header of a frame of `length` payload bytes at this stream's
  // pointer (endFrame points it at the reserved header room).  `first` is
  // set for the first frame of a message.
  virtual void writeFrameHeader(int32_t length, bool last, bool first) = 0;

  // Closes the open frame and opens the next; writing outside a message
  // therefore fails in endFrame.
  int32_t overrun(int32_t itemSize, int32_t nItems) override;

 private:
  // The underlying stream, which must be set.
  OutStream& lower() const;
  // Reserves the header room in the underlying stream and lets the window
  // run from after it to the underlying window's end or maxFrameSize_
  // bytes, whichever is nearer.
  void startFrame();

  int32_t maxFrameSize_;
  int32_t hdrSize_;
  bool inMsg_ = false;
  bool inFrame_ = false;
  bool firstFrame_ = true;
  uint32_t length_ = 0;  // payload bytes of completed frames
  OutStream* underlying_;
};

class OutStreamV4 : public FramedOutStream {
 public:
  static constexpr int32_t kMaxFrameSize = 0x7FFE;
  static constexpr int32_t kHeaderSize = 2;

  explicit OutStreamV4(OutStream* underlying) noexcept;

 protected:
  void writeFrameHeader(int32_t length, bool last, bool first) override;
};

}  // namespace rdr
