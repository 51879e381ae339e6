#include "qocore/base/crypto/AesGcmStream.h"

#include <mbedtls/aes.h>
#include <mbedtls/cipher.h>
#include <mbedtls/gcm.h>

#include <cstring>

#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

namespace {

constexpr char kBadState[] = "AES-GCM: bad saved cipher state";
constexpr size_t kAesBufSize = sizeof(mbedtls_aes_context::buf);
static_assert(kAesBufSize == 272);

void checkRc(int rc, const char* operation) {
  if (rc != 0) throw MbedTlsException(operation, rc);
}

void incrementNonce(uint8_t* nonce) noexcept {
  for (int i = 0; i < kAesGcmNonceSize; ++i) {
    if (++nonce[i] != 0) break;
  }
}

std::unique_ptr<mbedtls_gcm_context> newGcm() {
  auto gcm = std::make_unique<mbedtls_gcm_context>();
  mbedtls_gcm_init(gcm.get());
  return gcm;
}

void setGcmKey(mbedtls_gcm_context& gcm, const plat::Buffer& key, const plat::Buffer& nonce, uint8_t* nonceOut) {
  PLAT_ASSERT_TEXT((key.count() == 16) || (key.count() == 32), "(key.length() == 16) || (key.length() == 32)");
  PLAT_ASSERT(nonce.count() == kAesGcmNonceSize);
  checkRc(mbedtls_gcm_setkey(&gcm, MBEDTLS_CIPHER_ID_AES, key.data(), static_cast<unsigned>(key.count()) * 8),
          "mbedtls_gcm_setkey");
  std::memcpy(nonceOut, nonce.data(), kAesGcmNonceSize);
}

bool isAesEcb(mbedtls_cipher_type_t type) {
  return type == MBEDTLS_CIPHER_AES_128_ECB || type == MBEDTLS_CIPHER_AES_256_ECB;
}

// The rounds AES takes with a key of that many bits.
int aesRounds(int keyBits) { return keyBits == 128 ? 10 : keyBits == 192 ? 12 : 14; }

void saveGcm(rdr::OutStream& out, const mbedtls_gcm_context& gcm) {
  saveCipherContext(out, gcm.cipher_ctx);
  for (uint64_t v : gcm.HL) out.writeU64(v);
  for (uint64_t v : gcm.HH) out.writeU64(v);
  out.writeU64(gcm.len);
  out.writeU64(gcm.add_len);
  out.writeBytes(gcm.base_ectr, sizeof gcm.base_ectr);
  out.writeBytes(gcm.y, sizeof gcm.y);
  out.writeBytes(gcm.buf, sizeof gcm.buf);
  out.writeU32(static_cast<uint32_t>(gcm.mode));
}

// Restores into a new context, so a failure leaves the stream's as it was.
std::unique_ptr<mbedtls_gcm_context> restoreGcm(rdr::InStream& in) {
  std::unique_ptr<mbedtls_gcm_context> gcm = newGcm();
  struct Free {
    mbedtls_gcm_context* gcm;
    ~Free() {
      if (gcm) mbedtls_gcm_free(gcm);
    }
  } freeOnFailure{gcm.get()};
  restoreCipherContext(in, gcm->cipher_ctx);
  for (uint64_t& v : gcm->HL) v = in.readU64();
  for (uint64_t& v : gcm->HH) v = in.readU64();
  gcm->len = in.readU64();
  gcm->add_len = in.readU64();
  in.readBytes(gcm->base_ectr, sizeof gcm->base_ectr);
  in.readBytes(gcm->y, sizeof gcm->y);
  in.readBytes(gcm->buf, sizeof gcm->buf);
  const uint32_t mode = in.readU32();
  if (mode != MBEDTLS_GCM_ENCRYPT && mode != MBEDTLS_GCM_DECRYPT) throw plat::Exception(kBadState);
  gcm->mode = static_cast<int>(mode);
  freeOnFailure.gcm = nullptr;
  return gcm;
}

void freeGcm(std::unique_ptr<mbedtls_gcm_context>& gcm) noexcept {
  if (gcm) mbedtls_gcm_free(gcm.get());  // wipes the context as well
}

// The part both kinds of stream add to their base's state.
void saveNonceAndGcm(rdr::OutStream& out, const uint8_t* nonce, const mbedtls_gcm_context& gcm) {
  out.writeBytes(nonce, kAesGcmNonceSize);
  saveGcm(out, gcm);
}

void restoreNonceAndGcm(rdr::InStream& in, uint8_t* nonceOut, std::unique_ptr<mbedtls_gcm_context>& gcmOut) {
  uint8_t nonce[kAesGcmNonceSize];
  in.readBytes(nonce, sizeof nonce);
  std::unique_ptr<mbedtls_gcm_context> gcm = restoreGcm(in);
  freeGcm(gcmOut);
  gcmOut = std::move(gcm);
  std::memcpy(nonceOut, nonce, sizeof nonce);
}

}  // namespace

// ---- The cipher context ----

void saveAesContext(rdr::OutStream& out, const mbedtls_aes_context& ctx) {
  // The round keys' position is kept as an offset from the buffer; the
  // pointer itself means nothing in another context.
  const ptrdiff_t rkOffset = reinterpret_cast<const uint8_t*>(ctx.rk) - reinterpret_cast<const uint8_t*>(ctx.buf);
  PLAT_ASSERT_TEXT(rkOffset >= 0 && rkOffset < static_cast<ptrdiff_t>(kAesBufSize),
                   "(int)ctx->rk_offset >= 0 && ctx->rk_offset < sizeof(ctx->buf)");
  out.writeU32(static_cast<uint32_t>(ctx.nr));
  out.writeU16(static_cast<uint16_t>(rkOffset));
  for (uint32_t word : ctx.buf) out.writeU32(word);
}

void saveCipherContext(rdr::OutStream& out, const mbedtls_cipher_context_t& ctx) {
  out.writeU32(static_cast<uint32_t>(ctx.key_bitlen));
  out.writeU8(static_cast<uint8_t>(ctx.operation));
  out.writeBytes(ctx.unprocessed_data, sizeof ctx.unprocessed_data);
  out.writeU32(static_cast<uint32_t>(ctx.unprocessed_len));
  out.writeBytes(ctx.iv, sizeof ctx.iv);
  out.writeU32(static_cast<uint32_t>(ctx.iv_size));
  const bool hasAes = ctx.cipher_ctx && ctx.cipher_info && isAesEcb(ctx.cipher_info->type);
  out.writeU8(hasAes ? 1 : 0);
  if (hasAes) saveAesContext(out, *static_cast<const mbedtls_aes_context*>(ctx.cipher_ctx));
  out.writeU8(ctx.cipher_info ? 1 : 0);
  if (ctx.cipher_info) out.writeU32(static_cast<uint32_t>(ctx.cipher_info->type));
}

void restoreCipherContext(rdr::InStream& in, mbedtls_cipher_context_t& ctx) {
  const uint32_t keyBits = in.readU32();
  const uint8_t operation = in.readU8();
  uint8_t unprocessed[sizeof ctx.unprocessed_data];
  in.readBytes(unprocessed, sizeof unprocessed);
  const uint32_t unprocessedLen = in.readU32();
  uint8_t iv[sizeof ctx.iv];
  in.readBytes(iv, sizeof iv);
  const uint32_t ivSize = in.readU32();
  const bool hasAes = in.readU8() != 0;
  uint32_t rounds = 0;
  uint16_t rkOffset = 0;
  uint32_t schedule[kAesBufSize / 4];
  if (hasAes) {
    rounds = in.readU32();
    rkOffset = in.readU16();
    for (uint32_t& word : schedule) word = in.readU32();
  }
  const bool hasKind = in.readU8() != 0;
  const uint32_t kind = hasKind ? in.readU32() : 0;

  mbedtls_cipher_free(&ctx);
  mbedtls_cipher_init(&ctx);
  if (!hasKind && !hasAes) return;  // no key was ever set
  const auto type = static_cast<mbedtls_cipher_type_t>(kind);
  if (!hasKind || !hasAes || !isAesEcb(type)) throw plat::Exception(kBadState);
  const mbedtls_cipher_info_t* info = mbedtls_cipher_info_from_type(type);
  if (!info || keyBits != info->key_bitlen || rounds != static_cast<uint32_t>(aesRounds(static_cast<int>(keyBits))) ||
      unprocessedLen > sizeof ctx.unprocessed_data || ivSize > sizeof ctx.iv ||
      (operation != MBEDTLS_ENCRYPT && operation != MBEDTLS_DECRYPT)) {
    throw plat::Exception(kBadState);
  }
  PLAT_ASSERT_TEXT(rkOffset < kAesBufSize, "ctx->rk_offset < sizeof(ctx->buf)");
  // The schedule (rounds + 1 blocks of four words) must lie inside the
  // buffer, on a word boundary.
  if (rkOffset % 4 != 0 || rkOffset + (rounds + 1) * 16 > kAesBufSize) throw plat::Exception(kBadState);

  checkRc(mbedtls_cipher_setup(&ctx, info), "mbedtls_cipher_setup");
  ctx.key_bitlen = static_cast<int>(keyBits);
  ctx.operation = static_cast<mbedtls_operation_t>(operation);
  std::memcpy(ctx.unprocessed_data, unprocessed, sizeof unprocessed);
  ctx.unprocessed_len = unprocessedLen;
  std::memcpy(ctx.iv, iv, sizeof iv);
  ctx.iv_size = ivSize;
  auto* aes = static_cast<mbedtls_aes_context*>(ctx.cipher_ctx);
  aes->nr = static_cast<int>(rounds);
  std::memcpy(aes->buf, schedule, sizeof schedule);
  aes->rk = aes->buf + rkOffset / 4;
  plat::secureZero(schedule, sizeof schedule);
}

// ---- AesGcmInStream ----

AesGcmInStream::AesGcmInStream(rdr::InStream* underlying, int32_t bufferSize)
    : TaggedInStream(underlying, kAesGcmTagSize, false, bufferSize, 0), gcm_(newGcm()) {}

AesGcmInStream::~AesGcmInStream() { freeGcm(gcm_); }

void AesGcmInStream::setKey(const plat::Buffer& key, const plat::Buffer& nonce) {
  const bool inMsg = this->inMsg();
  PLAT_ASSERT_TEXT(!inMsg, "!inMsg");
  setGcmKey(*gcm_, key, nonce, nonce_);
}

void AesGcmInStream::startRecord(const uint8_t* header, int32_t len) {
  checkRc(
      mbedtls_gcm_starts(gcm_.get(), MBEDTLS_GCM_DECRYPT, nonce_, kAesGcmNonceSize, header, static_cast<size_t>(len)),
      "mbedtls_gcm_starts");
  incrementNonce(nonce_);
}

void AesGcmInStream::processPayload(uint8_t* /*where*/, int32_t /*count*/) {
  // Everything received of this record up to a block boundary (to its end
  // once the record is complete) that is not plaintext yet.
  const int32_t done = pendingPlain();
  const int32_t upTo = recordRemaining() == 0 ? pendingCipher() : pendingCipher() & ~15;
  if (upTo <= done) return;
  checkRc(mbedtls_gcm_update(gcm_.get(), static_cast<size_t>(upTo - done), cipherData() + done, pendingPlainEnd()),
          "mbedtls_gcm_update");
  addPendingPlain(upTo - done);
}

bool AesGcmInStream::verifyTag(const uint8_t* tag) {
  uint8_t expected[kAesGcmTagSize];
  checkRc(mbedtls_gcm_finish(gcm_.get(), expected, sizeof expected), "mbedtls_gcm_finish");
  const bool ok = plat::constTimeEquals(expected, tag, sizeof expected);
  plat::secureZero(expected, sizeof expected);
  if (!ok) throw plat::Exception("AES authentication failure");
  return true;
}

void AesGcmInStream::saveState(rdr::OutStream& out) {
  TaggedInStream::saveState(out);
  saveNonceAndGcm(out, nonce_, *gcm_);
}

void AesGcmInStream::restoreState(rdr::InStream& in) {
  TaggedInStream::restoreState(in);
  restoreNonceAndGcm(in, nonce_, gcm_);
}

// ---- AesGcmOutStream ----

AesGcmOutStream::AesGcmOutStream(rdr::OutStream* underlying, int32_t maxPayload)
    : TaggedOutStream(underlying, kAesGcmTagSize, maxPayload), gcm_(newGcm()) {}

AesGcmOutStream::~AesGcmOutStream() { freeGcm(gcm_); }

void AesGcmOutStream::setKey(const plat::Buffer& key, const plat::Buffer& nonce) {
  PLAT_ASSERT_TEXT(plainLen() == 0, "plainLen() == 0");
  setGcmKey(*gcm_, key, nonce, nonce_);
}

bool AesGcmOutStream::sealRecord() {
  uint8_t* record = recordData();
  const size_t len = static_cast<size_t>(plainLen());
  checkRc(mbedtls_gcm_crypt_and_tag(gcm_.get(), MBEDTLS_GCM_ENCRYPT, len, nonce_, kAesGcmNonceSize, record, 2,
                                    record + 2, record + 2, kAesGcmTagSize, record + 2 + len),
          "mbedtls_gcm_crypt_and_tag");
  incrementNonce(nonce_);
  return true;
}

void AesGcmOutStream::saveState(rdr::OutStream& out) {
  TaggedOutStream::saveState(out);
  saveNonceAndGcm(out, nonce_, *gcm_);
}

void AesGcmOutStream::restoreState(rdr::InStream& in) {
  TaggedOutStream::restoreState(in);
  restoreNonceAndGcm(in, nonce_, gcm_);
}

}  // namespace crypto
