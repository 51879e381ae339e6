#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Json.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace plat {
namespace {

JsonRef parse(const std::string& text) {
  JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  return Json::parseHttpBody(nullptr, reader);
}

std::string text(const JsonValue& value) { return value.toText().get(); }

// A value that counts the live instances of its kind.
int liveCounted = 0;
class CountedNull : public JsonNull {
 public:
  CountedNull() { ++liveCounted; }
  ~CountedNull() override { --liveCounted; }
};

// An array of a derived class, as a document type might define.
class DerivedArray : public JsonArray {};

// ---- Writing ----

TEST(JsonWriteTest, ContainersPutEachMemberOnAnIndentedLine) {
  JsonObject object;
  object.set("a", JsonRef(new JsonNumber(1)));
  JsonRef list(new JsonArray);
  list->asArray().append(new JsonBool(true));
  object.set("b", list);
  EXPECT_EQ(text(object), "{\n  \"a\":1,\n  \"b\":[\n    true\n  ]\n}");

  JsonArray holder;
  holder.append(new JsonObject);
  EXPECT_EQ(text(holder), "[\n  {}\n]");

  // Indented from a given level, as a member of an enclosing document.
  rdr::MemOutStream out;
  object.write(out, 4);
  EXPECT_EQ(std::string(out.takeString().get()), "{\n      \"a\":1,\n      \"b\":[\n        true\n      ]\n    }");
}

struct WriteStringCase {
  const char* name;
  std::string value;
  std::string written;
};

void PrintTo(const WriteStringCase& c, std::ostream* os) { *os << c.name; }

class JsonWriteStringTest : public testing::TestWithParam<WriteStringCase> {};

TEST_P(JsonWriteStringTest, EscapesControlsAndCharactersAboveBmp) {
  const WriteStringCase& c = GetParam();
  EXPECT_EQ(text(JsonString(c.value.c_str())), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonWriteStringTest,
    testing::Values(WriteStringCase{"Plain", "a/b c", "\"a/b c\""},
                    WriteStringCase{"NamedEscapes", "\t\n\r\"\\", R"("\t\n\r\"\\")"},
                    WriteStringCase{"OtherControls", "\x01\x08\x0C\x1F\x7F", R"("\u0001\u0008\u000C\u001F\u007F")"},
                    WriteStringCase{"NonAscii", "\xC3\xA9\xC2\x80\xEF\xBF\xBD", "\"\xC3\xA9\xC2\x80\xEF\xBF\xBD\""},
                    WriteStringCase{"AboveBmp", "x\xF0\x9F\x98\x80\xF4\x8F\xBF\xBD", R"("x\uD83D\uDE00\uDBFF\uDFFD")"},
                    WriteStringCase{"Empty", "", "\"\""}));

// A malformed sequence is replaced as utf8Sanitise replaces it, and the
// rest of the string still goes out.
TEST(JsonWriteTest, MalformedUtf8BecomesReplacementCharacters) {
  for (const char* bad : {"a\xFF"
                          "b",
                          "\xE2\x82z\xC3", "\xED\xA0\x80\xF0\x9F\x98\x80tail", "\x80\x80\xC0\xAF!"}) {
    DString sanitised;
    utf8Sanitise(sanitised, bad);
    DString expected;
    expected.append("\"");
    expected.append(sanitised.c_str());
    expected.append("\"");
    // The one valid character above U+FFFF is escaped either way.
    expected.replaceAll("\xF0\x9F\x98\x80", "\\uD83D\\uDE00");
    EXPECT_EQ(text(JsonString(bad)), expected.c_str()) << bad;
  }
  EXPECT_EQ(text(JsonString("a\xFF"
                            "b")),
            "\"a\xEF\xBF\xBD"
            "b\"");
}

TEST(JsonWriteTest, NullTextsAreWrittenEmpty) {
  JsonObject object;
  object.set(nullptr, JsonRef(new JsonString(nullptr)));
  EXPECT_EQ(text(object), "{\n  \"\":\"\"\n}");
}

// Two names that go out as the same text would make a text the parser
// refuses; the writer refuses them instead, and so do clone() and the log
// text.  Names that stay apart after repair are written as before.
TEST(JsonWriteTest, NamesWrittenAlikeAreRefused) {
  const struct {
    const char* first;
    const char* second;
    bool alike;
  } cases[] = {
      {"a\xFF", "a\xFE", true},          // both become a U+FFFD
      {"a\xFF", "a\xEF\xBF\xBD", true},  // a repaired name next to a real U+FFFD
      {nullptr, "", true},               // a null name is written empty
      {"a\xFF", "b\xFF", false},
      {"k\xC3", "k\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    JsonObject object;
    object.set(c.first, JsonRef(new JsonNumber(1)));
    object.set(c.second, JsonRef(new JsonNumber(2)));
    ASSERT_EQ(object.members().size(), 2u);
    const std::string label = std::string(c.first ? c.first : "(null)") + " / " + c.second;
    if (!c.alike) {
      EXPECT_EQ(object.clone()->asObject().members().size(), 2u) << label;
      continue;
    }
    try {
      (void)object.toText();
      ADD_FAILURE() << "written: " << label;
    } catch (const JsonException& e) {
      EXPECT_STREQ(e.str(), "Two JSON object member names would be written alike") << label;
    }
    EXPECT_THROW(object.clone(), JsonException) << label;
  }
}

TEST(JsonWriteTest, WrittenTextParsesBackInOrder) {
  JsonRef original =
      parse(R"({"z":[1,-9223372036854775808,{}],"a":"\u0001\"\\\/\ud83d\ude00","m":{"k":[false,null,[]]}})");
  const std::string written = text(*original);
  JsonRef reread = parse(written);
  EXPECT_EQ(text(*reread), written);
  const auto& members = reread->asObject().members();
  ASSERT_EQ(members.size(), 3u);
  EXPECT_STREQ(members[0].name.get(), "z");
  EXPECT_STREQ(members[1].name.get(), "a");
  EXPECT_STREQ(members[2].name.get(), "m");
  EXPECT_STREQ(members[1].value->asString().get(), "\x01\"\\/\xF0\x9F\x98\x80");
}

// ---- Views and handles ----

TEST(JsonValueTest, EachViewAcceptsOnlyItsOwnType) {
  JsonRef values[] = {JsonRef(new JsonNumber(1)),   JsonRef(new JsonBool(true)), JsonRef(new JsonNull),
                      JsonRef(new JsonString("s")), JsonRef(new JsonObject),     JsonRef(new JsonArray)};
  using View = void (*)(JsonValue&);
  const View views[] = {[](JsonValue& v) { v.asNumber(); }, [](JsonValue& v) { v.asBool(); },
                        [](JsonValue& v) { v.asNull(); },   [](JsonValue& v) { v.asString(); },
                        [](JsonValue& v) { v.asObject(); }, [](JsonValue& v) { v.asArray(); }};
  for (int value = 0; value < 6; ++value) {
    for (int view = 0; view < 6; ++view) {
      SCOPED_TRACE(testing::Message() << "value " << value << ", view " << view);
      if (value == view) {
        EXPECT_NO_THROW(views[view](*values[value]));
        continue;
      }
      try {
        views[view](*values[value]);
        ADD_FAILURE() << "converted";
      } catch (const JsonException& e) {
        EXPECT_STREQ(e.str(), "Unexpected JSON type");
        EXPECT_STREQ(e.typeName(), "Json");
      }
    }
  }
  EXPECT_THROW(JsonRef().asObject(), JsonException);
  EXPECT_THROW(values[4].asArray(), JsonException);
  EXPECT_THROW(values[5].asObject(), JsonException);
}

TEST(JsonValueTest, HandlesKeepValuesAfterTheirContainerHasGone) {
  liveCounted = 0;
  JsonRef member;
  JsonArrayRef list;
  {
    JsonRef document = parse(R"({"list":[1,2]})");
    document->asObject().set("counted", JsonRef(new CountedNull));
    member = document->asObject().get("counted");
    JsonObjectRef typed = document.asObject();
    document.reset();
    list = typed->getArray("list");
    EXPECT_EQ(liveCounted, 1);
  }
  EXPECT_EQ(liveCounted, 1);
  EXPECT_TRUE(member.unique());
  EXPECT_NO_THROW(member->asNull());
  EXPECT_EQ(list->get(1)->asNumber().value(), 2);
  member.reset();
  EXPECT_EQ(liveCounted, 0);
}

TEST(JsonValueTest, NumberRangeAndClamping) {
  EXPECT_EQ(JsonNumber(5).getInRange(5, 5), 5);
  try {
    JsonNumber(-3).getInRange(0, 9223372036854775807);
    FAIL() << "in range";
  } catch (const JsonException& e) {
    EXPECT_STREQ(e.str(), "Unexpected value: -3 out of range [0,9223372036854775807]");
    EXPECT_STREQ(e.typeName(), "JsonException");
  }
  const struct {
    int64_t value;
    int32_t clamped;
  } cases[] = {{2147483647, 2147483647}, {2147483648, 2147483647}, {INT64_MAX, 2147483647}, {-2147483647, -2147483647},
               {-2147483648, INT32_MIN}, {-2147483649, INT32_MIN}, {INT64_MIN, INT32_MIN},  {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(JsonNumber(c.value).getInt(), c.clamped) << c.value;
}

TEST(JsonValueTest, StringLengthCheckCountsBytes) {
  JsonString s("\xC3\xA9t\xC3\xA9");  // 3 characters, 5 bytes
  EXPECT_EQ(&s.checkLength(5), &s);
  try {
    s.checkLength(4);
    FAIL() << "accepted";
  } catch (const JsonException&) {
    FAIL() << "a JsonException";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Unexpected value: string too long");
    EXPECT_STREQ(e.typeName(), "");
  }
}

TEST(JsonValueTest, TimeAndBinaryConvertStringsOnly) {
  JsonRef document = parse(R"({"t":"2024-03-05T10:20:30Z","b":"aGVsbG8=","bad":"yesterday","n":12})");
  JsonObject& o = document->asObject();
  EXPECT_EQ(o.get("t")->asTime(), parseIsoDateChecked("2024-03-05T10:20:30Z"));
  MBuf<unsigned char> bytes = o.get("b")->asBinary();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.count()), "hello");
  for (const char* name : {"bad", "n"}) {
    for (bool time : {true, false}) {
      try {
        if (time) {
          o.get(name)->asTime();
        } else {
          o.get(name)->asBinary();
        }
        ADD_FAILURE() << name << " converted";
      } catch (const JsonException& e) {
        EXPECT_STREQ(e.str(), "Unexpected JSON type");
        EXPECT_STREQ(e.typeName(), "Json");
      }
    }
  }
}

// ---- Objects ----

TEST(JsonObjectTest, LookupByExactName) {
  JsonRef document = parse(R"({"Name":1,"name":[2],"list":{"x":3}})");
  JsonObject& o = document->asObject();
  EXPECT_EQ(o.get("name")->asArray().count(), 1);
  EXPECT_EQ(o.get("Name")->asNumber().value(), 1);
  EXPECT_FALSE(o.find("NAME"));
  EXPECT_FALSE(o.find(nullptr));
  try {
    o.get("NAME");
    FAIL() << "found";
  } catch (const JsonException& e) {
    EXPECT_STREQ(e.str(), "JSON object property 'NAME' not found");
    EXPECT_STREQ(e.typeName(), "JsonException");
  }
  EXPECT_EQ(o.findArray("name"), &o.get("name")->asArray());
  EXPECT_EQ(o.findArray("list"), nullptr);
  EXPECT_EQ(o.findArray("none"), nullptr);
  EXPECT_THROW(o.getArray("list"), JsonException);
  EXPECT_EQ(o.getArray("name")->count(), 1);

  o.set("derived", JsonRef(new DerivedArray));
  EXPECT_NE(o.findArray("derived"), nullptr);

  // A null name is a name of its own, distinct from "".
  o.set(nullptr, JsonRef(new JsonNumber(7)));
  o.setString("", "empty");
  EXPECT_EQ(o.get(nullptr)->asNumber().value(), 7);
  EXPECT_STREQ(o.get("")->asString().get(), "empty");
}

TEST(JsonObjectTest, SetReplacesInPlaceAndReleasesTheOldValue) {
  liveCounted = 0;
  JsonObject o;
  o.set("a", JsonRef(new CountedNull));
  o.setString("b", "two");
  JsonRef kept(new CountedNull);
  o.set("c", kept);
  EXPECT_EQ(liveCounted, 2);

  // Replacing the last holder deletes the old value; the member keeps its
  // place.
  o.set("a", JsonRef(new JsonNumber(1)));
  EXPECT_EQ(liveCounted, 1);
  // Setting the handle a member already holds changes nothing.
  o.set("c", o.get("c"));
  EXPECT_EQ(o.get("c").get(), kept.get());
  // A value still held elsewhere survives its replacement.
  o.set("c", JsonRef(new JsonBool(false)));
  EXPECT_EQ(liveCounted, 1);
  EXPECT_TRUE(kept.unique());
  EXPECT_EQ(text(o), "{\n  \"a\":1,\n  \"b\":\"two\",\n  \"c\":false\n}");

  // The member joins the given handle's ring.
  JsonRef shared(new JsonNumber(9));
  o.set("d", shared);
  EXPECT_FALSE(shared.unique());
}

TEST(JsonObjectTest, RemoveTakesTheMemberOut) {
  liveCounted = 0;
  JsonObject o;
  o.set("a", JsonRef(new JsonNumber(1)));
  o.set("b", JsonRef(new CountedNull));
  o.set("c", JsonRef(new JsonNumber(3)));
  o.remove("b");
  o.remove("missing");
  EXPECT_EQ(liveCounted, 0);
  EXPECT_EQ(text(o), "{\n  \"a\":1,\n  \"c\":3\n}");
}

// ---- Arrays ----

TEST(JsonArrayTest, IndexChecksAndErase) {
  liveCounted = 0;
  JsonArray a;
  a.append(new JsonNumber(10));
  a.append(new CountedNull);
  a.append(new JsonNumber(30));
  for (int bad : {-1, 3}) {
    try {
      a.get(bad);
      ADD_FAILURE() << bad;
    } catch (const JsonException& e) {
      EXPECT_EQ(std::string(e.str()), "JSON array index " + std::to_string(bad) + " not found");
    }
    EXPECT_THROW(a.erase(bad), JsonException);
  }
  a.erase(1);
  EXPECT_EQ(liveCounted, 0);
  ASSERT_EQ(a.count(), 2);
  EXPECT_EQ(a.get(1)->asNumber().value(), 30);
}

TEST(JsonArrayTest, StringsInOrderAndAsASet) {
  JsonRef document = parse(R"(["b","a","b",""])");
  JsonArray& a = document->asArray();
  CharArrayList list = a.strings();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_STREQ(list[0].get(), "b");
  EXPECT_STREQ(list[3].get(), "");
  StringSet set = a.stringSet();
  std::vector<std::string> ordered;
  for (const CharArray& s : set) ordered.emplace_back(s.get());
  EXPECT_EQ(ordered, (std::vector<std::string>{"", "a", "b"}));

  JsonArray copy;
  copy.appendStrings(list);
  copy.appendStrings(set);
  EXPECT_EQ(copy.strings().size(), 7u);
  EXPECT_STREQ(copy.get(4)->asString().get(), "");
  EXPECT_STREQ(copy.get(6)->asString().get(), "b");

  a.append(new JsonNumber(1));
  EXPECT_THROW(a.strings(), JsonException);
  EXPECT_THROW(a.stringSet(), JsonException);
}

// ---- Copies and log text ----

TEST(JsonValueTest, CloneIsDeepAndIndependent) {
  JsonRef original = parse(R"({"a":[1,{"b":"c"}],"d":true})");
  JsonRef copy = original->clone();
  EXPECT_EQ(text(*copy), text(*original));
  copy->asObject().getArray("a")->erase(0);
  copy->asObject().setString("d", "changed");
  EXPECT_EQ(original->asObject().getArray("a")->count(), 2);
  EXPECT_TRUE(original->asObject().get("d")->asBool().value());
  EXPECT_EQ(text(*JsonNumber(-4).clone()), "-4");
}

TEST(JsonLogTextTest, WritesTheBodyOrSaysWhyNot) {
  const struct {
    const char* body;
    const char* contentType;
    bool integersOnly;
    const char* logText;
  } cases[] = {
      {" {\"a\" : [1]} ", "application/json", true, "{\n  \"a\":[\n    1\n  ]\n}"},
      {"2.5", nullptr, false, "0"},
      {"2.5", nullptr, true, "<not JSON-encoded data: Unsupported number at line 0>"},
      {"[1,\n2", nullptr, true, "<not JSON-encoded data: Truncated JSON at line 1>"},
      {"", nullptr, true, "<not JSON-encoded data: Truncated JSON at line 0>"},
      {"[1]", "text/html", true, "<not JSON-encoded data: Unknown Content-Type 'text/html'>"},
  };
  for (const auto& c : cases) {
    MBuf<unsigned char> body(reinterpret_cast<const unsigned char*>(c.body), static_cast<int>(std::strlen(c.body)));
    EXPECT_STREQ(Json::toLogText(body, c.contentType, c.integersOnly).get(), c.logText) << c.body;
  }
}

}  // namespace
}  // namespace plat
