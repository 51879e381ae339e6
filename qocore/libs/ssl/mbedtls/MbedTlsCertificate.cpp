#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

#include <mbedtls/asn1.h>
#include <mbedtls/error.h>
#include <mbedtls/oid.h>
#include <mbedtls/pem.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qocore/base/crypto/EcKey.h"
#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/libs/ssl/SslException.h"

namespace ssl {

namespace {

bool isTextType(int tag) {
  return tag == MBEDTLS_ASN1_UTF8_STRING || tag == MBEDTLS_ASN1_PRINTABLE_STRING || tag == MBEDTLS_ASN1_IA5_STRING;
}

bool hasZero(const mbedtls_x509_buf& b) { return std::memchr(b.p, 0, b.len) != nullptr; }

plat::CharArray sanitised(const unsigned char* p, size_t len) {
  plat::DString out;
  plat::utf8Sanitise(out, reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(p + len));
  return plat::CharArray(out.c_str());
}

// The dotted text of an OID, null when it has none or it is too long.
plat::CharArray dottedOid(const mbedtls_x509_buf& oid) {
  char buf[128];
  int n = mbedtls_oid_get_numeric_string(buf, sizeof(buf), &oid);
  if (n < 0 || n > 127) return plat::CharArray();
  return plat::CharArray(buf);
}

std::vector<CertAttribute> attributes(const mbedtls_x509_name* name) {
  std::vector<CertAttribute> out;
  for (; name; name = name->next) {
    if (!name->oid.p || !isTextType(name->val.tag) || hasZero(name->val)) continue;
    plat::CharArray oid = dottedOid(name->oid);
    if (!oid) continue;
    out.push_back({std::move(oid), sanitised(name->val.p, name->val.len)});
  }
  std::reverse(out.begin(), out.end());
  return out;
}

plat::TimeValue toTime(const mbedtls_x509_time& t) {
  if (!plat::isValidDate(t.year, t.mon, t.day, t.hour, t.min, t.sec))
    throw SslException(SslException::kInvalidCertificate);
  return plat::dateToTimeChecked(t.year, t.mon, t.day, t.hour, t.min, t.sec);
}

unsigned char reverseBits(unsigned char b) {
  unsigned char r = 0;
  for (int i = 0; i < 8; i++) {
    if (b & (1u << i)) r |= static_cast<unsigned char>(0x80u >> i);
  }
  return r;
}

uint32_t curveOf(mbedtls_ecp_group_id id) {
  switch (id) {
    case MBEDTLS_ECP_DP_SECP224R1:
      return crypto::P224;
    case MBEDTLS_ECP_DP_SECP256R1:
      return crypto::P256;
    case MBEDTLS_ECP_DP_SECP384R1:
      return crypto::P384;
    case MBEDTLS_ECP_DP_SECP521R1:
      return crypto::P521;
    default:
      throw plat::Exception("Unsupported curve");
  }
}

bool isEc(const mbedtls_pk_context& pk) {
  mbedtls_pk_type_t type = mbedtls_pk_get_type(&pk);
  return type == MBEDTLS_PK_ECKEY || type == MBEDTLS_PK_ECDSA;
}

// Writes a number big-endian into exactly `len` bytes at *p and advances.
void putMpi(const mbedtls_mpi& x, size_t len, unsigned char** p) {
  int ret = mbedtls_mpi_write_binary(&x, *p, len);
  if (ret != 0) throw crypto::MbedTlsException("mbedtls_mpi_write_binary", ret);
  *p += len;
}

void putU32(uint32_t v, unsigned char** p) {
  for (int i = 3; i >= 0; i--) *(*p)++ = static_cast<unsigned char>(v >> (8 * i));
}

// The value of the extension with this OID, or an empty span.
ByteSpan findExtension(const mbedtls_x509_crt& crt, const char* oid, size_t oidLen) {
  if (!crt.v3_ext.p) return {};
  unsigned char* p = crt.v3_ext.p;
  const unsigned char* end = p + crt.v3_ext.len;
  size_t len = 0;
  int ret = mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
  while (p < end) {
    ret = mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
    if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
    const unsigned char* extEnd = p + len;
    ret = mbedtls_asn1_get_tag(&p, extEnd, &len, MBEDTLS_ASN1_OID);
    if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
    bool match = len == oidLen && std::memcmp(p, oid, len) == 0;
    p += len;
    int critical = 0;
    ret = mbedtls_asn1_get_bool(&p, extEnd, &critical);
    if (ret != 0 && ret != MBEDTLS_ERR_ASN1_UNEXPECTED_TAG) throw SslException(SslException::kInvalidCertificate, ret);
    ret = mbedtls_asn1_get_tag(&p, extEnd, &len, MBEDTLS_ASN1_OCTET_STRING);
    if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
    if (match) return {len, p};
    p = const_cast<unsigned char*>(extEnd);
  }
  return {};
}

enum class OtherName { kKept, kSkipped, kBroken };

// An otherName entry, which the library keeps unparsed: its type OID, then
// its value wrapped in [0].  Values of a string type without a zero byte
// are kept; others are skipped.
OtherName otherName(const mbedtls_x509_buf& entry, AltName& out) {
  unsigned char* p = entry.p;
  const unsigned char* end = p + entry.len;
  size_t len = 0;
  if (mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_OID) != 0) return OtherName::kBroken;
  const mbedtls_x509_buf oid = {MBEDTLS_ASN1_OID, len, p};
  p += len;
  if (mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 0) != 0) {
    return OtherName::kBroken;
  }
  const unsigned char* wrapEnd = p + len;
  if (p >= wrapEnd) return OtherName::kBroken;
  const int tag = *p++;
  if (mbedtls_asn1_get_len(&p, wrapEnd, &len) != 0) return OtherName::kBroken;
  const mbedtls_x509_buf value = {tag, len, p};
  if (!isTextType(tag) || hasZero(value)) return OtherName::kSkipped;
  plat::CharArray type = dottedOid(oid);
  if (!type) return OtherName::kSkipped;
  out = {kAltOther, sanitised(value.p, value.len), std::move(type)};
  return OtherName::kKept;
}

bool hasPrefix(const unsigned char* p, size_t len, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes) {
    size_t n = std::strlen(prefix);
    if (len >= n && std::memcmp(p, prefix, n) == 0) return true;
  }
  return false;
}

// The value of each Base64 character of the standard alphabet, else -1.
struct Base64Values {
  signed char value[256];
  constexpr Base64Values() : value() {
    constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (signed char& v : value) v = -1;
    for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
  }
};
constexpr Base64Values kBase64;

// The DER bytes of a plain PEM certificate: Base64 lines between the
// header and footer that mbedtls_pem_read_buffer finds, each ended by "\n"
// or "\r\n", whole four-character groups, "=" only to pad the last one.
// False for anything else (encryption headers, spaces, stray characters),
// which mbedtls reads as before.  mbedtls decodes Base64 in constant time,
// at tens of nanoseconds a character, so its reading of a CA bundle took a
// quarter of the wizard's start; for the texts accepted here both give the
// same bytes.
bool decodePlainPem(const char* text, plat::MBuf<unsigned char>& der) {
  static constexpr std::string_view kHeader = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kFooter = "-----END CERTIFICATE-----";
  const char* header = std::strstr(text, kHeader.data());
  const char* footer = std::strstr(text, kFooter.data());
  if (!header || !footer) return false;
  const char* p = header + kHeader.size();
  if (*p == '\r') ++p;
  if (*p != '\n') return false;
  ++p;
  if (footer <= p || footer - p > INT_MAX / 2) return false;
  plat::MBuf<unsigned char> bytes(static_cast<int>((footer - p) / 4 * 3));
  int n = 0;
  uint32_t group = 0;
  int inGroup = 0;
  int padding = 0;
  for (; p < footer; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\n' || (c == '\r' && p[1] == '\n')) continue;
    const int v = kBase64.value[c];
    if (c == '=' && inGroup >= 2) {
      ++padding;
    } else if (v < 0 || padding) {
      return false;
    }
    group = group << 6 | static_cast<uint32_t>(v < 0 ? 0 : v);
    if (++inGroup == 4) {
      bytes[n++] = static_cast<unsigned char>(group >> 16);
      if (padding < 2) bytes[n++] = static_cast<unsigned char>(group >> 8);
      if (padding < 1) bytes[n++] = static_cast<unsigned char>(group);
      group = 0;
      inGroup = 0;
    }
  }
  if (n == 0 || inGroup != 0) return false;
  bytes.resize(n);
  der = std::move(bytes);
  return true;
}

}  // namespace

MbedTlsCertificate::MbedTlsCertificate() { mbedtls_x509_crt_init(&crt_); }

MbedTlsCertificate::~MbedTlsCertificate() { mbedtls_x509_crt_free(&crt_); }

plat::LinkedPtr<SslCertificate> MbedTlsCertificate::create(const char* text) {
  plat::MBuf<unsigned char> der;
  if (decodePlainPem(text, der)) return fromDer(static_cast<size_t>(der.count()), der.data());
  mbedtls_pem_context pem;
  mbedtls_pem_init(&pem);
  plat::ScopeExit freePem([&pem] { mbedtls_pem_free(&pem); });
  size_t used = 0;
  int ret = mbedtls_pem_read_buffer(&pem, "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----",
                                    reinterpret_cast<const unsigned char*>(text), nullptr, 0, &used);
  if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
  return fromDer(pem.buflen, pem.buf);
}

plat::LinkedPtr<SslCertificate> MbedTlsCertificate::fromDer(size_t len, const unsigned char* der) {
  std::unique_ptr<MbedTlsCertificate> cert(new MbedTlsCertificate());
  int ret = mbedtls_x509_crt_parse_der(&cert->crt_, der, len);
  if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
  cert->fill();
  return plat::LinkedPtr<SslCertificate>(cert.release());
}

void MbedTlsCertificate::fill() {
  der = {crt_.raw.len, crt_.raw.p};
  issuerText = formatDistinguishedName(&crt_.issuer);
  subjectText = formatDistinguishedName(&crt_.subject);
  rawIssuer = {crt_.issuer_raw.len, crt_.issuer_raw.p};
  rawSubject = {crt_.subject_raw.len, crt_.subject_raw.p};
  rawSerial = {crt_.serial.len, crt_.serial.p};

  std::vector<unsigned char> buf(crt_.raw.len);
  int n = mbedtls_pk_write_pubkey_der(&crt_.pk, buf.data(), buf.size());
  if (n < 0) throw crypto::MbedTlsException("MbedTls error", n);
  const unsigned char* key = buf.data() + buf.size() - n;
  std::string_view whole(reinterpret_cast<const char*>(crt_.raw.p), crt_.raw.len);
  size_t at = whole.find(std::string_view(reinterpret_cast<const char*>(key), n));
  if (at == std::string_view::npos) throw SslException(SslException::kInvalidCertificate, "key not substring");
  publicKey = {static_cast<size_t>(n), crt_.raw.p + at};

  issuerAttributes = attributes(&crt_.issuer);
  subjectAttributes = attributes(&crt_.subject);
  notBefore = toTime(crt_.valid_from);
  notAfter = toTime(crt_.valid_to);

  if (crt_.ext_types & MBEDTLS_X509_EXT_KEY_USAGE) {
    keyUsagePresent = true;
    unsigned int ku = crt_.key_usage;
    keyUsage = static_cast<uint16_t>(reverseBits(ku & 0xFF) | (reverseBits((ku >> 8) & 0xFF) << 8));
  }
  if (crt_.ext_types & MBEDTLS_X509_EXT_EXTENDED_KEY_USAGE) {
    extKeyUsagePresent = true;
    for (const mbedtls_x509_sequence* s = &crt_.ext_key_usage; s && s->buf.p; s = s->next) {
      plat::CharArray oid = dottedOid(s->buf);
      if (oid) extKeyUsages.push_back(std::move(oid));
    }
  }
  if (crt_.ext_types & MBEDTLS_X509_EXT_SUBJECT_ALT_NAME) {
    for (const mbedtls_x509_sequence* s = &crt_.subject_alt_names; s && s->buf.p; s = s->next) {
      const mbedtls_x509_buf& b = s->buf;
      if (b.tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 2) || b.tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 1)) {
        if (hasZero(b)) continue;
        altNames.push_back({b.tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 2) ? kAltDns : kAltEmail, sanitised(b.p, b.len),
                            plat::CharArray()});
      } else if (b.tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 7)) {
        if (b.len != 4 && b.len != 16) break;
        altNames.push_back({kAltIp, io::IpInfo::fromBinary(b.p, b.len, 0).toString(), plat::CharArray()});
      } else if (b.tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 0)) {
        AltName other{};
        const OtherName result = otherName(b, other);
        if (result == OtherName::kBroken) break;
        if (result == OtherName::kKept) altNames.push_back(std::move(other));
      }
    }
  }
  if (mbedtls_pk_get_type(&crt_.pk) == MBEDTLS_PK_RSA) {
    keyType = kKeyRsa;
  } else if (mbedtls_pk_get_type(&crt_.pk) == MBEDTLS_PK_ECKEY || mbedtls_pk_get_type(&crt_.pk) == MBEDTLS_PK_ECDSA) {
    keyType = kKeyEc;
  }
}

std::unique_ptr<crypto::RsaPublicKey> MbedTlsCertificate::rsaPublicKey() const {
  if (mbedtls_pk_get_type(&crt_.pk) != MBEDTLS_PK_RSA)
    throw plat::Exception("Certificate public key is not an RSA key");
  const mbedtls_rsa_context* rsa = mbedtls_pk_rsa(crt_.pk);
  size_t bits = mbedtls_mpi_bitlen(&rsa->N);
  size_t byteLen = (bits + 7) / 8;
  std::vector<unsigned char> buf(4 + 2 * byteLen);
  unsigned char* p = buf.data();
  putU32(static_cast<uint32_t>(bits), &p);
  putMpi(rsa->N, byteLen, &p);
  putMpi(rsa->E, byteLen, &p);
  rdr::MemInStream in(buf.data(), static_cast<int32_t>(buf.size()));
  auto key = std::make_unique<crypto::RsaPublicKey>();
  if (!key->read(in, false)) throw plat::Exception("Certificate public key is not an RSA key");
  return key;
}

std::unique_ptr<crypto::EcKey> MbedTlsCertificate::ecPublicKey() const {
  if (!isEc(crt_.pk)) throw plat::Exception("Certificate public key is not an ECDSA key");
  const mbedtls_ecp_keypair* ec = mbedtls_pk_ec(crt_.pk);
  uint32_t curve = curveOf(ec->grp.id);
  size_t field = (ec->grp.pbits + 7) / 8;
  std::vector<unsigned char> buf(5 + 2 * field + 1);
  size_t len = 0;
  int ret = mbedtls_ecp_point_write_binary(&ec->grp, &ec->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &len, buf.data() + 5,
                                           buf.size() - 5);
  PLAT_REQUIRE_TEXT(ret == 0 && len < 256, "!ret && len < 256");
  const unsigned char magic[] = {0xFF, 0xFE, 0xCD, 0x5A, static_cast<unsigned char>(len)};
  std::memcpy(buf.data(), magic, sizeof(magic));
  rdr::MemInStream in(buf.data(), static_cast<int32_t>(5 + len));
  auto key = std::make_unique<crypto::EcKey>();
  key->create(curve);
  key->setPublic(in);
  return key;
}

void MbedTlsCertificate::checkValidity() const {
  plat::TimeValue now = plat::getTime();
  if (now > notAfter) throw SslException(SslException::kExpired);
  if (now < notBefore) throw SslException(SslException::kNotYetValid);
}

std::vector<plat::CharArray> MbedTlsCertificate::ocspUrls() const {
  std::vector<plat::CharArray> out;
  static const char kInfoAccess[] = MBEDTLS_OID_PKIX "\x01\x01";
  ByteSpan ext = findExtension(crt_, kInfoAccess, sizeof(kInfoAccess) - 1);
  if (!ext.data) return out;
  static const char kOcsp[] = MBEDTLS_OID_PKIX "\x30\x01";
  unsigned char* p = const_cast<unsigned char*>(ext.data);
  const unsigned char* end = p + ext.len;
  size_t len = 0;
  int ret = mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  while (ret == 0 && p < end) {
    ret = mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
    if (ret != 0) break;
    const unsigned char* descEnd = p + len;
    ret = mbedtls_asn1_get_tag(&p, descEnd, &len, MBEDTLS_ASN1_OID);
    if (ret != 0) break;
    bool ocsp = len == sizeof(kOcsp) - 1 && std::memcmp(p, kOcsp, len) == 0;
    p += len;
    if (p < descEnd && *p == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 6)) {
      ret = mbedtls_asn1_get_tag(&p, descEnd, &len, MBEDTLS_ASN1_CONTEXT_SPECIFIC | 6);
      if (ret != 0) break;
      if (ocsp && hasPrefix(p, len, {"http://", "https://"})) {
        out.emplace_back(reinterpret_cast<const char*>(p), static_cast<int>(len));
      }
    }
    p = const_cast<unsigned char*>(descEnd);
  }
  if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
  return out;
}

std::vector<plat::CharArray> MbedTlsCertificate::crlDistributionUrls() const {
  std::vector<plat::CharArray> out;
  ByteSpan ext =
      findExtension(crt_, MBEDTLS_OID_CRL_DISTRIBUTION_POINTS, sizeof(MBEDTLS_OID_CRL_DISTRIBUTION_POINTS) - 1);
  if (!ext.data) return out;
  unsigned char* p = const_cast<unsigned char*>(ext.data);
  const unsigned char* end = p + ext.len;
  size_t len = 0;
  std::vector<const char*> reasons;
  auto seen = [&reasons](const char* reason) {
    if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) reasons.push_back(reason);
  };
  int ret = mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  while (ret == 0 && p < end) {
    ret = mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
    if (ret != 0) break;
    const unsigned char* pointEnd = p + len;
    std::vector<plat::CharArray> urls;
    bool usable = true;
    while (p < pointEnd) {
      unsigned char tag = *p;
      ret = mbedtls_asn1_get_tag(&p, pointEnd, &len, tag);
      if (ret != 0) break;
      const unsigned char* fieldEnd = p + len;
      if (tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 0)) {
        unsigned char nameTag = p < fieldEnd ? *p : 0;
        if (nameTag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 1)) {
          seen("nameRelativeToCRLIssuer given");
          usable = false;
        } else if (nameTag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 0)) {
          ret = mbedtls_asn1_get_tag(&p, fieldEnd, &len, nameTag);
          if (ret != 0) break;
          const unsigned char* namesEnd = p + len;
          while (p < namesEnd) {
            unsigned char nTag = *p;
            ret = mbedtls_asn1_get_tag(&p, namesEnd, &len, nTag);
            if (ret != 0) break;
            if (nTag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 6) &&
                hasPrefix(p, len, {"http://", "https://", "ldap://", "ldaps://"})) {
              urls.emplace_back(reinterpret_cast<const char*>(p), static_cast<int>(len));
            }
            p += len;
          }
          if (ret != 0) break;
        }
      } else if (tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | 1)) {
        seen("no CRL found with all reasons");
        usable = false;
      } else if (tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 2)) {
        seen("no CRL with matching issuer given");
        usable = false;
      }
      p = const_cast<unsigned char*>(fieldEnd);
    }
    if (ret != 0) break;
    if (usable && urls.empty()) seen("no URLs specifying the CRL given");
    if (usable) {
      for (plat::CharArray& u : urls) out.push_back(std::move(u));
    }
    p = const_cast<unsigned char*>(pointEnd);
  }
  if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
  if (out.empty()) {
    std::string detail;
    for (const char* r : reasons) detail += (detail.empty() ? "" : ", ") + std::string(r);
    throw SslException(SslException::kNoCrlEndpoint, detail.c_str());
  }
  return out;
}

uint32_t validityFlags(const mbedtls_x509_crt* crt) {
  const mbedtls_x509_time& a = crt->valid_from;
  const mbedtls_x509_time& b = crt->valid_to;
  plat::TimeValue now = plat::getTime();
  uint32_t flags = 0;
  if (plat::isValidDate(b.year, b.mon, b.day, b.hour, b.min, b.sec) &&
      now > plat::dateToTimeChecked(b.year, b.mon, b.day, b.hour, b.min, b.sec)) {
    flags |= MBEDTLS_X509_BADCERT_EXPIRED;
  }
  if (plat::isValidDate(a.year, a.mon, a.day, a.hour, a.min, a.sec) &&
      now < plat::dateToTimeChecked(a.year, a.mon, a.day, a.hour, a.min, a.sec)) {
    flags |= MBEDTLS_X509_BADCERT_FUTURE;
  }
  return flags;
}

plat::CharArray formatDistinguishedName(const mbedtls_x509_name* name) {
  std::vector<const mbedtls_x509_name*> list;
  for (; name; name = name->next) list.push_back(name);
  std::string out;
  bool first = true;
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    const mbedtls_x509_name* e = *it;
    if (!e->oid.p) continue;
    if (!first) out += e->next_merged ? '+' : ',';
    first = false;
    const char* shortName = nullptr;
    if (mbedtls_oid_get_attr_short_name(&e->oid, &shortName) == 0 && shortName) {
      out += shortName;
    } else {
      plat::CharArray dotted = dottedOid(e->oid);
      if (!dotted) throw plat::Exception("unsupported OID");
      out += dotted.c_str();
    }
    out += '=';
    const mbedtls_x509_buf& v = e->val;
    if (isTextType(v.tag) && !hasZero(v)) {
      const char* s = reinterpret_cast<const char*>(v.p);
      if (!plat::isValidUtf8(s, s + v.len)) throw plat::Exception("bad UTF-8 in certificate");
      for (size_t i = 0; i < v.len; i++) {
        char c = s[i];
        bool escape = std::strchr("\"+,;<>\\", c) != nullptr || (i == 0 && (c == ' ' || c == '#')) ||
                      (i + 1 == v.len && c == ' ');
        if (escape) out += '\\';
        out += c;
      }
    } else {
      static const char kHex[] = "0123456789abcdef";
      out += '#';
      for (size_t i = 0; i < v.len; i++) {
        out += kHex[v.p[i] >> 4];
        out += kHex[v.p[i] & 15];
      }
    }
  }
  return plat::CharArray(out.c_str());
}

MbedTlsPrivateKey::MbedTlsPrivateKey() { mbedtls_pk_init(&pk_); }

MbedTlsPrivateKey::~MbedTlsPrivateKey() { mbedtls_pk_free(&pk_); }

std::unique_ptr<crypto::RsaPrivateKey> MbedTlsPrivateKey::rsaPrivateKey() const {
  if (mbedtls_pk_get_type(&pk_) != MBEDTLS_PK_RSA) throw plat::Exception("Private key is not an RSA key");
  const mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk_);
  size_t bits = mbedtls_mpi_bitlen(&rsa->N);
  size_t byteLen = (bits + 7) / 8;
  size_t halfLen = ((bits + 1) / 2 + 7) / 8;
  plat::Buffer buf(static_cast<int>(4 + 3 * byteLen + 5 * halfLen), true);
  unsigned char* p = buf.data();
  putU32(static_cast<uint32_t>(bits), &p);
  for (const mbedtls_mpi* x : {&rsa->N, &rsa->E, &rsa->D}) putMpi(*x, byteLen, &p);
  for (const mbedtls_mpi* x : {&rsa->P, &rsa->Q, &rsa->DP, &rsa->DQ, &rsa->QP}) putMpi(*x, halfLen, &p);
  rdr::MemInStream in(buf.data(), buf.count());
  auto key = std::make_unique<crypto::RsaPrivateKey>();
  if (!key->read(in)) throw plat::Exception("Private key is not an RSA key");
  return key;
}

std::unique_ptr<crypto::EcKey> MbedTlsPrivateKey::ecPrivateKey() const {
  if (!isEc(pk_)) throw plat::Exception("Private key is not an ECDSA key");
  const mbedtls_ecp_keypair* ec = mbedtls_pk_ec(pk_);
  uint32_t curve = curveOf(ec->grp.id);
  size_t len = mbedtls_mpi_size(&ec->d);
  plat::Buffer buf(static_cast<int>(2 + len), true);
  buf[0] = static_cast<unsigned char>(len >> 8);
  buf[1] = static_cast<unsigned char>(len);
  PLAT_REQUIRE_TEXT(mbedtls_mpi_write_binary(&ec->d, buf.data() + 2, len) == 0, "!ret");
  rdr::MemInStream in(buf.data(), buf.count());
  auto key = std::make_unique<crypto::EcKey>();
  key->create(curve);
  key->setPrivate(in);
  return key;
}

plat::LinkedPtr<SslPrivateKey> MbedTlsPrivateKey::create(const char* pem, const char* password) {
  PLAT_REQUIRE_TEXT(pem, "pemData");
  std::unique_ptr<MbedTlsPrivateKey> key(new MbedTlsPrivateKey());
  // mbedtls wants the NUL counted in a PEM text's length; a password's NUL
  // is not part of the password and would change the derived key.
  int ret =
      mbedtls_pk_parse_key(&key->pk_, reinterpret_cast<const unsigned char*>(pem), std::strlen(pem) + 1,
                           reinterpret_cast<const unsigned char*>(password), password ? std::strlen(password) : 0);
  if (ret != 0) {
    if (ret == MBEDTLS_ERR_PK_PASSWORD_REQUIRED || ret == MBEDTLS_ERR_PK_PASSWORD_MISMATCH) {
      return plat::LinkedPtr<SslPrivateKey>();
    }
    throw SslException(SslException::kInvalidKey, ret);
  }
  mbedtls_pk_type_t type = mbedtls_pk_get_type(&key->pk_);
  key->keyType = type == MBEDTLS_PK_RSA                                   ? kKeyRsa
                 : (type == MBEDTLS_PK_ECKEY || type == MBEDTLS_PK_ECDSA) ? kKeyEc
                                                                          : kKeyOther;
  return plat::LinkedPtr<SslPrivateKey>(key.release());
}

}  // namespace ssl
