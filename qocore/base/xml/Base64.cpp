#include "qocore/base/xml/Base64.h"

#include <cstdint>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/xml/ErrorCode.h"

namespace xml {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kGroupsPerLine = 18;

bool isSkipped(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// 0..63 for a letter of the alphabet, 64 for "=", -1 otherwise.
int valueOf(char c) noexcept {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 64;
  return -1;
}

}  // namespace

int base64EncodedSize(int length, bool formatted) noexcept {
  if (length < 0) length = 0;
  // Counted in 64 bits: near the top of int's range the room exceeds it.
  const int64_t n = length;
  int64_t size = ((n - 1) / 3) * 4 + 5;
  if (formatted) size += n / 54;
  return size > INT32_MAX ? -1 : static_cast<int>(size);
}

plat::CharArray base64Encode(const unsigned char* data, int length, bool formatted) {
  if (!data || length < 0) length = 0;
  const int size = base64EncodedSize(length, formatted);
  if (size < 0) throw plat::Exception("base64Encode: data too long (%d bytes)", length);
  plat::CharArray out = plat::CharArray::zeroed(static_cast<size_t>(size));
  char* o = out.get();
  int groups = 0;
  for (int i = 0; i < length; i += 3) {
    // Line feeds go between lines only: the reserved size has no room for
    // one after the last group.
    if (formatted && groups == kGroupsPerLine) {
      *o++ = '\n';
      groups = 0;
    }
    ++groups;
    const int n = length - i < 3 ? length - i : 3;
    uint32_t v = static_cast<uint32_t>(data[i]) << 16;
    if (n > 1) v |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (n > 2) v |= data[i + 2];
    *o++ = kAlphabet[(v >> 18) & 63];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    *o++ = n > 2 ? kAlphabet[v & 63] : '=';
  }
  *o = '\0';
  return out;
}

int base64DecodedSize(const char* text, int* error) noexcept {
  int err = kNoError;
  int chars = 0;
  int padding = 0;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (isSkipped(*p)) continue;
    const int v = valueOf(*p);
    if (v < 0) {
      err = kBase64IllegalChar;
      break;
    }
    ++chars;
    padding = v == 64 ? padding + 1 : 0;
  }
  if (!err && chars % 4) err = kBase64BadLength;
  if (error) *error = err;
  if (padding > 2) padding = 2;
  return chars / 4 * 3 - (chars >= 4 && chars % 4 == 0 ? padding : 0);
}

int base64Decode(const char* text, unsigned char* out, int outSize, int* written) noexcept {
  int size = 0;
  int err = kNoError;
  int group[4];
  int n = 0;
  bool ended = false;  // a group with padding was complete
  for (const char* p = text ? text : ""; *p && !err; ++p) {
    if (isSkipped(*p)) continue;
    const int v = valueOf(*p);
    if (v < 0) {
      err = kBase64IllegalChar;
      break;
    }
    if (ended) {
      err = kBase64Truncated;
      break;
    }
    group[n++] = v;
    if (n < 4) continue;
    n = 0;
    // Padding may only fill the last one or two places of a group.
    int data = 4;
    while (data > 0 && group[data - 1] == 64) --data;
    bool padInside = false;
    for (int i = 0; i < data; ++i) padInside = padInside || group[i] == 64;
    if (padInside || data < 2) {
      err = kBase64Truncated;
      break;
    }
    const uint32_t v24 = (static_cast<uint32_t>(group[0]) << 18) | (static_cast<uint32_t>(group[1]) << 12) |
                         (static_cast<uint32_t>(data > 2 ? group[2] : 0) << 6) |
                         static_cast<uint32_t>(data > 3 ? group[3] : 0);
    const int bytes = data - 1;
    if (size + bytes > outSize) {
      err = kBase64OutputTooSmall;
      break;
    }
    out[size++] = static_cast<unsigned char>(v24 >> 16);
    if (bytes > 1) out[size++] = static_cast<unsigned char>(v24 >> 8);
    if (bytes > 2) out[size++] = static_cast<unsigned char>(v24);
    ended = data < 4;
  }
  if (!err && n != 0) err = kBase64BadLength;
  if (written) *written = size;
  return err;
}

}  // namespace xml
