#pragma once
// JSON web tokens in compact form (RFC 7519 over RFC 7515): header,
// payload and signature, each Base64url, separated by ".".  Tokens are only
// read and verified here; nothing creates or signs them.
//
// crypto::Jwt keeps the three parts as they appear in the token (not
// decoded), each null when absent.  crypto::JwtRS256 verifies an RS256
// signature (RSASSA-PKCS1-v1_5 with SHA-256).  The header is never examined:
// its algorithm member is not trusted to choose the check.

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/JsonValue.h"

namespace crypto {

class RsaPublicKey;

class Jwt {
 public:
  Jwt() noexcept = default;
  virtual ~Jwt();
  Jwt(const Jwt&) = delete;
  Jwt& operator=(const Jwt&) = delete;

  // Splits the token at "."; the signature also ends at a line feed or a
  // carriage return, so a token followed by a line break reads the same.
  // A missing piece leaves its part null.
  void setToken(const char* token);

  // All three parts present and each decodes as Base64 (either alphabet,
  // padding optional).
  bool isWellFormed() const;
  // The payload decoded and parsed as JSON; an empty reference when it is
  // absent, does not decode or is not JSON.
  plat::JsonRef payload() const;

  const char* header() const noexcept { return header_.get(); }
  const char* payloadText() const noexcept { return payload_.get(); }
  const char* signature() const noexcept { return signature_.get(); }

 protected:
  plat::CharArray header_;
  plat::CharArray payload_;
  plat::CharArray signature_;
};

class JwtRS256 : public Jwt {
 public:
  explicit JwtRS256(const char* token);
  ~JwtRS256() override;

  // True when the header and payload as received carry key's RS256
  // signature; every failure is false.
  bool verify(RsaPublicKey& key) const;
};

}  // namespace crypto
