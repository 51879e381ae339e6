#pragma once
// One HTTP/1.1 exchange.
//
// http::NativeHttpRequest takes a connection from its client's pool, writes
// the request line, headers and body, reads the status line and headers,
// asks its owner whether the status is acceptable, reads the body (by
// "Content-Length" or chunked), hands the connection back to the pool or
// closes it, and reports exactly once through the owner's
// http::HttpCallback.  It enforces a time-out and a body-size limit and
// records the monotonic times the request log turns into timings.
//
// A failure found inside a connection handler is delivered through a 0 ms
// timer, so the owner never runs inside the connection's handler; a
// connect failure and success are delivered directly.  The owner may
// delete the request inside its callback: the request touches nothing of
// itself after calling out.  Log source "HttpRequest".

#include <cstdint>
#include <memory>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace rdr {
class MemInStream;
}

namespace http {

class HttpCallback;
class HttpResponseHeaderParser;
class NativeHttpClient;

// The largest response body a request accepts unless told otherwise.
extern plat::IntParameter httpMaxResourceSize;

// A finished response body, shared by every holder; freed with the last.
using SharedBody = std::shared_ptr<const plat::Buffer>;

class HttpRequest {
 public:
  enum State : int32_t {
    New = 0,
    Failed = 1,
    Rejected = 2,  // the owner refused the status
    Connecting = 3,
    Sending = 4,  // connected; request written, response awaited
    ReceivingBody = 6,
    Succeeded = 7,
  };

  virtual ~HttpRequest();
  // Negative: no time-out.  A running time-out keeps counting from when it
  // was armed.
  virtual void setTimeout(int32_t ms) = 0;
  // "Authorization: Basic ..."; a null user removes the header.
  virtual void setBasicAuth(const char* user, const char* password) = 0;
  virtual void setMaxBodySize(int32_t bytes) = 0;
  // Replaces any earlier value of the header (names compared without
  // regard to case).
  virtual void addHeader(const char* name, const char* value) = 0;
  // Sets "Content-Type" and "Content-Length" and copies the body.
  virtual void setBody(const char* contentType, const plat::Buffer& body) = 0;
  virtual void setCloseConnection() = 0;
  // Once; cb must not be null.
  virtual void start(HttpCallback* cb) = 0;
  virtual int32_t state() = 0;
  virtual const char* url() = 0;
  virtual const char* method() = 0;
  virtual const plat::Buffer& requestBody() = 0;
  virtual const plat::CaseMap& requestHeaders() = 0;
  // Monotonic times (100-ns ticks), -1 until reached.  connectTime stays
  // -1 when a pooled connection was reused.
  virtual int64_t startTime() = 0;
  virtual int64_t connectTime() = 0;
  virtual int64_t sendTime() = 0;
  virtual int64_t endTime() = 0;
  // Only once a status line was read.
  virtual int32_t statusCode() = 0;
  virtual const plat::CaseMap& responseHeaders() = 0;
  // Empty (null) before success and for an empty body.
  virtual SharedBody responseBody() = 0;
  // Body bytes received; *total gets the announced length, -1 when unknown.
  virtual int32_t progress(int32_t* total) = 0;
};

class NativeHttpRequest : public HttpRequest,
                          public plat::Timer::Callback,
                          public io::IoHandler,
                          public io::IoConnected {
 public:
  static constexpr int32_t kDefaultTimeoutMs = 15000;
  // How long a request waits for a busy pooled connection (doubled by the
  // pool).
  static constexpr int32_t kPoolWaitMs = 2000;
  static constexpr int32_t kMaxChunkLine = 124;

  // client must outlive the request.  Made by NativeHttpClient.
  NativeHttpRequest(NativeHttpClient* client, const char* url, const char* hostHeader, const char* poolKey,
                    const char* path, const char* query, const char* method);
  ~NativeHttpRequest() override;
  NativeHttpRequest(const NativeHttpRequest&) = delete;
  NativeHttpRequest& operator=(const NativeHttpRequest&) = delete;

  void setTimeout(int32_t ms) override;
  void setBasicAuth(const char* user, const char* password) override;
  void setMaxBodySize(int32_t bytes) override;
  void addHeader(const char* name, const char* value) override;
  void setBody(const char* contentType, const plat::Buffer& body) override;
  void setCloseConnection() override { closeConnection_ = true; }
  void start(HttpCallback* cb) override;
  int32_t state() override { return state_; }
  const char* url() override { return url_.c_str(); }
  const char* method() override { return method_.c_str(); }
  const plat::Buffer& requestBody() override { return requestBody_; }
  const plat::CaseMap& requestHeaders() override { return requestHeaders_; }
  int64_t startTime() override { return startTime_; }
  int64_t connectTime() override { return connectTime_; }
  int64_t sendTime() override { return sendTime_; }
  int64_t endTime() override { return endTime_; }
  int32_t statusCode() override;
  const plat::CaseMap& responseHeaders() override;
  SharedBody responseBody() override { return bodyHandle_; }
  int32_t progress(int32_t* total) override;

  const char* poolKey() const noexcept { return poolKey_.c_str(); }

  // The time-out, and the delivery of a failure.
  bool timerExpired(plat::Timer* timer) override;
  // The pool connector's result.
  void connected(io::IoConnector& connector, io::Io* io) override;
  void failed(io::IoConnector& connector, const plat::Exception& error) override;
  // The connection's events.
  void readable(io::Io& io) override;
  void writable(io::Io& io) override;
  void shutdownDone(io::Io& io) override;

 private:
  using Step = bool (NativeHttpRequest::*)();

  void send();
  void writeBody();
  // Hands the connection back (or closes it) and tells the owner.
  void complete(bool close);
  // Records the failure and closes what is open; the owner hears of it
  // from the timer.
  void fail(std::unique_ptr<plat::Exception> error);
  // Leaves the pool's count and closes the connection.
  void closeIo(const char* reason);

  bool readHead();
  bool readFixedBody();
  bool readChunkSize();
  bool readChunkData();
  bool readTrailer();
  // Copies up to remaining_ available bytes into the body.
  void copyBody();
  void reserveBody();

  NativeHttpClient* client_;
  plat::CharArray url_;
  plat::CharArray poolKey_;
  plat::CharArray path_;
  plat::CharArray query_;
  plat::CharArray method_;
  HttpCallback* callback_ = nullptr;
  plat::Timer timer_;
  int32_t timeoutMs_ = kDefaultTimeoutMs;
  int32_t maxBodySize_;
  int64_t startTime_ = -1;
  int64_t connectTime_ = -1;
  int64_t sendTime_ = -1;
  int64_t endTime_ = -1;
  int32_t state_ = New;
  // Owned while held; released through the pool or its own shutdown.
  io::Io* io_ = nullptr;
  std::unique_ptr<io::IoConnector> connector_;
  std::unique_ptr<plat::Exception> error_;
  plat::CaseMap requestHeaders_;
  plat::Buffer requestBody_;
  std::unique_ptr<rdr::MemInStream> bodyIn_;
  bool closeConnection_ = false;
  bool bodyPending_ = false;
  // The request's own "Connection" header asks to close.
  bool requestClose_ = false;
  // A 101 answer: the connection now speaks another protocol.
  bool switchedProtocol_ = false;
  std::unique_ptr<HttpResponseHeaderParser> parser_;
  rdr::MemOutStream body_;
  SharedBody bodyHandle_;
  Step step_ = nullptr;
  int32_t remaining_ = 0;
  int32_t contentLength_ = -1;
};

}  // namespace http
