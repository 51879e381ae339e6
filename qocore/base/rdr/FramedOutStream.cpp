#include "qocore/base/rdr/FramedOutStream.h"

#include <algorithm>
#include <cstddef>

namespace rdr {

FramedOutStream::FramedOutStream(OutStream* underlying, int32_t maxFrameSize, int32_t hdrSize) noexcept
    : maxFrameSize_(maxFrameSize), hdrSize_(hdrSize), underlying_(underlying) {}

FramedOutStream::~FramedOutStream() = default;

void FramedOutStream::setUnderlying(OutStream* underlying) noexcept {
  // Bytes of an open frame were never committed to the old stream, so
  // forgetting the window drops them.
  underlying_ = underlying;
  inMsg_ = false;
  inFrame_ = false;
  firstFrame_ = true;
  ptr_ = end_ = nullptr;
}

OutStream& FramedOutStream::lower() const {
  OutStream* underlying = underlying_;
  PLAT_ASSERT(underlying);
  return *underlying;
}

void FramedOutStream::startMsg() {
  if (inMsg_) throw FrameException("FramedOutStream::startMsg: already in msg");
  inMsg_ = true;
  firstFrame_ = true;
  startFrame();
}

void FramedOutStream::startFrame() {
  OutStream& out = lower();
  out.check(hdrSize_ + 1, 1);
  uint8_t* payload = out.getPtr() + hdrSize_;
  std::ptrdiff_t room = std::min<std::ptrdiff_t>(out.getEnd() - payload, maxFrameSize_);
  ptr_ = payload;
  end_ = payload + room;
  inFrame_ = true;
}

void FramedOutStream::endFrame(bool last) {
  if (!inFrame_) throw FrameException("FramedOutStream::endFrame: not in frame");
  OutStream* underlying = &lower();
  uint8_t* header = underlying->getPtr();
  uint8_t* payloadEnd = ptr_;
  int32_t payload = static_cast<int32_t>(payloadEnd - (header + hdrSize_));
  // Closed before the header is written, so a header writer that ran out
  // of room could not recurse into a new frame.
  inFrame_ = false;

  if (payload == 0 && !last) {
    ptr_ = end_ = header;
    return;
  }
  if (end_ - header < hdrSize_) throw FrameException("FramedOutStream::endFrame: no space for header");

  ptr_ = header;
  writeFrameHeader(payload, last, firstFrame_);
  PLAT_ASSERT_TEXT(ptr_ == underlying->getPtr() + hdrSize_, "ptr == underlying->getPtr() + hdrSize");

  length_ += static_cast<uint32_t>(payload);
  underlying->setPtr(payloadEnd);
  firstFrame_ = false;
  ptr_ = end_ = underlying->getPtr();
}

void FramedOutStream::endMsg(bool flush) {
  if (!inMsg_) throw FrameException("FramedOutStream::endMsg: not in frame");
  // A frame that the lower stream refused room for is opened now.
  if (!inFrame_) startFrame();
  endFrame(true);
  inMsg_ = false;
  OutStream& out = lower();
  if (flush) out.flush();
  ptr_ = end_ = out.getPtr();
}

int32_t FramedOutStream::overrun(int32_t itemSize, int32_t nItems) {
  // Inside a message a frame is open, unless the lower stream refused room
  // for the next one: then the message goes on with the frame opened here.
  if (inFrame_ || !inMsg_) endFrame(false);
  lower().check(hdrSize_ + itemSize, 1);
  startFrame();
  int32_t fit = static_cast<int32_t>((end_ - ptr_) / itemSize);
  return std::min(fit, nItems);
}

int32_t FramedOutStream::length() {
  int64_t n = length_;
  if (inFrame_) n += ptr_ - (lower().getPtr() + hdrSize_);
  return static_cast<int32_t>(n);
}

void FramedOutStream::flush() {
  if (!inMsg_) {
    lower().flush();
    return;
  }
  if (inFrame_) endFrame(false);
  lower().flush();
  startFrame();
}

OutStream* FramedOutStream::lowerStream() { return lower().lowerStream(); }

int32_t FramedOutStream::spaceLimit() { return std::max(lower().spaceLimit() - hdrSize_, 0); }

bool FramedOutStream::closeForWriting() { return lower().closeForWriting(); }

OutStreamV4::OutStreamV4(OutStream* underlying) noexcept : FramedOutStream(underlying, kMaxFrameSize, kHeaderSize) {}

void OutStreamV4::writeFrameHeader(int32_t length, bool last, bool /*first*/) {
  writeU16(static_cast<uint16_t>((last ? 0x8000 : 0) | length));
}

}  // namespace rdr
