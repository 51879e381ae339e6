#pragma once
// rdr::FileInStream: buffered input from a C stream, read from its current
// position.  The end of the file is an EndOfStream "End of file"; a read
// error a plat::StdlibException "reading from file failed".  Not
// rewindable.

#include <cstdio>
#include <optional>

#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/rdr/BufferedInStream.h"

namespace rdr {

class FileInStream : public BufferedInStream {
 public:
  // Opens path for reading with the FilePtr::open flags; a null path leaves
  // the stream without a file.
  explicit FileInStream(const char* path, int flags = 0);
  // Reads an open stream, closing it at the end when own is set.
  FileInStream(FILE* fp, bool own);
  ~FileInStream() override;

  // Each replaces the current file (closed when owned) and drops what was
  // buffered from it.
  void open(const char* path, int flags = 0);
  void attach(FILE* fp, bool own);

  FILE* file() const noexcept { return fp_; }

 protected:
  int32_t readData(uint8_t* buf, int32_t len) override;

 private:
  std::optional<plat::FilePtr> owned_;
  FILE* fp_ = nullptr;
};

}  // namespace rdr
