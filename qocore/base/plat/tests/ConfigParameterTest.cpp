#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Utf8.h"
#include "testing/LogCapture.h"

namespace {

using plat::ConfigParameter;
using testing::ElementsAre;
using testing::IsEmpty;

struct Line {
  int level;
  std::string text;
  bool operator==(const Line&) const = default;
};

std::vector<Line> lines;

void recordingSink(const char* source, int level, const char* text) {
  if (std::strcmp(source, "ConfigParameter") == 0) lines.push_back({level, text});
}

struct RecordingCallback : plat::ParameterChangedCallback {
  void parameterChanged(ConfigParameter* param, int priority) override { calls.emplace_back(param, priority); }
  std::vector<std::pair<ConfigParameter*, int>> calls;
};

std::string str(const plat::CharArray& text) { return text ? text.get() : "<null>"; }

std::map<int, std::string> allValues(const ConfigParameter& param) {
  std::map<int, std::string> values;
  for (const auto& [priority, text] : param.getAllValues()) values.emplace(priority, str(text));
  return values;
}

// Parameters live in a configuration of the test's own, and every line the
// "ConfigParameter" source writes is recorded.
class ConfigParameterTest : public testing::Test {
 protected:
  void SetUp() override { lines.clear(); }

  // Sets the text at priority 10 and expects it stored with the text form
  // `stored`, or refused when that is null; then removes it again.
  static void expectParse(ConfigParameter& param, const char* text, const char* stored) {
    SCOPED_TRACE(testing::Message() << param.typeName() << " text " << (text ? text : "<null>"));
    EXPECT_EQ(param.setParam(text, ConfigParameter::kPreference), stored != nullptr);
    if (stored) {
      EXPECT_EQ(param.getPriority(), ConfigParameter::kPreference);
      EXPECT_EQ(str(param.getValueStr()), stored);
    } else {
      EXPECT_FALSE(param.hasValueAt(ConfigParameter::kPreference));
    }
    param.unsetParam(ConfigParameter::kPreference);
  }

  plat::Configuration conf_{"Test"};
  yarl_test::LogCapture capture_{"ConfigParameter:capture:110", &recordingSink};
};

// ---- Parsing text, one table per type ----

TEST_F(ConfigParameterTest, BoolTakesItsWordsAndLogsAnythingElse) {
  plat::BoolParameter flag("Flag", "A switch", false, false, &conf_);
  const std::pair<const char*, const char*> cases[] = {
      {"1", "1"},     {"0", "0"},     {"Yes", "1"},  {"ON", "1"},    {"TRUE", "1"},  {"Off", "0"}, {"NO", "0"},
      {"false", "0"}, {"2", nullptr}, {"", nullptr}, {"y", nullptr}, {nullptr, "1"},  // a bare "-Flag" on the command
                                                                                      // line
  };
  for (const auto& [text, stored] : cases) expectParse(flag, text, stored);

  std::vector<Line> errors;
  for (const Line& line : lines) {
    if (line.level == plat::LogSrc::kError) errors.push_back(line);
  }
  EXPECT_THAT(errors, ElementsAre(Line{0, "Bool parameter Flag: invalid value '2'"},
                                  Line{0, "Bool parameter Flag: invalid value ''"},
                                  Line{0, "Bool parameter Flag: invalid value 'y'"}));
}

TEST_F(ConfigParameterTest, IntTakesWholeNumbersWithinItsRange) {
  plat::IntParameter count("Count", "A number", 5, 1, 32, false, &conf_);
  const std::pair<const char*, const char*> cases[] = {
      {"1", "1"},         {"32", "32"},    {"0x10", "16"},          {"010", "8"},
      {"+7", "7"},        {"0", nullptr},  {"33", nullptr},         {"12abc", nullptr},
      {"", nullptr},      {"-1", nullptr}, {"4294967313", nullptr},  // 16 modulo 2^32: too big, not wrapped
      {nullptr, nullptr},
  };
  for (const auto& [text, stored] : cases) expectParse(count, text, stored);
  for (const Line& line : lines) EXPECT_NE(line.level, plat::LogSrc::kError) << line.text;
}

TEST_F(ConfigParameterTest, EnumTakesNamesIgnoringCaseButNoNumbers) {
  static const char* const kLevels[] = {"Low", "High", nullptr};
  plat::EnumParameter level("Level", "A choice", "low", kLevels, false, &conf_);
  EXPECT_EQ(level.getIntValue(), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"high", "High"}, {"LOW", "Low"}, {"1", nullptr}, {"Medium", nullptr}, {"", nullptr}, {nullptr, nullptr},
  };
  for (const auto& [text, stored] : cases) expectParse(level, text, stored);

  ASSERT_TRUE(level.setParam("high", 10));
  EXPECT_EQ(level.getIntValue(), 1);
  EXPECT_EQ(level.getMax(), 1);
}

TEST_F(ConfigParameterTest, EnumDefaultIsTheNamedIndexOrTheFirst) {
  static const char* const kLevels[] = {"Low", "High", nullptr};
  const std::pair<const char*, int> cases[] = {{"HIGH", 1}, {"Low", 0}, {"Medium", 0}, {nullptr, 0}};
  for (const auto& [def, index] : cases) {
    plat::Configuration conf("Enums");
    plat::EnumParameter level("Level", "A choice", def, kLevels, false, &conf);
    EXPECT_EQ(level.getIntValue(), index) << (def ? def : "<null>");
  }
}

TEST_F(ConfigParameterTest, StringTakesValidUtf8Unchanged) {
  plat::StringParameter name("Name", "A text", "none", false, &conf_);
  const std::pair<const char*, const char*> cases[] = {
      {"plain", "plain"}, {"", ""}, {"caf\xC3\xA9", "caf\xC3\xA9"}, {" a=b ", " a=b "}, {nullptr, nullptr},
  };
  for (const auto& [text, stored] : cases) expectParse(name, text, stored);
}

TEST_F(ConfigParameterTest, StringRefusesBadUtf8WithBadUtf8) {
  plat::StringParameter name("Name", "A text", "none", false, &conf_);
  for (const char* bad : {"caf\xC3", "\xC0\x80", "a\xFF"}) {
    try {
      (void)name.setParam(bad, 10);
      ADD_FAILURE() << "no exception";
    } catch (const plat::BadUtf8& e) {
      EXPECT_STREQ(e.str(), "Bad UTF-8 string for Name");
    }
  }
  EXPECT_FALSE(name.hasValueAt(10));
}

TEST_F(ConfigParameterTest, S64TakesCanonicalTextOrEightLittleEndianBytes) {
  plat::S64Parameter big("Big", "A large number", 0, false, &conf_);
  const std::pair<const char*, const char*> cases[] = {
      {"int64:00000000000000ff", "int64:00000000000000ff"},
      {"ff00000000000000", "int64:00000000000000ff"},
      {"0100000000000000", "int64:0000000000000001"},
      {"FFFFFFFFFFFFFFFF", "int64:ffffffffffffffff"},
      {"int64:ff", nullptr},  // too short for the canonical form, and not hex
      {"int64:00000000000000fg", nullptr},
      {"ff", nullptr},
      {"ff0000000000000000", nullptr},
      {"", nullptr},
      {nullptr, nullptr},
  };
  for (const auto& [text, stored] : cases) expectParse(big, text, stored);

  ASSERT_TRUE(big.setParam("ff00000000000000", 10));
  EXPECT_EQ(big.getValue(), 255);
}

TEST_F(ConfigParameterTest, S64TypedValuesRoundTripThroughTheirText) {
  plat::S64Parameter big("Big", "A large number", -2, false, &conf_);
  EXPECT_EQ(str(big.getDefaultStr()), "int64:fffffffffffffffe");
  EXPECT_EQ(big.getValue(), -2);
  ASSERT_TRUE(big.setValue(INT64_MIN, 10));
  EXPECT_EQ(str(big.getValueStr()), "int64:8000000000000000");
  EXPECT_EQ(big.getValue(), INT64_MIN);
}

TEST_F(ConfigParameterTest, BinaryTakesHexPairsAndShowsOnlyBinaryPerPriority) {
  const unsigned char def[] = {0xDE, 0xAD};
  plat::BinaryParameter key("Key", "Some bytes", 2, def, false, &conf_);
  const std::pair<const char*, const char*> cases[] = {
      {"0A0b", "0a0b"}, {"", ""}, {"abc", nullptr}, {"zz", nullptr}, {nullptr, nullptr},
  };
  for (const auto& [text, stored] : cases) expectParse(key, text, stored);

  ASSERT_TRUE(key.setParam("0A0b", 10));
  plat::MBuf<unsigned char> out;
  EXPECT_FALSE(key.getBinary(out));
  EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.end()), (std::vector<unsigned char>{0x0A, 0x0B}));
  for (int priority : {0, 10, 20}) EXPECT_EQ(str(key.getValueStrAt(priority)), "<binary>");
  EXPECT_EQ(str(key.getDefaultStr()), "<binary>");
}

TEST_F(ConfigParameterTest, BinaryKeepsTheSecureFlagAndNeverLogsTheBytes) {
  const unsigned char secret[] = {0x53, 0x45};
  plat::BinaryParameter key("Key", "Some bytes", 0, nullptr, false, &conf_);
  ASSERT_TRUE(key.setValue(plat::MBuf<unsigned char>(secret, 2, true), 30));
  ASSERT_TRUE(key.setValue(2, secret, 10));
  key.unsetParam(30);

  plat::MBuf<unsigned char> out;
  EXPECT_FALSE(key.getBinary(out));
  ASSERT_TRUE(key.setValue(plat::MBuf<unsigned char>(secret, 2, true), 30));
  EXPECT_TRUE(key.getBinary(out));
  EXPECT_TRUE(out.secure());
  EXPECT_EQ(str(key.getValueStr()), "5345");
  EXPECT_THAT(lines, ElementsAre(Line{100, "set Key(binary) to <binary>, priority 30"},
                                 Line{100, "set Key(binary) to <binary>, priority 10"},
                                 Line{100, "unset Key(binary) priority 30, now <binary>, priority 10"},
                                 Line{100, "set Key(binary) to <binary>, priority 30"}));
}

// ---- Storing and removing values ----

TEST_F(ConfigParameterTest, SettingTheStoredValueAgainChangesNothing) {
  plat::IntParameter count("Count", "A number", 5, 1, 32, false, &conf_);
  RecordingCallback cb;
  count.addCallback(&cb);

  EXPECT_TRUE(count.setParam("7", 10));
  EXPECT_TRUE(count.setParam("0x7", 10));
  EXPECT_TRUE(count.setIntValue(7, 10));
  EXPECT_TRUE(count.setValue(7, 20));
  EXPECT_THAT(
      lines, ElementsAre(Line{100, "set Count(int) to 7, priority 10"}, Line{100, "set Count(int) to 7, priority 20"}));
  EXPECT_THAT(cb.calls,
              ElementsAre(std::pair<ConfigParameter*, int>{&count, 10}, std::pair<ConfigParameter*, int>{&count, 20}));
}

TEST_F(ConfigParameterTest, DefaultPriorityChangesLogVerbose) {
  static const char* const kLevels[] = {"Low", "High", nullptr};
  plat::EnumParameter level("Level", "A choice", "Low", kLevels, false, &conf_);
  ASSERT_TRUE(level.setParam("high", 0));
  EXPECT_EQ(level.getPriority(), 0);
  EXPECT_THAT(lines, ElementsAre(Line{110, "set Level(enum) to High, priority 0"}));
}

TEST_F(ConfigParameterTest, NoPolicyRefusesPolicyPriorities) {
  plat::StringParameter name("Name", "A text", "none", false, &conf_, "other,noPolicy");
  RecordingCallback cb;
  name.addCallback(&cb);
  EXPECT_FALSE(name.setParam("policy", 30));
  EXPECT_FALSE(name.setValue("policy", 45));
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_THAT(cb.calls, IsEmpty());
  EXPECT_EQ(name.getPriority(), 0);

  EXPECT_TRUE(name.setParam("policy", 10));
  EXPECT_STREQ(name.getValue(), "policy");
}

TEST_F(ConfigParameterTest, PreferenceUnderPolicyComesIntoForceWhenPolicyGoes) {
  plat::StringParameter name("Name", "A text", "none", false, &conf_);
  RecordingCallback cb;
  name.addCallback(&cb);
  ASSERT_TRUE(name.setParam("policy", 30));
  ASSERT_TRUE(name.setParam("pref", 10));
  EXPECT_STREQ(name.getValue(), "policy");
  EXPECT_EQ(name.getPriority(), 30);
  EXPECT_EQ(str(name.getValueStrAt(10)), "pref");
  EXPECT_EQ(str(name.getValueStrAt(20)), "<null>");

  name.unsetParam(30);
  EXPECT_STREQ(name.getValue(), "pref");
  EXPECT_EQ(name.getPriority(), 10);
  EXPECT_EQ(lines.back(), (Line{100, "unset Name(string) priority 30, now pref, priority 10"}));
  EXPECT_EQ(cb.calls.back(), (std::pair<ConfigParameter*, int>{&name, 30}));
}

TEST_F(ConfigParameterTest, UnsettingTheDefaultOrAnAbsentPriorityDoesNothing) {
  plat::BoolParameter flag("Flag", "A switch", true, false, &conf_);
  ASSERT_TRUE(flag.setParam("0", 10));
  lines.clear();
  RecordingCallback cb;
  flag.addCallback(&cb);

  flag.unsetParam(0);
  flag.unsetParam(20);
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_THAT(cb.calls, IsEmpty());
  EXPECT_EQ(flag.getAllValues().size(), 2u);
  EXPECT_EQ(str(flag.getDefaultStr()), "1");

  flag.unsetParam(10, false);
  EXPECT_THAT(cb.calls, IsEmpty());
  EXPECT_TRUE(flag.getValue());
}

TEST_F(ConfigParameterTest, QuietConfigurationStillNotifies) {
  conf_.setLogChanges(false);
  plat::IntParameter count("Count", "A number", 5, 1, 32, false, &conf_);
  RecordingCallback cb;
  count.addCallback(&cb);
  ASSERT_TRUE(count.setParam("6", 10));
  count.unsetParam(10);
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_EQ(cb.calls.size(), 2u);
}

// ---- Common operations ----

TEST_F(ConfigParameterTest, ResetToDefaultNotifiesOnceWithPriorityZero) {
  plat::IntParameter count("Count", "A number", 5, 1, 32, false, &conf_);
  ASSERT_TRUE(count.setParam("6", 10));
  ASSERT_TRUE(count.setParam("7", 30));
  RecordingCallback cb;
  count.addCallback(&cb);

  EXPECT_TRUE(count.resetToDefault(true));
  EXPECT_EQ(count.getValue(), 5);
  EXPECT_EQ(count.getAllValues().size(), 1u);
  EXPECT_THAT(cb.calls, ElementsAre(std::pair<ConfigParameter*, int>{&count, 0}));

  EXPECT_FALSE(count.resetToDefault(true));
  EXPECT_EQ(cb.calls.size(), 1u);
}

TEST_F(ConfigParameterTest, NotifyIfDefaultOnlyAtTheDefault) {
  plat::BoolParameter flag("Flag", "A switch", false, false, &conf_);
  RecordingCallback cb;
  flag.addCallback(&cb);
  EXPECT_EQ(flag.notifyIfDefault(), 0);
  ASSERT_TRUE(flag.setParam("on", 10));
  cb.calls.clear();
  EXPECT_EQ(flag.notifyIfDefault(), 10);
  EXPECT_THAT(cb.calls, IsEmpty());
}

TEST_F(ConfigParameterTest, CopyValuesMirrorsTheOtherParameter) {
  static const char* const kLevels[] = {"Low", "Mid", "High", nullptr};
  plat::EnumParameter from("Level", "A choice", "Mid", kLevels, false, &conf_);
  ASSERT_TRUE(from.setParam("High", 30));
  plat::Configuration other("Other");
  plat::EnumParameter to("Level", "A choice", "Low", kLevels, false, &other);
  ASSERT_TRUE(to.setParam("High", 10));
  RecordingCallback cb;
  to.addCallback(&cb);

  to.copyValues(from);
  EXPECT_EQ(allValues(to), allValues(from));
  EXPECT_THAT(cb.calls, ElementsAre(std::pair<ConfigParameter*, int>{&to, 10}, std::pair<ConfigParameter*, int>{&to, 0},
                                    std::pair<ConfigParameter*, int>{&to, 30}));
}

TEST_F(ConfigParameterTest, CloneCopiesEveryTypeIntoTheOtherConfiguration) {
  static const char* const kLevels[] = {"Low", "High", nullptr};
  const unsigned char bytes[] = {1, 2, 3};
  plat::BoolParameter flag("Flag", "d", false, true, &conf_, "noPolicy");
  plat::IntParameter count("Count", "d", 5, 1, 32, false, &conf_);
  plat::EnumParameter level("Level", "d", "Low", kLevels, false, &conf_);
  plat::StringParameter name("Name", "d", "none", false, &conf_);
  plat::S64Parameter big("Big", "d", 1, false, &conf_);
  plat::BinaryParameter key("Key", "d", 3, bytes, false, &conf_);
  ConfigParameter* const params[] = {&flag, &count, &level, &name, &big, &key};
  for (ConfigParameter* p : params) ASSERT_TRUE(p->setParam(p->getValueStr().get(), 10));
  ASSERT_TRUE(count.setParam("9", 30));

  plat::Configuration copies("Copies");
  for (ConfigParameter* p : params) {
    SCOPED_TRACE(p->typeName());
    ConfigParameter* copy = p->clone(copies);
    EXPECT_EQ(copy->getConfiguration(), &copies);
    EXPECT_EQ(copies.findParam(p->getName()), copy);
    EXPECT_STREQ(copy->typeName(), p->typeName());
    EXPECT_EQ(copy->isHidden(), p->isHidden());
    EXPECT_EQ(allValues(*copy), allValues(*p));
    EXPECT_EQ(str(copy->getValueStr()), str(p->getValueStr()));
  }
  ConfigParameter* countCopy = copies.findParam("count");
  EXPECT_FALSE(countCopy->setParam("33", 10));                // the range came along
  EXPECT_FALSE(copies.findParam("flag")->setParam("1", 30));  // and the flags
}

TEST_F(ConfigParameterTest, CloneOwnsItsStrings) {
  char name[] = "Level";
  char desc[] = "A choice";
  char low[] = "Low";
  char high[] = "High";
  const char* levels[] = {low, high, nullptr};
  plat::EnumParameter level(name, desc, "High", levels, false, &conf_);
  plat::Configuration copies("Copies");
  ConfigParameter* copy = level.clone(copies);
  std::memset(name, 'x', sizeof name - 1);
  std::memset(desc, 'x', sizeof desc - 1);
  std::memset(high, 'x', sizeof high - 1);

  EXPECT_STREQ(copy->getName(), "Level");
  EXPECT_STREQ(copy->getDescription(), "A choice");
  EXPECT_EQ(str(copy->getValueStr()), "High");
  EXPECT_TRUE(copy->setParam("low", 10));
}

TEST_F(ConfigParameterTest, CallbacksRunInOrderAndMayRemoveThemselves) {
  plat::BoolParameter flag("Flag", "A switch", false, false, &conf_);
  std::vector<std::string> order;
  struct Named : plat::ParameterChangedCallback {
    Named(std::vector<std::string>& order, const char* name, ConfigParameter* removeFrom)
        : order(order), name(name), removeFrom(removeFrom) {}
    void parameterChanged(ConfigParameter*, int) override {
      order.push_back(name);
      if (removeFrom) removeFrom->removeCallback(this);
    }
    std::vector<std::string>& order;
    const char* name;
    ConfigParameter* removeFrom;
  } first(order, "first", nullptr), once(order, "once", &flag), last(order, "last", nullptr);
  flag.addCallback(&first);
  flag.addCallback(&once);
  flag.addCallback(&last);

  ASSERT_TRUE(flag.setParam("on", 10));
  ASSERT_TRUE(flag.setParam("off", 10));
  flag.removeCallback(&first);
  flag.unsetParam(10);
  EXPECT_THAT(order, ElementsAre("first", "once", "last", "first", "last", "last"));
}

TEST_F(ConfigParameterTest, DescriptionIsTheTextOrElseTheKey) {
  plat::IntParameter plain("Plain", "Plain words", 0, 0, 1, false, &conf_);
  plat::IntParameter keyed("Keyed", plat::LocDesc{"plat_keyed_desc"}, 0, 0, 1, false, &conf_);
  EXPECT_STREQ(plain.getDescription(), "Plain words");
  EXPECT_STREQ(keyed.getDescription(), "plat_keyed_desc");
}

TEST_F(ConfigParameterTest, HiddenByFlagOrByBeingBinary) {
  plat::BoolParameter shown("Shown", "d", false, false, &conf_);
  plat::BoolParameter hidden("Hidden", "d", false, true, &conf_);
  plat::BinaryParameter key("Key", "d", 0, nullptr, false, &conf_);
  EXPECT_FALSE(shown.isHidden());
  EXPECT_TRUE(hidden.isHidden());
  EXPECT_TRUE(key.isHidden());
}

using ConfigParameterDeathTest = ConfigParameterTest;

TEST_F(ConfigParameterDeathTest, ConstructionNeedsADescriptionOrAKey) {
  EXPECT_EXIT(plat::BoolParameter("Flag", nullptr, false, false, &conf_), testing::KilledBySignal(SIGABRT),
              "Assertion 'desc \\|\\| locDesc' failed");
  EXPECT_EXIT(plat::BoolParameter("Flag", plat::LocDesc{nullptr}, false, false, &conf_),
              testing::KilledBySignal(SIGABRT), "Assertion 'desc \\|\\| locDesc' failed");
}

TEST_F(ConfigParameterDeathTest, StringDefaultMayNotBeNull) {
  EXPECT_EXIT(plat::StringParameter("Name", "A text", nullptr, false, &conf_), testing::KilledBySignal(SIGABRT),
              "Assertion 'def' failed at .*: Default value <null> for Name not allowed");
}

}  // namespace
