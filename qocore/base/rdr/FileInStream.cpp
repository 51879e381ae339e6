#include "qocore/base/rdr/FileInStream.h"

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"

namespace rdr {

FileInStream::FileInStream(const char* path, int flags) : BufferedInStream(kDefaultBufSize) {
  rewindable_ = false;
  if (path) open(path, flags);
}

FileInStream::FileInStream(FILE* fp, bool own) : BufferedInStream(kDefaultBufSize) {
  rewindable_ = false;
  attach(fp, own);
}

FileInStream::~FileInStream() = default;

void FileInStream::open(const char* path, int flags) {
  reset();
  fp_ = nullptr;
  owned_.emplace();
  owned_->open(path, plat::FilePtr::kRead, flags);
  fp_ = owned_->get();
}

void FileInStream::attach(FILE* fp, bool own) {
  reset();
  fp_ = nullptr;
  if (own) {
    owned_.emplace(fp);
  } else {
    owned_.reset();
  }
  fp_ = fp;
}

int32_t FileInStream::readData(uint8_t* buf, int32_t len) {
  PLAT_ASSERT(fp_);
  return plat::fileRead(fp_, buf, len);
}

}  // namespace rdr
