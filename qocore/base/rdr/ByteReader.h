#pragma once
// rdr::ByteReader: collects a fixed number of bytes from a stream across
// calls, for parsers that run on non-blocking input.
//
// A parser binds the reader with init() and calls read() each time input
// arrives; init() with the same length while busy is a no-op, so the parser
// can simply redo its unit.  Bytes already copied are committed with a
// checkpoint on the stream, so a later block does not hand them back.
// When the whole run is buffered at once it is handed out straight from the
// stream's window without a copy.  Once the caller is done with the bytes
// it calls reset() before binding the reader again.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/rdr/InStream.h"

namespace rdr {

class ByteReader {
 public:
  ByteReader() noexcept = default;
  ~ByteReader() { reset(); }
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // When idle: binds the stream, sets a checkpoint on it and takes len, the
  // destination (null: the reader provides its own) and whether the bytes
  // must always be copied.  When busy with the same len: nothing.  Another
  // len throws plat::Exception "ByteReader::init: bad len".
  void init(InStream& stream, int32_t len, uint8_t* buffer = nullptr, bool copyAlways = false);

  // All len bytes once they are there (their count in *len when given);
  // null while the stream would block and wait is false.  With wait the
  // stream's BlockException passes through, progress kept.
  [[nodiscard]] const uint8_t* read(bool wait, int32_t* len = nullptr);
  // Discards the remaining bytes; false while it must wait.
  [[nodiscard]] bool skip(bool wait);
  // Items of len bytes.  Before anything is collected (and unless copying
  // is forced) as many whole items as the window holds, up to *nItems, come
  // straight from the stream; otherwise one item through read().
  [[nodiscard]] const uint8_t* readItems(bool wait, int32_t* nItems);

  // A string32 of at most max bytes: the length when idle
  // (StringTooLongException above max), then the body as it arrives.  The
  // complete NUL-terminated text is handed over and the reader is idle
  // again; a null array while incomplete.
  [[nodiscard]] plat::CharArray readString32(InStream& stream, uint32_t max, bool wait);

  // Unbinds the stream and frees a buffer the reader allocated.
  void reset() noexcept;

  bool busy() const noexcept { return len_ != 0; }
  int32_t done() const noexcept { return done_; }
  int32_t len() const noexcept { return len_; }

 private:
  // Takes what the stream has buffered towards len, copying it when keep
  // is set and committing each chunk with a checkpoint; false when it
  // would block without wait.
  bool collect(bool wait, bool keep);

  InStream* stream_ = nullptr;
  uint8_t* buffer_ = nullptr;
  // Where the complete bytes are: the buffer, or the stream's window when
  // they were handed out without a copy.
  const uint8_t* data_ = nullptr;
  int32_t done_ = 0;
  int32_t len_ = 0;
  bool ownsBuffer_ = false;
  bool copyAlways_ = false;
};

}  // namespace rdr
