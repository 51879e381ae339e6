#pragma once
// Writes section packages (the layout is in PackageReader.h).

#include <cstdint>

#include "libs/hosted/PackageReader.h"

namespace rdr {
class OutStream;
}

namespace hosted {

class PackageWriter {
 public:
  // Stores a copy of the data under a copy of the name, replacing a section
  // of that name.  Names are the callers' fixed texts of 1 to 63 bytes.
  void addSection(const char* packageName, const void* data, int32_t count);
  void addSection(const char* packageName, const plat::Buffer& data) {
    addSection(packageName, data.data(), data.count());
  }
  const PackageSections& sections() const noexcept { return sections_; }

  // Writes the package and flushes the stream.
  void write(rdr::OutStream& out) const;
  // Writes the package to a new file.
  void writeFile(const char* path) const;

 private:
  PackageSections sections_;
};

}  // namespace hosted
