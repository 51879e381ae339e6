#pragma once
// A small key-value store of byte blobs.  os::PersistentStoreFile keeps
// each key as a file under one directory; a key is a relative file name
// that may contain "/".

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"

namespace os {

class PersistentStore {
 public:
  virtual ~PersistentStore() = default;
  // Replaces out by the key's bytes; false (out empty) when it cannot be
  // read.
  [[nodiscard]] virtual bool read(const char* key, plat::Buffer& out) = 0;
  virtual void write(const char* key, const plat::Buffer& data) = 0;
  // Removes the key; a null or empty key removes the whole store.
  virtual void remove(const char* key) = 0;
};

class PersistentStoreFile : public PersistentStore {
 public:
  // The store directory itself.
  explicit PersistentStoreFile(const char* dir);
  // The store of another application: os::getConfigDir(appName).
  struct ForApp {};
  PersistentStoreFile(ForApp, const char* appName);

  // One process-wide store in os::getConfigDir(nullptr), made on first use
  // and kept until exit.
  static PersistentStoreFile& defaultStore();

  // A secret out is wiped before it is cleared.  Failures to open or read
  // are reported as false, never thrown.
  [[nodiscard]] bool read(const char* key, plat::Buffer& out) override;
  // Creates the key's folders, then replaces the file at once (written
  // beside it and renamed into place).  Throws plat::SystemException.
  void write(const char* key, const plat::Buffer& data) override;
  // Deletes the key's file, then each folder of the key from the innermost
  // out that is left empty, stopping at the first that is not.
  void remove(const char* key) override;

  const char* dir() const noexcept { return dir_.c_str(); }
  // Points the store at another directory (copied); every holder of the
  // store sees the change.
  void setDir(const char* dir) { dir_ = plat::CharArray(dir); }

 private:
  void makePath(const char* key);

  plat::CharArray dir_;
  plat::CharArray path_;
};

}  // namespace os
