// The section package reader, over memory and over a file that holds the
// input (the package is looked for inside it).  The sections a reader
// finds write back into a package that reads back the same.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libs/hosted/PackageReader.h"
#include "libs/hosted/PackageWriter.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace {

void checkRoundTrip(const hosted::PackageReader& reader) {
  reader.getSignedContent();
  reader.digest();
  hosted::PackageWriter writer;
  for (const auto& [name, data] : reader.sections()) writer.addSection(name.get(), data);
  rdr::MemOutStream out;
  writer.write(out);
  hosted::PackageReader back(out.length(), out.data());
  if (back.sections().size() != reader.sections().size()) std::abort();
  for (const auto& [name, data] : reader.sections()) {
    const plat::Buffer& other = back.getSection(name.get());
    if (other.count() != data.count() ||
        (data.count() > 0 && std::memcmp(other.data(), data.data(), size_t(data.count())) != 0))
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  try {
    hosted::PackageReader reader(static_cast<int32_t>(size), data);
    checkRoundTrip(reader);
  } catch (const plat::Exception&) {
  }

  // One memory-backed file for the whole run, rewritten for each input.
  static const int fd = memfd_create("package", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) != 0 || (size > 0 && pwrite(fd, data, size, 0) != ssize_t(size))) std::abort();
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  try {
    hosted::PackageReader reader(path);
    checkRoundTrip(reader);
  } catch (const plat::Exception&) {
  }
  return 0;
}
