#pragma once
// os::DirEnum: the entries of one directory, by name and full path.

#include <dirent.h>

#include "qocore/base/plat/DString.h"

namespace os {

class DirEnum {
 public:
  // Opens the directory.  Throws plat::StdlibException "opendir(<path>)";
  // an empty path is an assertion.
  explicit DirEnum(const char* path);
  ~DirEnum();
  DirEnum(const DirEnum&) = delete;
  DirEnum& operator=(const DirEnum&) = delete;

  // The next entry's name other than "." and "..", or null at the end.
  // path() then holds the entry's full path.  Throws
  // plat::SystemException "readdir".
  const char* next();
  const char* path() const noexcept { return path_.c_str(); }

 private:
  DIR* dir_;
  plat::DString path_;
  int dirLen_;
};

}  // namespace os
