#include "qocore/base/rdr/FileOutStream.h"

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace rdr {

namespace {
PLAT_LOG_SOURCE(vlog, "FileOutStream");
}  // namespace

FileOutStream::FileOutStream(const char* path, int flags) : BufferedNBOutStream(kDefaultBufSize) {
  if (path) open(path, flags);
}

FileOutStream::FileOutStream(FILE* fp, bool own) : BufferedNBOutStream(kDefaultBufSize) { attach(fp, own); }

FileOutStream::~FileOutStream() {
  if (!fp_) return;
  try {
    BufferedNBOutStream::flush();
  } catch (const plat::Exception& e) {
    // See the class comment: whoever cares has flushed already; the log
    // is the last place to tell.
    vlog().error("%d bytes not written to file: %s", pendingBytes(), e.str());
  }
  if (owned_) owned_->setLogCloseErrors(false);
}

void FileOutStream::open(const char* path, int flags) {
  if (fp_) BufferedNBOutStream::flush();
  fp_ = nullptr;
  owned_.emplace();
  owned_->open(path, plat::FilePtr::kWrite, flags);
  fp_ = owned_->get();
}

void FileOutStream::attach(FILE* fp, bool own) {
  if (fp_) BufferedNBOutStream::flush();
  fp_ = nullptr;
  if (own) {
    owned_.emplace(fp);
  } else {
    owned_.reset();
  }
  fp_ = fp;
}

void FileOutStream::detach() noexcept {
  fp_ = nullptr;
  if (owned_) owned_->setLogCloseErrors(false);
  owned_.reset();
}

void FileOutStream::flush() {
  BufferedNBOutStream::flush();
  if (fp_ && fflush(fp_) != 0) throw plat::StdlibException("writing to file failed");
}

int32_t FileOutStream::writeData(const uint8_t* buf, int32_t len, bool) {
  PLAT_ASSERT(fp_);
  if (len <= 0) return 0;
  if (fwrite(buf, static_cast<size_t>(len), 1, fp_) != 1) throw plat::StdlibException("writing to file failed");
  return len;
}

}  // namespace rdr
