#include "qocore/base/crypto/TaggedStream.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/Exceptions.h"

namespace crypto {

namespace {

PLAT_LOG_SOURCE(vlog, "TaggedOutStream");

constexpr char kPtrIn[] = "TaggedInStream::serializePtrIn: ptr exceeds bufSize";
constexpr char kPtrOut[] = "TaggedInStream::serializePtrOut: ptr exceeds bufSize";
constexpr uint32_t kMaxRecordPayload = 0xFFFF;
constexpr char kTruncated[] = "TaggedInStream: truncated record";

}  // namespace

// ---- TaggedInStream ----

TaggedInStream::TaggedInStream(rdr::InStream* underlying, int32_t tagLength, bool inPlace, int32_t bufferSize,
                               int32_t reserve)
    : underlying_(underlying),
      tagLength_(tagLength),
      reserve_(reserve),
      bufferSize_(bufferSize == 0 ? kDefaultBufferSize : bufferSize) {
  const int32_t tagLen = tagLength;
  PLAT_ASSERT_TEXT(tagLen <= MAX_TAG_LEN, "tagLen <= MAX_TAG_LEN");
  PLAT_ASSERT(underlying && tagLength >= 0);
  PLAT_ASSERT(bufferSize_ > 0 && bufferSize_ <= kMaxBufferSize);
  PLAT_ASSERT(reserve >= 0 && reserve < bufferSize_);
  plainBuf_ = plat::Buffer(bufferSize_, true);
  if (!inPlace) cipherBuf_ = plat::Buffer(bufferSize_, true);
  ptr_ = end_ = checkpointPtr_ = plainStart();
  checkpointPos_ = 0;
  underlying_->setCheckpoint();
}

TaggedInStream::~TaggedInStream() = default;

int32_t TaggedInStream::pos() { return static_cast<int32_t>(offsetOf(ptr_) + discarded_); }

uint8_t* TaggedInStream::pendingPlainEnd() noexcept { return const_cast<uint8_t*>(end_) + pendingPlain_; }

void TaggedInStream::addPendingPlain(int32_t n) {
  PLAT_ASSERT(n >= 0 && offsetOf(end_) + pendingPlain_ + n <= bufferSize_);
  pendingPlain_ += n;
}

bool TaggedInStream::hasPendingData() const noexcept { return end_ > ptr_ || inMsg_ || stalled_; }

void TaggedInStream::releasePending() noexcept {
  end_ += pendingPlain_;
  pendingPlain_ = 0;
  pendingCipher_ = 0;
}

void TaggedInStream::fail(const char* text) {
  plat::secureZero(pendingPlainEnd() - pendingPlain_, static_cast<size_t>(pendingPlain_));
  if (!cipherBuf_.empty()) plat::secureZero(cipherBuf_.data(), static_cast<size_t>(pendingCipher_));
  pendingPlain_ = pendingCipher_ = 0;
  errorText_ = plat::CharArray(text ? text : "");
}

void TaggedInStream::tagVerified(const char* errorText) {
  Callback* cb = cb_;
  PLAT_ASSERT_TEXT(cb, "cb");
  stalled_ = false;
  if (errorText) {
    fail(errorText);
  } else {
    releasePending();
  }
  cb->tagVerificationDone(this);
}

void TaggedInStream::compact() {
  const int32_t drop = offsetOf(checkpointPtr_);
  if (drop == 0) return;
  const int32_t keep = offsetOf(end_) + pendingPlain_ - drop;
  std::memmove(plainStart(), plainStart() + drop, static_cast<size_t>(keep));
  plat::secureZero(plainStart() + keep, static_cast<size_t>(drop));
  discarded_ += static_cast<uint32_t>(drop);
  ptr_ -= drop;
  end_ -= drop;
  checkpointPtr_ -= drop;
}

int32_t TaggedInStream::room() noexcept {
  // Every payload byte taken becomes a plain byte of this record, so the
  // plain room counts the ciphertext not yet turned into plaintext too.
  const int32_t recordBytes = std::max(pendingPlain_, cipherBuf_.empty() ? 0 : pendingCipher_);
  int64_t room = std::min<int64_t>(recordRemaining_, bufferSize_ - reserve_ - offsetOf(end_) - recordBytes);
  if (!cipherBuf_.empty()) room = std::min<int64_t>(room, bufferSize_ - reserve_ - pendingCipher_);
  return static_cast<int32_t>(std::max<int64_t>(room, 0));
}

bool TaggedInStream::lowerHas(int32_t n) {
  try {
    return underlying_->check(false, n) && underlying_->nUnread() >= n;
  } catch (const rdr::BlockException&) {
    return false;
  } catch (const rdr::EndOfStream&) {
    // Only an end between records is the end of the data: one inside a
    // record, even after the first byte of its length, means the stream
    // was cut short.  The state stays as it is (the record's plaintext
    // is never handed out), so it can still be saved and continued from
    // another source.
    if (!inMsg_ && underlying_->nUnread() == 0) throw;
    throw plat::Exception(kTruncated);
  }
}

bool TaggedInStream::overrun(int32_t needed) {
  if (stalled_) return false;
  if (errorText_.get()) throw plat::Exception(errorText_.get());
  compact();
  if (end_ - ptr_ >= needed) return true;
  rdr::InStream& in = *underlying_;
  for (;;) {
    if (!inMsg_) {
      if (!lowerHas(2)) return false;
      uint8_t header[2];
      in.readBytes(header, 2);
      recordRemaining_ = static_cast<uint32_t>(header[0] << 8 | header[1]);
      inMsg_ = true;
      startRecord(header, 2);
      in.setCheckpoint();
    }
    if (recordRemaining_ > 0) {
      const int32_t space = room();
      if (space == 0) break;
      if (!lowerHas(1)) return false;
      const int32_t take = std::min(space, in.nUnread());
      uint8_t* where = cipherBuf_.empty() ? pendingPlainEnd() : cipherBuf_.data() + pendingCipher_;
      std::memcpy(where, in.getPtr(), static_cast<size_t>(take));
      in.advance(take);
      recordRemaining_ -= static_cast<uint32_t>(take);
      if (cipherBuf_.empty()) {
        pendingPlain_ += take;
      } else {
        pendingCipher_ += take;
      }
      processPayload(where, take);
      in.setCheckpoint();
    }
    if (recordRemaining_ == 0) {
      if (!lowerHas(tagLength_)) return false;
      uint8_t tag[MAX_TAG_LEN];
      in.readBytes(tag, tagLength_);
      bool accepted;
      try {
        accepted = verifyTag(tag);
      } catch (const plat::Exception& e) {
        in.setCheckpoint();
        inMsg_ = false;
        fail(e.str());
        throw;
      }
      in.setCheckpoint();
      inMsg_ = false;
      stalled_ = !accepted;
      if (accepted) releasePending();
    }
    if (end_ - ptr_ >= needed) return true;
    if (stalled_) return false;
  }
  if (end_ > ptr_) return true;
  throw plat::ExceptionFmt("TaggedInStream: message too large");
}

void TaggedInStream::saveState(rdr::OutStream& out) {
  const int32_t checkpoint = offsetOf(checkpointPtr_);
  const int32_t keptEnd = offsetOf(end_) + pendingPlain_;
  for (int32_t offset : {checkpoint, offsetOf(ptr_), offsetOf(end_), keptEnd}) {
    if (offset < 0 || offset > bufferSize_) throw plat::Exception(kPtrOut);
  }
  out.writeU32(static_cast<uint32_t>(bufferSize_));
  out.writeU32(discarded_);
  out.writeU32(recordRemaining_);
  out.writeU32(static_cast<uint32_t>(checkpointPos_));
  out.writeU8(rewindable_ ? 1 : 0);
  out.writeU8(inMsg_ ? 1 : 0);
  out.writeU32(static_cast<uint32_t>(checkpoint));
  out.writeU32(static_cast<uint32_t>(offsetOf(ptr_)));
  out.writeU32(static_cast<uint32_t>(offsetOf(end_)));
  out.writeU32(static_cast<uint32_t>(pendingPlain_));
  out.writeU32(static_cast<uint32_t>(pendingCipher_));
  out.writeBytes(checkpointPtr_, keptEnd - checkpoint);
  if (!cipherBuf_.empty()) out.writeBytes(cipherBuf_.data(), pendingCipher_);
}

void TaggedInStream::restoreState(rdr::InStream& in) {
  const uint32_t size = in.readU32();
  if (size == 0 || size > static_cast<uint32_t>(kMaxBufferSize) || static_cast<int32_t>(size) <= reserve_) {
    throw plat::Exception("TaggedInStream: bad buffer size");
  }
  const uint32_t discarded = in.readU32();
  const uint32_t remaining = in.readU32();
  const int32_t checkpointPos = in.readS32();
  const bool rewindable = in.readU8() != 0;
  const bool inMsg = in.readU8() != 0;
  uint32_t offsets[3];
  for (uint32_t& offset : offsets) {
    offset = in.readU32();
    if (offset > size) throw plat::Exception(kPtrIn);
  }
  const uint32_t pendingPlain = in.readU32();
  const uint32_t pendingCipher = in.readU32();
  // The offsets must be in order, and the pending bytes must fit behind
  // the readable end (and in the cipher buffer).
  if (offsets[0] > offsets[1] || offsets[1] > offsets[2] || pendingPlain > size - offsets[2] ||
      pendingCipher > (cipherBuf_.empty() ? 0 : size) || remaining > kMaxRecordPayload) {
    throw plat::Exception(kPtrIn);
  }
  const bool inPlace = cipherBuf_.empty();
  const int32_t bufferSize = static_cast<int32_t>(size);
  plat::Buffer plain(bufferSize, true);
  plat::Buffer cipher(inPlace ? 0 : bufferSize, true);
  in.readBytes(plain.data() + offsets[0], static_cast<int32_t>(offsets[2] + pendingPlain - offsets[0]));
  if (!inPlace) in.readBytes(cipher.data(), static_cast<int32_t>(pendingCipher));

  bufferSize_ = bufferSize;
  plainBuf_.swap(plain);
  cipherBuf_.swap(cipher);
  discarded_ = discarded;
  recordRemaining_ = remaining;
  checkpointPos_ = checkpointPos;
  rewindable_ = rewindable;
  inMsg_ = inMsg;
  checkpointPtr_ = plainStart() + offsets[0];
  ptr_ = plainStart() + offsets[1];
  end_ = plainStart() + offsets[2];
  pendingPlain_ = static_cast<int32_t>(pendingPlain);
  pendingCipher_ = static_cast<int32_t>(pendingCipher);
  stalled_ = false;
  errorText_ = plat::CharArray();
}

// ---- TaggedOutStream ----

TaggedOutStream::TaggedOutStream(rdr::OutStream* underlying, int32_t tagLength, int32_t maxPayload)
    : underlying_(underlying), tagLength_(tagLength) {
  PLAT_ASSERT(underlying);
  const int32_t tagLen = tagLength;
  PLAT_ASSERT_TEXT(tagLen >= 0 && tagLen <= TaggedInStream::MAX_TAG_LEN, "tagLen <= MAX_TAG_LEN");
  if (maxPayload == 0) maxPayload = kDefaultMaxPayload;
  PLAT_ASSERT(maxPayload > 0 && maxPayload <= kMaxPayloadLimit);
  allocate(maxPayload);
}

TaggedOutStream::~TaggedOutStream() {
  if (plainLen() > 0) vlog().error("%d bytes of an open record not sent", plainLen());
}

void TaggedOutStream::allocate(int32_t maxPayload) {
  maxPayload_ = maxPayload;
  record_ = plat::Buffer(2 + maxPayload + tagLength_, true);
  ptr_ = payloadStart();
  end_ = ptr_ + maxPayload;
}

int32_t TaggedOutStream::length() { return static_cast<int32_t>(written_ + static_cast<uint32_t>(plainLen())); }

void TaggedOutStream::flushRecord() {
  const int32_t len = plainLen();
  if (len == 0) return;
  record_[0] = static_cast<uint8_t>(len >> 8);
  record_[1] = static_cast<uint8_t>(len);
  if (sealRecord()) underlying_->writeBytes(record_.data(), 2 + len + tagLength_);
  written_ += static_cast<uint32_t>(len);
  plat::secureZero(record_.data(), static_cast<size_t>(2 + len + tagLength_));
  ptr_ = payloadStart();
}

void TaggedOutStream::flush() {
  flushRecord();
  underlying_->flush();
}

rdr::OutStream* TaggedOutStream::lowerStream() { return underlying_->lowerStream(); }

bool TaggedOutStream::closeForWriting() { return underlying_->closeForWriting(); }

int32_t TaggedOutStream::spaceLimit() {
  const int32_t limit = underlying_->spaceLimit();
  if (limit == kNoLimit) return kNoLimit;
  // Whole records of maxPayload bytes, then what a last record can carry;
  // the open record's payload counts against the first.
  const int64_t overhead = 2 + tagLength_;
  const int64_t full = limit / (maxPayload_ + overhead);
  const int64_t rest = limit % (maxPayload_ + overhead);
  const int64_t payload = full * maxPayload_ + std::max<int64_t>(rest - overhead, 0) - plainLen();
  return static_cast<int32_t>(std::clamp<int64_t>(payload, 0, kNoLimit - 1));
}

int32_t TaggedOutStream::overrun(int32_t itemSize, int32_t nItems) {
  if (itemSize > maxPayload_) throw plat::Exception("TaggedOutStream overrun: max itemSize exceeded");
  flushRecord();
  return std::min(nItems, maxPayload_ / std::max(itemSize, 1));
}

void TaggedOutStream::saveState(rdr::OutStream& out) {
  out.writeU32(static_cast<uint32_t>(maxPayload_));
  out.writeU32(written_);
  out.writeU32(static_cast<uint32_t>(plainLen()));
  out.writeBytes(payloadStart(), plainLen());
}

void TaggedOutStream::restoreState(rdr::InStream& in) {
  const uint32_t maxPayload = in.readU32();
  const uint32_t written = in.readU32();
  const uint32_t len = in.readU32();
  if (maxPayload == 0 || maxPayload > static_cast<uint32_t>(kMaxPayloadLimit)) {
    throw plat::Exception("TaggedOutStream: bad maximum payload");
  }
  if (len > maxPayload) throw plat::Exception("TaggedOutStream: plainLen exceeds bufSize");
  plat::Buffer payload(in, static_cast<int>(len), true);
  if (static_cast<int32_t>(maxPayload) != maxPayload_) allocate(static_cast<int32_t>(maxPayload));
  ptr_ = payloadStart();
  if (len > 0) std::memcpy(ptr_, payload.data(), len);
  ptr_ += len;
  written_ = written;
}

}  // namespace crypto
