#pragma once
// rdr::OutStream: the byte-output contract.  Like InStream it exposes an
// inline window [ptr_, end_) of writable room; only when the window is too
// small does the virtual overrun() drain or grow it.  Integers are
// big-endian.

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/Exceptions.h"

namespace rdr {

class OutStream {
 public:
  static constexpr int32_t kNoLimit = 0x7FFFFFFF;

  virtual ~OutStream();
  OutStream(const OutStream&) = delete;
  OutStream& operator=(const OutStream&) = delete;

  // Copies len bytes (none for len below 1).  Bytes that fit the window
  // are copied here; the rest is writeBytesSlow's.
  void writeBytes(const void* data, int32_t len) {
    if (len > 0 && end_ - ptr_ >= len && !bytesBypassWindow_) {
      std::memcpy(ptr_, data, static_cast<size_t>(len));
      ptr_ += len;
      return;
    }
    writeBytesSlow(data, len);
  }
  // Bytes written since the stream began.
  virtual int32_t length() = 0;
  // Pushes buffered bytes on (nothing here).
  virtual void flush();
  // The stream this one finally writes into (itself here).
  virtual OutStream* lowerStream();
  // Bytes written but not yet passed on.
  virtual int32_t pendingBytes();
  // How many more bytes may be written before the stream is full; kNoLimit
  // for none.
  virtual int32_t spaceLimit() = 0;
  // Ends the writing side; false when the stream has none to end.
  virtual bool closeForWriting();
  // Whether write failures throw (ignored here).
  virtual void setThrowErrors(bool on);

  // ---- Integers (big-endian) ----
  void writeU8(uint8_t v) {
    if (end_ - ptr_ < 1) overrun(1, 1);
    *ptr_++ = v;
  }
  void writeU16(uint16_t v) {
    if (end_ - ptr_ < 2) overrun(2, 1);
    ptr_[0] = static_cast<uint8_t>(v >> 8);
    ptr_[1] = static_cast<uint8_t>(v);
    ptr_ += 2;
  }
  void writeU32(uint32_t v) {
    if (end_ - ptr_ < 4) overrun(4, 1);
    for (int i = 0; i < 4; ++i) ptr_[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    ptr_ += 4;
  }
  void writeU64(uint64_t v) {
    if (end_ - ptr_ < 8) overrun(8, 1);
    for (int i = 0; i < 8; ++i) ptr_[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    ptr_ += 8;
  }
  void writeS8(int8_t v) { writeU8(static_cast<uint8_t>(v)); }
  void writeS16(int16_t v) { writeU16(static_cast<uint16_t>(v)); }
  void writeS32(int32_t v) { writeU32(static_cast<uint32_t>(v)); }
  void writeS64(int64_t v) { writeU64(static_cast<uint64_t>(v)); }

  // ---- Strings ----
  // u32 length (the text's length up to maxLen; -1: no cap), then the
  // bytes.  A null text writes length 0.
  void writeString32(const char* text, int32_t maxLen = -1);
  // One length byte min(length, 255), then that many bytes.
  void writeString8(const char* text);

  // Advances the pointer by n bytes without writing them.
  void skipBytes(int32_t n);

  // ---- Text ----
  // Each leaves a NUL after the written text without advancing, so the
  // buffer holds a NUL-terminated text.  The NUL is not part of what is
  // written: a text that exactly fills a limited stream is written
  // without it and without OutStreamFull.
  //
  // len -1: up to the NUL; else up to len bytes or the first NUL.
  void writeText(const char* text, int32_t len = -1);
  // Formatted straight into the window when it fits there; a longer text
  // is written in pieces through the window, like writeBytes.
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void vprintf(const char* format, va_list args);
  // count copies of a character (UTF-8 from U+0080 up).
  void pad(int32_t codepoint, int32_t count);

  // ---- The window ----
  uint8_t* getPtr() const noexcept { return ptr_; }
  uint8_t* getEnd() const noexcept { return end_; }
  void setPtr(uint8_t* p) {
    PLAT_ASSERT_TEXT(p >= ptr_ && p <= end_, "p >= ptr && p <= end");
    ptr_ = p;
  }
  // Room for at least one item of itemSize bytes; answers how many of the
  // nItems fit in the window now.
  int32_t check(int32_t itemSize, int32_t nItems) {
    if (end_ - ptr_ < itemSize) return overrun(itemSize, nItems);
    int32_t fit = static_cast<int32_t>((end_ - ptr_) / itemSize);
    return fit < nItems ? fit : nItems;
  }

 protected:
  OutStream() noexcept = default;

  // Makes room for at least one item of itemSize bytes; answers how many
  // of the nItems fit now.
  virtual int32_t overrun(int32_t itemSize, int32_t nItems) = 0;
  // writeBytes for bytes that do not fit the window (and every write while
  // bytesBypassWindow_ is set): copies them, calling overrun whenever the
  // window is full.
  virtual void writeBytesSlow(const void* data, int32_t len);

  uint8_t* ptr_ = nullptr;
  uint8_t* end_ = nullptr;
  // Set by a stream that takes writeBytes' bytes some other way than
  // through its window: every writeBytes goes to writeBytesSlow.
  bool bytesBypassWindow_ = false;

 private:
  // Writes a NUL after the text without advancing.
  void terminate();
};

}  // namespace rdr
