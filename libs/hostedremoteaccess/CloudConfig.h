#pragma once
// The cloud endpoint of the program, built from its cloud configuration
// package "CloudConfig.pkg": the first copy in the program's data
// directories, else the built-in resource of that name.

#include "libs/hosted/HostedEndpoint.h"
#include "qocore/base/plat/LinkedPtr.h"

namespace os {
class PersistentStore;
}

namespace hostedremoteaccess {

inline constexpr const char* kCloudConfigName = "CloudConfig.pkg";
// The largest package file taken; a larger (or empty) one is passed over
// for the built-in copy.
inline constexpr int kCloudConfigMaxSize = 1048576;

// The endpoint with the given store (null: the bootstrap cache is kept in
// memory only).  Throws plat::Exception "CloudConfig.pkg not available"
// when neither a file nor the built-in copy exists, and the endpoint's
// HostedException when the package is bad.
plat::LinkedPtr<hosted::HostedEndpoint> loadCloudConfig(os::PersistentStore* store = nullptr);

}  // namespace hostedremoteaccess
