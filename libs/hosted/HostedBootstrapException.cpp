#include "libs/hosted/HostedBootstrapException.h"

#include <climits>
#include <cstring>

namespace hosted {

plat::IntParameter hostedBootstrapMaxAttempts("_HostedBootstrapMaxAttempts",
                                              "Maximum number of Bootstrap attempts before giving up.", 6, 1, INT_MAX,
                                              true);

namespace {

const char* defaultMessage(const char* reason, const char* message) {
  if (message || !reason) return message;
  if (std::strcmp(reason, HostedBootstrapException::kNoBootstrap) == 0) return "No more Bootstrap servers";
  if (std::strcmp(reason, HostedBootstrapException::kBootstrapLimit) == 0) return "Gave up after too many attempts";
  return nullptr;
}

}  // namespace

HostedBootstrapException::HostedBootstrapException(const char* reason, const char* message) noexcept
    : HostedException(Bootstrap, reason, defaultMessage(reason, message)) {}

HostedBootstrapException::HostedBootstrapException(const plat::Exception& wrapped) noexcept
    : HostedException(Bootstrap, wrapped, nullptr) {}

}  // namespace hosted
