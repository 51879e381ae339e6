#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "qocore/base/http/HttpHeaderParser.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemIoStream.h"

namespace {

// The parse's outcome: "ok" or the failure's message.
std::string parseText(http::HttpHeaderParser& parser) {
  try {
    parser.parse();
    return "ok";
  } catch (const http::HttpParseException& e) {
    EXPECT_STREQ("HttpParse", e.typeName());
    return e.str();
  }
}

std::string parseResponse(const std::string& head, int32_t* status = nullptr) {
  rdr::MemInStream in(head.data(), static_cast<int32_t>(head.size()));
  http::HttpResponseHeaderParser parser(in);
  std::string result = parseText(parser);
  if (status) *status = parser.status();
  return result;
}

TEST(HttpHeaderParserTest, StatusLines) {
  struct Case {
    const char* line;
    const char* result;
    int32_t status;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK", "ok", 200},
      {"HTTP/1.1 200 ", "ok", 200},  // an empty reason phrase
      {"HTTP/1.0 407 Proxy Authentication Required", "ok", 407},
      {"HTTP/1.1 999 x", "ok", 999},
      {"HTTP/1.1 100 Continue", "ok", 100},
      {"HTTP/1.1 200", "Bad first line", -1},  // no blank after the status
      {"HTTP/1.1 099 x", "Bad first line", -1},
      {"HTTP/1.1 1000 x", "Bad first line", -1},
      {"HTTP/1.1 20x x", "Bad first line", -1},
      {"HTTP/1.1  200 x", "Bad first line", -1},  // an empty status
      {"HTTP/1.1 +200 x", "Bad first line", -1},
      {" 200 OK", "Bad first line", -1},  // an empty version
      {"HTTP/1.1", "Bad first line", -1},
      {"", "Bad first line", -1},
  };
  for (const Case& c : cases) {
    int32_t status = 0;
    EXPECT_EQ(c.result, parseResponse(std::string(c.line) + "\r\n\r\n", &status)) << c.line;
    EXPECT_EQ(c.status, status) << c.line;
  }
}

TEST(HttpHeaderParserTest, LongVersionIsCutToNineBytes) {
  const std::string head = "HTTP/1.1xyz 200 OK\r\n\r\n";
  rdr::MemInStream in(head.data(), static_cast<int32_t>(head.size()));
  http::HttpResponseHeaderParser parser(in);
  parser.parse();
  EXPECT_STREQ("HTTP/1.1x", parser.version());
}

TEST(HttpHeaderParserTest, FieldsAreStoredAsTheyCome) {
  const std::string head =
      "HTTP/1.1 200 OK\r\n"
      "Content-Length:  12 \r\n"
      "X-Twice: a\r\n"
      "x-twice: b\n"  // a bare LF ends a line too
      "Spaced : v\r\n"
      "Empty:\r\n"
      "\r\n"
      "body";
  rdr::MemInStream in(head.data(), static_cast<int32_t>(head.size()));
  http::HttpResponseHeaderParser parser(in);
  parser.parse();
  EXPECT_STREQ("12 ", parser.header("content-length"));  // leading blanks skipped, trailing kept
  EXPECT_STREQ("a,b", parser.header("X-TWICE"));
  EXPECT_EQ(nullptr, parser.header("Spaced"));  // the blank before the colon belongs to the name
  EXPECT_STREQ("v", parser.header("Spaced "));
  EXPECT_STREQ("", parser.header("Empty"));
  EXPECT_EQ(6, parser.lineCount());
  EXPECT_EQ(4, in.nUnread());  // the body is left for the caller
}

TEST(HttpHeaderParserTest, RefusedLines) {
  struct Case {
    std::string head;
    const char* message;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\n folded: x\r\n\r\n", "Unsupported 'obs-fold' header"},
      {"HTTP/1.1 200 OK\r\n\tfolded: x\r\n\r\n", "Unsupported 'obs-fold' header"},
      {"HTTP/1.1 200 OK\r\nNo colon here\r\n\r\n", "No colon in header"},
      {std::string("HTTP/1.1 200 OK\r\nA: x\0y\r\n\r\n", sizeof "HTTP/1.1 200 OK\r\nA: x\0y\r\n\r\n" - 1),
       "Line has embedded nul"},
      {"HTTP/1.1 200 OK\r\nA: " + std::string(8190, 'v') + "\r\n\r\n", "Line exceeds maximum length"},
      {"HTTP/1.1 200 OK\r\nA: " + std::string(8189, 'v') + "\r\n\r\n", "ok"},  // exactly 8192 bytes
  };
  for (const Case& c : cases) EXPECT_EQ(c.message, parseResponse(c.head)) << c.head.substr(0, 40);
}

// A CR that does not end its line is a space, so it cannot join two tokens
// or two fields; CR LF and a bare LF end a line.  Each head is read whole
// and in pieces that each end with a CR, the last byte available.
TEST(HttpHeaderParserTest, BareCrIsASpace) {
  struct Case {
    std::string head;
    const char* result;
    std::vector<std::pair<const char*, const char*>> fields;  // null value: absent
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1\r2\r\n\r\n", "ok", {{"Content-Length", "1 2"}}},
      {"HTTP/1.1 200 OK\r\nFoo: 1\rBar: 2\r\n\r\n", "ok", {{"Foo", "1 Bar: 2"}, {"Bar", nullptr}}},
      {"HTTP/1.1 200\rOK\r\nA: x\r\r\n\r\n", "ok", {{"A", "x "}}},
      {"HTTP/1.1 200 OK\r\nA: a\r\rb\n\r\n", "ok", {{"A", "a  b"}}},
      // A bare CR counts towards the line's length.
      {"HTTP/1.1 200 OK\r\nA: " + std::string(8188, 'v') + "\r\r\n\r\n", "ok", {}},
      {"HTTP/1.1 200 OK\r\nA: " + std::string(8189, 'v') + "\r\r\n\r\n", "Line exceeds maximum length", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head.substr(0, 40));
    rdr::MemInStream whole(c.head.data(), static_cast<int32_t>(c.head.size()));
    http::HttpResponseHeaderParser wholeParser(whole);
    EXPECT_EQ(c.result, parseText(wholeParser));

    rdr::MemIoStream pipe;
    http::HttpResponseHeaderParser piecesParser(pipe);
    std::string result;
    for (size_t from = 0; from < c.head.size() && result.empty();) {
      const size_t cr = c.head.find('\r', from);
      const size_t to = cr == std::string::npos ? c.head.size() : cr + 1;
      pipe.writeBytes(c.head.data() + from, static_cast<int32_t>(to - from));
      pipe.flush();
      from = to;
      try {
        result = parseText(piecesParser);
      } catch (const rdr::BlockException&) {
      }
    }
    EXPECT_EQ(c.result, result);
    if (std::string(c.result) != "ok") continue;
    EXPECT_EQ(200, wholeParser.status());
    EXPECT_EQ(200, piecesParser.status());
    for (const auto& [name, value] : c.fields) {
      for (const http::HttpResponseHeaderParser* parser : {&wholeParser, &piecesParser}) {
        const char* got = parser->header(name);
        EXPECT_EQ(value ? value : "(absent)", std::string(got ? got : "(absent)")) << name;
      }
    }
  }
}

std::string headWithFields(int n) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < n; i++) head += "F" + std::to_string(i) + ": v\r\n";
  return head + "\r\n";
}

TEST(HttpHeaderParserTest, AtMost499FieldLines) {
  EXPECT_EQ("ok", parseResponse(headWithFields(499)));
  EXPECT_EQ("Too many headers", parseResponse(headWithFields(500)));
}

TEST(HttpHeaderParserTest, ResumesAfterInputRanDry) {
  const std::string head = "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\ntunnel";
  rdr::MemIoStream pipe;
  http::HttpResponseHeaderParser parser(pipe);
  int blocks = 0;
  // Byte by byte: every call either blocks or finishes.
  for (char c : head.substr(0, head.size() - 6)) {
    pipe.writeBytes(&c, 1);
    pipe.flush();
    try {
      parser.parse();
      break;
    } catch (const rdr::BlockException&) {
      blocks++;
    }
  }
  EXPECT_EQ(407, parser.status());
  EXPECT_STREQ("Basic", parser.header("proxy-authenticate"));
  EXPECT_EQ(static_cast<int>(head.size()) - 7, blocks);
}

TEST(HttpHeaderParserTest, TrailersShareTheHeadsLimits) {
  // The head's lines count towards the trailer's.
  std::string text = headWithFields(400);
  std::string trailer;
  for (int i = 0; i < 99; i++) trailer += "T" + std::to_string(i) + ": t\r\n";
  text += trailer + "\r\n";
  {
    rdr::MemInStream in(text.data(), static_cast<int32_t>(text.size()));
    http::HttpResponseHeaderParser parser(in);
    parser.parse();
    EXPECT_EQ(nullptr, parser.header("T0"));
    parser.parse();
    EXPECT_STREQ("t", parser.header("T98"));
    EXPECT_EQ(500, parser.lineCount());
  }
  text = headWithFields(400) + trailer + "T99: t\r\n\r\n";
  rdr::MemInStream in(text.data(), static_cast<int32_t>(text.size()));
  http::HttpResponseHeaderParser parser(in);
  parser.parse();
  EXPECT_EQ("Too many headers", parseText(parser));
}

TEST(HttpHeaderParserTest, RequestLines) {
  const std::string head = "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n";
  rdr::MemInStream in(head.data(), static_cast<int32_t>(head.size()));
  http::HttpRequestHeaderParser parser(in);
  parser.parse();
  EXPECT_STREQ("CONNECT", parser.method());
  EXPECT_STREQ("example.com:443", parser.uri());
  EXPECT_STREQ("HTTP/1.1", parser.version());

  const std::string bad = "GET /\r\n\r\n";
  rdr::MemInStream badIn(bad.data(), static_cast<int32_t>(bad.size()));
  http::HttpRequestHeaderParser badParser(badIn);
  EXPECT_EQ("Bad first line", parseText(badParser));
}

std::string tokens(const char* list) {
  std::string out;
  const char* cursor = list;
  try {
    while (plat::CharArray t = http::nextToken(cursor)) out += std::string("[") + t.c_str() + "]";
  } catch (const http::HttpParseException& e) {
    out += std::string("!") + e.str();
  }
  return out;
}

TEST(HttpHeaderParserTest, TokenLists) {
  struct Case {
    const char* list;
    const char* tokens;
  };
  const Case cases[] = {
      {"keep-alive, Close", "[keep-alive][Close]"},
      {"close", "[close]"},
      {"", ""},
      {" , ,a", "[a]"},
      {"a,b", "[a][b]"},
      {"!#$%&'09", "[!#$%&'09]"},
      {"a \r\n b", "[a][b]"},
      {"a\r b", "[a][b]"},
      {"a=b", "!sep/CTRL in token"},
      {"a;q=1", "!sep/CTRL in token"},
      {"a\rb", "!CR in field must introduce LWS"},
      {"a,\r\nb", "[a]!parse error: SP|HT must follow CRLF in LWS"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.tokens, tokens(c.list)) << c.list;
}

}  // namespace
