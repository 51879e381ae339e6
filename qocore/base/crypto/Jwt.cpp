#include "qocore/base/crypto/Jwt.h"

#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Json.h"
#include "qocore/base/plat/Strings.h"

namespace crypto {

namespace {

// Replaces part by a copy of piece unless it already holds that text.
void setPart(plat::CharArray& part, const char* piece) {
  if (!piece) {
    part = plat::CharArray();
    return;
  }
  if (part.get() && plat::strCompare(part.get(), piece) == 0) return;
  part = plat::CharArray(piece);
}

[[nodiscard]] bool decodes(const char* text, plat::Buffer& out) {
  try {
    return plat::base64Decode(text, out);
  } catch (const plat::Exception&) {
    return false;
  }
}

}  // namespace

Jwt::~Jwt() = default;

void Jwt::setToken(const char* token) {
  plat::CharArray copy(token ? token : "");
  char* cursor = copy.get();
  const char* header = plat::strNextToken(&cursor, '.', true);
  const char* payload = plat::strNextToken(&cursor, '.', true);
  char which = 0;
  const char* signature = plat::strNextTokenAny(&cursor, ".\n\r", &which, true);
  setPart(header_, header);
  setPart(payload_, payload);
  setPart(signature_, signature);
}

bool Jwt::isWellFormed() const {
  if (!header_.get() || !payload_.get() || !signature_.get()) return false;
  plat::Buffer scratch;
  return decodes(header_.get(), scratch) && decodes(payload_.get(), scratch) && decodes(signature_.get(), scratch);
}

plat::JsonRef Jwt::payload() const {
  plat::Buffer bytes;
  if (!payload_.get() || !decodes(payload_.get(), bytes)) return plat::JsonRef();
  try {
    plat::JsonReader reader(bytes.data(), bytes.count());
    return plat::Json::parseHttpBody(nullptr, reader);
  } catch (const plat::Exception&) {
    return plat::JsonRef();
  }
}

JwtRS256::JwtRS256(const char* token) { setToken(token); }

JwtRS256::~JwtRS256() = default;

bool JwtRS256::verify(RsaPublicKey& key) const {
  if (!header_.get() || !payload_.get() || !signature_.get()) return false;
  const plat::CharArray signingInput = plat::DString::format("%s.%s", header_.get(), payload_.get());
  plat::Buffer signature;
  if (!decodes(signature_.get(), signature)) return false;
  try {
    key.verifyPkcs1v15(static_cast<size_t>(signature.count()), signature.data(),
                       static_cast<size_t>(plat::strLen(signingInput.get())), signingInput.get(), 256);
    return true;
  } catch (const plat::Exception&) {
    return false;
  }
}

}  // namespace crypto
