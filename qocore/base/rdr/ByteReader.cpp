#include "qocore/base/rdr/ByteReader.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/Exception.h"

namespace rdr {

namespace {
// The longest string handed out: its length plus the NUL must fit a 32-bit
// size.
constexpr uint32_t kMaxStringLen = 0x7FFFFFFE;

// Owned buffers are char arrays so that a finished string can be handed
// over as a plat::CharArray.
uint8_t* allocate(int32_t n) { return reinterpret_cast<uint8_t*>(new char[n]); }
}  // namespace

void ByteReader::init(InStream& stream, int32_t len, uint8_t* buffer, bool copyAlways) {
  if (len_ != 0) {
    if (len != len_) throw plat::Exception("ByteReader::init: bad len");
    return;
  }
  PLAT_ASSERT(len >= 0);
  reset();
  stream_ = &stream;
  stream.setCheckpoint();
  len_ = len;
  buffer_ = buffer;
  data_ = buffer;
  copyAlways_ = copyAlways;
}

bool ByteReader::collect(bool wait, bool keep) {
  while (done_ < len_) {
    if (stream_->nUnread() == 0 && !stream_->check(wait, 1)) return false;
    int32_t n = std::min(stream_->nUnread(), len_ - done_);
    if (keep) {
      if (!buffer_) {
        buffer_ = allocate(len_);
        ownsBuffer_ = true;
      }
      std::memcpy(buffer_ + done_, stream_->getPtr(), n);
    }
    stream_->advance(n);
    done_ += n;
    // Committed: a later block must not hand these bytes back.
    stream_->setCheckpoint();
  }
  return true;
}

const uint8_t* ByteReader::read(bool wait, int32_t* len) {
  if (done_ < len_) {
    if (stream_->nUnread() == 0 && !stream_->check(wait, 1)) return nullptr;
    if (done_ == 0 && !copyAlways_ && stream_->nUnread() >= len_) {
      data_ = stream_->getPtr();
      stream_->advance(len_);
      done_ = len_;
    } else {
      if (!collect(wait, true)) return nullptr;
      data_ = buffer_;
    }
  } else if (!data_ && stream_) {
    // Nothing to read: any valid pointer will do.
    data_ = stream_->getPtr();
  }
  if (len) *len = len_;
  return data_;
}

bool ByteReader::skip(bool wait) { return collect(wait, false); }

const uint8_t* ByteReader::readItems(bool wait, int32_t* nItems) {
  PLAT_ASSERT(len_ > 0);
  if (!copyAlways_ && done_ == 0) return stream_->getItems(len_, nItems, wait);
  *nItems = 1;
  const uint8_t* item = read(wait);
  // The next call collects the next item; this one stays in the buffer
  // until then.
  if (item) done_ = 0;
  return item;
}

plat::CharArray ByteReader::readString32(InStream& stream, uint32_t max, bool wait) {
  if (len_ == 0) {
    uint32_t n;
    try {
      n = stream.readU32();
    } catch (const BlockException&) {
      if (wait) throw;
      return {};
    }
    if (n > max || n > kMaxStringLen) throw StringTooLongException();
    uint8_t* text = allocate(static_cast<int32_t>(n) + 1);
    init(stream, static_cast<int32_t>(n), text, true);
    ownsBuffer_ = true;
  }
  if (!read(wait)) return {};
  buffer_[len_] = 0;
  char* text = reinterpret_cast<char*>(buffer_);
  buffer_ = nullptr;
  ownsBuffer_ = false;
  reset();
  return plat::CharArray::adopt(text);
}

void ByteReader::reset() noexcept {
  if (ownsBuffer_) delete[] reinterpret_cast<char*>(buffer_);
  stream_ = nullptr;
  buffer_ = nullptr;
  data_ = nullptr;
  done_ = 0;
  len_ = 0;
  ownsBuffer_ = false;
  copyAlways_ = false;
}

}  // namespace rdr
