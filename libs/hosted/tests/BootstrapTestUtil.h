#pragma once
// The outcome of decoding a bootstrap document, for the bootstrap tests.

#include <gtest/gtest.h>

#include <string>

#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/HostedException.h"
#include "testing/BootstrapFixture.h"

namespace hosted_test {

using yarl_test::kBootstrapUrl;

// The message of the HostedException the body makes, or "accepted".
inline std::string outcome(const plat::Buffer& body, ssl::SslTrustManager* trust, const char* url = kBootstrapUrl,
                           bool required = true, std::string* reason = nullptr) {
  try {
    hosted::BootstrapConfig config(body.count(), body.data(), trust, url, required);
    return "accepted";
  } catch (const hosted::HostedException& e) {
    EXPECT_EQ(e.kind(), hosted::HostedException::Bootstrap);
    if (reason) *reason = e.reason();
    return e.str();
  }
}

}  // namespace hosted_test
