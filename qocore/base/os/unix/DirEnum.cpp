#include "qocore/base/os/unix/DirEnum.h"

#include <cerrno>
#include <cstring>

#include "qocore/base/plat/Exception.h"

namespace os {

DirEnum::DirEnum(const char* path) : dir_(nullptr), dirLen_(0) {
  path_.append(path);
  int dirLen = path_.length();
  PLAT_ASSERT(dirLen > 0);
  dirLen_ = dirLen;
  dir_ = ::opendir(path);
  if (!dir_) throw plat::StdlibException("opendir(%s)", path);
  if (path_.c_str()[dirLen_ - 1] != '/') {
    path_.append("/");
    ++dirLen_;
  }
}

DirEnum::~DirEnum() {
  if (dir_) ::closedir(dir_);
}

const char* DirEnum::next() {
  for (;;) {
    // readdir answers null both at the end and on failure; only errno
    // tells them apart.
    errno = 0;
    const dirent* entry = ::readdir(dir_);
    if (!entry) {
      if (errno != 0) throw plat::SystemException("readdir", errno);
      return nullptr;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    path_.splice(dirLen_, path_.length(), name);
    return path_.c_str() + dirLen_;
  }
}

}  // namespace os
