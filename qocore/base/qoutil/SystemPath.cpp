#include "qocore/base/qoutil/SystemPath.h"

#include "qocore/base/plat/DString.h"

namespace qoutil {

namespace {

// Set at start-up (by tests only) before any path is asked for.
plat::CharArray& systemRoot() {
  static plat::CharArray* root = new plat::CharArray;
  return *root;
}

}  // namespace

plat::CharArray systemPath(const char* path) {
  const plat::CharArray& root = systemRoot();
  if (root.isNull()) return plat::CharArray(path);
  return plat::DString::format("%s%s", root.get(), path);
}

void setSystemRoot(const char* root) { systemRoot() = plat::CharArray(root); }

}  // namespace qoutil
