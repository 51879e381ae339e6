#pragma once
// One HTTPS exchange with the maker's cloud services: a thin layer over one
// http::HttpRequest that adds the service headers ("Corvane-Business-
// Operation-ID", a fresh "Corvane-API-Action-ID", "Accept"), the configured
// time-out, an optional dump of request and response data to the log, and
// turns the HTTP outcome into one call on a HostedRequestCallback.
//
// Every status reaches the hosted callback, which decides whether it counts
// as success; one it refuses becomes an http::HttpError.  The request
// touches nothing of itself after calling out, so its owner may delete it
// inside that call.  Log source "HostedRequest".

#include <cstdint>
#include <memory>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/MBuf.h"

namespace http {
class HttpRequest;
}

namespace hosted {

class HostedClient;
class HostedEndpoint;
class HostedRequest;

// "_HostedRequestDump": 0 none; 1 request and response bodies when not
// empty; 2 also every header, and the heading even for an empty body.
extern plat::IntParameter hostedRequestDump;
// "HostedRequestTimeout", in seconds.
extern plat::IntParameter hostedRequestTimeout;

// The receiver of a hosted request's outcome: exactly one of
// onHostedResponse and onHostedError follows each send.  It must outlive
// the request's send; it may delete the request inside either call.
class HostedRequestCallback {
 public:
  // The body is handed over; the content type is null when the answer
  // named none.  Both stay valid only for the call.
  virtual void onHostedResponse(HostedRequest& request, plat::Buffer body, const char* contentType) = 0;
  virtual void onHostedError(HostedRequest& request, const plat::Exception& error) = 0;
  // Whether the status counts as success.
  virtual bool acceptStatus(HostedRequest& request, int32_t status) = 0;
  virtual ~HostedRequestCallback();
};

// Writes a body as log text for the request dump.
class HostedFormatCallback {
 public:
  virtual ~HostedFormatCallback();
  virtual plat::DString formatBody(const char* contentType, const plat::Buffer& body) = 0;
};

// The BED text form of the body, or the "not BED-encoded" text.
class BedFormatCallback : public HostedFormatCallback {
 public:
  // The process-wide instance, made on first use and never destroyed.
  static BedFormatCallback* instance();
  plat::DString formatBody(const char* contentType, const plat::Buffer& body) override;
};

// JSON log text, unless a content type is given that does not mention
// "json": that body goes to the BED formatter.
class JsonFormatCallback : public HostedFormatCallback {
 public:
  static JsonFormatCallback* instance();
  plat::DString formatBody(const char* contentType, const plat::Buffer& body) override;
};

class HostedRequest : public http::HttpCallback {
 public:
  // Builds the request without sending it: body (with its content type)
  // when not empty, the configured time-out, credentials of the endpoint
  // when `authenticate` (only ever over https: anything else is a failed
  // assertion), and the service headers.  The callback and the endpoint
  // are borrowed.  A URL the HTTP client refuses throws its exception.
  HostedRequest(HostedClient& client, const char* url, HostedRequestCallback* callback, const HostedEndpoint& endpoint,
                bool authenticate, const char* method, const plat::Buffer& body, const char* contentType);
  ~HostedRequest() override;
  HostedRequest(const HostedRequest&) = delete;
  HostedRequest& operator=(const HostedRequest&) = delete;

  // Dumps the request when asked to and starts it.
  void send();
  // The HTTP time-out for a server-side wait of ms: ms + min(ms / 4,
  // 15000) + 15000.
  void setTimeout(int32_t ms);
  void setBasicAuth(const char* user, const char* password);
  void addHeader(const char* name, const char* value);
  void setCloseConnection();
  // Milliseconds since the request was sent.
  int64_t elapsedMs();

  const char* url() const noexcept { return url_.get(); }
  // Whether the URL is an "https" one.
  bool isSecure() const noexcept;
  // The request beneath, for its response headers and times.
  http::HttpRequest& httpRequest() noexcept { return *request_; }

  // The text itself when it is only ASCII letters and digits, else "_" and
  // the unpadded URL-safe Base64 of its bytes.
  static plat::CharArray encodePrincipal(const char* principal);

  // http::HttpCallback: every status is let through to onSucceeded.
  bool acceptStatus(http::HttpRequest& request, int32_t status) override;
  void onSucceeded(http::HttpRequest& request) override;
  void onFailed(http::HttpRequest& request, const plat::Exception& error) override;

 private:
  std::unique_ptr<http::HttpRequest> request_;
  HostedFormatCallback* formatCallback_;
  HostedRequestCallback* callback_;
  plat::CharArray url_;
};

}  // namespace hosted
