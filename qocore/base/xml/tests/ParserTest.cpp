#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/tests/TreeDump.h"

namespace xml {
namespace {

using testing::dump;
using testing::OptionsGuard;

struct TreeCase {
  const char* name;
  std::string text;
  const char* tree;  // dump of the result
  int code = kNoError;
  const char* tag = nullptr;
  int encoding = kUtf8;
  bool dropWhiteSpace = true;
  bool removeComments = true;
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.name; }

class ParseTreeTest : public ::testing::TestWithParam<TreeCase> {
  OptionsGuard guard_;
};

TEST_P(ParseTreeTest, BuildsTree) {
  const TreeCase& c = GetParam();
  setGlobalOptions(c.encoding, true, c.dropWhiteSpace, c.removeComments);
  ParseResults r;
  Node n = parseText(c.text.c_str(), c.tag, &r);
  EXPECT_EQ(dump(n), c.tree);
  EXPECT_EQ(r.error, c.code) << errorText(r.error);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ParseTreeTest,
    ::testing::Values(
        TreeCase{.name = "ExpectedTagIsTheTop", .text = "<a><b>x</b></a>", .tree = "a(b(\"x\"))", .tag = "a"},
        TreeCase{.name = "ExpectedTagUnderTopLevelDeclaration",
                 .text = "<?xml version=\"1.0\"?>\n<config/>",
                 .tree = "config",
                 .tag = "config"},
        TreeCase{.name = "TopLevelDeclarationHoldsTheRest",
                 .text = "<?xml version=\"1.0\"?>\n<config/><more/>",
                 .tree = "?xml[version=1.0](config,more)"},
        TreeCase{.name = "DeclarationValueLosesQuestionMark",
                 .text = "<?xml version=1.0 standalone?><a/>",
                 .tree = "?xml[version=1.0,standalone](a)"},
        TreeCase{.name = "NestedDeclarationEndsAtItsClose", .text = "<a><?pi x?>t</a>", .tree = "a(?pi[x],\"t\")"},
        // Without data the name ends before "?>".
        TreeCase{.name = "DeclarationWithoutData", .text = "<a><?pi?>t</a>", .tree = "a(?pi,\"t\")"},
        TreeCase{.name = "TopLevelDeclarationWithoutData", .text = "<?pi?><a/>", .tree = "?pi(a)"},
        TreeCase{.name = "UnmatchedEndTagKeepsTree", .text = "<a><b></a>", .tree = "a(b)", .code = 1},
        TreeCase{.name = "UnclosedElementsWarn", .text = "<a><b>", .tree = "a(b)", .code = 1},
        TreeCase{.name = "EndTagAtTopLevelEndsParse", .text = "<a/></x><b/>", .tree = "a", .code = 1},
        TreeCase{.name = "ValuelessAttributes", .text = "<a x=1 y></a>", .tree = "a[x=1,y]"},
        TreeCase{.name = "QuotedAttributesDecoded",
                 .text = "<a x=\"1 &lt; 2\" y='\"q\"' z = \"\"/>",
                 .tree = "a[x=1 < 2,y=\"q\",z=]"},
        TreeCase{
            .name = "QuoteBeforeMarkupIsPlainText", .text = "<a>it's <b/> \"x</a>", .tree = "a(\"it's\",b,\"\"x\")"},
        TreeCase{.name = "NamesIgnoreCase", .text = "<Root><Item></ITEM></root>", .tree = "Root(Item)"},
        TreeCase{.name = "SeveralTopItemsGiveUnnamedRoot", .text = "<a/><b/>", .tree = "#root(a,b)"},
        TreeCase{.name = "TopLevelTextGivesUnnamedRoot", .text = "<a/> tail ", .tree = "#root(a,\"tail\")"},
        TreeCase{.name = "CommentKeptAsClear", .text = "<a> <!-- note --> </a>", .tree = "a(<!-- note -->)"},
        TreeCase{.name = "CommentBetweenTextsFolded", .text = "<a>x <!-- c --> y</a>", .tree = "a(\"xy\")"},
        TreeCase{.name = "CommentKeptWithoutRemoval",
                 .text = "<a>x<!--c-->y</a>",
                 .tree = "a(\"x\",<!--c-->,\"y\")",
                 .removeComments = false},
        TreeCase{.name = "WhiteSpaceKeptWithoutDropping",
                 .text = "<a> <b/>\n x </a>",
                 .tree = "a(\" \",b,\"\n x \")",
                 .dropWhiteSpace = false},
        TreeCase{.name = "WhiteSpaceTrimmed", .text = "<a>\n\t x  y \r\n</a>", .tree = "a(\"x  y\")"},
        TreeCase{.name = "SpecialSections",
                 .text = "<a><![CDATA[<x>&]]><!DOCTYPE html><!DOCTYPE d [<!ENTITY e 'v'>]><PRE> p </PRE></a>",
                 .tree = "a(<![CDATA[<x>&]]>,<!DOCTYPE html>,<!DOCTYPE d [<!ENTITY e 'v'>]>,<PRE> p </PRE>)"},
        TreeCase{.name = "EmptySectionNotStored", .text = "<a><!----><![CDATA[]]></a>", .tree = "a"},
        TreeCase{
            .name = "NamedAndNumericEntities", .text = "<a>&AMP;&quot;&#65;&#x42;&#X63;</a>", .tree = "a(\"&\"ABc\")"},
        TreeCase{.name = "Utf8ReferencesBecomeSequences",
                 .text = "<a v='&#233;'>&#xE9;&#255;</a>",
                 .tree = "a[v=\xC3\xA9](\"\xC3\xA9\xC3\xBF\")"},
        TreeCase{.name = "SingleByteReferenceIsOneByte",
                 .text = "<a v='&#233;'>&#xE9;</a>",
                 .tree = "a[v=\xE9](\"\xE9\")",
                 .encoding = kSingleByte},
        // The same bytes read in two encodings: in GBK the quote after 0x81
        // belongs to that character.
        TreeCase{.name = "TrailByteNotTakenForMarkup",
                 .text = "<a x=\"\x81\"\">t</a>",
                 .tree = "a[x=\x81\"](\"t\")",
                 .encoding = kGbk},
        TreeCase{.name = "SingleByteSplitsTheSameBytes",
                 .text = "<a x=\"\x81\"\">t</a>",
                 .tree = "a[x=\x81,\"](\"t\")",
                 .encoding = kSingleByte},
        // Shapes next to the usual ones (name="value", a plain end tag of
        // the element's own name), which go the general way.
        TreeCase{.name = "EndTagNameEndingInSlash", .text = "<a/ x>t</a/>", .tree = "<empty>", .code = 5},
        TreeCase{.name = "EndTagAfterBlank", .text = "<a>t</ a>", .tree = "a(\"t\")"},
        TreeCase{.name = "WideCharacterTakesTheTagClose", .text = "<a\xC3>t</a\xC3>", .tree = "<empty>", .code = 8},
        TreeCase{.name = "QuoteInsideAttributeName", .text = "<a b\"c=\"1\"/>", .tree = "a[b\"c=1]"},
        TreeCase{.name = "UnclosedQuoteBeforeMarkup", .text = "<a x=\"1<b/>", .tree = "<empty>", .code = 8},
        TreeCase{.name = "NamesAndValuesOfManyLengths",
                 .text = "<a b='1' cde='123' fghi='1234' jklmnop='1234567' qrstuvwx='12345678' y='123456789' "
                         "z='1234567890123456' w='12345678901234567'/>",
                 .tree = "a[b=1,cde=123,fghi=1234,jklmnop=1234567,qrstuvwx=12345678,y=123456789,z=1234567890123456,"
                         "w=12345678901234567]"},
        // Decoding copies plain bytes eight at a time.
        TreeCase{.name = "EntityAfterEightPlainBytes", .text = "<a>12345678&amp;x</a>", .tree = "a(\"12345678&x\")"},
        TreeCase{.name = "WideCharacterAcrossEightBytes",
                 .text = "<a>abcdefg\xC3\xA9hijklmnop&lt;q</a>",
                 .tree = "a(\"abcdefg\xC3\xA9hijklmnop<q\")"},
        TreeCase{.name = "EntityCutByEndOfText", .text = "<a>abc&amp", .tree = "<empty>", .code = 12},
        TreeCase{.name = "EmptyTextHasNoTag", .text = "", .tree = "#root", .code = 2},
        TreeCase{.name = "LoneAngleHasNoTag", .text = "<", .tree = "#root", .code = 2},
        TreeCase{.name = "ErrorWithoutElementIsNoTag", .text = "x &bad; y", .tree = "#root", .code = 2},
        TreeCase{.name = "ErrorGivesEmptyNode", .text = "<a>&bad;</a>", .tree = "<empty>", .code = 12}),
    [](const ::testing::TestParamInfo<TreeCase>& i) { return std::string(i.param.name); });

struct CodeCase {
  const char* name;
  const char* text;  // may be null
  int code;
  int line;
  int column;
  const char* tag = nullptr;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

class ParseCodeTest : public ::testing::TestWithParam<CodeCase> {
  OptionsGuard guard_;
};

TEST_P(ParseCodeTest, ReportsCodeAndPlace) {
  const CodeCase& c = GetParam();
  ParseResults r{-1, -1, -1};
  Node n = parseText(c.text, c.tag, &r);
  EXPECT_EQ(r.error, c.code) << errorText(r.error);
  EXPECT_EQ(r.line, c.line);
  EXPECT_EQ(r.column, c.column);
  EXPECT_EQ(n.isEmpty(), c.code > kNoTagFound);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ParseCodeTest,
    ::testing::Values(
        CodeCase{"NoError", "<a>\n</a>", 0, 0, 0}, CodeCase{"UnmatchedEndTagAtTheTag", "<a>\n <b></a>", 1, 2, 5},
        // A later unmatched place replaces the earlier one.
        CodeCase{"LaterUnmatchedPlaceWins", "<a><b></a><c>", 1, 1, 14}, CodeCase{"EmptyText", "", 2, 1, 1},
        CodeCase{"OnlyText", "just text", 2, 1, 10}, CodeCase{"MissingStartTagName", "<a>\n<>", 4, 2, 2},
        CodeCase{"DeclarationWithoutName",
                 "<a><?"
                 "?>",
                 4, 1, 6},
        CodeCase{"MissingEndTagName", "<a></ >", 5, 1, 7}, CodeCase{"EndTagWithExtraToken", "<a></a b>", 5, 1, 8},
        CodeCase{"UnmatchedEndTagUnderRoot", "<a></b>", 6, 1, 4}, CodeCase{"UnclosedComment", "<a><!-- x", 7, 1, 4},
        CodeCase{"UnclosedDocType", "<a><!DOCTYPE x [ y", 7, 1, 4}, CodeCase{"ValueMissing", "<a x=>", 8, 1, 6},
        CodeCase{"EqualsWithoutName", "<a =1>", 8, 1, 4}, CodeCase{"StartTagCutOff", "<a", 8, 1, 3},
        CodeCase{"NullText", nullptr, 9, 0, 0}, CodeCase{"FirstTagNotFound", "<a><b/></a>", 11, 0, 0, "c"},
        CodeCase{"UnknownEntity", "<a>&bogus;</a>", 12, 1, 4},
        CodeCase{"EntityWithoutSemicolon", "<a>&amp</a>", 12, 1, 4}, CodeCase{"BadHexDigit", "<a>&#x1G;</a>", 12, 1, 4},
        CodeCase{"NoDigits", "<a>&#;</a>", 12, 1, 4}, CodeCase{"ReferenceToNul", "<a>&#0;</a>", 12, 1, 4},
        CodeCase{"CharacterAbove255", "<a>&#300;</a>", 13, 1, 4},
        CodeCase{"CharacterAbove255InAttribute", "<a x='&#x100;'/>", 13, 1, 7},
        CodeCase{"HugeReference", "<a>&#99999999999999;</a>", 13, 1, 4},
        CodeCase{"ThirdLineAfterTwoCharacters", "<a>\n<b/>\n  &x;</a>", 12, 3, 3},
        // Columns count characters, not bytes.
        CodeCase{"ColumnsCountCharacters", "<a>\xC3\xA9\xE2\x82\xAC &x;</a>", 12, 1, 7}),
    [](const ::testing::TestParamInfo<CodeCase>& i) { return std::string(i.param.name); });

TEST(ErrorTextTest, CodesOutsideTheTableAreUnknown) {
  EXPECT_STREQ(errorText(21), "Unknown");
  EXPECT_STREQ(errorText(-1), "Unknown");
}

std::string nested(int depth, const char* prefix = "") {
  std::string s = prefix;
  for (int i = 0; i < depth; ++i) s += "<e>";
  for (int i = 0; i < depth; ++i) s += "</e>";
  return s;
}

int depthOf(Node n) {
  int d = 0;
  for (; !n.isEmpty(); n = n.childAt(0)) ++d;
  return d;
}

TEST(ParseDepthTest, NestingLimit) {
  OptionsGuard guard;
  ParseResults r;
  Node n = parseText(nested(kMaxDepth).c_str(), nullptr, &r);
  EXPECT_EQ(r.error, kNoError);
  EXPECT_EQ(depthOf(n), kMaxDepth);

  // The first element too deep is reported at its start tag.
  n = parseText(nested(kMaxDepth + 1).c_str(), nullptr, &r);
  EXPECT_TRUE(n.isEmpty());
  EXPECT_EQ(r.error, kUnexpectedToken);
  EXPECT_EQ(r.line, 1);
  EXPECT_EQ(r.column, 3 * kMaxDepth + 1);

  // A top-level declaration holds the document without adding a level.
  n = parseText(nested(kMaxDepth, "<?xml version=\"1.0\"?>\n").c_str(), "e", &r);
  EXPECT_EQ(r.error, kNoError);
  EXPECT_EQ(depthOf(n), kMaxDepth);

  // Far deeper input is refused the same way, without exhausting the stack.
  n = parseText(nested(200000).c_str(), nullptr, &r);
  EXPECT_EQ(r.error, kUnexpectedToken);
}

// Documents large enough to take the biggest blocks, parsed while earlier
// ones still live and after they have gone: each tree keeps its own texts.
TEST(LargeDocumentTest, TreesParsedOneAfterAnotherKeepTheirOwnTexts) {
  OptionsGuard guard;
  static constexpr int kCount = 400000;
  const auto document = [](char mark) {
    std::string s = "<all>";
    for (int i = 0; i < kCount; ++i) {
      s += "<e n=\"" + std::to_string(i) + "\">" + mark + std::to_string(i) + "</e>";
    }
    return s + "</all>";
  };
  const auto check = [](const Node& n, char mark) {
    ASSERT_EQ(n.childCount(), kCount);
    for (const int i : {0, kCount / 2, kCount - 1}) {
      const Node e = n.childAt(i);
      EXPECT_STREQ(e.attribute("n"), std::to_string(i).c_str());
      EXPECT_EQ(std::string(e.textAt(0)), mark + std::to_string(i));
    }
  };
  Node first = parseText(document('a').c_str(), nullptr, nullptr);
  check(first, 'a');
  Node second = parseText(document('b').c_str(), nullptr, nullptr);
  first = Node();
  Node third = parseText(document('c').c_str(), nullptr, nullptr);
  check(second, 'b');
  check(third, 'c');
}

// Texts and values longer than the blocks texts are kept in.
TEST(LargeDocumentTest, TextsLongerThanABlock) {
  OptionsGuard guard;
  const std::string text(300000, 't');
  const std::string value(300001, 'v');
  const Node n = parseText(("<a x='" + value + "'>" + text + "<b/>" + text + "u</a>").c_str(), nullptr, nullptr);
  ASSERT_EQ(n.textCount(), 2);
  EXPECT_EQ(std::string(n.attribute("x")), value);
  EXPECT_EQ(std::string(n.textAt(0)), text);
  EXPECT_EQ(std::string(n.textAt(1)), text + "u");
}

TEST(SetGlobalOptionsTest, EncodingOutsideRangeIsKept) {
  OptionsGuard guard;
  EXPECT_EQ(setGlobalOptions(kShiftJis, false, false, false), 0);
  EXPECT_EQ(setGlobalOptions(7, true, true, false), 1);
  EXPECT_EQ(setGlobalOptions(0, true, true, false), 1);
  const Options& o = globalOptions();
  EXPECT_EQ(o.encoding, kShiftJis);
  EXPECT_TRUE(o.guessWideChars);
  EXPECT_TRUE(o.dropWhiteSpace);
  EXPECT_FALSE(o.removeComments);
}

}  // namespace
}  // namespace xml
