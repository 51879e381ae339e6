#include "qocore/base/io/ProxyError.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/TcpConnectError.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/rdr/Exceptions.h"

namespace io {

const char* ProxyError::reasonName(int reason) noexcept {
  static const char* const kNames[] = {
      "BadConnection",          "ConnectionError",      "BadProtocol",   "AuthenticationUnsupported",
      "AuthenticationRequired", "AuthenticationFailed", "ConnectFailed", "ConnectDenied"};
  if (reason < 0 || reason >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) return "invalid";
  return kNames[reason];
}

std::unique_ptr<plat::Exception> ProxyError::copyCause(const plat::Exception& e) {
  if (auto* end = dynamic_cast<const rdr::EndOfStream*>(&e)) return std::make_unique<rdr::EndOfStream>(*end);
  if (auto* gai = dynamic_cast<const GetAddrInfoException*>(&e)) return std::make_unique<GetAddrInfoException>(*gai);
  if (auto* sys = dynamic_cast<const plat::SystemException*>(&e)) return std::make_unique<plat::SystemException>(*sys);
  return std::make_unique<plat::Exception>(e);
}

ProxyError::ProxyError(Reason reason, const char* proxy, const char* detail, std::unique_ptr<plat::Exception> cause)
    : proxy_(proxy ? proxy : ""), detail_(detail), cause_(std::move(cause)) {
  setType("ProxyError");
  snprintf(reason_, sizeof(reason_), "%s", reasonName(reason));
  formatMessage("Proxy error via %s: %s (%s)", proxy_.c_str(), detail ? detail : reason_, reason_);
}

ProxyError::ProxyError(const ProxyError& other) : plat::Exception(other), proxy_(other.proxy_), detail_(other.detail_) {
  snprintf(reason_, sizeof(reason_), "%s", other.reason_);
}

ProxyError& ProxyError::operator=(const ProxyError& other) {
  if (this != &other) {
    plat::Exception::operator=(other);
    snprintf(reason_, sizeof(reason_), "%s", other.reason_);
    proxy_ = other.proxy_;
    detail_ = other.detail_;
    cause_.reset();
  }
  return *this;
}

ProxyError::~ProxyError() = default;

plat::CharArray ProxyError::localisedDescription() const {
  const char* detail = nullptr;
  if (dynamic_cast<const rdr::EndOfStream*>(cause_.get())) {
    detail = loc::translate("io_error_proxy_disconnected");
  } else {
    auto* sys = dynamic_cast<const plat::SystemException*>(cause_.get());
    if (sys && std::string_view(reason_) == "BadConnection") detail = tcpConnectErrorText(sys->error());
    if (!detail) {
      if (auto* gai = dynamic_cast<const GetAddrInfoException*>(cause_.get()))
        detail = gai->localisedText();
      else if (detail_)
        detail = detail_.get();
      else if (cause_)
        detail = cause_->str();
      else
        detail = reason_;
    }
  }
  loc::ArgList args;
  args.str(proxy_.c_str()).str(detail);
  return loc::formatNew(loc::translate("io_error_proxy_general", nullptr, 0, true), args.first());
}

}  // namespace io
