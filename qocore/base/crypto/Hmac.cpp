#include "qocore/base/crypto/Hmac.h"

#include <cstring>

#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

Hmac::Hmac(uint32_t digestBits, const plat::Buffer& key)
    : Hmac(digestBits, key.data(), static_cast<size_t>(key.count())) {}

Hmac::Hmac(uint32_t digestBits, const void* key, size_t keyLen) : sha_(digestBits, true) {
  if (key && keyLen > 0) setKey(key, keyLen);
}

Hmac::~Hmac() {
  plat::secureZero(innerPad_, sizeof innerPad_);
  plat::secureZero(outerPad_, sizeof outerPad_);
}

void Hmac::setKey(const void* key, size_t len) {
  const size_t block = sha_.blockSize();
  // The key area is the inner pad block itself; it is turned into the pad
  // in place below.
  unsigned char* area = innerPad_;
  size_t used = len;
  if (len > block) {
    Sha keyDigest(sha_.digestBits(), true);
    keyDigest.update(len, key);
    keyDigest.final(area, kPadSize);
    used = sha_.digestBits() / 8;
  } else if (len > 0) {
    std::memmove(area, key, len);
  }
  std::memset(area + used, 0, kPadSize - used);
  for (size_t i = 0; i < kPadSize; ++i) {
    outerPad_[i] = area[i] ^ 0x5C;
    innerPad_[i] = area[i] ^ 0x36;
  }
  reset();
}

void Hmac::reset() {
  sha_.reset();
  sha_.update(sha_.blockSize(), innerPad_);
}

void Hmac::update(const void* data, size_t len) { sha_.update(len, data); }

void Hmac::final(void* out, size_t outSize) {
  unsigned char inner[Sha::kMaxDigestSize];
  sha_.final(inner, sizeof inner);
  sha_.reset();
  sha_.update(sha_.blockSize(), outerPad_);
  sha_.update(sha_.digestBits() / 8, inner);
  plat::secureZero(inner, sizeof inner);
  sha_.final(out, outSize);
}

void Hmac::saveState(rdr::OutStream& out) const {
  sha_.saveState(out);
  out.writeBytes(innerPad_, kPadSize);
  out.writeBytes(outerPad_, kPadSize);
}

void Hmac::restoreState(rdr::InStream& in) {
  sha_.restoreState(in);
  in.readBytes(innerPad_, kPadSize);
  in.readBytes(outerPad_, kPadSize);
}

}  // namespace crypto
