#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Utf8.h"
#include "testing/LogCapture.h"

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
  EXPECT_EXIT(
      {
        if (!plat::Configuration::global().setParam("_BadUtf8Assert", "true", 10)) std::abort();
        plat::BadUtf8 e("Bad UTF-8 string for %s", "Name");
      },
      testing::KilledBySignal(SIGABRT), "Assertion '0' failed at .*: Bad UTF-8 string for Name");
  EXPECT_FALSE(plat::badUtf8AssertEnabled());
}

// ---- groups, lookups and aliases ----

TEST(ConfigurationTreeTest, LookupsSearchOwnListThenChildrenDepthFirst) {
  plat::Configuration root("Root"), a("A"), b("B"), a1("A1");
  root.addChild(&a);
  root.addChild(&b);
  root.addChild(&a);  // already present: no second entry
  a.addChild(&a1);
  plat::IntParameter inA1("Shared", "int in A1", 1, 1, 10, false, &a1);
  plat::StringParameter inB("Shared", "text in B", "b", false, &b);
  plat::BoolParameter own("Own", "flag of the root", false, false, &root);

  EXPECT_EQ(root.children(), (std::vector<plat::Configuration*>{&a, &b}));
  EXPECT_EQ(root.findParam("shared"), &inA1);
  EXPECT_EQ(root.findParam("shared", false), nullptr);
  EXPECT_EQ(root.findParam("OWN", false), &own);

  // A child that refuses the text does not end the search.
  EXPECT_TRUE(root.setParam("Shared", "20", 10));
  EXPECT_STREQ(inB.getValue(), "20");
  EXPECT_EQ(inA1.getValue(), 1);
  EXPECT_TRUE(root.setParam("SHARED", "5", 10));
  EXPECT_EQ(inA1.getValue(), 5);
  EXPECT_STREQ(inB.getValue(), "20");

  std::vector<std::string> walk;
  for (plat::Configuration::ParamIterator it(root, true); it; it.next()) {
    walk.push_back(std::string(it.configuration()->getName()) + "." + it.param()->getName());
  }
  EXPECT_EQ(walk, (std::vector<std::string>{"Root.Own", "B.Shared", "A1.Shared"}));  // A is empty

  root.removeChild(&a);
  EXPECT_EQ(root.findParam("Shared"), &inB);
}

TEST(ConfigurationTreeTest, TypedLookupsThrowForMissingNames) {
  plat::Configuration conf("Typed");
  plat::BoolParameter flag("Flag", "a switch", true, false, &conf);
  plat::IntParameter count("Count", "a number", 5, 1, 32, false, &conf);

  EXPECT_EQ(&conf.getBoolParam("flag"), &flag);
  EXPECT_EQ(&conf.getIntParam("COUNT"), &count);
  EXPECT_TRUE(conf.getBool("Flag", false));
  EXPECT_FALSE(conf.getBool("Missing", false));
  EXPECT_TRUE(conf.getBool("Missing", true));
  try {
    conf.getStringParam("Missing");
    FAIL() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "Parameter Missing not found");
  }
}

TEST(ConfigurationTreeDeathTest, TypedLookupOfAnotherTypeAsserts) {
  plat::Configuration conf("Typed");
  plat::BoolParameter flag("Flag", "a switch", true, false, &conf);
  EXPECT_EXIT(conf.getIntParam("Flag"), testing::KilledBySignal(SIGABRT),
              "Assertion 'typed' failed at .*: parameter Flag is of type bool");
}

TEST(ConfigurationTreeTest, AddedParametersOwnEveryText) {
  plat::Configuration conf("Made");
  {
    std::string name = "Mode", desc = "how to run", low = "Low", high = "High";
    const char* names[] = {low.c_str(), high.c_str(), nullptr};
    conf.addEnum(name.c_str(), desc.c_str(), "high", names);
    name = "Path";
    conf.addString(name.c_str(), desc.c_str(), "/tmp", true, "noPolicy");
    name = "Offset";
    conf.addS64(name.c_str(), desc.c_str(), -2);
    const unsigned char bytes[] = {0x0a, 0x0b};
    name = "Key";
    conf.addBinary(name.c_str(), desc.c_str(), 2, bytes);
    name = "Level";
    conf.addInt(name.c_str(), desc.c_str(), 3, 1, 9);
    name = "On";
    conf.addBool(name.c_str(), desc.c_str(), true);
    name = "overwritten";
    desc = "overwritten";
    low = high = "overwritten";
  }
  EXPECT_EQ(conf.getEnumParam("mode").getValueStr().c_str(), std::string("High"));
  EXPECT_TRUE(conf.setParam("Mode", "low", 10));
  EXPECT_STREQ(conf.getStringParam("Path").getValue(), "/tmp");
  EXPECT_TRUE(conf.getStringParam("Path").isHidden());
  EXPECT_FALSE(conf.setParam("Path", "/srv", 30));  // noPolicy
  EXPECT_EQ(conf.getS64Param("Offset").getValue(), -2);
  EXPECT_EQ(conf.getBinaryParam("Key").getValueStr().c_str(), std::string("0a0b"));
  EXPECT_EQ(conf.getIntParam("Level").getMax(), 9);
  EXPECT_TRUE(conf.getBool("On", false));
  EXPECT_STREQ(conf.findParam("Mode")->getDescription(), "how to run");

  std::vector<std::string> names;
  for (plat::ConfigParameter* p = conf.firstParam(); p; p = p->getNext()) names.push_back(p->getName());
  EXPECT_EQ(names, (std::vector<std::string>{"On", "Level", "Key", "Offset", "Path", "Mode"}));
}

TEST(ParameterAliasTest, TwoTargetsAreBothSetAndFailOnlyTogether) {
  plat::Configuration conf("Alias");
  plat::IntParameter width("Width", "across", 1, 1, 100, false, &conf);
  plat::IntParameter depth("Depth", "down", 1, 1, 10, false, &conf);
  plat::ParameterAlias size("Size", "Width", "Depth", nullptr, &conf);
  EXPECT_EQ(size.getTargets().size(), 2u);

  struct Case {
    const char* text;
    bool accepted;
    int width, depth;
  } cases[] = {
      {"5", true, 5, 5},
      {"50", true, 50, 5},  // too deep: only the width takes it
      {"500", false, 50, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(conf.setParam("size", c.text, 10), c.accepted) << c.text;
    EXPECT_EQ(width.getValue(), c.width) << c.text;
    EXPECT_EQ(depth.getValue(), c.depth) << c.text;
  }

  // The command-line forms reach the alias too.
  EXPECT_TRUE(conf.setFromArg("-SIZE=7", 10));
  EXPECT_EQ(width.getValue(), 7);
  EXPECT_EQ(depth.getValue(), 7);

  plat::ParameterAlias across("Across", width, &conf);
  EXPECT_TRUE(conf.setParam("across", "9", 10));
  EXPECT_EQ(width.getValue(), 9);
  EXPECT_EQ(depth.getValue(), 7);
}

TEST(ParameterAliasTest, ExpansionMayRefuseOrSetNothing) {
  struct Refusing : plat::ParameterAlias {
    using ParameterAlias::ParameterAlias;
    bool expand(const char*, const char*, plat::CaseMap&) override { return false; }
  };
  struct Empty : plat::ParameterAlias {
    using ParameterAlias::ParameterAlias;
    bool expand(const char*, const char*, plat::CaseMap&) override { return true; }
  };
  plat::Configuration conf("Alias");
  plat::IntParameter width("Width", "across", 1, 1, 100, false, &conf);
  Refusing refusing("No", "Width", nullptr, nullptr, &conf);
  Empty empty("Nothing", "Width", nullptr, nullptr, &conf);
  EXPECT_FALSE(conf.setParam("No", "3", 10));
  EXPECT_TRUE(conf.setParam("Nothing", "3", 10));
  EXPECT_EQ(width.getValue(), 1);
  {
    plat::ParameterAlias gone("Gone", "Width", nullptr, nullptr, &conf);
    EXPECT_EQ(conf.findAlias("gone"), &gone);
  }
  EXPECT_EQ(conf.findAlias("Gone"), nullptr);
}

// Expanding an alias of its own name would set the alias again without
// end: such an alias is refused when it registers, and the name reaches
// the parameter itself.
TEST(ParameterAliasTest, AnAliasNamingItselfIsRefused) {
  yarl_test::LogCapture capture("Configuration:capture:100");
  plat::Configuration conf("Alias");
  plat::IntParameter width("Width", "across", 1, 1, 100, false, &conf);
  plat::ParameterAlias same("width", width, &conf);
  plat::ParameterAlias among("Size", "Depth", "SIZE", nullptr, &conf);
  EXPECT_EQ(conf.findAlias("Width"), nullptr);
  EXPECT_EQ(conf.findAlias("Size"), nullptr);
  EXPECT_TRUE(conf.setParam("WIDTH", "3", 10));
  EXPECT_EQ(width.getValue(), 3);
  EXPECT_FALSE(conf.setParam("size", "4", 10));
  std::vector<std::string> logged;
  for (const auto& r : capture.from("Configuration")) logged.push_back(r.text);
  EXPECT_EQ(logged, (std::vector<std::string>{"Alias width names itself as a target: not registered",
                                              "Alias Size names itself as a target: not registered"}));
}

// ---- copies and comparisons ----

class ConfigurationCopyTest : public ::testing::Test {
 protected:
  ConfigurationCopyTest() { conf_.addChild(&child_); }

  plat::Configuration conf_{"Orig", "plat_configuration_global_params"};
  plat::Configuration child_{"Child"};
  plat::BoolParameter flag_{"Flag", "a switch", false, false, &conf_};
  plat::IntParameter count_{"Count", "a number", 5, 1, 32, false, &conf_};
  plat::StringParameter name_{"Name", "a text", "none", false, &conf_};
  plat::StringParameter deep_{"Deep", "in the child", "d", false, &child_};
  plat::ParameterAlias alias_{"Number", "Count", nullptr, nullptr, &conf_};
};

TEST_F(ConfigurationCopyTest, CopyClonesValuesOrderAndAliases) {
  ASSERT_TRUE(conf_.setParam("Count", "7", 10));
  ASSERT_TRUE(conf_.setParam("Count", "9", 30));
  plat::Configuration copy(conf_);
  EXPECT_STREQ(copy.getName(), "Orig");
  EXPECT_STREQ(copy.getTitleKey(), "plat_configuration_global_params");

  std::vector<std::string> names;
  for (plat::ConfigParameter* p = copy.firstParam(); p; p = p->getNext()) names.push_back(p->getName());
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "Count", "Flag"}));
  EXPECT_TRUE(copy.children().empty());

  plat::IntParameter& count = copy.getIntParam("Count");
  EXPECT_NE(&count, &count_);
  EXPECT_EQ(count.getAllValues().size(), 3u);
  EXPECT_EQ(count.getValue(), 9);
  EXPECT_FALSE(copy.differsFrom(conf_));

  // The shared alias sets the copy's own parameter.
  EXPECT_TRUE(copy.setParam("Number", "3", 40));
  EXPECT_EQ(count.getValue(), 3);
  EXPECT_EQ(count_.getValue(), 9);
}

TEST_F(ConfigurationCopyTest, DifferencesAreListedAndCopiedAcross) {
  plat::Configuration other("Other");
  plat::IntParameter count("Count", "a number", 5, 1, 32, false, &other);
  plat::StringParameter name("Name", "a text", "none", false, &other);
  plat::StringParameter deep("Deep", "elsewhere", "d", false, &other);
  plat::BoolParameter only("OnlyHere", "not in the original", true, false, &other);

  EXPECT_FALSE(conf_.differsFrom(other));
  EXPECT_EQ(std::string(conf_.listDifferences(other).c_str()), "");

  ASSERT_TRUE(count.setParam("12", 10));
  ASSERT_TRUE(deep.setParam("changed", 30));
  EXPECT_TRUE(conf_.differsFrom(other));
  EXPECT_EQ(std::string(conf_.listDifferences(other).c_str()), "Count,Deep");

  conf_.copyDifferences(other);
  EXPECT_EQ(count_.getValue(), 12);
  EXPECT_TRUE(count_.hasValueAt(10));
  EXPECT_STREQ(deep_.getValue(), "changed");
  EXPECT_TRUE(deep_.hasValueAt(30));
  EXPECT_FALSE(conf_.differsFrom(other));
}

TEST_F(ConfigurationCopyTest, ValuesAtOnePriorityAndTheVisitorWalk) {
  ASSERT_TRUE(conf_.setParam("count", "7", 10));
  ASSERT_TRUE(conf_.setParam("Deep", "x", 10));
  ASSERT_TRUE(conf_.setParam("Name", "policy", 30));

  plat::CaseMap at10;
  conf_.valuesAt(10, at10);
  ASSERT_EQ(at10.size(), 2u);
  EXPECT_STREQ(at10.find("COUNT")->second.get(), "7");
  EXPECT_STREQ(at10.find("deep")->second.get(), "x");

  struct Collect : plat::Configuration::Visitor {
    void visitValue(plat::ConfigParameter& p, int priority, const char* text) override {
      seen.push_back(std::string(p.getName()) + "@" + std::to_string(priority) + "=" + text);
    }
    std::vector<std::string> seen;
  } collect;
  conf_.visit(collect);
  EXPECT_EQ(collect.seen, (std::vector<std::string>{"Name@0=none", "Name@30=policy", "Count@0=5", "Count@10=7",
                                                    "Flag@0=0", "Deep@0=d", "Deep@10=x"}));
}

// ---- the command line ----

class CommandLineArgsTest : public ::testing::Test {
 protected:
  static void usage(int mode, plat::Configuration& conf) {
    usageModes().push_back(mode);
    EXPECT_STREQ(conf.getName(), "Cmd");
  }
  static std::vector<int>& usageModes() {
    static std::vector<int> modes;
    return modes;
  }
  CommandLineArgsTest() { usageModes().clear(); }

  plat::Configuration conf_{"Cmd"};
  plat::BoolParameter verbose_{"Verbose", "say more", false, false, &conf_};
  plat::IntParameter count_{"Count", "a number", 5, 1, 32, false, &conf_};
  plat::StringParameter target_{"Target", "where to", "none", false, &conf_};
};

TEST_F(CommandLineArgsTest, OneWordForms) {
  struct Case {
    const char* word;
    bool accepted;
    const char* param;
    const char* value;
  } cases[] = {
      {"target=*:stderr:100", true, "Target", "*:stderr:100"},
      {"Target=a=b", true, "Target", "a=b"},  // the first "=" splits
      {"-Target=x", true, "Target", "x"},
      {"--TARGET=y", true, "Target", "y"},
      {"Target=", true, "Target", ""},
      {"-Verbose", true, "Verbose", "1"},
      {"--verbose", true, "Verbose", "1"},
      {"-Verbose=off", true, "Verbose", "0"},
      {"Verbose", false, nullptr, nullptr},   // no "=" without a hyphen
      {"-Count", false, nullptr, nullptr},    // only a bool takes no value
      {"Count=33", false, nullptr, nullptr},  // refused by the parameter
      {"---Count=3", false, nullptr, nullptr},
      {"Missing=1", false, nullptr, nullptr},
      {"=1", false, nullptr, nullptr},
      {"-", false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    plat::Configuration fresh(conf_);
    EXPECT_EQ(fresh.setFromArg(c.word, 10), c.accepted) << c.word;
    if (c.param) {
      plat::ConfigParameter* p = fresh.findParam(c.param);
      EXPECT_EQ(p->getPriority(), 10) << c.word;
      EXPECT_STREQ(p->getValueStr().get(), c.value) << c.word;
    } else {
      EXPECT_FALSE(fresh.differsFrom(conf_)) << c.word;
    }
  }
}

TEST_F(CommandLineArgsTest, WordSequences) {
  struct Case {
    std::vector<const char*> words;
    bool complete;
    size_t stop;  // index of the word not taken
    int count;
    const char* target;
    bool verbose;
  } cases[] = {
      {{"-Count", "7", "Target=t"}, true, 3, 7, "t", false},
      {{"--Count", "7"}, false, 0, 5, "none", false},  // the name would keep a hyphen
      {{"-psn_0_12345", "-Verbose", "-psn_1_2"}, true, 3, 5, "none", true},
      {{"Count=3", "bogus", "Count=4"}, false, 1, 3, "none", false},
      {{"-Count", "99", "-Verbose"}, false, 0, 5, "none", false},
      {{"-Verbose", "-Target", "-x"}, true, 3, 5, "-x", true},
      {{"-Target"}, false, 0, 5, "none", false},
      {{}, true, 0, 5, "none", false},
  };
  for (const Case& c : cases) {
    plat::Configuration fresh(conf_);
    std::vector<const char*> words = c.words;
    words.push_back(nullptr);
    const char* const* at = words.data();
    EXPECT_EQ(fresh.parseArgs(at, nullptr), c.complete) << c.words.size();
    EXPECT_EQ(static_cast<size_t>(at - words.data()), c.complete ? c.words.size() : c.stop);
    EXPECT_EQ(fresh.getIntParam("Count").getValue(), c.count);
    EXPECT_STREQ(fresh.getStringParam("Target").getValue(), c.target);
    EXPECT_EQ(fresh.getBoolParam("Verbose").getValue(), c.verbose);
  }
  EXPECT_TRUE(usageModes().empty());
}

TEST_F(CommandLineArgsTest, HelpWordsCallTheUsageCallbackWithTheirMode) {
  struct Case {
    std::vector<const char*> words;
    int mode;
  } cases[] = {
      {{"-h", "all"}, 1}, {{"/?", "XML"}, 2}, {{"-HELP"}, 0}, {{"--help", "more"}, 0}, {{"Count=3", "-h", "ALL"}, 1},
  };
  for (const Case& c : cases) {
    usageModes().clear();
    std::vector<const char*> words = c.words;
    words.push_back(nullptr);
    const char* const* at = words.data();
    EXPECT_FALSE(conf_.parseArgs(at, usage));
    EXPECT_TRUE(plat::Configuration::isHelpArg(*at));
    EXPECT_EQ(usageModes(), std::vector<int>{c.mode}) << c.words[0];
  }
  for (const char* word : {"-help", "--HELP", "-H", "/?"}) EXPECT_TRUE(plat::Configuration::isHelpArg(word));
  for (const char* word : {"help", "-?", "---help", "/h", ""}) EXPECT_FALSE(plat::Configuration::isHelpArg(word));
}

// Runs with English texts whatever the machine's language.
class EnglishLocale {
 public:
  EnglishLocale() {
    plat::ConfigParameter* locale = plat::Configuration::global().findParam("Locale");
    if (locale) locale->setParam("en", kPriority);
    loc::Localize::instance().updateLocales();
  }
  ~EnglishLocale() {
    if (plat::ConfigParameter* locale = plat::Configuration::global().findParam("Locale")) {
      locale->unsetParam(kPriority);
    }
    loc::Localize::instance().updateLocales();
  }

 private:
  static constexpr int kPriority = 1000;
};

TEST_F(CommandLineArgsTest, BadArgumentsThrowWithTheLocalisedText) {
  EnglishLocale english;
  struct Case {
    std::vector<const char*> argv;
    bool withUsage;
    const char* message;
  } cases[] = {
      {{"prog", "--Count", "7"}, true, "Bad argument '--Count'.  Run with -help for usage."},
      {{"prog", "Count=3", "--Count", "7"}, false, "Bad argument '--Count'."},
      {{"prog", "-h"}, false, "Bad argument '-h'."},  // help without a callback is a bad argument
      {{"prog", "-h", "all"}, true, "Bad argument '-h'.  Run with -help for usage."},
      {{"prog", "Count=99"}, true, "Bad argument 'Count=99'.  Run with -help for usage."},
      // A value that is not UTF-8 is a bad argument, in either form.
      {{"prog", "-Target=caf\xC3"}, true, "Bad argument '-Target=caf\xC3'.  Run with -help for usage."},
      {{"prog", "-Target", "caf\xC3"}, true, "Bad argument '-Target'.  Run with -help for usage."},
  };
  for (const Case& c : cases) {
    plat::Configuration fresh(conf_);
    std::vector<const char*> argv = c.argv;
    argv.push_back(nullptr);
    try {
      fresh.parseCommandLine(argv.data(), c.withUsage ? usage : nullptr);
      ADD_FAILURE() << c.message;
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.typeName(), "BadCmdLineArg");
      EXPECT_STREQ(e.str(), c.message);
    }
  }
  EXPECT_EQ(usageModes(), std::vector<int>{1});
  EXPECT_STREQ(target_.getValue(), "none");

  const char* good[] = {"prog", "-Count", "8", "-Verbose", nullptr};
  conf_.parseCommandLine(good, usage);
  EXPECT_EQ(count_.getValue(), 8);
  EXPECT_TRUE(verbose_.getValue());
}

// ---- help and the value log ----

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The golden files lie in the folder that ctest names in YARL_TEST_DATA,
// wherever the test runs.
std::string dataPath(const char* name) {
  const char* dir = std::getenv("YARL_TEST_DATA");
  if (!dir || !*dir) {
    ADD_FAILURE() << "YARL_TEST_DATA is not set; run through ctest or set it to the tests' data folder";
    return name;
  }
  return std::string(dir) + "/" + name;
}

class ConfigurationHelpTest : public ::testing::Test {
 protected:
  ConfigurationHelpTest() {
    conf_.addChild(&child_);
    // The help shows the value in force, not the default.
    EXPECT_TRUE(quality_.setParam("medium", 10));
  }

  std::string help(bool all, bool showDefaults, int width = 79) {
    char* buf = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buf, &size);
    conf_.printHelp(all, showDefaults, out, width, 14);
    std::fclose(out);
    std::string text(buf, size);
    std::free(buf);
    return text;
  }

  static constexpr const char* kQualities[] = {"Low", "Medium", "High", nullptr};
  static constexpr unsigned char kKey[] = {0x01, 0x02};

  EnglishLocale english_;
  plat::Configuration conf_{"Demo"};
  plat::Configuration child_{"Extras", "plat_configuration_global_params"};
  plat::BoolParameter verbose_{"Verbose", "Write more about what is going on.", false, false, &conf_};
  plat::IntParameter port_{"port",
                           "The TCP port on which the service listens for incoming connections from viewers "
                           "and from the other peers of the same group.",
                           5900,
                           1,
                           65535,
                           false,
                           &conf_};
  plat::StringParameter banner_{"Banner", "Text shown at the top of every session window.",
                                "a-rather-long-default-that-cannot-follow-the-description", false, &conf_};
  plat::EnumParameter quality_{"Quality", "Picture quality.", "High", kQualities, false, &conf_};
  plat::BoolParameter tuning_{"Tuning", "An internal tuning switch.", true, true, &conf_};
  plat::BinaryParameter key_{"Key", "Secret key material.", 2, kKey, false, &conf_};
  plat::BoolParameter internal_{"_Internal", "Never listed.", false, false, &conf_};
  plat::S64Parameter offset_{"Offset", plat::LocDesc{"plat_param_log_keep_days"}, 16, false, &child_};
};

TEST_F(ConfigurationHelpTest, HelpMatchesTheGoldenTextAtWidth79) {
  struct Case {
    bool all;
    const char* golden;
  } cases[] = {{false, "ConfigurationHelp.txt"}, {true, "ConfigurationHelpAll.txt"}};
  for (const Case& c : cases) {
    std::string expected = readFile(dataPath(c.golden));
    ASSERT_FALSE(expected.empty()) << c.golden;
    EXPECT_EQ(help(c.all, true), expected) << c.golden;
  }
}

TEST_F(ConfigurationHelpTest, WithoutDefaultsEachEntryIsTheWrappedDescription) {
  std::string text = help(false, false, 50);
  EXPECT_EQ(text,
            "Demo Parameters:\n"
            "  Banner         - Text shown at the top of every\n"
            "                   session window.\n"
            "  port           - The TCP port on which the\n"
            "                   service listens for incoming\n"
            "                   connections from viewers and\n"
            "                   from the other peers of the\n"
            "                   same group.\n"
            "  Quality        - Picture quality.\n"
            "  Verbose        - Write more about what is going\n"
            "                   on.\n"
            "Global parameters:\n"
            "  Offset         - Keep log files for X days.\n");
}

TEST_F(ConfigurationHelpTest, UsageGoesToStandardOutputAfterTheFormsOfTheCommandLine) {
  struct Case {
    bool all;
    bool listsLogs;
  } cases[] = {{false, false}, {true, true}};
  for (const Case& c : cases) {
    // Standard output goes to a temporary file for the call.
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    int saved = dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    ASSERT_GE(dup2(fileno(capture), STDOUT_FILENO), 0);
    conf_.printUsage(c.all, true);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text(static_cast<size_t>(std::ftell(capture)), '\0');
    std::rewind(capture);
    ASSERT_EQ(std::fread(text.data(), 1, text.size(), capture), text.size());
    std::fclose(capture);

    std::string heading =
        "Parameters can be turned on with -<param> or off with -<param>=0\n"
        "Values can be specified as -<param> <value>\n"
        "Other valid forms are <param>=<value> -<param>=<value> --<param>=<value>\n"
        "Names are case-insensitive.  Valid parameters are listed below.\n\n";
    EXPECT_EQ(plat::Configuration::usageHeading().c_str() + std::string("\n\n"), heading);
    std::string golden = readFile(dataPath(c.all ? "ConfigurationHelpAll.txt" : "ConfigurationHelp.txt"));
    ASSERT_EQ(text.substr(0, heading.size() + golden.size()), heading + golden) << c.all;
    std::string rest = text.substr(heading.size() + golden.size());
    if (c.listsLogs) {
      EXPECT_EQ(rest.rfind("\nLog names:\n  ", 0), 0u) << rest;
      EXPECT_NE(rest.find("Configuration"), std::string::npos) << rest;
      EXPECT_NE(rest.find("\nLog destinations:\n"), std::string::npos) << rest;
    } else {
      EXPECT_EQ(rest, "");
    }
  }
}

TEST(ConfigurationLogTest, LogAllListsValuesByPriorityThenName) {
  plat::Configuration conf("Logged"), child("Nested");
  conf.addChild(&child);
  const unsigned char secret[] = {0xde, 0xad};
  plat::StringParameter atDefault("Plain", "d", "p", false, &conf);
  plat::StringParameter pref("bPref", "d", "x", false, &conf);
  plat::StringParameter shadowed("Shadowed", "d", "x", false, &conf);
  plat::StringParameter policy("Policy", "d", "x", false, &conf);
  plat::StringParameter other("Other", "d", "x", false, &conf);
  plat::StringParameter hidden("_Hidden", "d", "x", false, &conf);
  plat::BinaryParameter key("aKey", "d", 0, nullptr, false, &conf);
  plat::IntParameter nested("Nested", "d", 1, 1, 9, false, &child);
  ASSERT_TRUE(pref.setParam("p10", 10));
  ASSERT_TRUE(shadowed.setParam("s10", 10));
  ASSERT_TRUE(shadowed.setParam("s30", 30));
  ASSERT_TRUE(policy.setParam("p40", 40));
  ASSERT_TRUE(other.setParam("o20", 20));
  ASSERT_TRUE(hidden.setParam("h10", 10));
  ASSERT_TRUE(key.setValue(2, secret, 10));
  ASSERT_TRUE(nested.setParam("3", 10));

  {
    yarl_test::LogCapture capture("Configuration:capture:110");
    conf.logAll();
    EXPECT_EQ(capture.from("Configuration"), (std::vector<yarl_test::LogRecord>{
                                                 {"Configuration", 30, "Policy=p40 (Policy)"},
                                                 {"Configuration", 30, "Shadowed=s30 (Policy overriding preference)"},
                                                 {"Configuration", 30, "Other=o20 (Priority 20)"},
                                                 {"Configuration", 30, "aKey=<binary> (Preference)"},
                                                 {"Configuration", 30, "bPref=p10 (Preference)"},
                                                 {"Configuration", 30, "Nested=3 (Preference)"},
                                                 {"Configuration", 100, "Plain=p (Default)"},
                                             }));
  }
  {
    // Defaults are logged only when the source passes debug level.
    yarl_test::LogCapture capture("Configuration:capture:30");
    conf.logAll();
    EXPECT_EQ(capture.from("Configuration").size(), 6u);
  }
}

}  // namespace
