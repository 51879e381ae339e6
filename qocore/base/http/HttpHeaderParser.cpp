#include "qocore/base/http/HttpHeaderParser.h"

#include <strings.h>

#include <cstring>

#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"

namespace http {

HttpParseException::HttpParseException(const char* message) noexcept : plat::Exception(message) {
  setType("HttpParse");
}

HttpHeaderParser::HttpHeaderParser(rdr::InStream& in) : in_(in), line_(1024) {}

HttpHeaderParser::~HttpHeaderParser() = default;

const char* HttpHeaderParser::header(const char* name) const {
  auto it = headers_.find(name);
  return it == headers_.end() ? nullptr : it->second.c_str();
}

namespace {

// Whether the next byte is an LF; false at the end of the input.  Input
// that has run dry blocks as any read does.
bool lfFollows(rdr::InStream& in) {
  try {
    return in.check(true, 1) && *in.getPtr() == '\n';
  } catch (const rdr::EndOfStream&) {
    return false;
  } catch (const rdr::EndOfMsg&) {
    return false;
  }
}

}  // namespace

// Not rdr::InStream::readLine, which drops every CR: a CR inside a line
// would then join what stands on either side of it ("1\r2" reading as
// "12").  Here only the CR of a CR LF goes; any other CR is a space.
void HttpHeaderParser::readLine() {
  std::string line;
  bool readAny = false;
  bool sawNul = false;
  try {
    for (;;) {
      uint8_t c = in_.readU8();
      readAny = true;
      if (c == '\n') break;
      if (c == '\r') {
        if (lfFollows(in_)) {
          in_.advance(1);
          break;
        }
        c = ' ';
      }
      if (c == '\0') sawNul = true;
      if (line.size() >= static_cast<size_t>(kMaxLine)) throw HttpParseException("Line exceeds maximum length");
      line.push_back(static_cast<char>(c));
    }
  } catch (const rdr::EndOfStream&) {
    // The end of the input ends a line that has begun.
    if (!readAny) throw;
  } catch (const rdr::EndOfMsg&) {
    if (!readAny) throw;
  }
  if (sawNul) throw HttpParseException("Line has embedded nul");
  line_.assign(line.c_str());
}

void HttpHeaderParser::accept() {
  if (!noCheckpoint_) in_.setCheckpoint();
  lineCount_++;
}

void HttpHeaderParser::parse() {
  if (lineCount_ > kMaxLines) throw HttpParseException("Too many headers");
  if (lineCount_ == 0) {
    readLine();
    if (!parseFirstLine(line_.c_str())) throw HttpParseException("Bad first line");
    accept();
  }
  for (;;) {
    readLine();
    if (line_.empty()) {
      if (!noCheckpoint_) in_.setCheckpoint();
      return;
    }
    parseField();
    accept();
    if (lineCount_ > kMaxLines) throw HttpParseException("Too many headers");
  }
}

void HttpHeaderParser::parseField() {
  const char* line = line_.c_str();
  if (line[0] == ' ' || line[0] == '\t') throw HttpParseException("Unsupported 'obs-fold' header");
  const char* colon = std::strchr(line, ':');
  if (!colon) throw HttpParseException("No colon in header");
  const char* value = colon + 1;
  while (*value == ' ' || *value == '\t') value++;
  plat::CharArray name(line, static_cast<int>(colon - line));
  auto it = headers_.find(name);
  if (it == headers_.end()) {
    headers_.emplace(std::move(name), plat::CharArray(value));
    return;
  }
  plat::DString joined;
  joined.append(it->second.c_str()).append(",").append(value);
  it->second = joined.release();
}

bool HttpResponseHeaderParser::parseFirstLine(const char* line) {
  const char* blank = std::strchr(line, ' ');
  if (!blank || blank == line) return false;
  plat::safeStrCopy(version_, plat::CharArray(line, static_cast<int>(blank - line)).c_str(), sizeof version_);
  const char* statusText = blank + 1;
  const char* statusEnd = std::strchr(statusText, ' ');
  if (!statusEnd) return false;
  const plat::CharArray digits(statusText, static_cast<int>(statusEnd - statusText));
  // Only plain digits: the number parser would also take a sign or
  // leading white space.
  if (digits.c_str()[0] < '0' || digits.c_str()[0] > '9') return false;
  const char* cursor = digits.c_str();
  int32_t status = 0;
  if (!plat::parseInt(status, cursor) || *cursor != '\0') return false;
  if (status < 100 || status > 999) return false;
  status_ = status;
  return true;
}

bool HttpRequestHeaderParser::parseFirstLine(const char* line) {
  const char* first = std::strchr(line, ' ');
  if (!first) return false;
  const char* second = std::strchr(first + 1, ' ');
  if (!second) return false;
  plat::safeStrCopy(method_, plat::CharArray(line, static_cast<int>(first - line)).c_str(), sizeof method_);
  plat::safeStrCopy(uri_, plat::CharArray(first + 1, static_cast<int>(second - first - 1)).c_str(), sizeof uri_);
  plat::safeStrCopy(version_, second + 1, sizeof version_);
  return true;
}

namespace {

bool isDelimiter(unsigned char c) {
  if (c < 0x20 || c == 0x7f) return true;
  return std::strchr("()<>@,;:\\\"/[]?={} ", c) != nullptr;
}

}  // namespace

plat::CharArray nextToken(const char*& cursor) {
  const char* p = cursor;
  for (bool progress = true; progress;) {
    progress = false;
    bool white = false;
    if (p[0] == '\r' && p[1] == '\n') {
      if (p[2] != ' ' && p[2] != '\t') throw HttpParseException("parse error: SP|HT must follow CRLF in LWS");
      p += 2;
      white = progress = true;
    }
    while (*p == ' ' || *p == '\t') {
      p++;
      white = progress = true;
    }
    if (*p == ',' && !white) {
      p++;
      progress = true;
    }
  }
  cursor = p;
  if (*p == '\0') return plat::CharArray();
  const char* start = p;
  while (*p && !isDelimiter(static_cast<unsigned char>(*p))) p++;
  plat::CharArray token(start, static_cast<int>(p - start));
  switch (*p) {
    case '\0':
      cursor = p;
      return token;
    case ' ':
    case '\t':
    case ',':
      cursor = p + 1;
      return token;
    case '\r':
      if (p[1] != ' ' && p[1] != '\t') throw HttpParseException("CR in field must introduce LWS");
      cursor = p + 1;
      return token;
    default:
      throw HttpParseException("sep/CTRL in token");
  }
}

bool hasCloseToken(const char* value) {
  if (!value) return false;
  const char* cursor = value;
  while (const plat::CharArray token = nextToken(cursor)) {
    if (strcasecmp(token.c_str(), "close") == 0) return true;
  }
  return false;
}

}  // namespace http
