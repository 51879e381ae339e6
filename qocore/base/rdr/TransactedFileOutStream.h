#pragma once
// rdr::TransactedFileOutStream: writes a file through a plat::TransactedFile,
// so the target is replaced only by commit(); a stream destroyed without a
// commit leaves the target as it was.

#include "qocore/base/plat/TransactedFile.h"
#include "qocore/base/rdr/FileOutStream.h"

namespace rdr {

class TransactedFileOutStream : public FileOutStream {
 public:
  // Begins the transaction for path (flags as plat::TransactedFile takes
  // them) and writes into its temporary file.
  explicit TransactedFileOutStream(const char* path, int flags = 0);
  ~TransactedFileOutStream() override;

  // Flushes, then lets the temporary file replace the target.  Throws what
  // the flush or the commit throws; the target is then unchanged.  Once
  // committed, writing throws plat::Exception "TransactedFileOutStream:
  // write after commit".
  void commit();

 protected:
  int32_t overrun(int32_t itemSize, int32_t nItems) override;

 private:
  plat::TransactedFile file_;
  bool committed_ = false;
};

}  // namespace rdr
