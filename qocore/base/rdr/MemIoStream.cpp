#include "qocore/base/rdr/MemIoStream.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace rdr {

namespace {

uint32_t offsetIn(const uint8_t* p, const uint8_t* start) { return static_cast<uint32_t>(p - start); }

// The most buffers a pipe may use at once to hold maxBytes unread bytes
// (negative: as many as 2 GiB fill) plus one partly read buffer.
int32_t maxBufsFor(int32_t maxBytes, int32_t bufSize) {
  int64_t bufs = maxBytes < 0 ? OutStream::kNoLimit / bufSize : (int64_t{maxBytes} + bufSize - 1) / bufSize + 1;
  return static_cast<int32_t>(std::min<int64_t>(bufs, OutStream::kNoLimit));
}

// The most entries the ring of buffers can hold.
constexpr uint32_t kMostRingBufs = 0x3FFFFFFF;

}  // namespace

MemIoStream::MemIoStream(Callback* callback, int32_t maxBytes, int32_t bufSize)
    : bufSize_(bufSize > 0 ? bufSize : kDefaultBufSize), callback_(callback) {
  setMaxBytes(maxBytes);
  // Zeroed, because save() writes whole buffers.
  std::unique_ptr<uint8_t[]> block(new uint8_t[bufSize_]());
  uint8_t* start = block.get();
  bufs_.push_back(Buffer{std::move(block), start});
  InStream::ptr_ = InStream::end_ = checkpointPtr_ = readStart_ = start;
  OutStream::ptr_ = start;
  OutStream::end_ = start + bufSize_;
}

MemIoStream::~MemIoStream() = default;

void MemIoStream::setMaxBytes(int32_t maxBytes) { maxBufs_ = maxBufsFor(maxBytes, bufSize_); }

void MemIoStream::setError(const plat::LinkedPtr<plat::Exception>& error) noexcept { error_ = error; }

// ---- Reading side ----

int32_t MemIoStream::pos() { return static_cast<int32_t>(readBase_ + offsetIn(InStream::ptr_, readStart_)); }

void MemIoStream::setCheckpoint() {
  // InStream's, without the virtual call for the position.
  checkpointPtr_ = InStream::ptr_;
  checkpointPos_ = MemIoStream::pos();
  for (; isIdx_ > 0; --isIdx_) releaseFront();
  if (writerStopped_ && hasRoom()) {
    writerStopped_ = false;
    if (callback_) callback_->spaceAvailable(this);
  }
}

void MemIoStream::rewind() {
  InStream::rewind();
  for (int32_t i = 0; i < isIdx_; ++i) readBase_ -= offsetIn(bufs_[i].end, bufs_[i].start());
  isIdx_ = 0;
  readStart_ = bufs_[0].start();
  InStream::end_ = bufs_[0].end;
}

bool MemIoStream::overrun(int32_t /*needed*/) {
  bool asked = false;
  for (;;) {
    // The writer may have flushed more into the reader's buffer.
    const Buffer& cur = bufs_[isIdx_];
    InStream::end_ = cur.end;
    // Fewer bytes than needed is fine here: the base assembles items that
    // straddle buffers from their parts.
    if (InStream::ptr_ < InStream::end_) return true;
    if (isIdx_ == nFilled_) {
      // The writer's buffer: nothing more yet, unless the writer can make
      // some now.
      if (asked || !callback_ || error_ || closedForWriting_) break;
      asked = true;
      callback_->dataWanted(this);
      continue;
    }

    readBase_ += offsetIn(cur.end, cur.start());
    if (checkpointPtr_ == InStream::ptr_) {
      // Rewinding cannot reach back into the used-up buffer, and the
      // checkpoint always lies in the first one.
      PLAT_ASSERT(isIdx_ == 0);
      releaseFront();
      checkpointPtr_ = bufs_[0].start();
    } else {
      ++isIdx_;
    }
    InStream::ptr_ = readStart_ = bufs_[isIdx_].start();
  }
  if (error_) throwError();
  if (closedForWriting_) throw EndOfStream("End of in-memory IO stream");
  return false;
}

bool MemIoStream::spent() const noexcept {
  // With the writer in the first buffer the reader is in it too.
  return nFilled_ == 0 && InStream::ptr_ == OutStream::ptr_ && checkpointPtr_ == InStream::ptr_;
}

void MemIoStream::reuseSpentBuffer() noexcept {
  Buffer& b = bufs_[0];
  const uint32_t used = offsetIn(OutStream::ptr_, b.start());
  readBase_ += used;
  writeBase_ += used;
  b.end = b.start();
  InStream::ptr_ = InStream::end_ = checkpointPtr_ = b.start();
  OutStream::ptr_ = b.start();
  OutStream::end_ = b.start() + bufSize_;
}

void MemIoStream::releaseFront() noexcept {
  Buffer b = std::move(bufs_.front());
  bufs_.pop_front();
  b.end = b.start();
  bufs_.push_back(std::move(b));  // the ring just shrank, so this never allocates
  --nFilled_;
}

void MemIoStream::throwError() const {
  if (const auto* sys = dynamic_cast<const plat::SystemException*>(error_.get())) throw plat::SystemException(*sys);
  throw plat::Exception(error_->str());
}

bool MemIoStream::hasUnread() noexcept {
  // Buffers the writer moved on from are rarely empty, so this looks at one
  // or two buffers.
  for (int32_t i = isIdx_; i <= nFilled_; ++i) {
    const uint8_t* from = i == isIdx_ ? InStream::ptr_ : bufs_[i].start();
    if (bufs_[i].end > from) return true;
  }
  return false;
}

// ---- Writing side ----

int32_t MemIoStream::writtenLength() {
  return static_cast<int32_t>(writeBase_ + offsetIn(OutStream::ptr_, bufs_[nFilled_].start()));
}

int32_t MemIoStream::overrun(int32_t itemSize, int32_t nItems) {
  if (closedForWriting_) throw PipeException();
  bufs_[nFilled_].end = OutStream::ptr_;
  if (full()) {
    // The reader may free buffers when told about the bytes waiting.
    if (callback_ && (hasUnread() || error_)) callback_->dataAvailable(this);
    if (!hasRoom()) {
      writerStopped_ = true;
      throw OutStreamFull("MemIoStream: maxBufs exceeded");
    }
  }
  if (itemSize > bufSize_) throw plat::Exception("MemIoStream: item exceeds buffer size");
  if (spent()) {
    // The reader has read and released all of the writer's buffer (always
    // so here when the pipe is full): the writer fills the same buffer
    // again rather than moving on, so a pipe whose reader keeps up stays
    // in one buffer.
    reuseSpentBuffer();
    return std::min(nItems, bufSize_ / itemSize);
  }

  if (bufs_.size() <= static_cast<size_t>(nFilled_) + 1) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[bufSize_]());
    uint8_t* start = block.get();
    bufs_.push_back(Buffer{std::move(block), start});
  }
  const Buffer& sealed = bufs_[nFilled_];
  writeBase_ += offsetIn(sealed.end, sealed.start());
  ++nFilled_;
  Buffer& next = bufs_[nFilled_];
  next.end = next.start();
  OutStream::ptr_ = next.start();
  OutStream::end_ = next.start() + bufSize_;
  return std::min(nItems, bufSize_ / itemSize);
}

void MemIoStream::flush() {
  Buffer& writing = bufs_[nFilled_];
  writing.end = OutStream::ptr_;
  // The reader's window reaches as far as its buffer shows, as its next
  // check would make it, so that a read that fits is read inline.
  InStream::end_ = isIdx_ == nFilled_ ? OutStream::ptr_ : bufs_[isIdx_].end;
  // Moving the writer on also shows bytes to the reader, so compare with
  // what the last flush showed, not with the buffer's previous end.
  // (writtenLength(), without the virtual call.)
  uint32_t shown = writeBase_ + offsetIn(OutStream::ptr_, writing.start());
  bool changed = shown != flushedLength_;
  flushedLength_ = shown;
  if (!callback_) return;
  if (changed || error_ || closedForWriting_) callback_->dataAvailable(this);
  if (spaceAvailable() != 0 && !closedForWriting_) {
    writerStopped_ = false;
    callback_->spaceAvailable(this);
  }
}

void MemIoStream::notify() {
  if (callback_) callback_->notify(this);
}

int32_t MemIoStream::spaceAvailable() {
  if (closedForWriting_) return 0;
  int64_t room = OutStream::end_ - OutStream::ptr_;
  if (!full()) {
    room += int64_t{maxBufs_ - 1 - nFilled_} * bufSize_;
  } else if (spent()) {
    room = bufSize_;
  }
  return static_cast<int32_t>(std::min<int64_t>(room, OutStream::kNoLimit));
}

bool MemIoStream::closeForWriting() {
  closedForWriting_ = true;
  try {
    flush();
  } catch (const EndOfStream&) {
    // A reader answering the notice ran into the end: nothing to report.
  }
  // Any further write reaches overrun(), which refuses it.
  OutStream::end_ = OutStream::ptr_;
  if (callback_) callback_->closedForWriting(this);
  return true;
}

// ---- State ----

void MemIoStream::save(OutStream& os) {
  os.writeU32(static_cast<uint32_t>(maxBufs_));
  os.writeU32(static_cast<uint32_t>(isIdx_));
  os.writeU32(static_cast<uint32_t>(nFilled_));
  os.writeU8(closedForWriting_ ? 1 : 0);
  os.writeU32(static_cast<uint32_t>(bufs_.size()));
  for (size_t i = 0; i < bufs_.size(); ++i) os.writeBytes(bufs_[i].start(), bufSize_);
  const uint8_t* readStart = bufs_[isIdx_].start();
  os.writeU32(offsetIn(InStream::ptr_, readStart));
  os.writeU32(offsetIn(InStream::end_, readStart));
  os.writeU32(offsetIn(checkpointPtr_, bufs_[0].start()));
  os.writeU32(static_cast<uint32_t>(checkpointPos_));
  os.writeU8(rewindable_ ? 1 : 0);
  // The writing side: how far each buffer up to the writer's is visible,
  // the writer's pointer, whether the writer was stopped, and the length
  // the last flush showed.
  for (int32_t i = 0; i <= nFilled_; ++i) os.writeU32(offsetIn(bufs_[i].end, bufs_[i].start()));
  os.writeU32(offsetIn(OutStream::ptr_, bufs_[nFilled_].start()));
  os.writeU8(writerStopped_ ? 1 : 0);
  os.writeU32(flushedLength_);
}

void MemIoStream::restore(InStream& is) {
  const auto bad = [] { return plat::Exception("MemIoStream: bad saved state"); };
  const uint32_t size = static_cast<uint32_t>(bufSize_);

  // save() never writes more buffers, nor a higher limit, than a pipe of
  // this buffer size can have; a record claiming more is refused before
  // anything is allocated for it.
  const uint32_t mostBufs = static_cast<uint32_t>(maxBufsFor(OutStream::kNoLimit, bufSize_));
  const uint32_t maxBufs = is.readU32();
  if (maxBufs < 1 || maxBufs > mostBufs) throw plat::Exception("MemIoStream: bad saved state (buffer limit)");
  uint32_t isIdx = is.readU32();
  uint32_t nFilled = is.readU32();
  bool closed = is.readU8() != 0;
  uint32_t count = is.readU32();
  if (count > std::min(mostBufs, kMostRingBufs)) throw plat::Exception("MemIoStream: bad saved state (buffer count)");
  if (nFilled >= count || isIdx > nFilled) throw bad();

  // Read everything before touching the current state, so that a short or
  // broken record leaves the pipe as it was.  Buffers are allocated as
  // their bytes arrive, so a short record costs no more than its length.
  std::vector<std::unique_ptr<uint8_t[]>> blocks;
  for (uint32_t i = 0; i < count; ++i) {
    blocks.emplace_back(new uint8_t[bufSize_]);
    is.readBytes(blocks.back().get(), bufSize_);
  }
  uint32_t readOff = is.readU32();
  uint32_t readEnd = is.readU32();
  uint32_t checkpointOff = is.readU32();
  uint32_t checkpointPos = is.readU32();
  bool rewindable = is.readU8() != 0;
  std::vector<uint32_t> ends(nFilled + 1);
  for (uint32_t& e : ends) {
    e = is.readU32();
    if (e > size) throw bad();
  }
  uint32_t writeOff = is.readU32();
  bool writerStopped = is.readU8() != 0;
  uint32_t flushedLength = is.readU32();
  if (readOff > readEnd || readEnd > ends[isIdx] || checkpointOff > ends[0] || writeOff > size ||
      writeOff < ends[nFilled])
    throw bad();

  plat::CircularVector<Buffer> ring;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* start = blocks[i].get();
    ring.push_back(Buffer{std::move(blocks[i]), start + (i <= nFilled ? ends[i] : 0)});
  }
  bufs_ = std::move(ring);
  maxBufs_ = static_cast<int32_t>(maxBufs);
  isIdx_ = static_cast<int32_t>(isIdx);
  nFilled_ = static_cast<int32_t>(nFilled);
  closedForWriting_ = closed;
  writerStopped_ = writerStopped;
  flushedLength_ = flushedLength;

  const uint8_t* readStart = readStart_ = bufs_[isIdx_].start();
  InStream::ptr_ = readStart + readOff;
  InStream::end_ = readStart + readEnd;
  checkpointPtr_ = bufs_[0].start() + checkpointOff;
  checkpointPos_ = static_cast<int32_t>(checkpointPos);
  rewindable_ = rewindable;

  // Stream positions of the buffer starts follow from the checkpoint's.
  readBase_ = writeBase_ = checkpointPos - checkpointOff;
  for (int32_t i = 0; i < nFilled_; ++i) {
    uint32_t len = offsetIn(bufs_[i].end, bufs_[i].start());
    if (i < isIdx_) readBase_ += len;
    writeBase_ += len;
  }
  uint8_t* writeStart = bufs_[nFilled_].start();
  OutStream::ptr_ = writeStart + writeOff;
  OutStream::end_ = closed ? OutStream::ptr_ : writeStart + bufSize_;
}

}  // namespace rdr
