#include "libs/hosted/HostedException.h"

#include <cstring>

#include "qocore/base/http/HttpError.h"
#include "qocore/base/io/ProxyError.h"
#include "qocore/base/plat/Strings.h"

namespace hosted {

namespace {

// clang-format off
constexpr const char* kKindWords[] = {
    "NoError", "Configuration", "Bootstrap", "Discovery", "Connection-Broker",
    "Rendezvous", "Data-Relay", "Peer-to-Peer", "Application",
};

struct ReasonText {
  const char* reason;
  const char* text;
};
constexpr ReasonText kStandardTexts[] = {
    {"Network", "Network failure"},
    {"BED", "Invalid BED"},
    {"JSON", "Invalid JSON"},
    {"ConfigPkg", "Invalid Bootstrap package"},
    {"AppData", "Handshake could not be started"},
    {"PeerAppData", "Peer sent invalid handshake"},
};

struct StatusReason {
  int32_t status;
  const char* reason;
};
constexpr StatusReason kStatusReasons[] = {
    {-1, "Network"},
    {201, "HTTPCreated"}, {202, "HTTPAccepted"}, {204, "HTTPNoContent"},
    {307, "HTTPTemporaryRedirect"}, {308, "HTTPPermanentRedirect"},
    {400, "HTTPBadRequest"}, {401, "HTTPUnauthorized"}, {402, "HTTPPaymentRequired"},
    {403, "HTTPForbidden"}, {404, "HTTPNotFound"}, {405, "HTTPMethodNotAllowed"},
    {409, "HTTPConflict"}, {410, "HTTPGone"}, {412, "HTTPPreconditionFailed"},
    {413, "HTTPRequestTooLarge"}, {429, "HTTPTooManyRequests"},
    {500, "HTTPInternalServerError"}, {501, "HTTPNotImplemented"}, {503, "HTTPServiceUnavailable"},
};
// clang-format on

const char* standardText(const char* reason) noexcept {
  for (const ReasonText& r : kStandardTexts) {
    if (std::strcmp(r.reason, reason) == 0) return r.text;
  }
  return nullptr;
}

}  // namespace

const char* HostedException::kindWord(uint32_t kind) noexcept {
  PLAT_ASSERT(kind <= Application);
  return kKindWords[kind];
}

void HostedException::statusReason(int32_t status, char (&out)[kReasonSize]) noexcept {
  for (const StatusReason& s : kStatusReasons) {
    if (s.status == status) {
      plat::safeStrCopy(out, s.reason, kReasonSize);
      return;
    }
  }
  // "HTTP" and the reason phrase without its blanks, cut to fit.
  plat::safeStrCopy(out, "HTTP", kReasonSize);
  int used = 4;
  for (const char* p = http::statusReasonPhrase(status); *p && used < kReasonSize - 1; ++p) {
    if (*p != ' ') out[used++] = *p;
  }
  out[used] = '\0';
}

void HostedException::begin(uint32_t kind) noexcept {
  kind_ = kind;
  reason_[0] = '\0';
  proxyReason_[0] = '\0';
  msg_[0] = '\0';
  formatMessage("Hosted %s error", kindWord(kind));
}

HostedException::HostedException(uint32_t kind, const char* reason, const char* detail) noexcept {
  begin(kind);
  setReason(reason ? reason : "GeneralError");
  if (!detail) detail = standardText(reason_);
  if (detail) formatMessage(": %s", detail);
}

HostedException::HostedException(uint32_t kind, const plat::Exception& wrapped, const char* detail) noexcept {
  begin(kind);
  if (const auto* proxy = dynamic_cast<const io::ProxyError*>(&wrapped))
    plat::safeStrCopy(proxyReason_, proxy->reason(), kProxyReasonSize);
  const auto* httpError = dynamic_cast<const http::HttpError*>(&wrapped);
  char reason[kReasonSize];
  if (httpError)
    statusReason(httpError->status(), reason);
  else
    plat::safeStrCopy(reason, "Network", kReasonSize);
  setReason(reason);
  if (detail)
    formatMessage(": %s", detail);
  else if (const char* text = standardText(reason_))
    formatMessage(": %s", text);
  else
    formatMessage(": HTTP %s", http::statusReasonPhrase(httpError ? httpError->status() : -1));
  if (!httpError) formatMessage(": %s", wrapped.str());
}

HostedException::HostedException(uint32_t kind, const HostedException& other) noexcept : plat::Exception(other) {
  if (other.kind_ == NoError) {
    begin(kind);
    setReason("GeneralError");
    return;
  }
  kind_ = other.kind_;
  std::memcpy(reason_, other.reason_, sizeof reason_);
  std::memcpy(proxyReason_, other.proxyReason_, sizeof proxyReason_);
}

void HostedException::setReason(const char* reason) noexcept {
  plat::safeStrCopy(reason_, reason ? reason : "", kReasonSize);
  setTypef("Hosted/%s", reason_);
}

}  // namespace hosted
