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
  // An empty window sends the next write to overrun(), which refuses it.
  end_ = ptr_;
  committed_ = true;
  file_.commit();
}

int32_t TransactedFileOutStream::overrun(int32_t itemSize, int32_t nItems) {
  if (committed_) throw plat::Exception("TransactedFileOutStream: write after commit");
  return FileOutStream::overrun(itemSize, nItems);
}

}  // namespace rdr
