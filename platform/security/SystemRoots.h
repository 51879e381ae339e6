#pragma once
// Stands in for the system root certificate store of the keychain: the
// trusted roots are the certificates of the system's CA bundle
// (/etc/ssl/certs/ca-certificates.crt, or the file SSL_CERT_FILE names).
// Tests point the store at a bundle of their own through setBundlePath,
// so they never depend on, or read, the machine's bundle.

#include <sys/types.h>

#include <cstdint>

#include "qocore/base/plat/CharArray.h"

namespace security {

// What tells one version of the bundle from another without reading it:
// its path and its file's device, inode, size, and modification and
// change times to the nanosecond.  A file renamed over the old one has
// another inode; one rewritten in place has new times, and a new change
// time even when its modification time is put back.
struct BundleVersion {
  plat::CharArray path;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = -1;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;

  bool operator==(const BundleVersion& other) const noexcept;
};

// The path of the bundle in use: the test override, else SSL_CERT_FILE,
// else the system bundle.
plat::CharArray bundlePath();

// The version of the bundle in use now, at the cost of one stat.  Throws
// plat::SystemException when the file cannot be reached.
BundleVersion bundleVersion();

// The bundle's text.  Throws plat::SystemException when it cannot be read.
plat::CharArray readBundle();
// The same, with the version of the file read in *version, taken before
// the read: a change while it reads shows at the next comparison.
plat::CharArray readBundle(BundleVersion* version);

// Replaces the bundle path (null or empty: back to the default); answers
// the old override.
plat::CharArray setBundlePath(const char* path);

}  // namespace security
