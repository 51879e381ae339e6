#pragma once
// The bootstrap configuration of the cloud service: where its bootstrap
// and discovery servers are, how long the answer may be kept, and its
// named parameters.  It arrives as a BED document:
//
//   { "any/signed-data": { ...values... },
//     "any/signed-data-signature": <RSASSA-PSS signature, optional> }
//
// The signature covers the encoded "any/signed-data" value exactly as it
// stands in the received bytes.  A signed document must carry
// "any/signed-data" as its first root key: the decoder resolves string
// back-references through the strings read before them, so an unsigned
// entry placed ahead of the signed bytes could change what they decode
// to without breaking the signature.

#include <cstdint>
#include <map>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"

namespace ssl {
class SslTrustManager;
}

namespace hosted {

class BootstrapConfig {
 public:
  using Parameters = std::map<plat::CharArray, plat::CharArray, plat::StrLess>;

  // Decodes and checks the body.  With a signature, the signing chain must
  // verify against trustManager and serve the host of url; without one the
  // document is accepted only when signatureRequired is false.  Every
  // failure is a HostedException of kind Bootstrap.
  BootstrapConfig(int32_t count, const void* body, ssl::SslTrustManager* trustManager, const char* url,
                  bool signatureRequired);
  BootstrapConfig(const BootstrapConfig& other);
  BootstrapConfig& operator=(const BootstrapConfig&) = delete;

  // Whether validFrom is at most an hour ahead of the wall clock.
  bool isValidNow() const;
  // The first "any/value" of the parameters named `name`, or null.
  const char* parameter(const char* name) const;

  int32_t configCount() const noexcept { return configCount_; }
  const std::vector<plat::CharArray>& bootstrapUris() const noexcept { return bootstrapUris_; }
  const std::vector<plat::CharArray>& discoveryUris() const noexcept { return discoveryUris_; }
  const char* analyticsApiKey() const noexcept { return analyticsApiKey_.get(); }
  const char* analyticsUri() const noexcept { return analyticsUri_.get(); }
  const char* analyticsSalt() const noexcept { return analyticsSalt_.get(); }
  plat::TimeValue validFrom() const noexcept { return validFrom_; }
  // In ticks; saturated at the 64-bit range.
  plat::TimeValue maxAge() const noexcept { return maxAge_; }
  int32_t maxBackoffSecs() const noexcept { return maxBackoffSecs_; }
  // Every parameter by name; a later entry replaces an earlier one.
  const Parameters& parameters() const noexcept { return parameters_; }
  bool isSigned() const noexcept { return signed_; }

 private:
  struct Entry {
    plat::CharArray name;
    plat::CharArray value;
  };

  void decode(int32_t count, const void* body, ssl::SslTrustManager* trustManager, const char* url,
              bool signatureRequired);

  int32_t configCount_ = 0;
  std::vector<plat::CharArray> bootstrapUris_;
  std::vector<plat::CharArray> discoveryUris_;
  plat::CharArray analyticsApiKey_;
  plat::CharArray analyticsUri_;
  plat::CharArray analyticsSalt_;
  plat::TimeValue validFrom_ = 0;
  plat::TimeValue maxAge_ = 0;
  int32_t maxBackoffSecs_ = 300;
  Parameters parameters_;
  // The parameters in document order, for `parameter`.
  std::vector<Entry> entries_;
  bool signed_ = false;
};

// a + b, held at the 64-bit range instead of wrapping.
plat::TimeValue addTicks(plat::TimeValue a, plat::TimeValue b) noexcept;

}  // namespace hosted
