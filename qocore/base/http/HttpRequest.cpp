#include "qocore/base/http/HttpRequest.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/http/HttpHeaderParser.h"
#include "qocore/base/http/UserAgent.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/io/IoPool.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace http {

plat::IntParameter httpMaxResourceSize("_HttpMaxResourceSize", "", 1073741824, 0, 2147483647, true);

namespace {

PLAT_LOG_SOURCE(vlog, "HttpRequest");

int64_t now() { return plat::getMonotonicTime(); }

// A failure while reading the response: its message wrapped, its type
// kept.
class ResponseError : public plat::Exception {
 public:
  explicit ResponseError(const plat::Exception& cause) noexcept {
    formatMessage("Error reading response: %s", cause.str());
    setType(cause.typeName());
  }
};

// A failure to connect, its message wrapped, its type kept.
class ConnectError : public plat::Exception {
 public:
  explicit ConnectError(const plat::Exception& cause) noexcept {
    // A long text is cut at a whole UTF-8 sequence.
    formatMessage("Error connecting: %s", cause.str());
    setType(cause.typeName());
  }
};

// The value as a whole decimal (or hexadecimal) number of 0 to INT32_MAX
// after trimming blanks; false otherwise.
bool parseLength(const char* text, int base, int32_t& out) {
  plat::CharArray trimmed(text);
  plat::trimLeft(trimmed.get());
  plat::trimRight(trimmed.get());
  const char* cursor = trimmed.c_str();
  const char first = *cursor;
  const bool digit = (first >= '0' && first <= '9') ||
                     (base == 16 && ((first >= 'a' && first <= 'f') || (first >= 'A' && first <= 'F')));
  int32_t value = 0;
  if (!digit || !plat::parseInt(value, cursor, base) || *cursor != '\0' || value < 0) return false;
  out = value;
  return true;
}

}  // namespace

HttpRequest::~HttpRequest() = default;

NativeHttpRequest::NativeHttpRequest(NativeHttpClient* client, const char* url, const char* hostHeader,
                                     const char* poolKey, const char* path, const char* query, const char* method)
    : client_(client),
      url_(url),
      poolKey_(poolKey),
      path_(path),
      query_(query),
      method_(method),
      timer_(this),
      maxBodySize_(httpMaxResourceSize.getValue()),
      body_(0, maxBodySize_) {
  addHeader("Host", hostHeader);
  addHeader("User-Agent", userAgent().c_str());
}

NativeHttpRequest::~NativeHttpRequest() {
  if (io_) closeIo("request aborted");
  connector_.reset();
  parser_.reset();
  bodyIn_.reset();
  timer_.cancel();
  plat::CaseMap::iterator auth = requestHeaders_.find("Authorization");
  if (auth != requestHeaders_.end()) plat::secureFreeStr(auth->second);
}

void NativeHttpRequest::setTimeout(int32_t ms) {
  if (ms < 0) {
    timer_.cancel();
  } else if (timer_.isRunning()) {
    const int64_t remainingMs = timer_.remaining() / plat::kTicksPerMs;
    const int64_t next = remainingMs + int64_t(ms) - timeoutMs_;
    timer_.start(static_cast<int>(std::clamp<int64_t>(next, 0, INT32_MAX)));
  }
  timeoutMs_ = ms;
}

void NativeHttpRequest::setBasicAuth(const char* user, const char* password) {
  if (!user) {
    auto it = requestHeaders_.find("Authorization");
    if (it != requestHeaders_.end()) {
      plat::secureFreeStr(it->second);
      requestHeaders_.erase(it);
    }
    return;
  }
  plat::DString pair;
  pair.append(user).append(":").append(password ? password : "");
  const plat::SecretText encoded = plat::SecretText::adopt(plat::base64Encode(pair.c_str(), pair.length(), false));
  plat::secureZero(pair.buf(), static_cast<size_t>(pair.length()));
  plat::DString value;
  value.append("Basic ").append(encoded.c_str());
  addHeader("Authorization", value.c_str());
  plat::secureZero(value.buf(), static_cast<size_t>(value.length()));
}

void NativeHttpRequest::setMaxBodySize(int32_t bytes) {
  maxBodySize_ = bytes;
  body_.setLimit(std::max(bytes, body_.length()));
}

void NativeHttpRequest::addHeader(const char* name, const char* value) {
  auto it = requestHeaders_.findOrInsert(name);
  plat::secureAssignStr(it->second, value);
}

void NativeHttpRequest::setBody(const char* contentType, const plat::Buffer& body) {
  addHeader("Content-Type", contentType);
  addHeader("Content-Length", std::to_string(body.count()).c_str());
  requestBody_ = body;
  bodyIn_ = std::make_unique<rdr::MemInStream>(requestBody_.data(), requestBody_.count());
}

void NativeHttpRequest::start(HttpCallback* cb) {
  PLAT_ASSERT_TEXT(!callback_ && cb, "!callback && cb");
  PLAT_ASSERT(state_ == New);
  callback_ = cb;
  if (timeoutMs_ >= 0) timer_.start(timeoutMs_);
  startTime_ = now();
  connector_ = client_->pool().createConnector(poolKey_.c_str(), kPoolWaitMs);
  state_ = Connecting;
  connector_->start(this);
}

int32_t NativeHttpRequest::statusCode() {
  const int32_t st = parser_ ? parser_->status() : -1;
  PLAT_ASSERT(st > 0);
  return st;
}

const plat::CaseMap& NativeHttpRequest::responseHeaders() {
  static const plat::CaseMap* const kNone = new plat::CaseMap();
  return parser_ ? parser_->headers() : *kNone;
}

int32_t NativeHttpRequest::progress(int32_t* total) {
  if (total) *total = contentLength_;
  return bodyHandle_ ? bodyHandle_->count() : body_.length();
}

void NativeHttpRequest::connected(io::IoConnector& connector, io::Io* io) {
  connectTime_ = io::IoPool::connectorTag(&connector);
  if (connectTime_ >= 1 && closeConnection_) addHeader("Connection", "close");
  connector_.reset();
  io_ = io;
  io_->setHandler(this, true);
  state_ = Sending;
  send();
}

void NativeHttpRequest::send() {
  try {
    std::string target = io::composePathAndQuery(path_.c_str(), query_.c_str()).c_str();
    if (std::strcmp(method_.c_str(), "OPTIONS") == 0 && target == "/*") target = "*";
    vlog().debug("Issuing request \"%s %s HTTP/1.1\" to %s [%p]", method_.c_str(), target.c_str(), poolKey_.c_str(),
                 static_cast<void*>(this));
    if (timeoutMs_ >= 0) timer_.start(timeoutMs_);
    plat::DString head(1024);
    head.appendf("%s %s HTTP/1.1\r\n", method_.c_str(), target.c_str());
    for (const auto& [name, value] : requestHeaders_) head.appendf("%s: %s\r\n", name.c_str(), value.c_str());
    head.append("\r\n");
    plat::ScopeExit wipe([&head] { plat::secureZero(head.buf(), static_cast<size_t>(head.length())); });
    sendTime_ = now();
    rdr::OutStream& out = io_->out();
    if (head.length() > out.spaceLimit()) throw plat::Exception("Headers too large");
    out.writeBytes(head.c_str(), head.length());
    parser_ = std::make_unique<HttpResponseHeaderParser>(io_->in());
    step_ = &NativeHttpRequest::readHead;
    if (bodyIn_) bodyPending_ = !os::LaunchWithPipe::writeAll(*bodyIn_, out, false);
    out.flush();
  } catch (const plat::Exception& e) {
    fail(std::make_unique<plat::Exception>(e));
  }
}

void NativeHttpRequest::writeBody() {
  try {
    if (os::LaunchWithPipe::writeAll(*bodyIn_, io_->out(), false)) bodyPending_ = false;
  } catch (const plat::Exception& e) {
    fail(std::make_unique<plat::Exception>(e));
  }
}

void NativeHttpRequest::writable(io::Io& io) {
  if (&io != io_ || !bodyPending_) return;
  writeBody();
}

void NativeHttpRequest::readable(io::Io& io) {
  if (&io != io_ || state_ == Failed || state_ == Rejected) return;
  bool close = false;
  try {
    auto connection = requestHeaders_.find("Connection");
    requestClose_ = connection != requestHeaders_.end() && hasCloseToken(connection->second.get());
    while (step_) {
      const Step step = step_;
      if (!(this->*step)()) return;
      io_->in().setCheckpoint();
    }
    close = requestClose_ || switchedProtocol_ || hasCloseToken(parser_->header("Connection"));
  } catch (const rdr::BlockException&) {
    return;
  } catch (const plat::Exception& e) {
    vlog().debug("Exception thrown while processing request: %s", e.str());
    fail(std::make_unique<ResponseError>(e));
    return;
  }
  complete(close);
}

bool NativeHttpRequest::readHead() {
  parser_->parse();
  const int32_t status = parser_->status();
  if (status >= 100 && status < 200 && status != 101) {
    // An interim answer: its fields are dropped and the final one follows
    // under the same limits.
    parser_ = std::make_unique<HttpResponseHeaderParser>(io_->in());
    return true;
  }
  if (strcasecmp(parser_->version(), "HTTP/1.1") != 0) {
    auto it = parser_->headers().findOrInsert("Connection");
    it->second = plat::CharArray("close");
  }
  switchedProtocol_ = status == 101;
  state_ = ReceivingBody;
  if (!callback_->acceptStatus(*this, status)) {
    fail(std::make_unique<HttpError>(status));
    state_ = Rejected;
    return false;
  }
  step_ = nullptr;
  if ((status >= 100 && status < 200) || status == 204 || status == 304 || std::strcmp(method_.c_str(), "HEAD") == 0)
    return true;
  if (const char* coding = parser_->header("Transfer-Encoding")) {
    std::string value(coding);
    const size_t first = value.find_first_not_of(" \t\r\n");
    const size_t last = value.find_last_not_of(" \t\r\n");
    value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    for (char& c : value) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (value != "chunked") throw plat::ExceptionFmt("Unsupported Transfer-Encoding: %s", coding);
    step_ = &NativeHttpRequest::readChunkSize;
    return true;
  }
  int32_t length = 0;
  const char* contentLength = parser_->header("Content-Length");
  if (!contentLength || !parseLength(contentLength, 10, length))
    throw plat::Exception("Unsupported response: no length");
  contentLength_ = remaining_ = length;
  reserveBody();
  step_ = &NativeHttpRequest::readFixedBody;
  return true;
}

void NativeHttpRequest::reserveBody() {
  if (int64_t(body_.length()) + remaining_ > maxBodySize_)
    throw plat::ExceptionFmt("Maximum body size of %d bytes exceeded", maxBodySize_);
  // Room for the whole piece at once, so the body grows once per piece.
  if (remaining_ > 0) (void)body_.check(remaining_, 1);
}

void NativeHttpRequest::copyBody() {
  rdr::InStream& in = io_->in();
  while (remaining_ > 0) {
    in.check(true, 1);
    const int32_t n = std::min(in.nUnread(), remaining_);
    body_.writeBytes(in.getPtr(), n);
    in.advance(n);
    remaining_ -= n;
    in.setCheckpoint();
  }
}

bool NativeHttpRequest::readFixedBody() {
  copyBody();
  step_ = nullptr;
  return true;
}

bool NativeHttpRequest::readChunkSize() {
  plat::DString line;
  bool sawNul = false;
  try {
    (void)io_->in().readLine(line, kMaxChunkLine, &sawNul);
  } catch (const rdr::StringTooLongException&) {
    throw plat::Exception("Chunk size too long");
  }
  if (sawNul) throw plat::Exception("Chunk size has embedded nul");
  int32_t size = 0;
  const char* text = line.c_str();
  // The whole line is the size: an extension after ";" is refused, and
  // so are blanks.
  if (!*text || std::strspn(text, "0123456789abcdefABCDEF") != std::strlen(text) || !parseLength(text, 16, size))
    throw plat::Exception("Unsupported chunk size");
  remaining_ = size;
  reserveBody();
  step_ = size > 0 ? &NativeHttpRequest::readChunkData : &NativeHttpRequest::readTrailer;
  return true;
}

bool NativeHttpRequest::readChunkData() {
  if (remaining_ > 0) copyBody();
  rdr::InStream& in = io_->in();
  in.check(true, 2);
  const uint8_t* end = in.getPtr();
  if (end[0] != '\r' || end[1] != '\n') throw plat::Exception("Invalid chunked encoding");
  in.advance(2);
  step_ = &NativeHttpRequest::readChunkSize;
  return true;
}

bool NativeHttpRequest::readTrailer() {
  parser_->parse();
  step_ = nullptr;
  return true;
}

void NativeHttpRequest::complete(bool close) {
  io::Io* io = io_;
  io_ = nullptr;
  if (!close && !bodyPending_) {
    client_->pool().release(poolKey_.c_str(), io);
  } else {
    client_->pool().discard(io, close ? "connection closed" : "request not fully sent");
    io->shutdown(true, false);
  }
  bodyPending_ = false;
  timer_.cancel();
  state_ = Succeeded;
  endTime_ = now();
  if (body_.length() > 0) bodyHandle_ = std::make_shared<const plat::Buffer>(body_.takeBuffer());
  client_->logRequest(*this);
  vlog().debug("Request succeeded: %d [%p]", parser_->status(), static_cast<void*>(this));
  HttpCallback* cb = callback_;
  callback_ = nullptr;
  // The owner may delete this request here.
  cb->onSucceeded(*this);
}

void NativeHttpRequest::closeIo(const char* reason) {
  io::Io* io = io_;
  io_ = nullptr;
  client_->pool().discard(io, reason);
  io->shutdown(true, false);
}

void NativeHttpRequest::fail(std::unique_ptr<plat::Exception> error) {
  error_ = std::move(error);
  state_ = Failed;
  bodyPending_ = false;
  step_ = nullptr;
  if (io_) closeIo(error_->str());
  connector_.reset();
  timer_.start(0);
}

bool NativeHttpRequest::timerExpired(plat::Timer*) {
  std::unique_ptr<plat::Exception> error = std::move(error_);
  if (!error) error = std::make_unique<plat::Exception>("Timed out fetching resource");
  vlog().debug("Request failed: %s [%p]", error->str(), static_cast<void*>(this));
  if (io_) closeIo(error->str());
  connector_.reset();
  step_ = nullptr;
  if (state_ != Rejected) state_ = Failed;
  endTime_ = now();
  HttpCallback* cb = callback_;
  callback_ = nullptr;
  // The owner may delete this request here; the error is this call's own.
  if (cb) cb->onFailed(*this, *error);
  return false;
}

void NativeHttpRequest::failed(io::IoConnector&, const plat::Exception& error) {
  state_ = Failed;
  // The error may belong to the connector, which goes now: copied first.
  const ConnectError wrapped(error);
  connector_.reset();
  timer_.cancel();
  vlog().debug("Request failed: %s [%p]", wrapped.str(), static_cast<void*>(this));
  HttpCallback* cb = callback_;
  callback_ = nullptr;
  // The owner may delete this request here.
  if (cb) cb->onFailed(*this, wrapped);
}

void NativeHttpRequest::shutdownDone(io::Io& io) {
  if (&io != io_) return;
  // The connection has deleted itself.
  client_->pool().discard(io_, "Io shutdown unexpectedly");
  io_ = nullptr;
  fail(std::make_unique<plat::Exception>("Io shutdown unexpectedly"));
}

}  // namespace http
