#include "qocore/base/plat/Encodings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"

namespace plat {

namespace {

constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kBase64Standard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64UrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Value of each byte in either Base64 alphabet, or -1.
struct Base64Values {
  signed char value[256];
  constexpr Base64Values() : value() {
    for (signed char& v : value) v = -1;
    for (int i = 0; i < 64; ++i) {
      value[static_cast<unsigned char>(kBase64Standard[i])] = static_cast<signed char>(i);
      value[static_cast<unsigned char>(kBase64UrlSafe[i])] = static_cast<signed char>(i);
    }
  }
};
constexpr Base64Values kBase64Values;

// 1626 squared: the weight of a group's third word.
constexpr uint32_t kWordSquare = uint32_t(kMainWords) * kMainWords;

int64_t wordCount(int length) { return length > 0 ? (3 * int64_t(length) + 3) / 4 : 0; }

void setVersionBits(unsigned char* out) noexcept {
  out[6] = static_cast<unsigned char>((out[6] & 0x0F) | 0x40);
  out[8] = static_cast<unsigned char>((out[8] & 0x3F) | 0x80);
}

}  // namespace

// ---- Base64 ----

CharArray base64Encode(const void* bytes, int length, bool urlSafe) {
  const char* alphabet = urlSafe ? kBase64UrlSafe : kBase64Standard;
  const auto* in = static_cast<const unsigned char*>(bytes);
  size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  CharArray text = CharArray::zeroed((n + 2) / 3 * 4 + 1);
  size_t o = 0;
  for (size_t i = 0; i < n; i += 3) {
    size_t left = n - i;
    uint32_t group = uint32_t(in[i]) << 16;
    if (left > 1) group |= uint32_t(in[i + 1]) << 8;
    if (left > 2) group |= in[i + 2];
    text[o++] = alphabet[group >> 18];
    text[o++] = alphabet[(group >> 12) & 0x3F];
    if (left > 1) {
      text[o++] = alphabet[(group >> 6) & 0x3F];
    } else if (!urlSafe) {
      text[o++] = '=';
    }
    if (left > 2) {
      text[o++] = alphabet[group & 0x3F];
    } else if (!urlSafe) {
      text[o++] = '=';
    }
  }
  return text;
}

bool base64Decode(const char* text, MBuf<unsigned char>& out) {
  if (!text) return false;
  size_t len = std::strlen(text);
  if (len % 4 == 1) return false;
  if (len / 4 >= INT_MAX / 3) return false;  // more than a buffer can count
  // Decoded aside, so a refusal leaves the caller's buffer untouched.
  MBuf<unsigned char> bytes(static_cast<int>((len + 3) / 4 * 3), out.secure());
  int n = 0;
  uint32_t acc = 0;
  int inGroup = 0;
  for (size_t i = 0; i < len; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '=') {
      // Padding ends the text: "==" in a group's last two places or "=" in
      // its last place.
      bool ok = inGroup == 2 ? (i + 2 == len && text[i + 1] == '=') : (inGroup == 3 && i + 1 == len);
      if (!ok) return false;
      break;
    }
    int v = kBase64Values.value[c];
    if (v < 0) return false;
    acc = acc << 6 | static_cast<uint32_t>(v);
    if (++inGroup == 4) {
      bytes[n++] = static_cast<unsigned char>(acc >> 16);
      bytes[n++] = static_cast<unsigned char>(acc >> 8);
      bytes[n++] = static_cast<unsigned char>(acc);
      acc = 0;
      inGroup = 0;
    }
  }
  // A group of one character cannot occur: such lengths and "=" positions
  // were refused above.
  if (inGroup == 2) {
    bytes[n++] = static_cast<unsigned char>(acc >> 4);
  } else if (inGroup == 3) {
    bytes[n++] = static_cast<unsigned char>(acc >> 10);
    bytes[n++] = static_cast<unsigned char>(acc >> 2);
  }
  bytes.resize(n);
  out = std::move(bytes);
  return true;
}

// ---- Hexadecimal ----

char hexDigit(int i) {
  // Thrown rather than fatal: a caller's bad nibble is its own failure.
  PLAT_REQUIRE_TEXT(i >= 0 && i <= 15, "i >= 0 && i <= 15");
  return kLowerHex[i];
}

CharArray binToHex(int length, const void* bytes) {
  const auto* in = static_cast<const unsigned char*>(bytes);
  size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  CharArray text = CharArray::zeroed(2 * n + 1);
  for (size_t i = 0; i < n; ++i) {
    text[2 * i] = kLowerHex[in[i] >> 4];
    text[2 * i + 1] = kLowerHex[in[i] & 0x0F];
  }
  return text;
}

bool hexDigitValue(char c, uint64_t* accumulator) noexcept {
  const int digit = hexNibble(c);
  if (digit < 0) return false;
  *accumulator = *accumulator * 16 + static_cast<unsigned>(digit);
  return true;
}

bool hexToBuffer(const char* text, MBuf<unsigned char>& out) {
  if (!text) return false;
  size_t len = std::strlen(text);
  if (len % 2 != 0) return false;
  if (len / 2 > static_cast<size_t>(INT_MAX)) return false;  // more than a buffer can count
  // Decoded aside, so a bad digit leaves the caller's buffer untouched.
  MBuf<unsigned char> bytes(static_cast<int>(len / 2));
  for (size_t i = 0; i < len; i += 2) {
    uint64_t byte = 0;
    if (!hexDigitValue(text[i], &byte) || !hexDigitValue(text[i + 1], &byte)) return false;
    bytes[static_cast<int>(i / 2)] = static_cast<unsigned char>(byte);
  }
  out = std::move(bytes);
  return true;
}

bool hexDecodeInto(const char* text, int n, unsigned char* out) {
  for (int i = 0; i < n; ++i) {
    uint64_t byte = 0;
    // A NUL is no digit, so a short text stops here before reading past it.
    if (!text || !hexDigitValue(text[2 * i], &byte) || !hexDigitValue(text[2 * i + 1], &byte)) return false;
    out[i] = static_cast<unsigned char>(byte);
  }
  return true;
}

MBuf<unsigned char> hexToBin(const char* text) {
  MBuf<unsigned char> bytes;
  if (!hexToBuffer(text, bytes)) throw Exception("Bad hex string");
  return bytes;
}

void hexDump(const MBuf<unsigned char>& buffer, const char* firstPrefix, const char* nextPrefix) {
  const int count = buffer.count();
  for (int start = 0; start < count; start += 16) {
    // Each line is written whole so that other threads' output cannot
    // split it.
    DString line(128);
    const char* prefix = start == 0 ? firstPrefix : nextPrefix;
    if (prefix) {
      line.append(prefix);
    } else {
      line.appendf("%04x ", start);
    }
    char column[17] = {};
    for (int j = 0; j < 16; ++j) {
      if (start + j < count) {
        unsigned char b = buffer[start + j];
        line.appendf("%02x ", b);
        column[j] = b >= 32 && b <= 126 ? static_cast<char>(b) : '.';
      } else {
        line.append("   ");
      }
      if (j % 4 == 3) line.append(" ");
    }
    line.appendf("%s\n", column);
    std::fputs(line.c_str(), stderr);
  }
  std::fflush(stderr);
}

// ---- Words ----

const char* wordAt(const void* bytes, int length, int index) {
  if (!bytes || index < 0 || index >= wordCount(length)) return kWordTable[0];
  const auto* in = static_cast<const unsigned char*>(bytes);
  const int start = index / 3 * 4;
  const int size = std::min(4, length - start);
  uint32_t value = 0;
  for (int k = size - 1; k >= 0; --k) value = value << 8 | in[start + k];
  switch (index % 3) {
    case 0:
      return kWordTable[value % kMainWords + 1];
    case 1:
      return kWordTable[value / kMainWords % kMainWords + 1];
    default:
      // Three bytes end on a marker word, so that they never read like the
      // first three words of four bytes.
      return kWordTable[value / kWordSquare % kMainWords + (size == 3 ? kMainWords + 1 : 1)];
  }
}

CharArrayList wordEncode(const void* bytes, int length) {
  CharArrayList words;
  if (!bytes) return words;
  const int64_t count = wordCount(length);
  words.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) words.emplace_back(wordAt(bytes, length, static_cast<int>(i)));
  return words;
}

// ---- UUIDs ----

void makeUuid(unsigned char* out) {
  crypto::RandomStream random;
  random.readBytes(out, 16);
  setVersionBits(out);
}

void setUuidBits(unsigned char* out, const MBuf<unsigned char>& bytes) {
  const int n = std::min(16, bytes.count());
  if (n > 0) std::memcpy(out, bytes.data(), static_cast<size_t>(n));
  std::memset(out + n, 0, static_cast<size_t>(16 - n));
  setVersionBits(out);
}

}  // namespace plat
