#include "libs/hosted/PackageWriter.h"

#include <cstring>

#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/rdr/FileOutStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace hosted {

void PackageWriter::addSection(const char* packageName, const void* data, int32_t count) {
  PLAT_ASSERT(packageName);
  sections_.insert_or_assign(plat::CharArray(packageName),
                             plat::Buffer(static_cast<const unsigned char*>(data), count));
}

void PackageWriter::write(rdr::OutStream& out) const {
  // Header, then each section's lengths, name and data, then the trailer.
  int64_t total = 8 + 12;
  for (const auto& [name, data] : sections_) total += 8 + int64_t(std::strlen(name.c_str())) + data.count();
  if (total > UINT32_MAX) throw PackageException("Package is too large");
  const uint32_t length = static_cast<uint32_t>(total);
  static constexpr uint8_t kStart[4] = {0x2E, 0xBE, 0xDE, 0xE0};
  static constexpr uint8_t kEnd[4] = {0xF1, 0x04, 0xEA, 0xCE};
  out.writeBytes(kStart, 4);
  out.writeU32(length);
  for (const auto& [name, data] : sections_) {
    out.writeString32(name.get());
    out.writeU32(static_cast<uint32_t>(data.count()));
    out.writeBytes(data.data(), data.count());
  }
  out.writeU32(0);
  out.writeU32(length);
  out.writeBytes(kEnd, 4);
  out.flush();
}

void PackageWriter::writeFile(const char* path) const {
  plat::FilePtr file;
  file.open(path, plat::FilePtr::kWrite);
  {
    rdr::FileOutStream out(file.get(), false);
    write(out);
  }
  file.close();
}

}  // namespace hosted
