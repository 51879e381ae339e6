#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/Configuration.h"

namespace {

using plat::Rgb;

// A system provider as the UI backend gives one: it knows a few names and
// reports the appearance the test sets.
class TestSysColors : public plat::SysColors {
 public:
  bool getColor(const char* name, Rgb& out) override {
    if (std::strcmp(name, "linkText") == 0) {
      out = Rgb{1, 2, 3};
      return true;
    }
    if (std::strcmp(name, "contentText") == 0) {
      out = Rgb{9, 9, 9};
      return true;
    }
    return false;
  }
  bool isDark() override { return dark; }
  bool dark = false;
};

// Installs a provider for one test and removes it afterwards.
class ColorsWithProvider : public testing::Test {
 protected:
  void SetUp() override { previous_ = plat::replaceSysColorsImplForTest(&provider_); }
  void TearDown() override { plat::replaceSysColorsImplForTest(previous_); }
  TestSysColors provider_;

 private:
  plat::SysColors* previous_ = nullptr;
};

struct LookupCase {
  const char* name;
  bool known;
  Rgb color;  // when known
};

TEST(ColorsTest, SpecsAndTableNamesWithoutProvider) {
  ASSERT_FALSE(plat::isDarkMode());
  const std::vector<LookupCase> cases = {
      {"#12aBef", true, {0x12, 0xab, 0xef}},
      {"#000000", true, {0, 0, 0}},
      {"#12345", false, {}},
      {"#1234567", false, {}},
      {"#12345g", false, {}},
      {"#", false, {}},
      {"", false, {}},
      {"red", true, {0xff, 0, 0}},
      {"Red", false, {}},
      {"orange", true, {0xff, 0xa5, 0x00}},
      {"contentBg", true, {0xff, 0xff, 0xff}},
      {"helpBg", true, {0xff, 0xff, 0xd3}},
      {"statusGreen", true, {0x04, 0x8c, 0x00}},
      {"customBigBtnBg", true, {0x19, 0x76, 0xd2}},
      {"linkText", false, {}},
  };
  const Rgb sentinel{7, 7, 7};
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rgb out = sentinel;
    ASSERT_EQ(plat::lookupColor(c.name, out), c.known);
    EXPECT_EQ(out, c.known ? c.color : sentinel);
    out = sentinel;
    ASSERT_EQ(plat::getColor(c.name, out), c.known);
    EXPECT_EQ(out, c.known ? c.color : sentinel);
  }
  Rgb out = sentinel;
  EXPECT_FALSE(plat::lookupColor(nullptr, out));
  EXPECT_FALSE(plat::getColor(nullptr, out));
  EXPECT_EQ(out, sentinel);
}

TEST_F(ColorsWithProvider, ThemeFollowsTheAppearanceAtEachLookup) {
  provider_.dark = true;
  EXPECT_TRUE(plat::isDarkMode());
  Rgb out;
  ASSERT_TRUE(plat::lookupColor("contentBg", out));
  EXPECT_EQ(out, (Rgb{0, 0, 0}));
  ASSERT_TRUE(plat::lookupColor("selectedBg", out));
  EXPECT_EQ(out, (Rgb{0x41, 0x64, 0x8a}));
  provider_.dark = false;
  EXPECT_FALSE(plat::isDarkMode());
  ASSERT_TRUE(plat::lookupColor("contentBg", out));
  EXPECT_EQ(out, (Rgb{0xff, 0xff, 0xff}));
  // The fixed colours stay the same in both.
  provider_.dark = true;
  ASSERT_TRUE(plat::lookupColor("statusRed", out));
  EXPECT_EQ(out, (Rgb{0xc9, 0, 0}));
}

TEST_F(ColorsWithProvider, ProviderAnswersBeforeTheTables) {
  Rgb out;
  // lookupColor never asks the provider.
  ASSERT_FALSE(plat::lookupColor("linkText", out));
  ASSERT_TRUE(plat::getColor("linkText", out));
  EXPECT_EQ(out, (Rgb{1, 2, 3}));
  ASSERT_TRUE(plat::getColor("contentText", out));
  EXPECT_EQ(out, (Rgb{9, 9, 9}));
  ASSERT_TRUE(plat::lookupColor("contentText", out));
  EXPECT_EQ(out, (Rgb{0, 0, 0}));

  EXPECT_EQ(plat::getColorOr("linkText", Rgb{5, 5, 5}), (Rgb{1, 2, 3}));
  EXPECT_EQ(plat::getColorOr("navy", Rgb{5, 5, 5}), (Rgb{0, 0, 0x80}));
  EXPECT_EQ(plat::getColorOr("nothing", Rgb{5, 5, 5}), (Rgb{5, 5, 5}));
  EXPECT_EQ(plat::getColorOr(nullptr, Rgb{5, 5, 5}), (Rgb{5, 5, 5}));
}

TEST_F(ColorsWithProvider, FallbackNameIsTriedAfterTheName) {
  EXPECT_EQ(plat::getColorWithFallback("teal", "linkText"), (Rgb{0, 0x80, 0x80}));
  EXPECT_EQ(plat::getColorWithFallback("nothing", "linkText"), (Rgb{1, 2, 3}));
  EXPECT_EQ(plat::getColorWithFallback("nothing", "#0a0b0c"), (Rgb{10, 11, 12}));
  EXPECT_EQ(plat::getColorWithFallback("nothing", "none"), (Rgb{0, 0, 0}));
  EXPECT_EQ(plat::getColorWithFallback(nullptr, nullptr), (Rgb{0, 0, 0}));
}

TEST(ColorsTest, DisplayParameters) {
  struct ParamCase {
    const char* name;
    int def;
    int min;
    int max;
  };
  for (const ParamCase& c : {ParamCase{"ppmm", 4, 1, 32}, ParamCase{"TextSizeFactor", 115, 1, 1000}}) {
    SCOPED_TRACE(c.name);
    auto* param = dynamic_cast<plat::IntParameter*>(plat::Configuration::global().findParam(c.name));
    ASSERT_NE(param, nullptr);
    EXPECT_EQ(param->getValue(), c.def);
    EXPECT_EQ(param->getMin(), c.min);
    EXPECT_EQ(param->getMax(), c.max);
  }
  EXPECT_EQ(&plat::ppmm, plat::Configuration::global().findParam("ppmm"));
  EXPECT_STREQ(plat::ppmm.getDescription(), "Physical display units per mm.");
}

TEST(ColorsDeathTest, SecondProviderEndsTheProcess) {
  TestSysColors first, second;
  EXPECT_EXIT(
      {
        plat::setSysColorsImpl(&first);
        plat::setSysColorsImpl(&second);
      },
      testing::KilledBySignal(SIGABRT), "Assertion '!sysColorsImpl' failed");
}

}  // namespace
