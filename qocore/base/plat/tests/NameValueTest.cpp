#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/NameValue.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/LogCapture.h"

namespace {

using plat::CaseMap;

// The map as (name, value) pairs in map order; a null value is nullopt.
std::vector<std::pair<std::string, std::optional<std::string>>> entries(const CaseMap& map) {
  std::vector<std::pair<std::string, std::optional<std::string>>> out;
  for (const auto& [name, value] : map) {
    out.emplace_back(name.c_str(), value ? std::optional<std::string>(value.get()) : std::nullopt);
  }
  return out;
}

std::string written(const CaseMap& map) {
  rdr::MemOutStream os;
  plat::writeNameValueLines(os, map);
  return std::string(reinterpret_cast<const char*>(os.data()), os.length());
}

TEST(NameValueTest, ReadsOneLineWithEscapesAndTrimming) {
  struct Case {
    const char* line;
    const char* name;
    std::optional<std::string> value;
  };
  for (const Case& c : std::vector<Case>{
           // Only the ends of the line lose their white space.
           {"  a = b  \n", "a ", " b"},
           {"\tname=x=y\n", "name", "x=y"},
           {"flag\n", "flag", std::nullopt},
           {"\n", "", std::nullopt},
           {"#comment=1\n", "#comment", "1"},
           {"a=line1\\nline2\\\\end\\r\n", "a", "line1\nline2\\end\r"},
           {"a=\\t\\=\n", "a", "\\t\\="},
           // An escaped LF is not white space to be trimmed.
           {"a=x \\n  \n", "a", "x \n"},
           {"a=b\r\n", "a", "b"},
           {"a=trailing\\", "a", "trailing\\"},
           {"a=", "a", ""},
       }) {
    SCOPED_TRACE(c.line);
    rdr::MemInStream is(c.line, static_cast<int32_t>(std::string(c.line).size()));
    plat::DString buffer;
    const char* value = plat::readNameValueLine(is, buffer);
    EXPECT_STREQ(buffer.c_str(), c.name);
    ASSERT_EQ(value != nullptr, c.value.has_value());
    if (value) {
      EXPECT_EQ(std::string(value), *c.value);
    }
  }
}

TEST(NameValueTest, ValuesAreEscapedOnWritingAndReadBackUnchanged) {
  struct Case {
    const char* value;
    const char* escaped;
  };
  for (const Case& c : std::vector<Case>{
           {"plain", "plain"},
           {"two\nlines\\and\rcr", "two\\nlines\\\\and\\rcr"},
           {"a=b \\t", "a=b \\\\t"},
           {"", ""},
           {"\n", "\\n"},
       }) {
    SCOPED_TRACE(c.value);
    EXPECT_STREQ(plat::escapeValue(c.value).get(), c.escaped);

    rdr::MemOutStream os;
    plat::writeNameValueLine(os, "n", c.value);
    std::string text(reinterpret_cast<const char*>(os.data()), os.length());
    EXPECT_EQ(text, std::string("n=") + c.escaped + "\n");

    rdr::MemInStream is(text.data(), static_cast<int32_t>(text.size()));
    plat::DString buffer;
    const char* value = plat::readNameValueLine(is, buffer);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, c.value);
  }
  EXPECT_TRUE(plat::escapeValue(nullptr).isNull());
}

TEST(NameValueTest, MapReadingMergesNamesIgnoringCaseAndCallsHandlers) {
  const std::string text =
      "Server=a.example\n"
      "bare\n"
      "SERVER=b.example\n"
      "Password=secret\n"
      "Port=5900";  // no final LF
  std::vector<std::string> handled;
  plat::NameValueHandlers handlers{{"password", [&](const char* name, const char* value, CaseMap& map) {
                                      handled.push_back(std::string(name) + "=" + value);
                                      EXPECT_EQ(map.size(), 2u);  // the handler sees the map as read so far
                                    }}};
  CaseMap map;
  rdr::MemInStream is(text.data(), static_cast<int32_t>(text.size()));
  plat::readNameValueLines(is, handlers, map);

  EXPECT_EQ(handled, std::vector<std::string>{"Password=secret"});
  // The first spelling of a name is kept; its value is the last one read.
  EXPECT_EQ(entries(map), (std::vector<std::pair<std::string, std::optional<std::string>>>{
                              {"bare", std::nullopt}, {"Port", "5900"}, {"Server", "b.example"}}));
  EXPECT_EQ(written(map), "bare\nPort=5900\nServer=b.example\n");
}

TEST(NameValueTest, OverlongLineEndsReadingWithTheStreamError) {
  std::string text = "a=1\nlong=" + std::string(rdr::InStream::kDefaultMaxLine, 'x') + "\nb=2\n";
  CaseMap map;
  rdr::MemInStream is(text.data(), static_cast<int32_t>(text.size()));
  EXPECT_THROW(plat::readNameValueLines(is, {}, map), rdr::StringTooLongException);
  EXPECT_EQ(written(map), "a=1\n");

  // A line at the limit is still read.
  std::string atLimit = "c=" + std::string(rdr::InStream::kDefaultMaxLine - 2, 'y') + "\n";
  rdr::MemInStream ok(atLimit.data(), static_cast<int32_t>(atLimit.size()));
  plat::DString buffer;
  const char* value = plat::readNameValueLine(ok, buffer);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::string(value).size(), static_cast<size_t>(rdr::InStream::kDefaultMaxLine - 2));
}

TEST(NameValueTest, ConfigReadingSetsParametersAtThePriority) {
  plat::Configuration conf("Test");
  plat::IntParameter* port = conf.addInt("Port", "Port", 5900, 1, 65535);
  plat::StringParameter* host = conf.addString("Host", "Host", "none");
  plat::BoolParameter* quiet = conf.addBool("Quiet", "Quiet", false);
  const std::string text =
      "port = 80\n"  // the name keeps its blank: no such parameter
      "PORT=81\n"
      "Unknown=1\n"
      "Quiet\n"  // no value: a bool takes it as true
      "host=far away \\n\n"
      "Port=99999\n";  // refused by the range, reading goes on
  rdr::MemInStream is(text.data(), static_cast<int32_t>(text.size()));
  plat::readNameValueConfig(is, conf, plat::ConfigParameter::kPreference);

  EXPECT_EQ(port->getValue(), 81);
  EXPECT_EQ(port->getPriority(), plat::ConfigParameter::kPreference);
  EXPECT_STREQ(host->getValue(), "far away \n");
  EXPECT_TRUE(quiet->getValue());
}

// A NUL byte would cut a line short and change its meaning, and one value
// that is not UTF-8 used to end reading: both lines are passed over with a
// log line naming them, and the lines after them still count.
TEST(NameValueTest, LinesThatCannotBeTakenAreLoggedAndPassedOver) {
  yarl_test::LogCapture capture("NameValue:capture:100");
  plat::Configuration conf("Test");
  plat::BoolParameter* quiet = conf.addBool("Quiet", "Quiet", false);
  plat::StringParameter* host = conf.addString("Host", "Host", "none");
  plat::IntParameter* port = conf.addInt("Port", "Port", 5900, 1, 65535);
  const std::string text = std::string("Quiet\0=0\n", 9) + "Host=bad\xFF\n" + "Port=81\n";
  rdr::MemInStream is(text.data(), static_cast<int32_t>(text.size()));
  plat::readNameValueConfig(is, conf, plat::ConfigParameter::kPreference);

  EXPECT_FALSE(quiet->getValue());
  EXPECT_STREQ(host->getValue(), "none");
  EXPECT_EQ(port->getValue(), 81);
  std::vector<std::string> logged;
  for (const auto& r : capture.from("NameValue")) logged.push_back(r.text);
  EXPECT_EQ(logged, (std::vector<std::string>{"Line 1 (Quiet) holds a NUL byte: ignored",
                                              "Line 2 (Host) is not valid UTF-8: ignored"}));

  // The map reader passes a NUL line over the same way.
  rdr::MemInStream lines(text.data(), static_cast<int32_t>(text.size()));
  CaseMap map;
  plat::readNameValueLines(lines, {}, map);
  EXPECT_EQ(entries(map),
            (std::vector<std::pair<std::string, std::optional<std::string>>>{{"Host", "bad\xFF"}, {"Port", "81"}}));
}

TEST(NameValueTest, ChangedParamsAreCollectedAcrossChildConfigurations) {
  plat::Configuration conf("Mine");
  plat::Configuration child("MineChild");
  conf.addChild(&child);
  conf.addInt("Same", "d", 1, 0, 9);
  conf.addInt("Differs", "d", 1, 0, 9)->setValue(2, 10);
  conf.addString("OnlyHere", "d", "x");
  child.addString("Nested", "d", "new");

  plat::Configuration reference("Ref");
  reference.addInt("same", "d", 1, 0, 9);
  reference.addInt("DIFFERS", "d", 1, 0, 9);
  reference.addString("Nested", "d", "old");

  CaseMap map;
  EXPECT_TRUE(plat::collectChangedParams(conf, reference, map));
  EXPECT_EQ(written(map), "Differs=2\nNested=new\n");

  CaseMap none;
  EXPECT_FALSE(plat::collectChangedParams(reference, reference, none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
