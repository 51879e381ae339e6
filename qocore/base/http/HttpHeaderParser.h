#pragma once
// Readers of HTTP message heads (a start line and header fields) on byte
// input that may run dry.
//
// A line ends at LF; the CR of a CR LF is dropped and any other CR reads
// as a space, so that it never joins the text on either side of it.
//
// parse() reads one line at a time and, unless told otherwise, sets the
// input's checkpoint after each accepted line: when the input blocks, the
// stream's rdr::BlockException reaches the caller, who calls parse() again
// once more input has arrived and the parser goes on with the next line.
// Called again after a complete head, parse() reads a further block of
// fields (the trailer of a chunked body) under the same limits.  Malformed
// input is an http::HttpParseException; a parser is not used after one.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"

namespace rdr {
class InStream;
}

namespace http {

class HttpParseException : public plat::Exception {
 public:
  explicit HttpParseException(const char* message) noexcept;
};

class HttpHeaderParser {
 public:
  // A line longer than this many bytes (its ending CR LF or LF not
  // counted) is refused.
  static constexpr int32_t kMaxLine = 8192;
  // The start line and the field lines together.
  static constexpr int32_t kMaxLines = 500;

  explicit HttpHeaderParser(rdr::InStream& in);
  virtual ~HttpHeaderParser();
  HttpHeaderParser(const HttpHeaderParser&) = delete;
  HttpHeaderParser& operator=(const HttpHeaderParser&) = delete;

  // Returns once the empty line ending the head has been read.
  void parse();
  // The value of a field (names compared without regard to case); a field
  // that came several times holds its values joined by ",".  Null when
  // absent.
  const char* header(const char* name) const;

  // With on, the input's checkpoint is left to the caller.
  void setNoCheckpoint(bool on) noexcept { noCheckpoint_ = on; }
  int32_t lineCount() const noexcept { return lineCount_; }
  const plat::CaseMap& headers() const noexcept { return headers_; }
  plat::CaseMap& headers() noexcept { return headers_; }

 protected:
  // The start line; false refuses it.
  virtual bool parseFirstLine(const char* line) = 0;

 private:
  void readLine();
  void parseField();
  void accept();

  rdr::InStream& in_;
  plat::DString line_;
  int32_t lineCount_ = 0;
  bool noCheckpoint_ = false;
  plat::CaseMap headers_;
};

// "HTTP/1.1 200 OK": the version (at most 9 bytes kept), a blank, a status
// of 100 to 999, a blank and a reason phrase that may be empty.
class HttpResponseHeaderParser : public HttpHeaderParser {
 public:
  explicit HttpResponseHeaderParser(rdr::InStream& in) : HttpHeaderParser(in) {}

  const char* version() const noexcept { return version_; }
  // -1 until the status line has been read.
  int32_t status() const noexcept { return status_; }

 protected:
  bool parseFirstLine(const char* line) override;

 private:
  char version_[10] = {};
  int32_t status_ = -1;
};

// "GET /path HTTP/1.1": method, URI and version, each cut to its field on
// a whole UTF-8 sequence.
class HttpRequestHeaderParser : public HttpHeaderParser {
 public:
  explicit HttpRequestHeaderParser(rdr::InStream& in) : HttpHeaderParser(in) {}

  const char* method() const noexcept { return method_; }
  const char* uri() const noexcept { return uri_; }
  const char* version() const noexcept { return version_; }

 protected:
  bool parseFirstLine(const char* line) override;

 private:
  char method_[16] = {};
  char uri_[512] = {};
  char version_[10] = {};
};

// The next token of a comma-separated token list (the value of
// "Connection", say), advancing the cursor past it; null once the list is
// exhausted.  A separator or control byte inside a token, or a CR that
// does not start folded white space, is an HttpParseException.
plat::CharArray nextToken(const char*& cursor);
// Whether a token list (a "Connection" value, say; null is none) holds
// "close" in any letter case.  Throws as nextToken does.
bool hasCloseToken(const char* value);

}  // namespace http
