#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/PlatStrings.h"
#include "qocore/base/plat/XmlConfig.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/xml/ErrorCode.h"

namespace {

using plat::ConfigParameter;
using plat::XmlConfig;

const char* const kLevels[] = {"Low", "High", nullptr};
const unsigned char kKeyBytes[] = {0xab, 0x01};

// One parameter of every type, with flags, a range, options, a value above
// the default and text that needs escaping.
void fill(plat::Configuration& conf) {
  conf.addBool("Quiet", "Less output", false);
  conf.addInt("Port", "Port to listen on", 5900, 1, 65535, false, "noPolicy,custom")->setValue(80, 10);
  conf.addEnum("Level", "Detail", "High", kLevels, true);
  conf.addString("Motd", "Say \"hi\" & <wave>", "it's");
  conf.addBinary("Key", "Secret key", 2, kKeyBytes);
  conf.addS64("Big", "Large number", 255);
  conf.addString("_Internal", "Not for users", "x");
}

constexpr char kDocument[] = R"(<?xml version="1.0"?>
<config>
<s64    name="Big"
        description="Large number"
        advanced="false">
    <value data="int64:00000000000000ff" priority="0"/>
</s64>
<binary name="Key"
        description="Secret key"
        advanced="true">
    <value data="ab01" priority="0"/>
</binary>
<enum   name="Level"
        description="Detail"
        advanced="true">
    <value data="High" priority="0"/>
    <opt data="Low"/>
    <opt data="High"/>
</enum>
<string name="Motd"
        description="Say &quot;hi&quot; &amp; &lt;wave&gt;"
        advanced="false">
    <value data="it&apos;s" priority="0"/>
</string>
<int    name="Port"
        description="Port to listen on"
        advanced="false"
        flags="custom,noPolicy"
        min="1"
        max="65535">
    <value data="5900" priority="0"/>
    <value data="80" priority="10"/>
</int>
<bool   name="Quiet"
        description="Less output"
        advanced="false">
    <value data="0" priority="0"/>
</bool>
</config>
)";

std::string readError(const char* document) {
  plat::Configuration conf("Read");
  try {
    XmlConfig::read(conf, document);
  } catch (const plat::Exception& e) {
    return e.str();
  }
  return "no exception";
}

TEST(XmlConfigTest, WritesTheExactLayoutForEveryType) {
  plat::Configuration conf("Test");
  fill(conf);
  EXPECT_STREQ(XmlConfig::write(conf, false).get(), kDocument);

  // The same through the one-by-one writers.
  rdr::MemOutStream os;
  XmlConfig::writeHeader(os);
  XmlConfig::writeParam(os, *conf.findParam("Quiet"));
  XmlConfig::writeFooter(os);
  EXPECT_STREQ(os.takeString().get(),
               "<?xml version=\"1.0\"?>\n<config>\n"
               "<bool   name=\"Quiet\"\n        description=\"Less output\"\n        advanced=\"false\">\n"
               "    <value data=\"0\" priority=\"0\"/>\n</bool>\n</config>\n");
}

TEST(XmlConfigTest, ReadRebuildsParametersThatWriteBackEqual) {
  plat::Configuration conf("Read");
  XmlConfig::read(conf, kDocument);
  EXPECT_STREQ(XmlConfig::write(conf, false).get(), kDocument);

  EXPECT_EQ(conf.getIntParam("Port").getValue(), 80);
  EXPECT_EQ(conf.getIntParam("Port").getPriority(), 10);
  EXPECT_EQ(conf.getIntParam("Port").getMax(), 65535);
  EXPECT_TRUE(conf.getIntParam("Port").hasFlag("noPolicy"));
  EXPECT_EQ(conf.getEnumParam("Level").getIntValue(), 1);
  EXPECT_TRUE(conf.getEnumParam("Level").isHidden());
  EXPECT_STREQ(conf.getStringParam("Motd").getValue(), "it's");
  EXPECT_STREQ(conf.getStringParam("Motd").getDescription(), "Say \"hi\" & <wave>");
  EXPECT_EQ(conf.getS64Param("Big").getValue(), 255);
  plat::MBuf<unsigned char> key;
  conf.getBinaryParam("Key").getBinary(key);
  ASSERT_EQ(key.count(), static_cast<int>(sizeof kKeyBytes));
  EXPECT_EQ(std::memcmp(key.data(), kKeyBytes, sizeof kKeyBytes), 0);
  EXPECT_FALSE(conf.getBoolParam("Quiet").getValue());
}

TEST(XmlConfigTest, StringValuesSurviveTheRoundTrip) {
  for (const char* text :
       {"  blanks at both ends  ", "two\nlines", "tab\there", "<&>\"'", "gr\xc3\xbc\xc3\x9f \xe6\x97\xa5"}) {
    SCOPED_TRACE(text);
    plat::Configuration conf("Test");
    conf.addString("Text", "d", "")->setValue(text, 10);
    plat::Configuration back("Back");
    XmlConfig::read(back, XmlConfig::write(conf, false).get());
    EXPECT_STREQ(back.getStringParam("Text").getValueStrAt(10).get(), text);
  }
}

TEST(XmlConfigTest, HiddenNamesFiltersAndKeysShapeTheDocument) {
  plat::Configuration conf("Test");
  fill(conf);
  conf.addString("Greeting", plat::LocDesc{"plat_param_logdir"}, "hello");

  const std::string all = XmlConfig::write(conf, true).get();
  EXPECT_NE(all.find("<config>\n<string name=\"_Internal\"\n"), std::string::npos);

  std::vector<std::string> asked;
  const std::string ints = XmlConfig::write(conf, false, [&](const char* name, const char* type, bool advanced) {
                             asked.push_back(std::string(name) + ":" + type + ":" + (advanced ? "advanced" : "plain"));
                             return std::strcmp(type, "int") == 0;
                           }).get();
  EXPECT_EQ(asked.size(), 7u);  // every parameter but the one beginning with "_"
  EXPECT_NE(std::find(asked.begin(), asked.end(), "Level:enum:advanced"), asked.end());
  EXPECT_EQ(ints.find("<int    name=\"Port\""), std::strlen("<?xml version=\"1.0\"?>\n<config>\n"));
  EXPECT_EQ(ints.find("name=\"Quiet\""), std::string::npos);

  const std::string keyed = XmlConfig::write(conf, false, nullptr, true).get();
  EXPECT_NE(keyed.find("name=\"Greeting\"\n        locDesc=\"plat_param_logdir\"\n"), std::string::npos);
  EXPECT_NE(keyed.find("name=\"Quiet\"\n        description=\"Less output\"\n"), std::string::npos);
}

TEST(XmlConfigTest, ReadTakesKeysDefaultsAndFilters) {
  plat::ensurePlatStrings();
  plat::Configuration conf("Read");
  XmlConfig::read(conf,
                  "<?xml version=\"1.0\"?>\n<config>\n"
                  "<STRING name=\"Greeting\" locDesc=\"plat_param_logdir\">"
                  "<value data=\"x\" priority=\"10\"/></STRING>\n"
                  "<int name=\"Small\" description=\"d\" max=\"5\" advanced=\"TRUE\" flags=\"noPolicy\">"
                  "<value data=\"3\" priority=\"0\"/><value data=\"4\" priority=\"30\"/></int>\n"
                  "<bool name=\"Skipped\" description=\"d\" advanced=\"true\">"
                  "<value data=\"1\" priority=\"0\"/></bool>\n"
                  "</config>\n",
                  [](const char* name, const char*, bool) { return std::strcmp(name, "Skipped") != 0; });

  const ConfigParameter& greeting = conf.getStringParam("Greeting");
  EXPECT_STREQ(greeting.getDescriptionKey(), "plat_param_logdir");
  // The key stays a key: the description follows the language in force.
  EXPECT_STREQ(greeting.getDescription(), loc::translate("plat_param_logdir"));
  EXPECT_STRNE(greeting.getDescription(), "plat_param_logdir");
  EXPECT_STREQ(greeting.getValueStrAt(10).get(), "x");
  EXPECT_STREQ(greeting.getDefaultStr().get(), "");

  const plat::IntParameter& small = conf.getIntParam("Small");
  EXPECT_EQ(small.getMin(), INT_MIN);
  EXPECT_EQ(small.getMax(), 5);
  EXPECT_TRUE(small.isHidden());
  // The flag applies to the values read: the policy value is refused.
  EXPECT_EQ(small.getValue(), 3);
  EXPECT_EQ(small.getPriority(), 0);

  EXPECT_EQ(conf.findParam("Skipped"), nullptr);
}

TEST(XmlConfigTest, DocumentsThatDescribeNoParameterAreRefused) {
  const std::string value = "<value data=\"1\" priority=\"0\"/>";
  struct Case {
    const char* what;
    std::string element;
  };
  for (const Case& c : std::vector<Case>{
           {"no name", "<bool description=\"d\">" + value + "</bool>"},
           {"no description", "<bool name=\"B\">" + value + "</bool>"},
           {"no value", "<bool name=\"B\" description=\"d\"></bool>"},
           {"unknown type", "<float name=\"F\" description=\"d\">" + value + "</float>"},
           {"enum without options", "<enum name=\"E\" description=\"d\"><value data=\"A\" priority=\"0\"/></enum>"},
           {"value without priority", "<bool name=\"B\" description=\"d\"><value data=\"1\"/></bool>"},
           {"value without data", "<bool name=\"B\" description=\"d\"><value priority=\"0\"/></bool>"},
       }) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(readError(("<config>" + c.element + "</config>").c_str()), "Incompatible XML config");
  }
}

TEST(XmlConfigTest, FailuresKeepWhatWasReadAndNameWhereParsingStopped) {
  plat::Configuration conf("Read");
  EXPECT_THROW(XmlConfig::read(conf,
                               "<config><bool name=\"Kept\" description=\"d\"><value data=\"1\" priority=\"0\"/></bool>"
                               "<float name=\"F\" description=\"d\"><value data=\"1\" priority=\"0\"/></float>"
                               "</config>"),
               plat::Exception);
  ASSERT_NE(conf.findParam("Kept"), nullptr);
  EXPECT_EQ(conf.findParam("Kept")->getValueStr().c_str(), std::string("1"));

  EXPECT_EQ(readError("<config>\n<bool name=\"B\"\n"),
            std::string("XML error 3:1 ") + xml::errorText(xml::kUnexpectedToken));
  EXPECT_EQ(readError("<other/>"), std::string("XML error 0:0 ") + xml::errorText(xml::kFirstTagNotFound));
}

}  // namespace
