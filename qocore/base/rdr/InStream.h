#pragma once
// rdr::InStream: the byte-input contract every binary format is read with.
//
// The stream exposes an inline window [ptr_, end_) of buffered bytes, so a
// read costs a comparison and a copy; only when the window runs short does
// the virtual overrun() refill it.  Integers are big-endian.
//
// Non-blocking parsing: a parser calls setCheckpoint() at the start of each
// unit it can redo.  When a read finds too little data, a rewindable stream
// returns to the checkpoint and BlockException is thrown; the parser runs
// the unit again when more data arrives.  Buffered streams keep every byte
// from the checkpoint on.  A stream that is not rewindable sets the
// checkpoint itself before each fill, so consumed bytes may be dropped.

#include <cstdint>
#include <cstring>
#include <string>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/Exceptions.h"

namespace plat {
class DString;
}

namespace rdr {

class InStream {
 public:
  // The longest line readLine accepts when given no maximum.
  static constexpr int kDefaultMaxLine = 262144;

  virtual ~InStream();
  InStream(const InStream&) = delete;
  InStream& operator=(const InStream&) = delete;

  // Bytes consumed since the stream began.
  virtual int32_t pos() = 0;
  // Remembers pos() and the pointer as the point rewind() returns to.
  virtual void setCheckpoint();
  // Back to the checkpoint; throws when the stream is not rewindable.
  virtual void rewind();
  // Rewinds, then skips to `pos`, which must not lie before the checkpoint.
  virtual void reposition(int32_t pos);
  // Whether the data is known to be exhausted (false unless a subclass
  // knows better).
  virtual bool atEnd();

  // ---- Integers (big-endian) ----
  uint8_t readU8() {
    if (end_ - ptr_ < 1) fillPiecewise(1);
    return *ptr_++;
  }
  uint16_t readU16() {
    if (end_ - ptr_ < 2) return static_cast<uint16_t>(readSlow(2));
    uint16_t v = static_cast<uint16_t>(ptr_[0] << 8 | ptr_[1]);
    ptr_ += 2;
    return v;
  }
  uint32_t readU32() {
    if (end_ - ptr_ < 4) return static_cast<uint32_t>(readSlow(4));
    uint32_t v = uint32_t(ptr_[0]) << 24 | uint32_t(ptr_[1]) << 16 | uint32_t(ptr_[2]) << 8 | ptr_[3];
    ptr_ += 4;
    return v;
  }
  uint64_t readU64() {
    if (end_ - ptr_ < 8) return readSlow(8);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | ptr_[i];
    ptr_ += 8;
    return v;
  }
  int8_t readS8() { return static_cast<int8_t>(readU8()); }
  int16_t readS16() { return static_cast<int16_t>(readU16()); }
  int32_t readS32() { return static_cast<int32_t>(readU32()); }
  int64_t readS64() { return static_cast<int64_t>(readU64()); }

  // ---- Bytes ----
  // Copies n bytes (none for n below 1, when dest may be null).
  void readBytes(void* dest, int32_t n) {
    if (n > 0 && end_ - ptr_ >= n) {
      std::memcpy(dest, ptr_, static_cast<size_t>(n));
      ptr_ += n;
      return;
    }
    readBytesSlow(dest, n);
  }
  // A pointer to n bytes: straight into the window when they can be
  // buffered together, else copied into `buf` (which holds n bytes).
  // Either way the bytes are consumed.
  const uint8_t* getBytes(int32_t n, uint8_t* buf);
  void skip(int32_t n);
  // Consumes n bytes that are already buffered.
  void advance(int32_t n) {
    PLAT_ASSERT(nUnread() >= n);
    ptr_ += n;
  }
  // Makes at least one item available and returns a pointer to it; reduces
  // *nItems to the whole items in the window.  Null when it would block and
  // wait is false.
  const uint8_t* getItems(int32_t itemSize, int32_t* nItems, bool wait = true);

  // ---- Strings ----
  // string32: a length above max throws StringTooLongException before any
  // body byte is read.  With sanitise, invalid UTF-8 is repaired; a NUL in
  // the body ends the returned text.
  plat::CharArray readString(uint32_t max, bool sanitise = false);
  std::string readStdString(uint32_t max, bool sanitise = false);
  // string8.
  plat::CharArray readString8(bool sanitise = false);
  // Reads n bytes into buffer (replacing its text) and NUL-terminates them.
  // A length whose text and NUL do not fit a 32-bit size throws
  // StringTooLongException before any byte is read.
  void readStringInto(plat::DString& buffer, int32_t n, bool sanitise = false);
  // A line: bytes up to LF, CR dropped, LF consumed.  max 0 means
  // kDefaultMaxLine.  End of stream or message ends a line that has bytes
  // and is rethrown otherwise; a line past max empties the buffer and throws
  // StringTooLongException.  Answers true, or with sanitise whether the text
  // was already valid UTF-8.
  bool readLine(plat::DString& buffer, int32_t max = 0, bool* sawNul = nullptr, bool sanitise = false);
  // Reads exactly n bytes into dest; answers the index of the first NUL
  // among them, or -1.
  int32_t readCString(char* dest, int32_t n);

  // A uniform value below n from a random stream (n = 0: any u32).
  uint32_t readU32Below(uint32_t n);

  // ---- The window ----
  const uint8_t* getPtr() const noexcept { return ptr_; }
  const uint8_t* getEnd() const noexcept { return end_; }
  int32_t nUnread() const noexcept { return static_cast<int32_t>(end_ - ptr_); }
  void setPtr(const uint8_t* p) {
    PLAT_ASSERT_TEXT(p >= ptr_ && p <= end_, "p >= ptr && p <= end");
    ptr_ = p;
  }
  bool isRewindable() const noexcept { return rewindable_; }
  // The owner's choice: a rewindable stream keeps every byte from the
  // checkpoint on; one that is not may drop what was consumed.
  void setRewindable(bool on) noexcept { rewindable_ = on; }

  // Makes `needed` bytes readable (fewer at a frame or buffer boundary).
  // On a shortfall a rewindable stream rewinds; then with wait
  // BlockException is thrown, without wait the answer is false.
  bool check(bool wait, int32_t needed) {
    if (end_ - ptr_ >= needed) return true;
    return fill(wait, needed);
  }

 protected:
  InStream() noexcept = default;

  // Makes at least `needed` bytes readable in the window; false when that
  // would block.  A window with fewer bytes is allowed at a boundary the
  // subclass cannot buffer across, but never an empty one.
  virtual bool overrun(int32_t needed) = 0;

  const uint8_t* ptr_ = nullptr;
  const uint8_t* end_ = nullptr;
  const uint8_t* checkpointPtr_ = nullptr;
  int32_t checkpointPos_ = 0;
  bool rewindable_ = true;

 private:
  bool fill(bool wait, int32_t needed);
  // Makes at least one byte (up to `needed`) readable or throws.
  void fillPiecewise(int32_t needed);
  // An integer of `size` bytes collected across refills.
  uint64_t readSlow(int size);
  // readBytes across refills.
  void readBytesSlow(void* dest, int32_t n);
};

}  // namespace rdr
