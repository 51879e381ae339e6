#include "qocore/base/plat/ObfPasswd.h"

#include <climits>
#include <cstring>

#include "qocore/base/crypto/Des.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace plat {

namespace {

// Stored forms are readable only by a build with this same key.
constexpr uint8_t kObfKey[crypto::Des::kKeySize] = {0x4D, 0xBE, 0xA9, 0x45, 0x48, 0x7E, 0x0A, 0x69};

constexpr char kUtf8Marker[] = "UTF8";
constexpr int kMarkerSize = 4;
constexpr int kMaxStreamForm = 512;
constexpr char kTooLong[] = "writeObfPasswd: password too long";

}  // namespace

void writeObfPasswd(MBuf<char>& out, const char* password) {
  out.release();
  if (!password) return;

  const size_t len = std::strlen(password);
  const size_t blocks = len > 0 ? (len + 7) / 8 : 1;
  // The form's size is counted in an int: a longer password is refused
  // rather than cut.
  if (blocks > (static_cast<size_t>(INT_MAX) - kMarkerSize) / crypto::Des::kBlockSize) throw Exception(kTooLong);
  const int cipherLen = static_cast<int>(blocks * crypto::Des::kBlockSize);
  bool nonAscii = false;
  for (size_t i = 0; i < len; ++i) nonAscii |= static_cast<unsigned char>(password[i]) >= 0x80;

  // A fresh zeroed block: the padding is already in place.
  out.resize(cipherLen + (nonAscii ? kMarkerSize : 0));
  std::memcpy(out.data(), password, len);

  crypto::Des::Schedule schedule;
  crypto::Des::setEncryptKey(schedule, kObfKey);
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  for (int at = 0; at < cipherLen; at += crypto::Des::kBlockSize)
    crypto::Des::processBlock(schedule, bytes + at, bytes + at);
  if (nonAscii) std::memcpy(out.data() + cipherLen, kUtf8Marker, kMarkerSize);
}

CharArray readObfPasswd(const MBuf<char>& obfuscated) {
  int len = obfuscated.count();
  if (len == 0) return CharArray();
  if (len % 8 == kMarkerSize && std::memcmp(obfuscated.data() + len - kMarkerSize, kUtf8Marker, kMarkerSize) == 0)
    len -= kMarkerSize;
  if (len % crypto::Des::kBlockSize != 0) throw Exception("bad obfuscated password length");

  // One byte more than the blocks: the NUL after a password that fills its
  // last block.
  CharArray clear = CharArray::zeroed(len + 1);
  crypto::Des::Schedule schedule;
  crypto::Des::setDecryptKey(schedule, kObfKey);
  const auto* in = reinterpret_cast<const uint8_t*>(obfuscated.data());
  auto* outBytes = reinterpret_cast<uint8_t*>(clear.get());
  for (int at = 0; at < len; at += crypto::Des::kBlockSize) crypto::Des::processBlock(schedule, in + at, outBytes + at);
  return clear;
}

void writeObfPasswd(rdr::OutStream& os, const char* password) {
  MBuf<char> form(0, true);
  writeObfPasswd(form, password);
  if (form.count() > kMaxStreamForm) throw Exception(kTooLong);
  os.writeU16(static_cast<uint16_t>(form.count()));
  os.writeBytes(form.data(), form.count());
}

CharArray readObfPasswd(rdr::InStream& is) {
  int len = is.readU16();
  if (len > kMaxStreamForm) throw Exception("readObfPasswd: password too long");
  MBuf<char> form(len, true);
  is.readBytes(form.data(), len);
  return readObfPasswd(form);
}

}  // namespace plat
