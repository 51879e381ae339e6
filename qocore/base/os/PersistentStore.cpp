#include "qocore/base/os/PersistentStore.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/TransactedFile.h"

namespace os {

namespace {
constexpr int kMaxRead = 2147483647;
}  // namespace

PersistentStoreFile::PersistentStoreFile(const char* dir) : dir_(dir) {}

PersistentStoreFile::PersistentStoreFile(ForApp, const char* appName) : dir_(getConfigDir(appName)) {}

PersistentStoreFile& PersistentStoreFile::defaultStore() {
  // Never destroyed: code running at exit may still use it.
  static PersistentStoreFile* store = new PersistentStoreFile(getConfigDir(nullptr).get());
  return *store;
}

void PersistentStoreFile::makePath(const char* key) { path_ = plat::DString::format("%s%c%s", dir_.c_str(), '/', key); }

bool PersistentStoreFile::read(const char* key, plat::Buffer& out) {
  out.release();
  makePath(key);
  try {
    plat::FilePtr file;
    if (!file.open(path_.get(), plat::FilePtr::kRead, plat::FilePtr::kNoThrow)) return false;
    plat::Buffer data = file.readAll(kMaxRead);
    // The bytes keep out's secrecy, so they are wiped when it goes.
    data.setSecure(out.secure());
    out.swap(data);
  } catch (const plat::Exception&) {
    return false;
  }
  return true;
}

void PersistentStoreFile::write(const char* key, const plat::Buffer& data) {
  makePath(key);
  plat::CharArray parent = plat::dirName(path_.get());
  plat::mkDirs(parent.get());
  plat::TransactedFile file(path_.get());
  if (data.count() > 0 &&
      std::fwrite(data.data(), 1, static_cast<size_t>(data.count()), file.get()) != static_cast<size_t>(data.count()))
    throw plat::StdlibException("fwrite(%s)", path_.get());
  file.commit();
}

void PersistentStoreFile::remove(const char* key) {
  if (!key || !*key) {
    if (plat::pathExists(dir_.c_str())) plat::rmDir(dir_.c_str(), true);
    return;
  }
  makePath(key);
  plat::removeFile(path_.get());
  for (plat::CharArray part = plat::dirName(key);
       std::strcmp(part.get(), ".") != 0 && std::strcmp(part.get(), "/") != 0; part = plat::dirName(part.get())) {
    makePath(part.get());
    if (::rmdir(path_.get()) != 0) break;
  }
}

}  // namespace os
