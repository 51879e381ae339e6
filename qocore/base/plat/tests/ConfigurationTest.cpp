#include "qocore/base/plat/Configuration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Utf8.h"

namespace {

TEST(ConfigurationTest, ParametersAreListedNewestFirstAndFoundIgnoringCase) {
  plat::Configuration conf("Test");
  plat::BoolParameter flag("Flag", "A switch", false, false, &conf);
  plat::IntParameter count("Count", "A number", 5, 1, 32, false, &conf);
  plat::StringParameter name("Name", "A text", "none", false, &conf);

  std::vector<std::string> names;
  for (plat::ConfigParameter* p = conf.firstParam(); p; p = p->getNext()) names.push_back(p->getName());
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "Count", "Flag"}));

  EXPECT_EQ(conf.findParam("COUNT"), &count);
  EXPECT_EQ(conf.findParam("flag"), &flag);
  EXPECT_EQ(conf.findParam("Missing"), nullptr);
  EXPECT_EQ(conf.findParam(nullptr), nullptr);
}

TEST(ConfigurationTest, SetParamByNameParsesWithTheParameter) {
  plat::Configuration conf("Test");
  plat::IntParameter count("Count", "A number", 5, 1, 32, false, &conf);

  EXPECT_TRUE(conf.setParam("count", "0x10", 10));
  EXPECT_EQ(count.getValue(), 16);
  EXPECT_FALSE(conf.setParam("Count", "33", 10));
  EXPECT_FALSE(conf.setParam("Missing", "1", 10));
  EXPECT_EQ(count.getValue(), 16);
}

TEST(ConfigurationTest, GlobalHoldsParametersDeclaredWithoutAConfiguration) {
  plat::Configuration& global = plat::Configuration::global();
  EXPECT_EQ(&global, &plat::Configuration::global());
  EXPECT_STREQ(global.getName(), "Global");
  EXPECT_TRUE(global.logChanges());

  plat::ConfigParameter* assertSwitch = global.findParam("_badutf8assert");
  ASSERT_NE(assertSwitch, nullptr);
  EXPECT_STREQ(assertSwitch->getName(), "_BadUtf8Assert");
  EXPECT_STREQ(assertSwitch->typeName(), "bool");
  EXPECT_TRUE(assertSwitch->isHidden());
  EXPECT_EQ(assertSwitch->getPriority(), 0);
  EXPECT_EQ(assertSwitch->getConfiguration(), &global);
}

TEST(ConfigurationDeathTest, BadUtf8AssertMakesBadTextFatal) {
  // Only the child process turns the switch on.
  EXPECT_DEATH(
      {
        plat::Configuration::global().setParam("_BadUtf8Assert", "true", 10);
        plat::BadUtf8 e("Bad UTF-8 string for %s", "Name");
      },
      "Assertion '0' failed at .*: Bad UTF-8 string for Name");
  EXPECT_FALSE(plat::badUtf8AssertEnabled());
}

}  // namespace
