#pragma once
// Stands in for the system root certificate store of the keychain: the
// trusted roots are the certificates of the system's CA bundle
// (/etc/ssl/certs/ca-certificates.crt, or the file SSL_CERT_FILE names).
// Tests point the store at a bundle of their own through setBundlePath,
// so they never depend on, or read, the machine's bundle.

#include <string>

namespace security {

// The path of the bundle in use: the test override, else SSL_CERT_FILE,
// else the system bundle.
std::string bundlePath();

// The bundle's text.  Throws plat::SystemException when it cannot be read.
std::string readBundle();

// Replaces the bundle path (empty: back to the default); answers the old
// override.
std::string setBundlePath(const std::string& path);

}  // namespace security
