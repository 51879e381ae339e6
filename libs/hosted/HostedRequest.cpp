#include "libs/hosted/HostedRequest.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "libs/hosted/Bed.h"
#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Json.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Uuid.h"

namespace hosted {

plat::IntParameter hostedRequestDump("_HostedRequestDump", "", 0, 0, INT_MAX, true);
plat::IntParameter hostedRequestTimeout("HostedRequestTimeout",
                                        "The timeout for requests to Corvane services (in seconds).", 15, 0, INT_MAX);

namespace {

PLAT_LOG_SOURCE(vlog, "HostedRequest");

constexpr const char* kBusinessIdHeader = "Corvane-Business-Operation-ID";
constexpr const char* kActionIdHeader = "Corvane-API-Action-ID";
// The largest whole number of seconds whose milliseconds fit an int32.
constexpr int kMaxTimeoutSecs = INT_MAX / 1000;

// Writes a body through the formatter, one log line per text line.
void dumpBody(HostedFormatCallback* format, const char* contentType, const plat::Buffer& body) {
  if (body.count() == 0 || !format) return;
  plat::DString text = format->formatBody(contentType, body);
  vlog().writeLines(30, text.c_str());
}

void dumpHeaders(const plat::CaseMap& headers) {
  for (const auto& [name, value] : headers) vlog().info("%s: %s", name.c_str(), value.c_str());
}

// The dump level when this exchange is dumped at all, else 0.
int dumpLevel(const plat::Buffer& body) {
  const int level = hostedRequestDump.getValue();
  return (level == 2 || (level == 1 && body.count() > 0)) ? level : 0;
}

const char* findHeader(const plat::CaseMap& headers, const char* name) {
  auto it = headers.find(plat::CharArray(name));
  return it == headers.end() ? nullptr : it->second.c_str();
}

}  // namespace

HostedRequestCallback::~HostedRequestCallback() = default;
HostedFormatCallback::~HostedFormatCallback() = default;

BedFormatCallback* BedFormatCallback::instance() {
  static BedFormatCallback* const formatter = new BedFormatCallback;
  return formatter;
}

plat::DString BedFormatCallback::formatBody(const char* contentType, const plat::Buffer& body) {
  plat::DString out;
  out.append(Bed::toString(body.count(), body.data(), contentType).c_str());
  return out;
}

JsonFormatCallback* JsonFormatCallback::instance() {
  static JsonFormatCallback* const formatter = new JsonFormatCallback;
  return formatter;
}

plat::DString JsonFormatCallback::formatBody(const char* contentType, const plat::Buffer& body) {
  if (contentType && !std::strstr(contentType, "json"))
    return BedFormatCallback::instance()->formatBody(contentType, body);
  plat::DString out;
  out.append(plat::Json::toLogText(body, contentType, true).c_str());
  return out;
}

HostedRequest::HostedRequest(HostedClient& client, const char* url, HostedRequestCallback* callback,
                             const HostedEndpoint& endpoint, bool authenticate, const char* method,
                             const plat::Buffer& body, const char* contentType)
    : request_(client.httpClient().createRequest(method, url)),
      formatCallback_(client.formatCallback()),
      callback_(callback),
      url_(url) {
  if (body.count() > 0) request_->setBody(contentType, body);
  const int secs = hostedRequestTimeout.getValue();
  request_->setTimeout(secs > kMaxTimeoutSecs ? INT_MAX : secs * 1000);
  if (authenticate) {
    if (endpoint.token()) {
      plat::DString value("Bearer %s", endpoint.token());
      if (endpoint.password()) {
        const plat::SecretText encoded = plat::SecretText::adopt(
            plat::base64Encode(endpoint.password(), static_cast<int>(std::strlen(endpoint.password())), false));
        value.appendf(":%s", encoded.c_str());
      }
      request_->addHeader("Authorization", value.c_str());
      plat::secureZero(value.buf(), static_cast<size_t>(value.length()));
    } else if (endpoint.password()) {
      request_->setBasicAuth(endpoint.name(), endpoint.password());
    }
  }
  request_->addHeader(kBusinessIdHeader, endpoint.businessId());
  unsigned char uuid[16];
  plat::makeUuid(uuid);
  plat::CharArray actionId = plat::Uuid::toString(uuid, true);
  request_->addHeader(kActionIdHeader, actionId.c_str());
  vlog().debug("%s: %s [%p]", kActionIdHeader, actionId.c_str(), static_cast<void*>(request_.get()));
  plat::DString accept("%s, application/json, */*;q=0.5", kBedContentType);
  request_->addHeader("Accept", accept.c_str());
  PLAT_ASSERT_TEXT(isSecure() || !authenticate, "isSecure() || !authenticate");
}

HostedRequest::~HostedRequest() = default;

bool HostedRequest::isSecure() const noexcept { return plat::startsWith(url_.get(), "https://"); }

void HostedRequest::send() {
  const plat::Buffer& body = request_->requestBody();
  if (const int level = dumpLevel(body)) {
    vlog().info("[%p] Request data for %s:", static_cast<void*>(request_.get()), url_.c_str());
    // The request's own header map is ordered without regard to case.
    const plat::CaseMap& headers = request_->requestHeaders();
    if (level == 2) dumpHeaders(headers);
    // A request body is written only with its content type; an answer
    // may come without one.
    if (const char* contentType = findHeader(headers, "Content-Type")) dumpBody(formatCallback_, contentType, body);
  }
  request_->start(this);
}

void HostedRequest::setTimeout(int32_t ms) {
  const int64_t total = int64_t{ms} + std::min<int64_t>(ms / 4, 15000) + 15000;
  request_->setTimeout(static_cast<int32_t>(std::clamp<int64_t>(total, INT_MIN, INT_MAX)));
}

void HostedRequest::setBasicAuth(const char* user, const char* password) { request_->setBasicAuth(user, password); }

void HostedRequest::addHeader(const char* name, const char* value) { request_->addHeader(name, value); }

void HostedRequest::setCloseConnection() { request_->setCloseConnection(); }

int64_t HostedRequest::elapsedMs() { return (plat::getMonotonicTime() - request_->sendTime()) / plat::kTicksPerMs; }

plat::CharArray HostedRequest::encodePrincipal(const char* principal) {
  PLAT_ASSERT(principal);
  static constexpr const char* kPlain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t length = std::strlen(principal);
  if (std::strspn(principal, kPlain) == length) return plat::CharArray(principal);
  PLAT_ASSERT(length <= static_cast<size_t>(INT_MAX / 2));
  plat::CharArray encoded = plat::base64Encode(principal, static_cast<int>(length), true);
  return plat::CharArray(plat::DString("_%s", encoded.c_str()).c_str());
}

bool HostedRequest::acceptStatus(http::HttpRequest&, int32_t) { return true; }

void HostedRequest::onSucceeded(http::HttpRequest& request) {
  http::SharedBody shared = request.responseBody();
  plat::Buffer body = shared ? plat::Buffer(*shared) : plat::Buffer();
  shared.reset();
  const plat::CaseMap& headers = request.responseHeaders();
  // Copied: the callback may delete this request, and the headers with it.
  plat::CharArray contentType(findHeader(headers, "Content-Type"));
  const int32_t status = request.statusCode();
  if (const int level = dumpLevel(body)) {
    vlog().info("[%p] Response data for %s (%d):", static_cast<void*>(&request), url_.c_str(), status);
    if (level == 2) dumpHeaders(headers);
    dumpBody(formatCallback_, contentType.get(), body);
  }
  HostedRequestCallback* callback = callback_;
  if (callback->acceptStatus(*this, status)) {
    callback->onHostedResponse(*this, std::move(body), contentType.get());
  } else {
    callback->onHostedError(*this, http::HttpError(status));
  }
}

void HostedRequest::onFailed(http::HttpRequest&, const plat::Exception& error) {
  callback_->onHostedError(*this, error);
}

}  // namespace hosted
