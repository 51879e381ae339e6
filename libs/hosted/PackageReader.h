#pragma once
// Section packages: a small container of named byte strings with a header
// and a trailer that let it be found even when it is appended to another
// file.  All numbers are 32-bit big-endian:
//
//   2E BE DE E0, T (the whole length), then per section: name length N
//   (1..63), the name, data length D, the data; then 0, T again and
//   F1 04 EA CE.
//
// Sections are kept in byte order of their names.  The section
// "zzz.package.signature" signs the others (getSignedContent); nothing here
// creates or checks signatures.

#include <cstdint>
#include <map>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"

namespace rdr {
class InStream;
}

namespace hosted {

// A malformed package or a missing section; type name "PackageException".
class PackageException : public plat::Exception {
 public:
  explicit PackageException(const char* message) noexcept;
  template <typename... Args>
  requires(sizeof...(Args) > 0) PackageException(const char* format, Args... args)
  noexcept : PackageException(nullptr) { formatMessage(format, args...); }
};

// The name of the section that signs the others.
inline constexpr const char* kPackageSignatureSection = "zzz.package.signature";

using PackageSections = std::map<plat::CharArray, plat::Buffer, plat::StrLess>;

class PackageReader {
 public:
  // Finds the package in the file (at its end, else anywhere in it) and
  // reads its sections.  "Package is too small" below 20 bytes, "Malformed
  // package file" when no package is found.
  explicit PackageReader(const char* path);
  // The package at the start of the buffer; its first 8 bytes are not
  // checked and the trailer is not read.
  PackageReader(int32_t count, const void* data);

  // The section's data; "<name> package does not exist" when absent.
  const plat::Buffer& getSection(const char* name) const;
  const PackageSections& sections() const noexcept { return sections_; }

  // Every section but the signature, in name order: name length, name,
  // data length, data.
  plat::Buffer getSignedContent() const;
  // SHA-1 over every section in name order (the signature included): name
  // bytes, then data bytes.
  plat::Buffer digest() const;

 private:
  // Reads sections until a zero name length.  No read goes past
  // `available` bytes: a section that claims more fails as a short read
  // (rdr::EndOfStream) before its buffer is made.
  void readSections(rdr::InStream& in, int64_t available);

  PackageSections sections_;
};

}  // namespace hosted
