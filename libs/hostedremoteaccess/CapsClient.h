#pragma once
// The client of the cloud's capability services.  Their base URLs are not
// configured in the program: the signed bootstrap configuration names
// them, and the bootstrap information keeper hands them out.  The client
// keeps, per service, the base URL last learnt, so that later requests of
// the same service go straight to it until a node change clears it, and
// tells its listeners the configuration parameters that came with it.
// Log source "CapsClient".

#include <cstdint>
#include <set>

#include "libs/hosted/BootstrapConfig.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LinkedPtr.h"

namespace hosted {
class HostedClient;
class HostedEndpoint;
}  // namespace hosted

namespace hostedremoteaccess {

// The configuration parameters of the bootstrap configuration, by name.
using ConfigParams = hosted::BootstrapConfig::Parameters;

class CapsClient {
 public:
  // The capability services, by index.
  enum Service : int32_t {
    kAuth = 0,
    kDirectory = 1,
    kGraphql = 2,
    kPresence = 3,
  };
  static constexpr int32_t kServiceCount = 4;

  // Told the parameter map each time a service URL is recorded.
  class Listener {
   public:
    virtual void onConfigParams(const ConfigParams& params) = 0;

   protected:
    ~Listener() = default;
  };

  // The hosted client is borrowed and must outlive this client.
  CapsClient(const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint, hosted::HostedClient* hostedClient);
  virtual ~CapsClient();
  CapsClient(const CapsClient&) = delete;
  CapsClient& operator=(const CapsClient&) = delete;

  // The bootstrap parameter naming the service's base URLs
  // ("enterprise/auth-uris"...).  An index outside the table fails the
  // assertion "key".
  static const char* serviceName(int32_t index);
  // The index of a service name (compared without regard to case).  An
  // unknown or null name fails the assertion "i != -1".
  static int32_t serviceIndex(const char* name);

  // The learnt base URL, or null.
  const char* serviceUrl(int32_t index) const;
  void clearServiceUrl(int32_t index);
  // Keeps the URL and the configuration that came with it, and tells every
  // listener the parameters.
  void recordServiceUrl(int32_t index, const char* url, int32_t maxBackoffSecs, const ConfigParams& params);

  // Adding a listener (again) tells it the parameters at once when there
  // are any.  Listeners are borrowed; remove them before they go.
  void addListener(Listener* listener);
  void removeListener(Listener* listener);

  // True when the key is present and its whole value is a decimal 32-bit
  // integer, stored in *value.
  [[nodiscard]] static bool intParam(const ConfigParams& params, const char* key, int32_t* value);

  const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint() const noexcept { return endpoint_; }
  hosted::HostedClient* hostedClient() const noexcept { return hostedClient_; }
  int32_t maxBackoffSecs() const noexcept { return maxBackoffSecs_; }
  const ConfigParams& configParams() const noexcept { return configParams_; }

 private:
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_;
  hosted::HostedClient* hostedClient_;
  std::set<Listener*> listeners_;
  plat::CharArray serviceUrls_[kServiceCount];
  int32_t maxBackoffSecs_;
  ConfigParams configParams_;
};

}  // namespace hostedremoteaccess
