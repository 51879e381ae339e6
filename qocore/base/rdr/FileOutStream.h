#pragma once
// rdr::FileOutStream: buffered output to a C stream.  A failed write, and
// a flush whose bytes the file does not take, throw
// plat::StdlibException "writing to file failed".
//
// The destructor passes pending bytes on and closes an owned file; bytes
// it cannot pass on are logged at error level with their count, and it
// never throws: a caller that writes data that matters flushes and checks
// before the stream is destroyed.

#include <cstdio>
#include <optional>

#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/rdr/BufferedOutStream.h"

namespace rdr {

class FileOutStream : public BufferedNBOutStream {
 public:
  // Opens path for writing with the FilePtr::open flags; a null path
  // leaves the stream without a file.
  explicit FileOutStream(const char* path, int flags = 0);
  // Writes to an open stream, closing it at the end when own is set.
  FileOutStream(FILE* fp, bool own);
  ~FileOutStream() override;

  // Each passes pending bytes to the current file, then replaces it
  // (closed when owned).
  void open(const char* path, int flags = 0);
  void attach(FILE* fp, bool own);

  // Passes the pending bytes on and flushes the C stream.
  void flush() override;

  FILE* file() const noexcept { return fp_; }

 protected:
  // Forgets the file without writing anything more (an owned file is
  // closed quietly); bytes still pending stay unwritten.
  void detach() noexcept;

  int32_t writeData(const uint8_t* buf, int32_t len, bool wait) override;

 private:
  std::optional<plat::FilePtr> owned_;
  FILE* fp_ = nullptr;
};

}  // namespace rdr
