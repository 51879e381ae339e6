#pragma once
// A failure to reach a host through a proxy.

#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"

namespace io {

class ProxyError : public plat::Exception {
 public:
  enum Reason {
    BadConnection,
    ConnectionError,
    BadProtocol,
    AuthenticationUnsupported,
    AuthenticationRequired,
    AuthenticationFailed,
    ConnectFailed,
    ConnectDenied,
  };

  // "Proxy error via <proxy>: <detail or reason> (<reason>)".  The cause,
  // when given, is kept for the localised description only.
  ProxyError(Reason reason, const char* proxy, const char* detail = nullptr,
             std::unique_ptr<plat::Exception> cause = nullptr);
  // Copies the message, reason and proxy; the copy has no cause.
  ProxyError(const ProxyError& other);
  ProxyError& operator=(const ProxyError& other);
  ~ProxyError() override;

  // A copy of a caught failure to keep as a cause, of the same class where
  // the localised description tells the class apart (end of stream, system
  // and name-lookup failures); any other keeps its message and type.
  static std::unique_ptr<plat::Exception> copyCause(const plat::Exception& e);

  // The reason's name, "invalid" for a value outside the list.
  static const char* reasonName(int reason) noexcept;

  const char* reason() const noexcept { return reason_; }
  const char* proxy() const noexcept { return proxy_.c_str(); }
  const plat::Exception* cause() const noexcept { return cause_.get(); }

  // "Unable to connect via <proxy>: <detail>" in the user's language, the
  // detail chosen from the cause where it says more than the message.
  plat::CharArray localisedDescription() const;

 private:
  char reason_[32];
  plat::CharArray proxy_;
  plat::CharArray detail_;
  std::unique_ptr<plat::Exception> cause_;
};

}  // namespace io
