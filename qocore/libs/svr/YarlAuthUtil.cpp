#include "qocore/libs/svr/YarlAuthUtil.h"

#include <cstring>
#include <utility>

#include "qocore/base/crypto/PasswordHash.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ObfPasswd.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"

namespace svr {

namespace {

PLAT_LOG_SOURCE(vlog, "YarlAuthUtil");

bool isHashRecord(const plat::Buffer& stored) noexcept { return crypto::isPasswordHash(stored.count(), stored.data()); }

const char* userName(const char* user) noexcept { return user && *user ? user : "default"; }

void logGetFailure(const char* user, const plat::Exception& e) {
  char text[plat::Exception::kMsgSize];
  e.format(text);
  vlog().debug("Error getting password for %s user: %s", userName(user), text);
}

// The password of an obfuscated value (null for an empty value), in a
// wiped-on-free copy of the value; the caller wipes the result.
plat::CharArray decodeObfuscated(const plat::Buffer& stored) {
  const plat::MBuf<char> form(reinterpret_cast<const char*>(stored.data()), stored.count(), true);
  return plat::readObfPasswd(form);
}

}  // namespace

plat::Buffer encodePassword(const char* text, bool obfuscate) {
  if (!obfuscate) return crypto::makePasswordHash(text, 0);
  plat::MBuf<char> form(0, true);
  plat::writeObfPasswd(form, text);
  return plat::Buffer(reinterpret_cast<const unsigned char*>(form.data()), form.count(), true);
}

plat::CharArray encodePasswordParam(const char* text, bool obfuscate) {
  const plat::Buffer stored = encodePassword(text, obfuscate);
  return plat::binToHex(stored.count(), stored.data());
}

bool hasPassword(const plat::Buffer& stored) {
  if (isHashRecord(stored)) return true;
  try {
    plat::CharArray password = decodeObfuscated(stored);
    plat::ScopeExit wipe([&password] { plat::secureFreeStr(password); });
    return password && *password.get();
  } catch (const plat::Exception&) {
    // A value that does not decode holds no password; nothing to report.
    return false;
  }
}

plat::CharArray getPassword(const plat::Buffer& stored, const char* user, bool log) {
  try {
    if (isHashRecord(stored)) throw plat::Exception("YarlAuth sectype not supported with salted hash");
    plat::CharArray password = decodeObfuscated(stored);
    return password ? std::move(password) : plat::CharArray("");
  } catch (const plat::Exception& e) {
    if (log) logGetFailure(user, e);
    return plat::CharArray("");
  }
}

bool checkPassword(const char* candidate, const plat::Buffer& stored, const char* user) {
  try {
    if (isHashRecord(stored)) return crypto::verifyPasswordHashRecord(candidate, stored.count(), stored.data());
    plat::CharArray password = decodeObfuscated(stored);
    plat::ScopeExit wipe([&password] { plat::secureFreeStr(password); });
    if (password && *password.get()) {
      // The lengths first: the comparison itself takes one length.
      const size_t length = std::strlen(password.get());
      return candidate && std::strlen(candidate) == length && plat::constTimeEquals(password.get(), candidate, length);
    }
  } catch (const plat::Exception& e) {
    logGetFailure(user, e);
  }
  vlog().error("No password configured for %s user", userName(user));
  return false;
}

}  // namespace svr
