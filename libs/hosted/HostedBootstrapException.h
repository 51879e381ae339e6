#pragma once
// The failure of a walk over the bootstrap servers (kind Bootstrap), and
// the limit on the number of bootstrap fetches such a walk makes.

#include "libs/hosted/HostedException.h"
#include "qocore/base/plat/ConfigParameter.h"

namespace hosted {

// "_HostedBootstrapMaxAttempts".
extern plat::IntParameter hostedBootstrapMaxAttempts;

class HostedBootstrapException : public HostedException {
 public:
  static constexpr const char* kNoBootstrap = "BTPNoBootstrap";
  static constexpr const char* kBootstrapLimit = "BTPBootstrapLimit";

  // Without a message, "BTPNoBootstrap" says "No more Bootstrap servers"
  // and "BTPBootstrapLimit" "Gave up after too many attempts".
  explicit HostedBootstrapException(const char* reason, const char* message = nullptr) noexcept;
  // A lower-level failure: "Network", "HTTP..." by status, the proxy's
  // reason kept.
  explicit HostedBootstrapException(const plat::Exception& wrapped) noexcept;
};

}  // namespace hosted
