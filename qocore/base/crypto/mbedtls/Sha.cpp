#include "qocore/base/crypto/Sha.h"

#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>
#include <mbedtls/sha512.h>

#include <algorithm>
#include <new>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

namespace {

union Contexts {
  mbedtls_sha1_context sha1;
  mbedtls_sha256_context sha256;
  mbedtls_sha512_context sha512;
};
static_assert(sizeof(Contexts) <= Sha::kStateSize, "a library context outgrew the state block");
static_assert(alignof(Contexts) <= 8, "a library context needs stronger alignment");

Contexts* contexts(unsigned char* block) noexcept { return std::launder(reinterpret_cast<Contexts*>(block)); }

// The largest piece of buffered stream data fed in one call.
constexpr int32_t kStreamChunk = 4096;

}  // namespace

Sha::Sha(uint32_t digestBits, bool allowSha1ForLegacyCode) : digestBits_(digestBits) {
  PLAT_ASSERT((digestBits == 160 && allowSha1ForLegacyCode) || digestBits == 224 || digestBits == 256 ||
              digestBits == 384 || digestBits == 512);
  state_ = std::make_unique<State>();
  new (state_->bytes) Contexts();
  reset();
}

Sha::~Sha() {
  // The state holds message bytes: wiped before the block is freed.
  plat::secureZero(state_.get(), sizeof(State));
}

void Sha::reset() {
  Contexts* ctx = contexts(state_->bytes);
  int rv;
  switch (digestBits_) {
    case 160:
      rv = mbedtls_sha1_starts_ret(&ctx->sha1);
      break;
    case 224:
    case 256:
      rv = mbedtls_sha256_starts_ret(&ctx->sha256, digestBits_ == 224);
      break;
    default:
      rv = mbedtls_sha512_starts_ret(&ctx->sha512, digestBits_ == 384);
      break;
  }
  PLAT_ASSERT(!rv);
}

void Sha::update(size_t len, const void* data) {
  Contexts* ctx = contexts(state_->bytes);
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  int rv;
  switch (digestBits_) {
    case 160:
      rv = mbedtls_sha1_update_ret(&ctx->sha1, bytes, len);
      break;
    case 224:
    case 256:
      rv = mbedtls_sha256_update_ret(&ctx->sha256, bytes, len);
      break;
    default:
      rv = mbedtls_sha512_update_ret(&ctx->sha512, bytes, len);
      break;
  }
  PLAT_ASSERT(!rv);
}

void Sha::final(void* buf, size_t bufSize) {
  PLAT_ASSERT_TEXT(bufSize >= digestBits_ / 8, "bufSize >= digestBits/8");
  Contexts* ctx = contexts(state_->bytes);
  unsigned char* out = static_cast<unsigned char*>(buf);
  int rv;
  switch (digestBits_) {
    case 160:
      rv = mbedtls_sha1_finish_ret(&ctx->sha1, out);
      break;
    case 224:
    case 256:
      rv = mbedtls_sha256_finish_ret(&ctx->sha256, out);
      break;
    default:
      rv = mbedtls_sha512_finish_ret(&ctx->sha512, out);
      break;
  }
  PLAT_ASSERT(!rv);
}

void Sha::saveState(rdr::OutStream& out) const {
  const Contexts* ctx = contexts(state_->bytes);
  switch (digestBits_) {
    case 160:
      out.writeBytes(ctx->sha1.total, sizeof ctx->sha1.total);
      out.writeBytes(ctx->sha1.state, sizeof ctx->sha1.state);
      out.writeBytes(ctx->sha1.buffer, sizeof ctx->sha1.buffer);
      break;
    case 224:
    case 256:
      out.writeBytes(ctx->sha256.total, sizeof ctx->sha256.total);
      out.writeBytes(ctx->sha256.state, sizeof ctx->sha256.state);
      out.writeBytes(ctx->sha256.buffer, sizeof ctx->sha256.buffer);
      out.writeU8(static_cast<uint8_t>(ctx->sha256.is224));
      break;
    default:
      out.writeBytes(ctx->sha512.total, sizeof ctx->sha512.total);
      out.writeBytes(ctx->sha512.state, sizeof ctx->sha512.state);
      out.writeBytes(ctx->sha512.buffer, sizeof ctx->sha512.buffer);
      out.writeU8(static_cast<uint8_t>(ctx->sha512.is384));
      break;
  }
}

void Sha::restoreState(rdr::InStream& in) {
  Contexts* ctx = contexts(state_->bytes);
  switch (digestBits_) {
    case 160:
      in.readBytes(ctx->sha1.total, sizeof ctx->sha1.total);
      in.readBytes(ctx->sha1.state, sizeof ctx->sha1.state);
      in.readBytes(ctx->sha1.buffer, sizeof ctx->sha1.buffer);
      break;
    case 224:
    case 256: {
      in.readBytes(ctx->sha256.total, sizeof ctx->sha256.total);
      in.readBytes(ctx->sha256.state, sizeof ctx->sha256.state);
      in.readBytes(ctx->sha256.buffer, sizeof ctx->sha256.buffer);
      // The flag decides how many bytes the library writes at the end, so
      // it must agree with the size this object hands out.
      int is224 = in.readU8();
      PLAT_ASSERT(is224 == (digestBits_ == 224));
      ctx->sha256.is224 = is224;
      break;
    }
    default: {
      in.readBytes(ctx->sha512.total, sizeof ctx->sha512.total);
      in.readBytes(ctx->sha512.state, sizeof ctx->sha512.state);
      in.readBytes(ctx->sha512.buffer, sizeof ctx->sha512.buffer);
      int is384 = in.readU8();
      PLAT_ASSERT(is384 == (digestBits_ == 384));
      ctx->sha512.is384 = is384;
      break;
    }
  }
}

plat::Buffer Sha::digestStream(uint32_t digestBits, rdr::InStream& in, bool allowSha1ForLegacyCode) {
  Sha sha(digestBits, allowSha1ForLegacyCode);
  for (;;) {
    int32_t n = in.nUnread();
    if (n == 0) {
      try {
        if (!in.check(false, 1)) break;  // nothing more without waiting
      } catch (const rdr::EndOfStream&) {
        break;
      }
      continue;
    }
    n = std::min(n, kStreamChunk);
    sha.update(static_cast<size_t>(n), in.getPtr());
    in.advance(n);
    in.setCheckpoint();
  }
  plat::Buffer digest(static_cast<int>(digestBits / 8));
  sha.final(digest.data(), static_cast<size_t>(digest.count()));
  return digest;
}

void digestOneShot(uint32_t digestBits, size_t len, const void* data, plat::Buffer& out, bool allowSha1ForLegacyCode) {
  Sha sha(digestBits, allowSha1ForLegacyCode);
  sha.update(len, data);
  out.resize(static_cast<int>(digestBits / 8));
  sha.final(out.data(), static_cast<size_t>(out.count()));
}

}  // namespace crypto
