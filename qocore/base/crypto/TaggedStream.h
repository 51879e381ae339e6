#pragma once
// Authenticated record streams over ordinary byte streams.
//
// crypto::TaggedOutStream cuts what is written into records, each a 2-byte
// big-endian payload length, the payload and an authentication tag, and
// has its subclass seal each record.  crypto::TaggedInStream reads such
// records, has its subclass process the payload as it arrives and verify
// the tag, and hands out a record's bytes only once its tag is accepted.
//
// The reader is meant for non-blocking input: the underlying stream must be
// rewindable, since a length or tag is consumed only when all its bytes are
// there (the underlying checkpoint marks what has been taken).  Its own
// buffer keeps every byte from this stream's checkpoint on, so a caller
// that never sets a checkpoint (or makes the stream non-rewindable) fills
// it; consumed bytes are dropped only when more room is needed.
//
// A subclass may defer a verification (verifyTag answers false): the stream
// then stalls, handing out nothing more, until tagVerified() says how it
// ended.  A failure, told there or thrown by verifyTag, is final: every
// later refill throws plat::Exception with its text, and the record's
// plaintext is wiped without ever having been readable.
//
// The end of the underlying stream between records passes through as
// rdr::EndOfStream.  An end inside a record (from the first byte of its
// length to the last of its tag) throws plat::Exception "TaggedInStream:
// truncated record" instead, so a cut file or connection never reads as
// complete; the stream's state is left as it was (it may still be saved).
//
// Both streams can save their whole state to a stream and restore it into
// a stream of the same kind in the same process (all numbers big-endian):
//   reader: u32 buffer size, u32 discarded, u32 record remaining, u32
//     checkpoint position, u8 rewindable, u8 record in progress, u32
//     offsets of the checkpoint, read position and readable end in the
//     buffer, u32 pending plain, u32 pending cipher, the buffer from the
//     checkpoint to the end of the pending plain bytes, then (with a cipher
//     buffer) the pending cipher bytes;
//   writer: u32 maximum payload, u32 written, u32 current payload length
//     and the current payload.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

class TaggedInStream : public rdr::InStream {
 public:
  // Told when a deferred verification has ended.
  class Callback {
   public:
    virtual ~Callback() = default;
    virtual void tagVerificationDone(TaggedInStream* stream) = 0;
  };

  static constexpr int32_t MAX_TAG_LEN = 64;
  static constexpr int32_t kDefaultBufferSize = 16800;
  static constexpr int32_t kMaxBufferSize = 1 << 24;

  // Wipes both buffers.
  ~TaggedInStream() override;

  // Bytes consumed since the stream began.
  int32_t pos() override;

  // Not owned; must be set before a deferred verification ends.
  void setCallback(Callback* cb) noexcept { cb_ = cb; }
  // Ends a deferred verification: null accepts the record (its bytes
  // become readable), a text fails the stream with it.  Then the callback
  // is told.
  void tagVerified(const char* errorText);
  // Unread bytes, a record in progress or a stalled verification remain.
  bool hasPendingData() const noexcept;

  virtual void saveState(rdr::OutStream& out);
  virtual void restoreState(rdr::InStream& in);

 protected:
  // tagLength at most MAX_TAG_LEN; bufferSize 0 means 16800.  With inPlace
  // the payload is processed where it lands in the plain buffer; otherwise
  // it arrives in a cipher buffer of the same size.  reserve bytes at the
  // end of each buffer stay free.
  TaggedInStream(rdr::InStream* underlying, int32_t tagLength, bool inPlace, int32_t bufferSize, int32_t reserve);

  bool overrun(int32_t needed) override;

  // A record's two length bytes have been read.
  virtual void startRecord(const uint8_t* header, int32_t len) = 0;
  // count new payload bytes are at `where`: in the cipher buffer (the
  // subclass appends what plaintext it can at pendingPlainEnd() and counts
  // it with addPendingPlain) or, in place, already counted in the plain
  // buffer.
  virtual void processPayload(uint8_t* where, int32_t count) = 0;
  // The record's tag (tagLength bytes); true when the record is accepted,
  // false to defer the verdict to tagVerified().  May throw to refuse it.
  virtual bool verifyTag(const uint8_t* tag) = 0;

  bool inMsg() const noexcept { return inMsg_; }
  int32_t recordRemaining() const noexcept { return static_cast<int32_t>(recordRemaining_); }
  int32_t pendingPlain() const noexcept { return pendingPlain_; }
  int32_t pendingCipher() const noexcept { return pendingCipher_; }
  // The current record's payload as received (cipher buffer only).
  const uint8_t* cipherData() const noexcept { return cipherBuf_.data(); }
  uint8_t* pendingPlainEnd() noexcept;
  void addPendingPlain(int32_t n);

 private:
  uint8_t* plainStart() noexcept { return plainBuf_.data(); }
  int32_t offsetOf(const uint8_t* p) noexcept { return static_cast<int32_t>(p - plainStart()); }
  // Drops what lies before the checkpoint.
  void compact();
  // Payload bytes that may be taken from the underlying stream now.
  int32_t room() noexcept;
  // Whether the underlying window holds n bytes, without consuming any.
  bool lowerHas(int32_t n);
  // Makes the pending plain bytes readable.
  void releasePending() noexcept;
  // Wipes the pending bytes of a refused record and fails the stream.
  void fail(const char* text);

  rdr::InStream* underlying_;
  Callback* cb_ = nullptr;
  plat::CharArray errorText_;
  int32_t tagLength_;
  int32_t reserve_;
  int32_t bufferSize_;
  uint32_t discarded_ = 0;
  uint32_t recordRemaining_ = 0;
  int32_t pendingPlain_ = 0;
  int32_t pendingCipher_ = 0;
  plat::Buffer plainBuf_;
  plat::Buffer cipherBuf_;
  bool inMsg_ = false;
  bool stalled_ = false;
};

class TaggedOutStream : public rdr::OutStream {
 public:
  static constexpr int32_t kDefaultMaxPayload = 6600;
  // What the 2-byte length field can say.
  static constexpr int32_t kMaxPayloadLimit = 0xFFFF;

  // Wipes the record buffer; an open record is not sent (and is logged).
  ~TaggedOutStream() override;

  // Payload bytes of closed records plus the open record's.
  int32_t length() override;
  // Closes the open record, then flushes the underlying stream.
  void flush() override;
  OutStream* lowerStream() override;
  // The payload bytes that still fit the underlying stream's limit once
  // each record's length and tag are counted.
  int32_t spaceLimit() override;
  bool closeForWriting() override;

  // Closes the open record: nothing happens while it is empty.
  void flushRecord();

  virtual void saveState(rdr::OutStream& out);
  virtual void restoreState(rdr::InStream& in);

 protected:
  // maxPayload 0 means 6600; at most kMaxPayloadLimit.
  TaggedOutStream(rdr::OutStream* underlying, int32_t tagLength, int32_t maxPayload);

  // Closes the open record and makes room for items of at most one
  // record's payload.
  int32_t overrun(int32_t itemSize, int32_t nItems) override;

  // Seals the record in recordData(): 2 length bytes (already written),
  // plainLen() payload bytes, and room for the tag after them.  True when
  // the record is to be written.
  virtual bool sealRecord() = 0;

  uint8_t* recordData() noexcept { return record_.data(); }
  int32_t plainLen() const noexcept { return static_cast<int32_t>(ptr_ - payloadStart()); }
  int32_t tagLength() const noexcept { return tagLength_; }

 private:
  uint8_t* payloadStart() const noexcept { return const_cast<uint8_t*>(record_.data()) + 2; }
  // Sizes the record buffer for maxPayload and empties the window.
  void allocate(int32_t maxPayload);

  rdr::OutStream* underlying_;
  int32_t tagLength_;
  int32_t maxPayload_ = 0;
  uint32_t written_ = 0;
  plat::Buffer record_;
};

}  // namespace crypto
