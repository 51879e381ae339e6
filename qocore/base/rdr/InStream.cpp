#include "qocore/base/rdr/InStream.h"

#include <algorithm>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Utf8.h"

namespace rdr {

namespace {
// The longest string a stream hands out: its length plus the NUL must fit
// a 32-bit size.
constexpr uint32_t kMaxStringLen = 0x7FFFFFFE;
}  // namespace

InStream::~InStream() = default;

void InStream::setCheckpoint() {
  checkpointPtr_ = ptr_;
  checkpointPos_ = pos();
}

void InStream::rewind() {
  if (!rewindable_) throw plat::Exception("Attempt to rewind a non-rewindable stream");
  ptr_ = checkpointPtr_;
}

void InStream::reposition(int32_t newPos) {
  if (newPos < checkpointPos_) throw plat::Exception("Can't reposition before checkpoint");
  rewind();
  skip(newPos - checkpointPos_);
}

bool InStream::atEnd() { return false; }

bool InStream::fill(bool wait, int32_t needed) {
  if (!rewindable_) setCheckpoint();
  bool ok;
  try {
    ok = overrun(needed);
  } catch (const BlockException&) {
    ok = false;
  }
  if (ok) {
    if (ptr_ == end_) throw plat::Exception("InStream overrun: buffer size exceeded");
    return true;
  }
  if (rewindable_) rewind();
  if (wait) throw BlockException();
  return false;
}

void InStream::fillPiecewise(int32_t needed) { check(true, needed); }

uint64_t InStream::readSlow(int size) {
  uint8_t bytes[8];
  readBytes(bytes, size);
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v = v << 8 | bytes[i];
  return v;
}

void InStream::readBytesSlow(void* dest, int32_t n) {
  uint8_t* out = static_cast<uint8_t*>(dest);
  while (n > 0) {
    check(true, n);
    int32_t take = std::min(n, nUnread());
    std::memcpy(out, ptr_, take);
    ptr_ += take;
    out += take;
    n -= take;
  }
}

const uint8_t* InStream::getBytes(int32_t n, uint8_t* buf) {
  if (n <= 0) return ptr_;
  check(true, n);
  if (nUnread() >= n) {
    const uint8_t* p = ptr_;
    ptr_ += n;
    return p;
  }
  readBytes(buf, n);
  return buf;
}

void InStream::skip(int32_t n) {
  while (n > 0) {
    check(true, n);
    int32_t take = std::min(n, nUnread());
    ptr_ += take;
    n -= take;
  }
}

const uint8_t* InStream::getItems(int32_t itemSize, int32_t* nItems, bool wait) {
  PLAT_ASSERT(*nItems > 0);
  if (!check(wait, itemSize)) return nullptr;
  // A window that cannot hold one whole item would never make progress.
  if (nUnread() < itemSize) throw plat::Exception("InStream overrun: buffer size exceeded");
  *nItems = std::min(*nItems, nUnread() / itemSize);
  const uint8_t* p = ptr_;
  ptr_ += *nItems * itemSize;
  return p;
}

namespace {

// Reads a string body of len bytes; a NUL in it ends the text.
plat::CharArray readBody(InStream& in, uint32_t len, bool sanitise) {
  plat::CharArray text = plat::CharArray::zeroed(len + 1);
  in.readBytes(text.get(), static_cast<int32_t>(len));
  if (sanitise && !plat::isValidUtf8(text.get())) {
    plat::DString repaired;
    plat::utf8Sanitise(repaired, text.get());
    return repaired.release();
  }
  return text;
}

}  // namespace

plat::CharArray InStream::readString(uint32_t max, bool sanitise) {
  uint32_t len = readU32();
  if (len > max || len > kMaxStringLen) throw StringTooLongException();
  return readBody(*this, len, sanitise);
}

std::string InStream::readStdString(uint32_t max, bool sanitise) {
  plat::CharArray text = readString(max, sanitise);
  return text.c_str();
}

plat::CharArray InStream::readString8(bool sanitise) { return readBody(*this, readU8(), sanitise); }

void InStream::readStringInto(plat::DString& buffer, int32_t n, bool sanitise) {
  if (n < 0) n = 0;
  // The text and its NUL must fit a 32-bit size; refused before any byte
  // is read.
  if (static_cast<uint32_t>(n) > kMaxStringLen) throw StringTooLongException();
  buffer.assign("");
  buffer.reserve(n + 1);
  PLAT_ASSERT(buffer.capacity() > n);
  readBytes(buffer.buf(), n);
  buffer.buf()[n] = '\0';
  if (sanitise) buffer.makeValidUtf8();
}

bool InStream::readLine(plat::DString& buffer, int32_t max, bool* sawNul, bool sanitise) {
  if (max <= 0) max = kDefaultMaxLine;
  buffer.assign("");
  if (sawNul) *sawNul = false;
  // Collected here first: the line may hold NUL bytes, which end the text
  // only when it is handed over.
  std::string line;
  bool readAny = false;
  try {
    for (;;) {
      check(true, 1);
      const uint8_t* lf = static_cast<const uint8_t*>(std::memchr(ptr_, '\n', nUnread()));
      const uint8_t* stop = lf ? lf : end_;
      for (const uint8_t* p = ptr_; p < stop; ++p) {
        if (*p == '\r') continue;
        if (*p == '\0' && sawNul) *sawNul = true;
        line.push_back(static_cast<char>(*p));
      }
      readAny = readAny || stop > ptr_ || lf;
      ptr_ = lf ? lf + 1 : stop;
      if (static_cast<int64_t>(line.size()) > max) {
        buffer.assign("");
        throw StringTooLongException();
      }
      if (lf) break;
    }
  } catch (const EndOfStream&) {
    if (!readAny) throw;
  } catch (const EndOfMsg&) {
    if (!readAny) throw;
  }
  buffer.assign(line.c_str());
  if (sanitise) return !buffer.makeValidUtf8();
  return true;
}

int32_t InStream::readCString(char* dest, int32_t n) {
  readBytes(dest, n);
  const void* nul = std::memchr(dest, '\0', std::max(n, 0));
  return nul ? static_cast<int32_t>(static_cast<const char*>(nul) - dest) : -1;
}

uint32_t InStream::readU32Below(uint32_t n) {
  if (n == 0) return readU32();
  // Values below the threshold would make some results likelier than
  // others; they are drawn again, at most eight times.
  uint32_t threshold = (0u - n) % n;
  uint32_t v = readU32();
  for (int i = 1; i < 9 && v < threshold; ++i) v = readU32();
  return v % n;
}

}  // namespace rdr
