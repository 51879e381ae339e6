#include "libs/hostedremoteaccess/CapsRequest.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hostedremoteaccess/CapsClient.h"
#include "libs/hostedremoteaccess/JsonBody.h"
#include "qocore/base/http/HttpDate.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/LogSrc.h"

namespace hostedremoteaccess {

plat::IntParameter hostedCapsMaxAttempts("_HostedCapsMaxAttempts", "", 6, 1, 2147483647, true);
plat::IntParameter capsResponseFudgeSecs("_CapsResponseFudgeSecs", "", 10, 0, 2147483647, true);

namespace {

PLAT_LOG_SOURCE(vlog, "CapsRequest");

constexpr int32_t kMaxMs = 2147483647;

// clang-format off
struct ReasonText {
  const char* reason;
  const char* text;
};
constexpr ReasonText kReasonTexts[] = {
    {"CAPSObsolete", "Software update required"},
    {"CAPSSubscriptionObsolete", "Subscription update required"},
    {"CAPSBadRedirect", "Bad redirect"},
    {"CAPSNoCreds", "Credentials required but not available"},
    {"CAPSLimitReached", "Connection limit reached"},
};
// Proxy failures that another node cannot mend.
constexpr const char* kFinalProxyReasons[] = {
    "AuthenticationUnsupported", "BadProtocol", "ConnectDenied", "AuthenticationFailed", "AuthenticationRequired",
};
// clang-format on

bool is(const char* reason, const char* word) { return std::strcmp(reason, word) == 0; }

// The "Date" of the headers, when present and valid.
bool headerDate(const plat::CaseMap& headers, plat::TimeValue* out) {
  auto it = headers.find(plat::CharArray("Date"));
  return it != headers.end() && it->second && http::parseHttpDate(it->second.get(), *out);
}

// Milliseconds from ticks, rounded up and held at INT32_MAX.
int32_t ceilMs(plat::TimeValue ticks) {
  const plat::TimeValue ms = ticks / plat::kTicksPerMs + (ticks % plat::kTicksPerMs ? 1 : 0);
  return ms > kMaxMs ? kMaxMs : static_cast<int32_t>(ms);
}

// The first "code" of the 402 body's "errors" that names a refusal of
// its own, else "CAPSObsolete".  A body that is not JSON says nothing
// more than its status.
const char* paymentReason(const plat::Buffer& body, const char* contentType) {
  try {
    plat::JsonRef root = parseJsonBody(body, contentType);
    plat::JsonArray* errors = root->asObject().findArray("errors");
    for (int i = 0; errors && i < errors->count(); ++i) {
      plat::JsonRef element = errors->get(i);
      auto* object = dynamic_cast<plat::JsonObject*>(element.get());
      plat::JsonRef code = object ? object->find("code") : plat::JsonRef();
      auto* text = dynamic_cast<plat::JsonString*>(code.get());
      if (!text) continue;
      if (is(text->get(), "ProductObsolete")) return "CAPSSubscriptionObsolete";
      if (is(text->get(), "ConcurrentConnectionLimitReached")) return "CAPSLimitReached";
      return "CAPSObsolete";
    }
  } catch (const plat::Exception& e) {
    vlog().debug("Unreadable 402 body: %s", e.str());
  }
  return "CAPSObsolete";
}

}  // namespace

// ---- CapsException ----

CapsException::CapsException(const char* reason) noexcept
    : hosted::HostedException(hosted::HostedException::Application, reason, text(reason)) {}

const char* CapsException::text(const char* reason) noexcept {
  for (const ReasonText& r : kReasonTexts)
    if (reason && is(reason, r.reason)) return r.text;
  return nullptr;
}

// ---- Callbacks and providers ----

CapsRequestCallback::~CapsRequestCallback() = default;
CapsCredProvider::FollowUp::~FollowUp() = default;
CapsCredProvider::Observer::~Observer() = default;
CapsCredProvider::~CapsCredProvider() = default;

std::unique_ptr<CapsCredProvider::FollowUp> CapsCredProvider::onRequestSucceeded(CapsRequest*, const plat::Exception&) {
  return nullptr;
}

std::unique_ptr<CapsCredProvider::FollowUp> CapsCredProvider::onRequestFailed(CapsRequest*, const plat::Exception&) {
  return nullptr;
}

CapsRequest::DummyCapsCredProvider::~DummyCapsCredProvider() = default;

bool CapsRequest::DummyCapsCredProvider::bearerToken(plat::CharArray* out) {
  if (!token) return false;
  *out = plat::CharArray(token.c_str());
  return true;
}

bool CapsRequest::DummyCapsCredProvider::basicCredentials(plat::CharArray* outUser, plat::CharArray* outPassword) {
  if (!user || !password) return false;
  *outUser = plat::CharArray(user.get());
  *outPassword = plat::CharArray(password.c_str());
  return true;
}

// ---- CapsRequest ----

CapsRequest::CapsRequest(CapsClient* capsClient, int32_t serviceIndex, const char* path, CapsRequestCallback* callback,
                         const char* method, const plat::Buffer& body)
    : capsClient_(capsClient),
      serviceIndex_(serviceIndex),
      path_(path),
      method_(method),
      body_(body),
      callback_(callback),
      dummyProvider_(capsClient),
      bootstrapInfo_(std::make_unique<hosted::HostedBootstrapInfo>(*capsClient->endpoint(), *capsClient->hostedClient(),
                                                                   this, CapsClient::serviceName(serviceIndex))),
      retryTimer_(this),
      credsTimer_(this) {}

CapsRequest::CapsRequest(CapsCredProvider* provider, int32_t serviceIndex, const char* path,
                         CapsRequestCallback* callback, Creds creds, const char* method, const plat::Buffer& body)
    : CapsRequest(provider->capsClient(), serviceIndex, path, callback, method, body) {
  credProvider_ = provider;
  credsRequired_ = creds == Creds::kRequired;
}

CapsRequest::~CapsRequest() {
  retryTimer_.cancel();
  credsTimer_.cancel();
  currentRequest_.reset();
  bootstrapInfo_.reset();
}

void CapsRequest::setBasicCredentials(const char* user, const char* password) {
  PLAT_ASSERT_TEXT(!credProvider_, "!credPdr");
  dummyProvider_.user = plat::CharArray(user);
  dummyProvider_.password.assign(password);
  credProvider_ = &dummyProvider_;
  credsRequired_ = true;
}

void CapsRequest::setBearerToken(const char* token) {
  PLAT_ASSERT_TEXT(!credProvider_, "!credPdr");
  dummyProvider_.token.assign(token);
  credProvider_ = &dummyProvider_;
  credsRequired_ = true;
}

void CapsRequest::start() {
  const char* learnt = capsClient_->serviceUrl(serviceIndex_);
  if (learnt && (!baseUrl_ || std::strcmp(baseUrl_.get(), learnt) != 0)) baseUrl_ = plat::CharArray(learnt);
  if (learnt) {
    // Only another value counts as new when this one fails.
    bootstrapInfo_->addReportedValue(baseUrl_.get());
    sendTo(baseUrl_.get(), path_.get());
  } else {
    bootstrapInfo_->start(nullptr, 0);
  }
  attempts_ = 1;
}

void CapsRequest::sendTo(const char* base, const char* path) {
  plat::DString url;
  url.appendf("%s%s", base, path);
  sendTo(url.c_str());
}

void CapsRequest::sendTo(const char* url) {
  auto request =
      std::make_unique<hosted::HostedRequest>(*capsClient_->hostedClient(), url, this, *capsClient_->endpoint(), false,
                                              method_.get(), body_, "application/json");
  currentRequest_ = std::move(request);
  hosted::HostedRequest* r = currentRequest_.get();
  if (timeoutMs_ != -1) r->httpRequest().setTimeout(timeoutMs_);
  currentUrl_ = plat::CharArray(url);
  if (credProvider_) {
    hosted::HostedRequest* request = r;
    PLAT_ASSERT(request->isSecure());
    credsUsed_ = true;
    plat::CharArray token, user, password;
    // The provider's secrets are taken over at once: wiped on every path.
    if (credProvider_->bearerToken(&token)) {
      const plat::SecretText bearer = plat::SecretText::adopt(std::move(token));
      // Wiped on release, as the token is.
      plat::MBuf<char> value(static_cast<int>(bearer.length()) + 8, true);
      std::snprintf(value.data(), static_cast<size_t>(value.count()), "Bearer %s", bearer.c_str());
      r->addHeader("Authorization", value.data());
    } else if (credProvider_->basicCredentials(&user, &password)) {
      const plat::SecretText secret = plat::SecretText::adopt(std::move(password));
      r->setBasicAuth(user.get(), secret.c_str());
    } else {
      credsUsed_ = false;
      if (credsRequired_) {
        credsTimer_.start(0);
        return;
      }
    }
  }
  if (maxBodySize_ > 0) r->httpRequest().setMaxBodySize(maxBodySize_);
  for (const auto& [name, value] : extraHeaders_) r->addHeader(name.get(), value.get());
  r->send();
}

void CapsRequest::onBootstrapInfo(const char* url) {
  try {
    io::Uri uri = io::parseUri(url);
    if (!uri.scheme || std::strcmp(uri.scheme.get(), "https") != 0)
      throw plat::Exception("Illegal service scheme '%s'", uri.scheme ? uri.scheme.get() : "");
    (void)io::normaliseEndpoint(uri.host.get(), 443);
    baseUrl_ = plat::CharArray(url);
    capsClient_->recordServiceUrl(serviceIndex_, url, bootstrapInfo_->maxBackoffSecs(), bootstrapInfo_->parameters());
    sendTo(baseUrl_.get(), path_.get());
  } catch (const plat::Exception& e) {
    // Another value of the service may serve; the keeper reports when
    // none is left.
    hosted::HostedException failure(hosted::HostedException::Bootstrap, "GeneralError", e.str());
    bootstrapInfo_->start(&failure, 0);
  }
}

void CapsRequest::onBootstrapInfoError(const hosted::HostedException& error) {
  // Copied: whatever holds the failure may go with this request when the
  // owner deletes it.
  const hosted::HostedException failure(error);
  fail(failure);
}

bool CapsRequest::acceptStatus(hosted::HostedRequest&, int32_t) { return true; }

void CapsRequest::onHostedResponse(hosted::HostedRequest&, plat::Buffer body, const char* contentType) {
  // The finished request goes when the decision is made; a retry makes
  // its own.
  std::unique_ptr<hosted::HostedRequest> done = std::move(currentRequest_);
  http::HttpRequest& http = done->httpRequest();
  const int32_t status = http.statusCode();
  hosted::HostedException statusError(hosted::HostedException::Application, http::HttpError(status), nullptr);
  const char* reason = statusError.reason();

  responseHeaders_ = http.responseHeaders();
  plat::TimeValue serverDate;
  clockOffset_ = headerDate(responseHeaders_, &serverDate)
                     ? plat::getTime() / plat::kTicksPerSecond * plat::kTicksPerSecond - serverDate
                     : 0;

  const bool busy = is(reason, "HTTPTooManyRequests") || is(reason, "HTTPServiceUnavailable");
  if (busy && retryAfterCount_ <= kMaxRetryAfters) {
    const int32_t delay = retryAfterMs();
    if (delay >= 0) {
      retryIn(delay);
      return;
    }
  }
  if ((is(reason, "Network") || is(reason, "HTTPInternalServerError") || is(reason, "HTTPServiceUnavailable")) &&
      attempts_ < hostedCapsMaxAttempts.getValue()) {
    retryWithNewNode(statusError);
    return;
  }

  const char* refusal = nullptr;
  if (is(reason, "HTTPTemporaryRedirect") || is(reason, "HTTPPermanentRedirect")) {
    auto location = responseHeaders_.find(plat::CharArray("Location"));
    if (followRedirect(location == responseHeaders_.end() ? nullptr : location->second.get())) return;
    refusal = "CAPSBadRedirect";
  } else if (is(reason, "HTTPPaymentRequired")) {
    refusal = paymentReason(body, contentType);
  }

  responseBody_ = std::make_shared<const plat::Buffer>(std::move(body));
  status_ = status;
  if (refusal) {
    fail(CapsException(refusal));
  } else if (callback_->acceptStatus(this, status)) {
    finish(Outcome::kResponse, statusError, responseBody_.get(), contentType);
  } else {
    fail(statusError);
  }
}

void CapsRequest::onHostedError(hosted::HostedRequest&, const plat::Exception& error) {
  std::unique_ptr<hosted::HostedRequest> done = std::move(currentRequest_);
  hosted::HostedException wrapped(hosted::HostedException::Application, error, nullptr);
  bool final = false;
  for (const char* word : kFinalProxyReasons) final = final || is(wrapped.proxyReason(), word);
  if (!final && is(wrapped.reason(), "Network") && attempts_ < hostedCapsMaxAttempts.getValue()) {
    retryWithNewNode(wrapped);
    return;
  }
  fail(wrapped);
}

bool CapsRequest::timerExpired(plat::Timer* timer) {
  if (timer == &credsTimer_) {
    currentRequest_.reset();
    fail(CapsException("CAPSNoCreds"));
    return false;
  }
  try {
    plat::CharArray url(currentUrl_.get());
    sendTo(url.get());
  } catch (const plat::Exception& e) {
    // Nothing may leave a timer callback: the request ends here.
    fail(hosted::HostedException(hosted::HostedException::Application, e, nullptr));
  }
  return false;
}

void CapsRequest::retryIn(int32_t delayMs) {
  vlog().debug("Retrying request for %s in %dms", path_.get(), delayMs);
  retryAfterCount_++;
  retryTimer_.start(delayMs);
  callback_->onCapsRetrying(this, delayMs);
}

void CapsRequest::retryWithNewNode(const hosted::HostedException& error) {
  vlog().debug("Retrying request for %s with a new node, request failed: %s", path_.get(), error.str());
  attempts_++;
  redirects_ = 0;
  capsClient_->clearServiceUrl(serviceIndex_);
  bootstrapInfo_->start(&error, kNewNodeDelayMs);
}

bool CapsRequest::followRedirect(const char* location) {
  if (!location) {
    vlog().error("Redirect missing Location header");
    return false;
  }
  if (redirects_ >= kMaxRedirects) {
    vlog().error("Too many redirects");
    return false;
  }
  io::Uri uri;
  try {
    uri = io::parseUri(location);
  } catch (const plat::Exception& e) {
    vlog().error("Redirect error: %s", e.str());
    return false;
  }
  if (credProvider_ && (!uri.scheme || std::strcmp(uri.scheme.get(), "https") != 0)) {
    vlog().error("Redirect not secure");
    return false;
  }
  vlog().debug("Following redirect to %s", location);
  redirects_++;
  try {
    if (uri.scheme)
      sendTo(location);
    else
      sendTo(baseUrl_.get(), location);
  } catch (const plat::Exception& e) {
    // The HTTP client refuses what it must not send (another scheme, a
    // fragment): the redirect is bad, not the program.
    vlog().error("Redirect error: %s", e.str());
    return false;
  }
  return true;
}

int32_t CapsRequest::retryAfterMs() const {
  auto it = responseHeaders_.find(plat::CharArray("Retry-After"));
  if (it == responseHeaders_.end() || !it->second) return -1;
  const char* text = it->second.get();
  if (*text >= '0' && *text <= '9') {
    int64_t seconds = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) seconds = seconds >= 2147484 ? seconds : seconds * 10 + (*p - '0');
    if (!*p) return seconds >= 2147484 ? kMaxMs : static_cast<int32_t>(seconds * 1000);
  }
  plat::TimeValue when;
  if (!http::parseHttpDate(text, when)) return -1;
  const plat::TimeValue local = hosted::addTicks(when, clockOffset_);
  const plat::TimeValue now = plat::getTime();
  return local <= now ? 0 : ceilMs(local - now);
}

plat::CharArray CapsRequest::nextLinkParam(const char* key) const {
  auto it = responseHeaders_.find(plat::CharArray("Link"));
  if (it == responseHeaders_.end() || !it->second) return {};
  const char* text = it->second.get();
  const char* open = std::strchr(text, '<');
  const char* close = open ? std::strchr(open + 1, '>') : nullptr;
  if (!close) return {};
  const char* rest = close + 1;
  if (!std::strstr(rest, "rel=next") && !std::strstr(rest, "rel=\"next\"")) return {};
  try {
    const plat::CharArray link(open + 1, static_cast<int>(close - open - 1));
    io::Uri uri = io::parseUri(link.get());
    io::UriParams params = io::parseUriQuery(uri.query.get(), false);
    auto value = params.find(key);
    if (value == params.end() || !value->second) return {};
    return plat::CharArray(value->second.get());
  } catch (const plat::Exception& e) {
    vlog().debug("Unreadable next link: %s", e.str());
    return {};
  }
}

plat::TimeValue CapsRequest::serverTime() const {
  plat::TimeValue date;
  return headerDate(responseHeaders_, &date) ? date : plat::getTime();
}

plat::TimeValue CapsRequest::fudgedServerTime() const {
  const plat::TimeValue time = serverTime();
  const plat::TimeValue fudge = static_cast<plat::TimeValue>(capsResponseFudgeSecs.getValue()) * plat::kTicksPerSecond;
  return time > fudge ? time - fudge : time;
}

plat::JsonRef CapsRequest::parseJsonBody(const plat::Buffer& body, const char* contentType) {
  return hostedremoteaccess::parseJsonBody(body, contentType);
}

void CapsRequest::finish(Outcome outcome, const plat::Exception& result, const plat::Buffer* body,
                         const char* contentType) {
  // The owner may delete this request when told: what the hooks need
  // after that is copied first.
  CapsCredProvider* provider = credsUsed_ ? credProvider_ : nullptr;
  CapsCredProvider::Observer* observer = provider ? provider->observer() : nullptr;
  std::unique_ptr<CapsCredProvider::FollowUp> followUp;
  if (provider)
    followUp = outcome == Outcome::kResponse ? provider->onRequestSucceeded(this, result)
                                             : provider->onRequestFailed(this, result);
  const bool tell = observer && observer->wants(this);
  // Keeps the body and content type alive while the owner looks at them.
  http::SharedBody keep = responseBody_;
  const plat::CharArray type(contentType);
  CapsRequestCallback* callback = callback_;
  if (outcome == Outcome::kResponse)
    callback->onCapsResponse(this, *body, type.get());
  else
    callback->onCapsError(this, result);
  if (!tell) return;
  if (outcome == Outcome::kResponse)
    observer->onCompleted();
  else
    observer->onFailedWith(followUp.get());
}

}  // namespace hostedremoteaccess
