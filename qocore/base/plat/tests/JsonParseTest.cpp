#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/plat/Json.h"
#include "qocore/base/rdr/BufferedInStream.h"
#include "qocore/base/rdr/Exceptions.h"

namespace plat {
namespace {

// A real pipe; what is written is read back through PipeInStream.
class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) throw SystemException("pipe2", errno);
  }
  ~Pipe() {
    closeWriter();
    ::close(fds_[0]);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int reader() const { return fds_[0]; }
  void write(const std::string& bytes) {
    ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void closeWriter() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2];
};

// Reads a pipe three bytes at a time, so that tokens straddle the edges of
// the stream's window.  When non-blocking, an empty pipe whose writer is
// still open makes reads block.
class PipeInStream : public rdr::BufferedNonBlockableInStream {
 public:
  explicit PipeInStream(int fd) : BufferedNonBlockableInStream(8), fd_(fd) {}

  void setNonBlocking(bool on) override {
    BufferedNonBlockableInStream::setNonBlocking(on);
    ::fcntl(fd_, F_SETFL, on ? O_NONBLOCK : 0);
  }

 protected:
  int32_t readData(uint8_t* buf, int32_t len) override {
    const ssize_t n = ::read(fd_, buf, static_cast<size_t>(std::min(len, 3)));
    if (n > 0) return static_cast<int32_t>(n);
    if (n == 0) throw rdr::EndOfStream();
    if (errno == EAGAIN && nonBlocking_) return 0;
    throw SystemException("read", errno);
  }

 private:
  int fd_;
};

// The text parsed as a body from memory and written back, or the failure's
// message.
std::string parseText(const std::string& text, bool integersOnly = true) {
  JsonReader reader(text.data(), static_cast<int32_t>(text.size()), integersOnly);
  try {
    return Json::parseHttpBody(nullptr, reader)->toText().get();
  } catch (const Exception& e) {
    return std::string("error: ") + e.str();
  }
}

std::string nestedArrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string nestedObjects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += i + 1 < depth ? "{\"a\":" : "{";
  return text + std::string(depth, '}');
}

// An object of n distinct members followed by a repeat of the first.
std::string objectRepeatingFirstAfter(int n) {
  std::string text = "{";
  for (int i = 0; i < n; ++i) text += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  return text + "\"m0\":0}";
}

struct ParseCase {
  const char* name;
  std::string text;
  std::string written;  // the value written back, or "error: " and the message
  bool integersOnly = true;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class JsonParseTableTest : public testing::TestWithParam<ParseCase> {};

TEST_P(JsonParseTableTest, ParsesOrRefusesWithItsMessage) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(parseText(c.text, c.integersOnly), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonParseTableTest,
    testing::Values(
        ParseCase{"Zero", "0", "0"}, ParseCase{"Int64Max", "9223372036854775807", "9223372036854775807"},
        ParseCase{"Int64Min", "-9223372036854775808", "-9223372036854775808"},
        ParseCase{"AboveInt64", "9223372036854775808", "error: Unsupported number at line 0"},
        ParseCase{"BelowInt64", "-9223372036854775809", "error: Unsupported number at line 0"},
        ParseCase{"FarTooLong", "123456789012345678901234", "error: Unsupported number at line 0"},
        ParseCase{"LoneMinus", "-", "error: Bad value at line 0"},
        ParseCase{"MinusZero", "-0", "error: Bad value at line 0"},
        ParseCase{"PlusSign", "+1", "error: Bad value at line 0"},
        ParseCase{"NotJson", "<html>", "error: Bad value at line 0"},
        ParseCase{"LeadingZero", "01", "error: Trailing bytes after JSON at line 0"},
        ParseCase{"LeadingZeroInArray", "[01]", "error: Bad array at line 0"},
        ParseCase{"FractionIntegersOnly", "1.5", "error: Unsupported number at line 0"},
        ParseCase{"ExponentIntegersOnly", "1e3", "error: Unsupported number at line 0"},
        ParseCase{"FractionReadAsZero", "1.5", "0", false}, ParseCase{"ExponentReadAsZero", "-12.5E7", "0", false},
        ParseCase{"SignEndsExponent", "1e+5", "error: Trailing bytes after JSON at line 0", false},
        ParseCase{"LiteralsAndSpace", "\t true \r\n \n", "true"}, ParseCase{"False", "false", "false"},
        ParseCase{"Null", "null", "null"}, ParseCase{"TruncatedLiteral", "tru", "error: Truncated JSON at line 0"},
        ParseCase{"MisspelledLiteral", "trux", "error: Bad value at line 0"},
        ParseCase{"LetterAfterLiteral", "truex", "error: Trailing bytes after JSON at line 0"},
        ParseCase{"TrailingAfterContainers", R"({"a": [1, {"b": "c"}]} x)",
                  "error: Trailing bytes after JSON at line 0"},
        ParseCase{"Empty", "", "error: Truncated JSON at line 0"},
        ParseCase{"OnlySpace", " \n ", "error: Truncated JSON at line 1"},
        ParseCase{"TruncatedArray", "[1,\n2", "error: Truncated JSON at line 1"},
        ParseCase{"TruncatedEscape", "\"\\u12", "error: Truncated JSON at line 0"},
        ParseCase{"TwoValues", "1 2", "error: Trailing bytes after JSON at line 0"},
        ParseCase{"BadTokenAfterTwoLines", "\n\n x", "error: Bad value at line 2"},
        ParseCase{"LinesCountedInsideContainers", "[\n1,\n2,\n]", "error: Bad value at line 3"},
        ParseCase{"EmptyContainers", "[ {} , [ ] ]", "[\n  {},\n  []\n]"},
        ParseCase{"MembersKeepTextOrder", R"({"b":1,"a":[true]})", "{\n  \"b\":1,\n  \"a\":[\n    true\n  ]\n}"},
        ParseCase{"CommaBeforeBracket", "[1,]", "error: Bad value at line 0"},
        ParseCase{"MissingComma", "[1 2]", "error: Bad array at line 0"},
        ParseCase{"CommaBeforeBrace", R"({"a":1,})", "error: Bad string at line 0"},
        ParseCase{"UnquotedName", "{a:1}", "error: Bad string at line 0"},
        ParseCase{"MissingColon", R"({"a" 1})", "error: Bad object at line 0"},
        ParseCase{"MissingMemberComma", R"({"a":1 "b":2})", "error: Bad object at line 0"},
        ParseCase{"DuplicateName", R"({"a":1,"a":2})", "error: Unsupported object at line 0"},
        ParseCase{"DuplicateNameInLargeObject", objectRepeatingFirstAfter(40), "error: Unsupported object at line 0"},
        ParseCase{"Escapes", R"("\"\\\/\b\f\n\r\t")", R"("\"\\/\u0008\u000C\n\r\t")"},
        ParseCase{"EscapedSurrogatePair", R"("\ud83d\ude00")", R"("\uD83D\uDE00")"},
        ParseCase{"RawCharacterAboveBmp", "\"\xF0\x9F\x98\x80\"", R"("\uD83D\uDE00")"},
        ParseCase{"NonAsciiWrittenAsUtf8", "\"caf\xC3\xA9 \\u00E9\\u20ac\"", "\"caf\xC3\xA9 \xC3\xA9\xE2\x82\xAC\""},
        ParseCase{"DeleteEscaped", "\"\x7F\"", R"("\u007F")"},
        ParseCase{"EscapedNul", R"("a\u0000")", "error: Unsupported string at line 0"},
        ParseCase{"RawNul", std::string("\"a\0\"", 4), "error: Unsupported string at line 0"},
        ParseCase{"RawLineFeed", "\"a\nb\"", "error: Bad string at line 0"},
        ParseCase{"RawTab", "\"a\tb\"", "error: Bad string at line 0"},
        ParseCase{"UnknownEscape", R"("\x")", "error: Bad string at line 0"},
        ParseCase{"BadHexDigit", R"("\u12G4")", "error: Bad string hex escape at line 0"},
        ParseCase{"LoneLowSurrogate", R"("\uDE00")", "error: Illegal low surrogate at line 0"},
        ParseCase{"LoneHighSurrogate", R"("\uD83D")", "error: Unterminated surrogate pair at line 0"},
        ParseCase{"HighSurrogateThenOther", R"("\uD83D\u0041")", "error: Unterminated surrogate pair at line 0"},
        ParseCase{"MalformedUtf8", "\"\xC3(\"", "error: Bad string at line 0"},
        ParseCase{"EncodedSurrogate", "\"\xED\xA0\x80\"", "error: Bad string at line 0"},
        ParseCase{"EscapedNoncharacter", R"("\uFFFE")", "error: Bad string at line 0"}));

// A string's bytes are searched several at a time where the input holds
// them; a byte that ends the plain run must be found wherever it falls, so
// each case puts its bytes at every offset over a few such blocks, with
// plain bytes after it or not.
struct StringBytesCase {
  const char* name;
  std::string bytes;
  std::string written;  // how the bytes are written back, or "error: " and the message
};

void PrintTo(const StringBytesCase& c, std::ostream* os) { *os << c.name; }

class JsonStringBytesTest : public testing::TestWithParam<StringBytesCase> {};

TEST_P(JsonStringBytesTest, JudgedWhereverTheyFall) {
  const StringBytesCase& c = GetParam();
  const bool error = c.written.rfind("error: ", 0) == 0;
  for (size_t before = 0; before <= 40; ++before) {
    for (size_t after : {0, 1, 17}) {
      const std::string head(before, 'a');
      const std::string tail(after, 'b');
      const std::string text = "\"" + head + c.bytes + tail + "\"";
      const std::string expected = error ? c.written : "\"" + head + c.written + tail + "\"";
      EXPECT_EQ(parseText(text), expected) << before << " bytes before, " << after << " after";
      // The same string followed by more input, inside an array.
      EXPECT_EQ(parseText("[" + text + ",1]"), error ? c.written : "[\n  " + expected + ",\n  1\n]")
          << before << " bytes before, " << after << " after";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, JsonStringBytesTest,
    testing::Values(StringBytesCase{"Plain", "", ""}, StringBytesCase{"Escape", "\\n", "\\n"},
                    StringBytesCase{"EscapedQuote", "\\\"", "\\\""},
                    StringBytesCase{"TwoByteCharacter", "\xC3\xA9", "\xC3\xA9"},
                    StringBytesCase{"FourByteCharacter", "\xF0\x9F\x98\x80", "\\uD83D\\uDE00"},
                    StringBytesCase{"ControlByte", "\x01", "error: Bad string at line 0"},
                    StringBytesCase{"UnitSeparator", "\x1F", "error: Bad string at line 0"},
                    StringBytesCase{"RawNul", std::string("\0", 1), "error: Unsupported string at line 0"},
                    StringBytesCase{"InvalidByte", "\xFF", "error: Bad string at line 0"},
                    StringBytesCase{"CutSequence", "\xE2\x82", "error: Bad string at line 0"},
                    StringBytesCase{"Noncharacter", "\xEF\xBF\xBE", "error: Bad string at line 0"},
                    StringBytesCase{"EscapeThenInvalidByte", "\\t\xC0\xAF", "error: Bad string at line 0"}));

TEST(JsonParseTest, NestingIsBoundedAt33Containers) {
  EXPECT_EQ(parseText(nestedArrays(33)).find("error"), std::string::npos);
  EXPECT_EQ(parseText(nestedObjects(33)).find("error"), std::string::npos);
  EXPECT_EQ(parseText(nestedArrays(34)), "error: Unsupported nesting at line 0");
  EXPECT_EQ(parseText(nestedObjects(34)), "error: Unsupported nesting at line 0");
  // A scalar inside the 33rd container would be a 34th level.
  EXPECT_EQ(parseText(std::string(33, '[') + "1" + std::string(33, ']')), "error: Unsupported nesting at line 0");
}

TEST(JsonParseTest, ErrorsAreJsonExceptionsAndFreeWhatWasBuilt) {
  // The sanitized build's leak check covers the partial tree.
  const std::string text = R"({"list":[1,"two",{"x":null}],"bad":[1,})";
  JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  try {
    Json::parseHttpBody(nullptr, reader);
    FAIL() << "parsed";
  } catch (const JsonException& e) {
    EXPECT_STREQ(e.str(), "Bad value at line 0");
    EXPECT_STREQ(e.typeName(), "JsonException");
  }
}

TEST(JsonParseTest, ParsedStringsAreNeverNull) {
  const std::string text = R"({"":""})";
  JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  JsonRef value = Json::parseHttpBody(nullptr, reader);
  const JsonObject::Member& member = value->asObject().members().at(0);
  EXPECT_STREQ(member.name.get(), "");
  EXPECT_STREQ(member.value->asString().get(), "");
}

TEST(JsonParseTest, SurrogatePairBecomesOneUtf8Character) {
  const std::string text = R"(["\uD83D\uDE00", "\u00e9"])";
  JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  JsonArrayRef array = Json::parseHttpBody(nullptr, reader).asArray();
  EXPECT_STREQ(array->get(0)->asString().get(), "\xF0\x9F\x98\x80");
  EXPECT_STREQ(array->get(1)->asString().get(), "\xC3\xA9");
}

// The values of one document share the blocks they were parsed into; once
// their tree is gone, values taken out of it may go on different threads.
// A count that two threads decrement at once without atomics loses a step:
// the blocks leak or are freed twice, which the sanitizers report.
TEST(JsonParseTest, ValuesOfOneDocumentMayBeDeletedOnDifferentThreads) {
  const std::string text = R"([{"a": [1, 2]}, {"b": "x"}, [3], "y"])";
  for (int round = 0; round < 500; ++round) {
    std::vector<JsonRef> taken;
    {
      JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
      JsonArrayRef array = Json::parseHttpBody(nullptr, reader).asArray();
      for (int i = 0; i < array->count(); ++i) taken.push_back(array->get(i));
    }
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (JsonRef& value : taken) {
      threads.emplace_back([&ready, &value, n = static_cast<int>(taken.size())] {
        ready.fetch_add(1);
        while (ready.load() < n) {
        }
        value = JsonRef();
      });
    }
    for (std::thread& t : threads) t.join();
  }
}

// A parsed container's members or elements lie next to its values, at
// their exact number; what is added later goes elsewhere, and either kind
// of storage is given back the right way (the sanitized build checks).
// Values of another document held in the tree go back to their own.
TEST(JsonParseTest, ParsedContainersChangeLikeBuiltOnes) {
  const std::string first = R"({"a": [1, "two"], "b": {"c": null}})";
  const std::string second = R"(["x", {"y": [true]}])";
  JsonReader firstReader(first.data(), static_cast<int32_t>(first.size()));
  JsonRef document = Json::parseHttpBody(nullptr, firstReader);
  JsonReader secondReader(second.data(), static_cast<int32_t>(second.size()));
  JsonArrayRef other = Json::parseHttpBody(nullptr, secondReader).asArray();

  JsonObject& object = document->asObject();
  object.set("d", other->get(1));
  object.setString("e", "five");
  object.remove("b");
  JsonArrayRef list = object.getArray("a");
  list->append(new JsonNumber(3));
  list->erase(0);
  other = JsonArrayRef();
  EXPECT_STREQ(document->toText().get(),
               "{\n  \"a\":[\n    \"two\",\n    3\n  ],\n  \"d\":{\n    \"y\":[\n      true\n    ]\n  },\n"
               "  \"e\":\"five\"\n}");
  JsonRef kept = object.get("d");
  document = JsonRef();
  EXPECT_STREQ(kept->toText().get(), "{\n  \"y\":[\n    true\n  ]\n}");
}

// A tree that holds its values alone is given up at once with its root;
// one that a value was taken out of, or that was changed, goes value by
// value.  Whichever way a value left its tree, it outlives the tree (the
// sanitized build checks the blocks).
struct TakenOutCase {
  const char* name;
  JsonRef (*take)(const JsonRef& document);
};

void PrintTo(const TakenOutCase& c, std::ostream* os) { *os << c.name; }

class JsonTakenOutTest : public testing::TestWithParam<TakenOutCase> {};

TEST_P(JsonTakenOutTest, OutlivesItsTree) {
  const std::string text =
      R"({"id": 7, "list": [1, "two", {"deep": ["caf\u00e9 \"x\""]}], "inner": {"name": "n\u00fc"}})";
  JsonRef taken;
  {
    JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
    JsonRef document = Json::parseHttpBody(nullptr, reader);
    JsonRef rootCopy = document;
    taken = GetParam().take(rootCopy);
    ASSERT_TRUE(taken);
  }
  // Read after the root's last handle went, then dropped on its own.
  const std::string written = taken->toText().get();
  EXPECT_FALSE(written.empty());
  taken = JsonRef();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, JsonTakenOutTest,
    testing::Values(TakenOutCase{"ObjectGet", [](const JsonRef& d) { return d->asObject().get("inner"); }},
                    TakenOutCase{"ObjectFind", [](const JsonRef& d) { return d->asObject().find("id"); }},
                    TakenOutCase{"GetArray", [](const JsonRef& d) { return JsonRef(d->asObject().getArray("list")); }},
                    TakenOutCase{"ArrayGet", [](const JsonRef& d) { return d->asObject().getArray("list")->get(2); }},
                    TakenOutCase{"DeepString",
                                 [](const JsonRef& d) {
                                   return d->asObject().getArray("list")->get(2)->asObject().getArray("deep")->get(0);
                                 }},
                    TakenOutCase{"MemberCopied",
                                 [](const JsonRef& d) {
                                   JsonRef kept;
                                   for (const JsonObject::Member& m : d->asObject().members()) {
                                     if (std::strcmp(m.name.get(), "list") == 0) kept = m.value;
                                   }
                                   return kept;
                                 }},
                    TakenOutCase{"MemberStructCopied",
                                 [](const JsonRef& d) {
                                   const JsonObject::Member m = d->asObject().members()[2];
                                   return m.value;
                                 }},
                    TakenOutCase{"TypedHandle",
                                 [](const JsonRef& d) {
                                   const JsonObjectRef inner = d->asObject().get("inner").asObject();
                                   return JsonRef(inner);
                                 }},
                    TakenOutCase{"RootItself", [](const JsonRef& d) { return d; }},
                    TakenOutCase{"ValueOfAChangedTree",
                                 [](const JsonRef& d) {
                                   // Another tree's value moves in; this tree's own
                                   // values are still held by it alone.
                                   const std::string other = R"({"k": ["v"]})";
                                   JsonReader reader(other.data(), static_cast<int32_t>(other.size()));
                                   JsonRef second = Json::parseHttpBody(nullptr, reader);
                                   d->asObject().set("other", second->asObject().get("k"));
                                   d->asObject().remove("id");
                                   return d->asObject().get("other");
                                 }}),
    [](const testing::TestParamInfo<TakenOutCase>& info) { return std::string(info.param.name); });

// A parsed array keeps integers and literals compactly until an element is
// asked for; integers past 62 bits are kept apart.  Either way they read
// and write back as they were.
TEST(JsonParseTest, ArrayScalarsReadBackAtTheEdges) {
  const std::vector<int64_t> integers = {
      0,         -1,       (int64_t{1} << 62) - 1, int64_t{1} << 62, -(int64_t{1} << 62), -(int64_t{1} << 62) - 1,
      INT64_MAX, INT64_MIN};
  std::string text = "[";
  std::string written = "[";
  for (int64_t v : integers) {
    text += std::to_string(v) + ", ";
    written += "\n  " + std::to_string(v) + ",";
  }
  text += "true, false, null, \"s\"]";
  written += "\n  true,\n  false,\n  null,\n  \"s\"\n]";
  JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  JsonArrayRef array = Json::parseHttpBody(nullptr, reader).asArray();
  const int n = static_cast<int>(integers.size());
  ASSERT_EQ(array->count(), n + 4);
  // Written and listed before any element was asked for.
  EXPECT_EQ(std::string(array->toText().get()), written);
  EXPECT_THROW(array->strings(), JsonException);
  for (int i = 0; i < n; ++i) EXPECT_EQ(array->get(i)->asNumber().value(), integers[static_cast<size_t>(i)]) << i;
  EXPECT_TRUE(array->get(n)->asBool().value());
  EXPECT_FALSE(array->get(n + 1)->asBool().value());
  array->get(n + 2)->asNull();
  EXPECT_STREQ(array->get(n + 3)->asString().get(), "s");
  EXPECT_EQ(std::string(array->toText().get()), written);
}

// Blocks of documents that have gone are taken up by the next ones, on
// whatever thread; each document still reads back as it was written.
TEST(JsonParseTest, DocumentsParsedOnSeveralThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int round = 0; round < 30; ++round) {
        const int count = 1 + (round * 7 + t * 13) % 3000;
        std::string text = "[";
        for (int i = 0; i < count; ++i) text += (i ? ",\"" : "\"") + std::to_string(t * 100000 + i) + "\"";
        text += "]";
        JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
        JsonArrayRef array = Json::parseHttpBody(nullptr, reader).asArray();
        if (array->count() != count) ++wrong;
        for (int i = 0; i < array->count(); ++i) {
          if (std::to_string(t * 100000 + i) != array->get(i)->asString().get()) ++wrong;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

struct ContentTypeCase {
  const char* contentType;
  bool accepted;
};

void PrintTo(const ContentTypeCase& c, std::ostream* os) { *os << (c.contentType ? c.contentType : "(null)"); }

class JsonContentTypeTest : public testing::TestWithParam<ContentTypeCase> {};

TEST_P(JsonContentTypeTest, AcceptsJsonInUtf8Only) {
  const ContentTypeCase& c = GetParam();
  const std::string body = "[1]";
  JsonReader reader(body.data(), static_cast<int32_t>(body.size()));
  if (c.accepted) {
    EXPECT_EQ(Json::parseHttpBody(c.contentType, reader)->asArray().count(), 1);
    return;
  }
  try {
    Json::parseHttpBody(c.contentType, reader);
    FAIL() << "accepted";
  } catch (const JsonException& e) {
    EXPECT_EQ(e.str(), std::string("Unknown Content-Type '") + c.contentType + "'");
    EXPECT_STREQ(e.typeName(), "JsonException");
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, JsonContentTypeTest,
                         testing::Values(ContentTypeCase{nullptr, true}, ContentTypeCase{"application/json", true},
                                         ContentTypeCase{"APPLICATION/Json", true},
                                         ContentTypeCase{"application/json;charset=utf-8", true},
                                         ContentTypeCase{" Application/JSON \t; CharSet=UTF-8\r\n", true},
                                         ContentTypeCase{"", false}, ContentTypeCase{"text/json", false},
                                         ContentTypeCase{"application/jsonp", false},
                                         ContentTypeCase{"application/json;", false},
                                         ContentTypeCase{"application/json; charset=iso-8859-1", false},
                                         ContentTypeCase{"application/json; charset = utf-8", false},
                                         ContentTypeCase{"application/json; charset=utf-8; q=1", false}));

// ---- Streams of the caller's ----

class JsonStreamTest : public testing::TestWithParam<ParseCase> {};

// Every value parses the same when its bytes arrive a few at a time.
TEST_P(JsonStreamTest, SameValueThroughAPipe) {
  const ParseCase& c = GetParam();
  Pipe pipe;
  pipe.write(c.text);
  pipe.closeWriter();
  PipeInStream in(pipe.reader());
  JsonReader reader(in, c.integersOnly);
  EXPECT_EQ(Json::parseHttpBody(nullptr, reader)->toText().get(), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonStreamTest,
    testing::ValuesIn(std::vector<ParseCase>{
        ParseCase{"Int64Min", "-9223372036854775808", "-9223372036854775808"},
        ParseCase{"FractionReadAsZero", "-12.5E7", "0", false}, ParseCase{"Literal", "\n\nfalse", "false"},
        ParseCase{
            "Nested", R"( {"key" : [ "a\u00e9\ud83d\ude00b" , -17, {"x":null} ] } )",
            "{\n  \"key\":[\n    \"a\xC3\xA9\\uD83D\\uDE00b\",\n    -17,\n    {\n      \"x\":null\n    }\n  ]\n}"},
        ParseCase{"LongString", "\"" + std::string(100, 'x') + "\\n\"", "\"" + std::string(100, 'x') + "\\n\""},
        ParseCase{"CharactersAcrossWindows",
                  "\"a\xC3\xA9"
                  "b\xE2\x82\xAC"
                  "cd\xF0\x9F\x98\x80\xC3\xA9\xE2\x82\xAC\\t\xC3\xA9\"",
                  "\"a\xC3\xA9"
                  "b\xE2\x82\xAC"
                  "cd\\uD83D\\uDE00\xC3\xA9\xE2\x82\xAC\\t\xC3\xA9\""}}));

// A malformed character is found however the windows cut it.
TEST(JsonStreamReaderTest, MalformedCharactersAcrossWindows) {
  for (const char* bad : {"\xE2\x82", "\xE2\x82z", "\xF0\x9F\x98", "\xEF\xBF\xBE", "\xC3\\n", "\x80"}) {
    for (int shift = 0; shift < 4; ++shift) {
      Pipe pipe;
      pipe.write("\"" + std::string(static_cast<size_t>(shift), 'a') + bad + "tail\"");
      pipe.closeWriter();
      PipeInStream in(pipe.reader());
      JsonReader reader(in);
      try {
        Json::parseHttpBody(nullptr, reader);
        ADD_FAILURE() << "accepted at shift " << shift;
      } catch (const JsonException& e) {
        EXPECT_STREQ(e.str(), "Bad string at line 0") << "shift " << shift;
      }
    }
  }
}

TEST(JsonStreamReaderTest, StopsAfterTheValueAndLeavesTheRest) {
  Pipe pipe;
  pipe.write("[1, 2]  tail 42");
  pipe.closeWriter();
  PipeInStream in(pipe.reader());
  JsonReader reader(in);
  EXPECT_EQ(Json::parseHttpBody(nullptr, reader)->asArray().count(), 2);
  EXPECT_EQ(in.pos(), 6);
  in.skip(7);
  // A number may end the input.
  EXPECT_EQ(Json::parse(reader, 0)->asNumber().value(), 42);
}

TEST(JsonStreamReaderTest, EndOfInputInsideTheValue) {
  Pipe pipe;
  pipe.write("{\"a\":\n[1,");
  pipe.closeWriter();
  PipeInStream in(pipe.reader());
  JsonReader reader(in);
  try {
    Json::parseHttpBody(nullptr, reader);
    FAIL() << "parsed";
  } catch (const JsonException& e) {
    EXPECT_STREQ(e.str(), "Truncated JSON at line 1");
  }
  // Parsed directly, the end of input is the stream's own failure.
  Pipe second;
  second.write("[1,");
  second.closeWriter();
  PipeInStream in2(second.reader());
  JsonReader reader2(in2);
  EXPECT_THROW(Json::parse(reader2, 0), rdr::EndOfStream);
}

TEST(JsonStreamReaderTest, OtherStreamFailuresPassThrough) {
  // The writer stays open: the body has not all arrived yet.
  Pipe pipe;
  pipe.write("{\"a\": [1, 2");
  PipeInStream in(pipe.reader());
  in.setNonBlocking(true);
  JsonReader reader(in);
  EXPECT_THROW(Json::parseHttpBody(nullptr, reader), rdr::BlockException);
  // The stream went back to its checkpoint; once the rest arrives the
  // parse runs again from there.
  pipe.write("]}");
  pipe.closeWriter();
  JsonReader again(in);
  EXPECT_EQ(Json::parseHttpBody(nullptr, again)->asObject().getArray("a")->count(), 2);
}

}  // namespace
}  // namespace plat
