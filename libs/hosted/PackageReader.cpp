#include "libs/hosted/PackageReader.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/crypto/Sha.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/rdr/FileInStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace hosted {

namespace {

constexpr uint8_t kStartMarker[4] = {0x2E, 0xBE, 0xDE, 0xE0};
constexpr uint8_t kEndMarker[4] = {0xF1, 0x04, 0xEA, 0xCE};
// Header (marker, length) and trailer (zero name length, length, marker).
constexpr int64_t kHeaderSize = 8;
constexpr int64_t kMinPackage = 20;
constexpr uint32_t kMaxNameLength = 63;
// The scan reads windows of this size, each starting this far after the
// last, so a marker across a window boundary lies whole in the next one.
constexpr int64_t kWindow = 1024;
constexpr int64_t kWindowStep = 1020;

uint32_t bigEndian32(const uint8_t* p) noexcept {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void readAt(FILE* fp, int64_t offset, void* buf, int n) {
  plat::fileSeek(fp, offset, SEEK_SET);
  for (int done = 0; done < n;) done += plat::fileRead(fp, static_cast<char*>(buf) + done, n - done);
}

// Whether a whole package starts at `offset` with `available` bytes from
// there to the end of the file; its length when it does.
bool packageAt(FILE* fp, int64_t offset, int64_t available, int64_t* length) {
  if (available < kMinPackage) return false;
  uint8_t head[8];
  readAt(fp, offset, head, 8);
  const int64_t total = bigEndian32(head + 4);
  if (total < kMinPackage || total > available || std::memcmp(head, kStartMarker, 4) != 0) return false;
  uint8_t tail[8];
  readAt(fp, offset + total - 8, tail, 8);
  if (bigEndian32(tail) != total || std::memcmp(tail + 4, kEndMarker, 4) != 0) return false;
  *length = total;
  return true;
}

// Finds the package in a file of `size` bytes: at the end (a package
// appended to another file), else by scanning for its start marker.
// Answers the package's offset and length.
void locatePackage(FILE* fp, int64_t size, int64_t* offset, int64_t* length) {
  if (size < kMinPackage) throw PackageException("Package is too small");
  uint8_t tail[8];
  readAt(fp, size - 8, tail, 8);
  const int64_t total = bigEndian32(tail);
  if (std::memcmp(tail + 4, kEndMarker, 4) == 0 && total <= size && packageAt(fp, size - total, total, length)) {
    *offset = size - total;
    return;
  }
  uint8_t window[kWindow];
  for (int64_t w = 0; w < size; w += kWindowStep) {
    const int64_t n = std::min(size - w, kWindow);
    if (n < kMinPackage) break;
    readAt(fp, w, window, static_cast<int>(n));
    for (int64_t i = 0; i + 4 <= n; ++i) {
      if (std::memcmp(window + i, kStartMarker, 4) == 0 && packageAt(fp, w + i, size - (w + i), length)) {
        *offset = w + i;
        return;
      }
    }
  }
  throw PackageException("Malformed package file");
}

}  // namespace

PackageException::PackageException(const char* message) noexcept : plat::Exception(message) {
  setType("PackageException");
}

PackageReader::PackageReader(const char* path) {
  plat::FilePtr file;
  file.open(path, plat::FilePtr::kRead);
  const int64_t size = plat::fileGetSizeFp(file.get());
  int64_t offset = 0, length = 0;
  locatePackage(file.get(), size, &offset, &length);
  plat::fileSeek(file.get(), offset + kHeaderSize, SEEK_SET);
  rdr::FileInStream in(file.get(), false);
  // The sections and their end mark lie between the header and the
  // trailer's length field.
  readSections(in, length - kHeaderSize - 8);
}

PackageReader::PackageReader(int32_t count, const void* data) {
  rdr::MemInStream in(data, count);
  in.skip(static_cast<int32_t>(kHeaderSize));
  readSections(in, int64_t(count) - kHeaderSize);
}

void PackageReader::readSections(rdr::InStream& in, int64_t available) {
  auto take = [&available](int64_t n) {
    if (n > available) throw rdr::EndOfStream();
    available -= n;
  };
  for (;;) {
    take(4);
    const uint32_t nameLength = in.readU32();
    if (nameLength == 0) return;
    if (nameLength > kMaxNameLength) throw PackageException("Invalid Section Name");
    take(nameLength);
    char name[kMaxNameLength + 1] = {};
    in.readBytes(name, static_cast<int32_t>(nameLength));
    if (std::strlen(name) != nameLength) throw PackageException("Invalid Section Name");
    if (sections_.count(name)) throw PackageException("Duplicate section (%s) found in package", name);
    take(4);
    const uint32_t dataLength = in.readU32();
    take(dataLength);
    // Only a file package can hold a section past what a buffer counts.
    if (dataLength > INT32_MAX) throw PackageException("Malformed package file");
    plat::Buffer data(in, static_cast<int>(dataLength));
    sections_.emplace(plat::CharArray(name), std::move(data));
  }
}

const plat::Buffer& PackageReader::getSection(const char* name) const {
  auto it = sections_.find(name);
  if (it == sections_.end()) throw PackageException("%s package does not exist", name ? name : "(null)");
  return it->second;
}

plat::Buffer PackageReader::getSignedContent() const {
  rdr::MemOutStream out;
  for (const auto& [name, data] : sections_) {
    if (std::strcmp(name.c_str(), kPackageSignatureSection) == 0) continue;
    out.writeString32(name.get());
    out.writeU32(static_cast<uint32_t>(data.count()));
    out.writeBytes(data.data(), data.count());
  }
  return out.takeBuffer();
}

plat::Buffer PackageReader::digest() const {
  crypto::Sha sha(160, true);
  for (const auto& [name, data] : sections_) {
    sha.update(std::strlen(name.c_str()), name.c_str());
    sha.update(static_cast<size_t>(data.count()), data.data());
  }
  plat::Buffer out(20);
  sha.final(out.data(), static_cast<size_t>(out.count()));
  return out;
}

}  // namespace hosted
