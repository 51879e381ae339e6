#include "qocore/base/crypto/Rsa.h"

#include <mbedtls/bignum.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "qocore/base/crypto/BigNum.h"
#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/crypto/Sha.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

plat::IntParameter rsaModulusBits("RsaModulusBits",
                                  "Total number of bits to use when generating public and private keys", 2048, 512,
                                  8192);
plat::ParameterAlias rsaModulusBitsAlias("RSA_Modulus_Bits", rsaModulusBits);

namespace {

PLAT_LOG_SOURCE(vlog, "RsaPrivateKey");

constexpr uint32_t kNoKey = 0xFFFFFFFF;
constexpr uint32_t kMinBits = 512;
constexpr uint32_t kMaxBits = 8192;
// A generation slice: 10 ms in 100-ns ticks.
constexpr plat::TimeValue kSliceTicks = 100000;
constexpr int kMillerRabinRounds = 40;

mbedtls_md_type_t mdType(uint32_t l) {
  PLAT_ASSERT_TEXT(l == 160 || l == 256 || l == 512, "l == 160 || l == 256 || l == 512");
  return l == 160 ? MBEDTLS_MD_SHA1 : l == 256 ? MBEDTLS_MD_SHA256 : MBEDTLS_MD_SHA512;
}

void checkPssHash(uint32_t shaLen) {
  PLAT_ASSERT_TEXT(shaLen == 256 || shaLen == 512, "shaLen == 256 || shaLen == 512");
}
void checkPkcs1v15Hash(uint32_t shaLen) {
  PLAT_ASSERT_TEXT(shaLen == 160 || shaLen == 256 || shaLen == 512, "shaLen == 160 || shaLen == 256 || shaLen == 512");
}

// The digest of the message; SHA-1 only where the caller allows it.
struct Digest {
  Digest(uint32_t shaLen, size_t len, const void* data) : md(mdType(shaLen)) {
    Sha sha(shaLen, shaLen == 160);
    sha.update(len, data);
    size = shaLen / 8;
    sha.final(bytes, sizeof bytes);
  }
  mbedtls_md_type_t md;
  unsigned int size;
  unsigned char bytes[Sha::kMaxDigestSize];
};

void orThrow(int ret, const char* operation) {
  if (ret != 0) throw MbedTlsException(operation, ret);
}

int clampInt(size_t n) { return static_cast<int>(std::min(n, static_cast<size_t>(INT_MAX))); }

// A buffer for one ciphertext or signature: the library writes as many
// bytes as the context's length says.
plat::Buffer outputFor(const mbedtls_rsa_context& ctx) { return plat::Buffer(static_cast<int>(ctx.len)); }

int32_t halfLenOf(uint32_t bits) { return static_cast<int32_t>(((bits + 1) / 2 + 7) / 8); }

// A u16, or false when the stream cannot deliver it without waiting.
// Everything before it counts as consumed.
bool readU16NoWait(rdr::InStream& in, uint16_t& value) {
  in.setCheckpoint();
  try {
    value = in.readU16();
  } catch (const rdr::BlockException&) {
    return false;
  }
  in.setCheckpoint();
  return true;
}

}  // namespace

// ---- RsaKey ----

RsaKey::RsaKey() : ctx_(std::make_unique<mbedtls_rsa_context>()) {
  mbedtls_rsa_init(ctx_.get(), MBEDTLS_RSA_PKCS_V15, 0);
}

RsaKey::~RsaKey() {
  reader_.reset();
  mbedtls_rsa_free(ctx_.get());
}

void RsaKey::reset() {
  reader_.reset();
  mbedtls_rsa_free(ctx_.get());
  mbedtls_rsa_init(ctx_.get(), MBEDTLS_RSA_PKCS_V15, 0);
  pendingBits_ = 0;
}

void RsaKey::copy(const RsaKey& other) {
  if (&other == this) return;
  reset();
  orThrow(mbedtls_rsa_copy(ctx_.get(), other.ctx_.get()), "mbedtls_rsa_copy");
}

void RsaKey::setPublicFrom(const RsaKey& other) {
  if (&other == this) return;
  reset();
  orThrow(mbedtls_mpi_copy(&ctx_->N, &other.ctx_->N), "MbedTls error");
  orThrow(mbedtls_mpi_copy(&ctx_->E, &other.ctx_->E), "MbedTls error");
  ctx_->len = other.ctx_->len;
}

int32_t RsaKey::bits() const { return static_cast<int32_t>(mbedtls_mpi_bitlen(&ctx_->N)); }

int32_t RsaKey::byteLen() const { return (bits() + 7) / 8; }

bool RsaKey::publicEquals(const RsaKey& other) const {
  return mbedtls_mpi_cmp_mpi(&ctx_->N, &other.ctx_->N) == 0 && mbedtls_mpi_cmp_mpi(&ctx_->E, &other.ctx_->E) == 0;
}

plat::CharArray RsaKey::description() const {
  char text[64];
  snprintf(text, sizeof text, "RSA key with %d bits", bits());
  return plat::CharArray(text);
}

bool RsaKey::readPublic(rdr::InStream& in, bool variableE) {
  if (pendingBits_ == 0) {
    reset();
    in.setCheckpoint();
    uint32_t bits;
    try {
      bits = in.readU32();
    } catch (const rdr::BlockException&) {
      return false;
    }
    in.setCheckpoint();
    if (bits != kNoKey && (bits < kMinBits || bits > kMaxBits)) throw MbedTlsException("Unsupported RSA key length");
    pendingBits_ = bits;
  }
  if (pendingBits_ == kNoKey) return true;
  const int32_t len = static_cast<int32_t>((pendingBits_ + 7) / 8);
  if (!bigNumReadF(in, ctx_->N, len, reader_)) return false;
  // The library takes the declared length as the size of everything it
  // writes, the callers size their buffers by the modulus: the two must
  // agree to the bit.
  if (mbedtls_mpi_bitlen(&ctx_->N) != pendingBits_) {
    reset();
    throw MbedTlsException("Unsupported RSA key length");
  }
  if (!(variableE ? bigNumReadV(in, ctx_->E, reader_, len) : bigNumReadF(in, ctx_->E, len, reader_))) return false;
  ctx_->len = static_cast<size_t>(len);
  return true;
}

void RsaKey::writePublic(rdr::OutStream& out, bool variableE) const {
  if (mbedtls_mpi_cmp_int(&ctx_->N, 0) == 0) {
    out.writeU32(kNoKey);
    return;
  }
  const int32_t len = byteLen();
  out.writeU32(static_cast<uint32_t>(bits()));
  bigNumWriteF(out, ctx_->N, len);
  if (variableE) {
    bigNumWriteV(out, ctx_->E, len);
  } else {
    bigNumWriteF(out, ctx_->E, len);
  }
}

bool RsaKey::readBlock(rdr::InStream& in, int32_t expectedLen, plat::Buffer& block) {
  if (!reader_.busy()) {
    uint16_t len;
    if (!readU16NoWait(in, len)) return false;
    if (len != expectedLen) {
      throw MbedTlsException::formatted("RSA decrypt/check error: bad length %d (should be %d)", len, expectedLen);
    }
    reader_.init(in, len);
  }
  const uint8_t* bytes = reader_.read(false);
  if (!bytes) return false;
  block = plat::Buffer(bytes, expectedLen, true);
  in.setCheckpoint();
  reader_.reset();
  return true;
}

void RsaKey::writeBlock(rdr::OutStream& out, const plat::Buffer& block) {
  out.writeU16(static_cast<uint16_t>(block.count()));
  out.writeBytes(block.data(), block.count());
}

void RsaKey::encrypt(size_t len, const void* data, plat::Buffer& out, Padding padding, uint32_t shaLen) {
  if (padding == Padding::kPkcs1v15) {
    mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V15, MBEDTLS_MD_NONE);
  } else {
    mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V21, mdType(shaLen));
  }
  out = outputFor(*ctx_);
  orThrow(mbedtls_rsa_pkcs1_encrypt(ctx_.get(), mbedtlsRandom, nullptr, MBEDTLS_RSA_PUBLIC, len,
                                    static_cast<const unsigned char*>(data), out.data()),
          "RSA encrypt error");
}

void RsaKey::decrypt(const plat::Buffer& data, plat::Buffer& out, Padding padding, uint32_t shaLen) {
  const size_t len = ctx_->len;
  PLAT_ASSERT_TEXT(data.count() >= (int)len, "data.length() >= (int)len");
  if (padding == Padding::kPkcs1v15) {
    mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V15, MBEDTLS_MD_NONE);
  } else {
    mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V21, mdType(shaLen));
  }
  plat::Buffer plain(static_cast<int>(len), true);
  size_t plainLen = 0;
  orThrow(mbedtls_rsa_pkcs1_decrypt(ctx_.get(), mbedtlsRandom, nullptr, MBEDTLS_RSA_PRIVATE, &plainLen, data.data(),
                                    plain.data(), len),
          "RSA decrypt error");
  plain.resize(static_cast<int>(plainLen));
  out = std::move(plain);
}

bool RsaKey::generatePrime(mbedtls_mpi& x, uint32_t nbits, plat::TimeValue deadline) {
  orThrow(mbedtls_mpi_fill_random(&x, (nbits + 7) / 8, mbedtlsRandom, nullptr), "MbedTls error");
  const size_t have = mbedtls_mpi_bitlen(&x);
  if (have > nbits) orThrow(mbedtls_mpi_shift_r(&x, have - nbits + 1), "MbedTls error");
  orThrow(mbedtls_mpi_set_bit(&x, nbits - 1, 1), "MbedTls error");
  orThrow(mbedtls_mpi_set_bit(&x, 0, 1), "MbedTls error");
  for (int rejected = 0;;) {
    int ret = mbedtls_mpi_is_prime_ext(&x, kMillerRabinRounds, mbedtlsRandom, nullptr);
    if (ret == 0) return true;
    if (ret != MBEDTLS_ERR_MPI_NOT_ACCEPTABLE) throw MbedTlsException("MbedTls error", ret);
    // The clock is read only now and then: a candidate costs little.
    if (++rejected % 5 == 0 && plat::getMonotonicTime() >= deadline) {
      orThrow(mbedtls_mpi_lset(&x, 0), "MbedTls error");
      return false;
    }
    orThrow(mbedtls_mpi_add_int(&x, &x, 2), "MbedTls error");
  }
}

bool RsaKey::generateStep(uint32_t nbits, plat::TimeValue deadline) {
  mbedtls_rsa_context& k = *ctx_;
  if (mbedtls_mpi_cmp_int(&k.P, 0) == 0 && !generatePrime(k.P, (nbits + 1) / 2, deadline)) return false;
  mbedtls_mpi h, g, p1, q1;
  mbedtls_mpi_init(&h);
  mbedtls_mpi_init(&g);
  mbedtls_mpi_init(&p1);
  mbedtls_mpi_init(&q1);
  plat::ScopeExit freeAll([&] {
    mbedtls_mpi_free(&h);
    mbedtls_mpi_free(&g);
    mbedtls_mpi_free(&p1);
    mbedtls_mpi_free(&q1);
  });
  for (;;) {
    if (!generatePrime(k.Q, nbits / 2, deadline)) return false;
    if (mbedtls_mpi_cmp_mpi(&k.P, &k.Q) == 0) continue;
    if (mbedtls_mpi_cmp_mpi(&k.P, &k.Q) < 0) mbedtls_mpi_swap(&k.P, &k.Q);
    orThrow(mbedtls_mpi_mul_mpi(&k.N, &k.P, &k.Q), "MbedTls error");
    if (mbedtls_mpi_bitlen(&k.N) != nbits) continue;
    orThrow(mbedtls_mpi_sub_int(&p1, &k.P, 1), "MbedTls error");
    orThrow(mbedtls_mpi_sub_int(&q1, &k.Q, 1), "MbedTls error");
    orThrow(mbedtls_mpi_mul_mpi(&h, &p1, &q1), "MbedTls error");
    orThrow(mbedtls_mpi_gcd(&g, &k.E, &h), "MbedTls error");
    if (mbedtls_mpi_cmp_int(&g, 1) != 0) continue;
    orThrow(mbedtls_mpi_inv_mod(&k.D, &k.E, &h), "MbedTls error");
    orThrow(mbedtls_mpi_mod_mpi(&k.DP, &k.D, &p1), "MbedTls error");
    orThrow(mbedtls_mpi_mod_mpi(&k.DQ, &k.D, &q1), "MbedTls error");
    orThrow(mbedtls_mpi_inv_mod(&k.QP, &k.Q, &k.P), "MbedTls error");
    k.len = (nbits + 7) / 8;
    return true;
  }
}

// ---- RsaPublicKey ----

bool RsaPublicKey::read(rdr::InStream& in, bool variableE) {
  if (!readPublic(in, variableE)) return false;
  pendingBits_ = 0;
  return true;
}

void RsaPublicKey::setFromPem(const char* text) { setFromPem(text, strlen(text)); }

void RsaPublicKey::setFromPem(const void* data, size_t len) {
  reset();
  // The parser takes PEM only with its terminating NUL counted, and DER
  // only at its exact length.
  const bool isPem = memmem(data, len, "-----BEGIN ", 11) != nullptr;
  std::unique_ptr<unsigned char[]> text(new unsigned char[len + 1]);
  memcpy(text.get(), data, len);
  text[len] = 0;
  mbedtls_pk_context pk;
  mbedtls_pk_init(&pk);
  plat::ScopeExit freePk([&] { mbedtls_pk_free(&pk); });
  orThrow(mbedtls_pk_parse_public_key(&pk, text.get(), isPem ? len + 1 : len), "mbedtls_pk_parse_public_key");
  if (mbedtls_pk_get_type(&pk) != MBEDTLS_PK_RSA) throw plat::Exception("Invalid key type, expected an RSA public key");
  const mbedtls_rsa_context& rsa = *mbedtls_pk_rsa(pk);
  orThrow(mbedtls_mpi_copy(&ctx_->N, &rsa.N), "MbedTls error");
  orThrow(mbedtls_mpi_copy(&ctx_->E, &rsa.E), "MbedTls error");
  ctx_->len = rsa.len;
}

std::vector<std::unique_ptr<RsaPublicKey>> RsaPublicKey::readAllFromPem(const char* text) {
  std::vector<std::unique_ptr<RsaPublicKey>> keys;
  static const char kBegin[] = "-----BEGIN ";
  for (const char* at = strstr(text, kBegin); at; at = strstr(at + 1, kBegin)) {
    auto key = std::make_unique<RsaPublicKey>();
    try {
      key->setFromPem(at);
    } catch (const plat::Exception&) {
      // Not a public key block (a certificate, say): the next one may be.
      continue;
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

plat::Buffer RsaPublicKey::toDer() const {
  mbedtls_pk_context pk;
  mbedtls_pk_init(&pk);
  plat::ScopeExit freePk([&] { mbedtls_pk_free(&pk); });
  orThrow(mbedtls_pk_setup(&pk, mbedtls_pk_info_from_type(MBEDTLS_PK_RSA)), "MbedTls error");
  mbedtls_rsa_context& rsa = *mbedtls_pk_rsa(pk);
  orThrow(mbedtls_mpi_copy(&rsa.N, &ctx_->N), "MbedTls error");
  orThrow(mbedtls_mpi_copy(&rsa.E, &ctx_->E), "MbedTls error");
  rsa.len = ctx_->len;
  plat::Buffer buf(2 * byteLen() + 20);
  // Written backwards from the end of the buffer.
  int ret = mbedtls_pk_write_pubkey_der(&pk, buf.data(), static_cast<size_t>(buf.count()));
  if (ret < 0) throw MbedTlsException("MbedTls error", ret);
  const int start = buf.count() - ret;
  const int end = buf.count();
  PLAT_ASSERT_TEXT(start >= 0 && start <= buf.count(), "start >= 0 && start <= buf.length()");
  PLAT_ASSERT_TEXT(end >= start && end <= buf.count(), "end >= start && end <= buf.length()");
  memmove(buf.data(), buf.data() + start, static_cast<size_t>(end - start));
  buf.resize(end - start);
  return buf;
}

void RsaPublicKey::encrypt(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen) {
  checkPssHash(shaLen);
  plat::Buffer cipher;
  RsaKey::encrypt(len, data, cipher, Padding::kPkcs1v21, shaLen);
  writeBlock(out, cipher);
}

void RsaPublicKey::encryptPkcs1v15(rdr::OutStream& out, size_t len, const void* data) {
  plat::Buffer cipher;
  RsaKey::encrypt(len, data, cipher, Padding::kPkcs1v15, 0);
  writeBlock(out, cipher);
}

void RsaPublicKey::verify(size_t sigLen, const void* sig, size_t len, const void* data, uint32_t shaLen,
                          bool anySaltLength) {
  checkPssHash(shaLen);
  if (sigLen != static_cast<size_t>(byteLen())) {
    throw MbedTlsException::formatted("RSA verify error: bad length %d (should be %d)", clampInt(sigLen), byteLen());
  }
  Digest digest(shaLen, len, data);
  mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V21, digest.md);
  // The _ext form: the plain one takes any salt length.
  orThrow(mbedtls_rsa_rsassa_pss_verify_ext(ctx_.get(), nullptr, nullptr, MBEDTLS_RSA_PUBLIC, digest.md, digest.size,
                                            digest.bytes, digest.md,
                                            anySaltLength ? MBEDTLS_RSA_SALT_LEN_ANY : static_cast<int>(digest.size),
                                            static_cast<const unsigned char*>(sig)),
          "RSA verify error");
}

bool RsaPublicKey::verifyFromStream(rdr::InStream& in, size_t len, const void* data, uint32_t shaLen,
                                    bool anySaltLength) {
  checkPssHash(shaLen);
  plat::Buffer sig;
  if (!readBlock(in, byteLen(), sig)) return false;
  verify(static_cast<size_t>(sig.count()), sig.data(), len, data, shaLen, anySaltLength);
  return true;
}

void RsaPublicKey::verifyPkcs1v15(size_t sigLen, const void* sig, size_t len, const void* data, uint32_t shaLen) {
  checkPkcs1v15Hash(shaLen);
  if (sigLen != static_cast<size_t>(byteLen())) {
    throw MbedTlsException::formatted("RSA verify error: bad length %d (should be %d)", clampInt(sigLen), byteLen());
  }
  Digest digest(shaLen, len, data);
  mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V15, digest.md);
  orThrow(mbedtls_rsa_pkcs1_verify(ctx_.get(), nullptr, nullptr, MBEDTLS_RSA_PUBLIC, digest.md, digest.size,
                                   digest.bytes, static_cast<const unsigned char*>(sig)),
          "RSA verify error");
}

bool RsaPublicKey::verifyPkcs1v15FromStream(rdr::InStream& in, size_t len, const void* data, uint32_t shaLen) {
  checkPkcs1v15Hash(shaLen);
  plat::Buffer sig;
  if (!readBlock(in, byteLen(), sig)) return false;
  verifyPkcs1v15(static_cast<size_t>(sig.count()), sig.data(), len, data, shaLen);
  return true;
}

// ---- RsaPrivateKey ----

RsaPrivateKey::RsaPrivateKey() = default;

RsaPrivateKey::~RsaPrivateKey() { timer_.cancel(); }

RsaPrivateKey& RsaPrivateKey::operator=(const RsaPrivateKey& other) {
  copy(other);
  return *this;
}

bool RsaPrivateKey::read(rdr::InStream& in) {
  if (!readPublic(in, false)) return false;
  if (pendingBits_ != kNoKey) {
    const int32_t len = static_cast<int32_t>((pendingBits_ + 7) / 8);
    const int32_t half = halfLenOf(pendingBits_);
    if (!bigNumReadF(in, ctx_->D, len, reader_)) return false;
    for (mbedtls_mpi* x : {&ctx_->P, &ctx_->Q, &ctx_->DP, &ctx_->DQ, &ctx_->QP}) {
      if (!bigNumReadF(in, *x, half, reader_)) return false;
    }
  }
  pendingBits_ = 0;
  return true;
}

void RsaPrivateKey::write(rdr::OutStream& out) const {
  writePublic(out, false);
  if (mbedtls_mpi_cmp_int(&ctx_->N, 0) == 0) return;
  const int32_t half = halfLenOf(static_cast<uint32_t>(bits()));
  bigNumWriteF(out, ctx_->D, byteLen());
  for (const mbedtls_mpi* x : {&ctx_->P, &ctx_->Q, &ctx_->DP, &ctx_->DQ, &ctx_->QP}) bigNumWriteF(out, *x, half);
}

void RsaPrivateKey::sign(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen) {
  checkPssHash(shaLen);
  Digest digest(shaLen, len, data);
  mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V21, digest.md);
  plat::Buffer sig = outputFor(*ctx_);
  // The _ext form with the salt as long as the hash: the plain signer
  // picks its own salt length.
  orThrow(mbedtls_rsa_rsassa_pss_sign_ext(ctx_.get(), mbedtlsRandom, nullptr, digest.md, digest.size, digest.bytes,
                                          static_cast<int>(digest.size), sig.data()),
          "RSA signature error");
  writeBlock(out, sig);
}

void RsaPrivateKey::signPkcs1v15(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen) {
  checkPkcs1v15Hash(shaLen);
  Digest digest(shaLen, len, data);
  mbedtls_rsa_set_padding(ctx_.get(), MBEDTLS_RSA_PKCS_V15, digest.md);
  plat::Buffer sig = outputFor(*ctx_);
  orThrow(mbedtls_rsa_pkcs1_sign(ctx_.get(), mbedtlsRandom, nullptr, MBEDTLS_RSA_PRIVATE, digest.md, digest.size,
                                 digest.bytes, sig.data()),
          "RSA signature error");
  writeBlock(out, sig);
}

bool RsaPrivateKey::decrypt(rdr::InStream& in, plat::Buffer& out, uint32_t shaLen) {
  checkPssHash(shaLen);
  plat::Buffer cipher;
  if (!readBlock(in, byteLen(), cipher)) return false;
  RsaKey::decrypt(cipher, out, Padding::kPkcs1v21, shaLen);
  return true;
}

bool RsaPrivateKey::decryptPkcs1v15(rdr::InStream& in, plat::Buffer& out, int32_t expectedLen) {
  plat::Buffer cipher;
  if (!readBlock(in, byteLen(), cipher)) return false;
  bool substitute = false;
  try {
    RsaKey::decrypt(cipher, out, Padding::kPkcs1v15, 0);
    if (expectedLen >= 0 && out.count() != expectedLen) {
      vlog().debug("Ignoring RSA decrypt length mismatch");
      substitute = true;
    }
  } catch (const MbedTlsException& e) {
    if (e.code() != MBEDTLS_ERR_RSA_INVALID_PADDING || expectedLen < 0) throw;
    vlog().debug("Ignoring RSA decrypt error (PKCS#1 v1.5 padding: %s)", e.str());
    substitute = true;
  }
  if (substitute) {
    out = plat::Buffer(expectedLen, true);
    RandomStream random;
    random.readBytes(out.data(), expectedLen);
  }
  return true;
}

void RsaPrivateKey::check() { orThrow(mbedtls_rsa_check_privkey(ctx_.get()), "RSA key invalid"); }

void RsaPrivateKey::generate(GenerateCallback* cb, bool inBackground) {
  vlog().info("Generating RSA private key");
  PLAT_ASSERT_TEXT(!generateCb_ && cb, "!generateCb && cb");
  generateCb_ = cb;
  reset();
  generateBits_ = static_cast<uint32_t>(rsaModulusBits.getValue());
  orThrow(mbedtls_mpi_lset(&ctx_->E, 65537), "MbedTls error");
  if (inBackground) {
    timer_.start(0);
  } else {
    while (!generateSlice()) {
    }
  }
}

bool RsaPrivateKey::timerExpired(plat::Timer*) {
  // Nothing of the key may be touched once the slice handed it over: the
  // callback may have deleted it.
  return !generateSlice();
}

bool RsaPrivateKey::generateSlice() {
  if (static_cast<uint32_t>(bits()) != generateBits_) {
    if (!generateStep(generateBits_, plat::getMonotonicTime() + kSliceTicks)) return false;
    PLAT_ASSERT_TEXT(static_cast<uint32_t>(bits()) == generateBits_, "mBits() == generateBits");
  }
  generateBits_ = 0;
  GenerateCallback* cb = std::exchange(generateCb_, nullptr);
  cb->keyGenerated(this);
  return true;
}

}  // namespace crypto
