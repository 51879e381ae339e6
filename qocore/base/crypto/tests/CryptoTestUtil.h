#pragma once
// Small helpers shared by the crypto tests.

#include <cstdint>
#include <string>

#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/InStream.h"

namespace crypto_test {

inline std::string toHex(const void* data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  const uint8_t* p = static_cast<const uint8_t*>(data);
  std::string hex;
  for (size_t i = 0; i < len; ++i) {
    hex += kDigits[p[i] >> 4];
    hex += kDigits[p[i] & 15];
  }
  return hex;
}
inline std::string toHex(const plat::Buffer& b) { return toHex(b.data(), static_cast<size_t>(b.count())); }
inline std::string toHex(const std::string& s) { return toHex(s.data(), s.size()); }

// An input stream that hands out its bytes `chunk` at a time and then
// ends in one of three ways.
class ChunkedInStream : public rdr::InStream {
 public:
  enum class Ending { kEndOfStream, kWouldBlock, kFailure };

  ChunkedInStream(std::string bytes, int chunk, Ending ending)
      : bytes_(std::move(bytes)), chunk_(chunk), ending_(ending) {
    ptr_ = end_ = checkpointPtr_ = start();
  }
  int32_t pos() override { return static_cast<int32_t>(ptr_ - start()); }

 protected:
  bool overrun(int32_t) override {
    const uint8_t* last = start() + bytes_.size();
    if (end_ < last) {
      end_ = std::min(end_ + chunk_, last);
      return true;
    }
    switch (ending_) {
      case Ending::kEndOfStream:
        throw rdr::EndOfStream();
      case Ending::kWouldBlock:
        return false;
      case Ending::kFailure:
        break;
    }
    throw plat::Exception("connection reset");
  }

 private:
  const uint8_t* start() const { return reinterpret_cast<const uint8_t*>(bytes_.data()); }

  std::string bytes_;
  int chunk_;
  Ending ending_;
};

}  // namespace crypto_test
