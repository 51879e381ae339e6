#pragma once
// The failure of the cloud client: which part of the cloud failed (its
// kind), a short machine-readable reason word, and for proxy failures the
// proxy's own reason.  The type name is "Hosted/<reason>", so logs and
// callers tell failures apart by reason, not by class.

#include <cstdint>

#include "qocore/base/plat/Exception.h"

namespace hosted {

class HostedException : public plat::Exception {
 public:
  // The part of the cloud that failed; the message names it.
  enum Kind : uint32_t {
    NoError = 0,
    Configuration = 1,
    Bootstrap = 2,
    Discovery = 3,
    ConnectionBroker = 4,
    Rendezvous = 5,
    DataRelay = 6,
    PeerToPeer = 7,
    Application = 8,
  };

  static constexpr int kReasonSize = 32;
  static constexpr int kProxyReasonSize = 64;

  // "Hosted <kind> error", then ": <detail>", or ": <the reason's standard
  // text>" when there is no detail and the reason has one.  A null reason
  // is "GeneralError".
  HostedException(uint32_t kind, const char* reason, const char* detail = nullptr) noexcept;
  // Wraps another failure.  The reason is the word of an http::HttpError's
  // status, else "Network"; the message gets the detail, else the reason's
  // standard text, else ": HTTP <reason phrase>", and for anything but an
  // http::HttpError the wrapped message.  An io::ProxyError's reason is
  // kept as the proxy reason.
  HostedException(uint32_t kind, const plat::Exception& wrapped, const char* detail) noexcept;
  // A copy, except that a failure of kind NoError becomes a plain failure
  // of `kind` ("GeneralError").
  HostedException(uint32_t kind, const HostedException& other) noexcept;

  uint32_t kind() const noexcept { return kind_; }
  const char* reason() const noexcept { return reason_; }
  const char* proxyReason() const noexcept { return proxyReason_; }

  // Replaces the reason and the type name with it.
  void setReason(const char* reason) noexcept;

  // The word of a kind ("Connection-Broker"...).
  static const char* kindWord(uint32_t kind) noexcept;
  // The reason word of an HTTP status (-1: no status, "Network").
  static void statusReason(int32_t status, char (&out)[kReasonSize]) noexcept;

 private:
  void begin(uint32_t kind) noexcept;

  uint32_t kind_ = NoError;
  char reason_[kReasonSize];
  char proxyReason_[kProxyReasonSize];
};

}  // namespace hosted
