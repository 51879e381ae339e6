#include "qocore/base/rdr/TransactedFileOutStream.h"

namespace rdr {

TransactedFileOutStream::TransactedFileOutStream(const char* path, int flags)
    : FileOutStream(nullptr), file_(path, flags) {
  attach(file_.get(), false);
}

TransactedFileOutStream::~TransactedFileOutStream() {
  // Before the transaction goes, so nothing is written to its closed file.
  detach();
}

void TransactedFileOutStream::commit() {
  flush();
  detach();
  file_.commit();
}

}  // namespace rdr
