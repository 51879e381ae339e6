#pragma once
// Stands in for the system root certificate store of the keychain: the
// trusted roots are the certificates of the system's CA bundle
// (/etc/ssl/certs/ca-certificates.crt, or the file SSL_CERT_FILE names).
// Tests point the store at a bundle of their own through setBundlePath,
// so they never depend on, or read, the machine's bundle.

#include "qocore/base/plat/CharArray.h"

namespace security {

// The path of the bundle in use: the test override, else SSL_CERT_FILE,
// else the system bundle.
plat::CharArray bundlePath();

// The bundle's text.  Throws plat::SystemException when it cannot be read.
plat::CharArray readBundle();

// Replaces the bundle path (null or empty: back to the default); answers
// the old override.
plat::CharArray setBundlePath(const char* path);

}  // namespace security
