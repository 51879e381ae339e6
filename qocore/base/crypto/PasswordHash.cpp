#include "qocore/base/crypto/PasswordHash.h"

#include <atomic>
#include <cstring>

#include "qocore/base/crypto/Pbkdf2.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace crypto {

plat::IntParameter passwordHashRounds("PasswordHashRounds",
                                      "Number of rounds to use when generating hashes for new passwords", 20000, 1000,
                                      static_cast<int>(kPasswordHashMaxRounds));

namespace {

constexpr char kTag[3] = {'P', '2', 'a'};
constexpr int kSaltLen = 16;
constexpr int kKeyLen = 64;
constexpr uint32_t kDigestBits = 512;

plat::Buffer realDerive(const char* password, const plat::Buffer& salt, uint32_t rounds) {
  Pbkdf2 pbkdf2(password, salt, rounds, kKeyLen, kDigestBits);
  return pbkdf2.derivedKey();
}

constinit std::atomic<PasswordHashDeriveFn> deriveFn{&realDerive};

}  // namespace

PasswordHashDeriveFn setPasswordHashDerive(PasswordHashDeriveFn derive) noexcept {
  return deriveFn.exchange(derive ? derive : &realDerive);
}

plat::Buffer makePasswordHash(const char* password, int32_t rounds) {
  if (!password) return plat::Buffer(0, true);
  plat::Buffer salt(0, true);
  {
    RandomStream random;
    plat::Buffer drawn(random, kSaltLen, true);
    salt = std::move(drawn);
  }
  uint32_t count = rounds >= 1 ? static_cast<uint32_t>(rounds) : static_cast<uint32_t>(passwordHashRounds.getValue());
  if (count > kPasswordHashMaxRounds) count = kPasswordHashMaxRounds;
  plat::Buffer key = deriveFn.load()(password, salt, count);
  PLAT_ASSERT(key.count() == kKeyLen);

  // Sized for the whole record, so the stream never reallocates and leaves
  // no copy of the salt and key behind.
  rdr::MemOutStream out(kPasswordHashRecordSize);
  out.writeBytes(kTag, sizeof kTag);
  out.writeU32(count);
  out.writeBytes(salt.data(), salt.count());
  out.writeBytes(key.data(), key.count());
  plat::Buffer record(0, true);
  out.moveToBuffer(record);
  return record;
}

bool verifyPasswordHashRecord(const char* password, size_t len, const unsigned char* record) {
  if (!password || !record || len != kPasswordHashRecordSize) return false;
  rdr::MemInStream in(record, static_cast<int32_t>(len));
  char tag[sizeof kTag];
  in.readBytes(tag, sizeof tag);
  if (std::memcmp(tag, kTag, sizeof kTag) != 0) return false;
  const uint32_t rounds = in.readU32();
  if (rounds < 1 || rounds > kPasswordHashMaxRounds) return false;
  plat::Buffer salt(in, kSaltLen, true);
  plat::Buffer stored(in, kKeyLen, true);
  plat::Buffer key = deriveFn.load()(password, salt, rounds);
  return key.count() == stored.count() &&
         plat::constTimeEquals(key.data(), stored.data(), static_cast<size_t>(stored.count()));
}

bool isPasswordHash(size_t len, const unsigned char* data) noexcept {
  return len == kPasswordHashRecordSize && data && std::memcmp(data, kTag, sizeof kTag) == 0;
}

}  // namespace crypto
