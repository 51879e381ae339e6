#include "qocore/base/rdr/FramedInStream.h"

#include <algorithm>

#include "qocore/base/plat/ScopeExit.h"

namespace rdr {

FramedInStream::FramedInStream(InStream* underlying) noexcept : underlying_(nullptr) { setUnderlying(underlying); }

FramedInStream::~FramedInStream() = default;

void FramedInStream::setUnderlying(InStream* underlying) noexcept {
  underlying_ = underlying;
  inMsg_ = lastFrame_ = false;
  checkpointInMsg_ = checkpointLastFrame_ = false;
  frameSize_ = checkpointFrameSize_ = 0;
  checkpointPos_ = static_cast<int32_t>(pos_);
  ptr_ = end_ = underlying ? underlying->getPtr() : nullptr;
  checkpointPtr_ = ptr_;
}

InStream& FramedInStream::lower() const {
  InStream* underlying = underlying_;
  PLAT_ASSERT(underlying);
  return *underlying;
}

void FramedInStream::setWindow() {
  InStream& in = lower();
  ptr_ = in.getPtr();
  end_ = ptr_ + std::min(in.nUnread(), frameSize_);
}

void FramedInStream::commit() {
  // Between messages nothing is buffered here, but a failed startMsg may
  // have let the underlying stream move its buffer: just follow it.
  if (!inMsg_) {
    setWindow();
    return;
  }
  InStream& in = lower();
  const uint8_t* ptr = ptr_;
  const uint8_t* end = end_;
  PLAT_ASSERT(end >= ptr);
  int32_t consumed = static_cast<int32_t>(ptr - in.getPtr());
  int32_t frameSize = frameSize_ - consumed;
  PLAT_ASSERT(frameSize >= 0);
  in.setPtr(ptr);
  frameSize_ = frameSize;
  pos_ += static_cast<uint32_t>(consumed);
}

bool FramedInStream::nextFrame(bool wait) {
  int32_t length;
  bool last;
  try {
    readFrameHeader(length, last, wait);
  } catch (const BlockException&) {
    if (wait) throw;
    return false;
  }
  frameSize_ = length;
  lastFrame_ = last;
  return true;
}

bool FramedInStream::skipEmptyFrames(bool wait) {
  while (frameSize_ == 0 && !lastFrame_) {
    if (!nextFrame(wait)) return false;
  }
  return true;
}

bool FramedInStream::startMsg(bool wait) {
  if (inMsg_) return true;
  InStream& in = lower();
  if (!wait && !in.check(false, 1)) return false;
  if (!nextFrame(wait)) return false;
  inMsg_ = true;
  setWindow();
  setCheckpoint();
  return true;
}

bool FramedInStream::atEnd() {
  PLAT_ASSERT(inMsg_);
  commit();
  {
    // The underlying stream may have moved its buffer, however this ends.
    plat::ScopeExit followLower([this] { setWindow(); });
    try {
      skipEmptyFrames(true);
    } catch (const BlockException&) {
      rewind();
      throw;
    }
  }
  return frameSize_ == 0;
}

void FramedInStream::skipRestOfMsg() {
  // Every piece is committed once it is passed over, so the underlying
  // stream need not keep it, and a skip that blocks resumes where it
  // stopped instead of going over the whole message again.
  for (;;) {
    setCheckpoint();
    if (atEnd()) return;
    check(true, 1);
    ptr_ = end_;
  }
}

void FramedInStream::endMsg() {
  if (!atEnd()) throw FrameException("FramedInStream::endMsg: data left in msg");
  setCheckpoint();
  inMsg_ = false;
}

bool FramedInStream::overrun(int32_t needed) {
  PLAT_ASSERT(inMsg_);
  commit();
  // The underlying stream may have moved its buffer, however this ends.
  plat::ScopeExit followLower([this] { setWindow(); });
  if (!skipEmptyFrames(false)) return false;
  if (frameSize_ == 0) throw EndOfMsg();
  return lower().check(false, std::min(needed, frameSize_));
}

int32_t FramedInStream::pos() {
  int64_t n = pos_;
  if (inMsg_) n += ptr_ - lower().getPtr();
  return static_cast<int32_t>(n);
}

void FramedInStream::setCheckpoint() {
  commit();
  checkpointInMsg_ = inMsg_;
  checkpointLastFrame_ = lastFrame_;
  checkpointFrameSize_ = frameSize_;
  checkpointPos_ = static_cast<int32_t>(pos_);
  checkpointPtr_ = ptr_;
  lower().setCheckpoint();
}

void FramedInStream::rewind() {
  lower().rewind();
  inMsg_ = checkpointInMsg_;
  lastFrame_ = checkpointLastFrame_;
  frameSize_ = checkpointFrameSize_;
  pos_ = static_cast<uint32_t>(checkpointPos_);
  setWindow();
}

InStreamV4::InStreamV4(InStream* underlying) noexcept : FramedInStream(underlying) {}

void InStreamV4::readFrameHeader(int32_t& length, bool& last, bool wait) {
  InStream& in = lower();
  // Both bytes are made available before either is consumed, so a header
  // that is only half there is left in the underlying stream.
  if (!in.check(wait, 2)) throw BlockException();
  uint8_t b0 = in.readU8();
  uint8_t b1 = in.readU8();
  length = (b0 & 0x7F) << 8 | b1;
  last = (b0 >> 7) != 0;
}

}  // namespace rdr
