#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogDestMem.h"
#include "qocore/base/plat/LogSrc.h"
#include "testing/LogCapture.h"
#include "testing/StderrCapture.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using yarl_test::LogCapture;
using yarl_test::LogRecord;

// A second recording destination, for bindings to two places.
class Recorder : public plat::LogDest {
 public:
  explicit Recorder(const char* name) : plat::LogDest(name) {}
  void write(int level, const char* source, const char* text) override { records.push_back({source, level, text}); }
  std::vector<LogRecord> records;
};

// Removes the colour sequences a terminal would get.
std::string withoutColour(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\033') {
      i = text.find('m', i);
      if (i == std::string::npos) break;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A source class of its own and a plain source, each declared the one way.
class TaggedSrc : public plat::LogSrc {
 public:
  explicit TaggedSrc(const char* name) : plat::LogSrc(name) {}
  int tag = 7;
};
PLAT_LOG_SOURCE_OF(TaggedSrc, taggedLog, "TaggedAtStart");
PLAT_LOG_SOURCE(plainLog, "PlainAtStart");

// The names on the list of sources, newest first.
std::vector<std::string> listedSources() {
  std::vector<std::string> names;
  plat::MutexLock lock(plat::logRegistryMutex);
  for (plat::LogSrc* src = plat::LogSrc::first(); src; src = src->next()) names.emplace_back(src->name());
  return names;
}

// Re-applies the `Log` parameter's own value, undoing a test's direct
// application.
void restoreLogSetting() { plat::applyLogSetting(plat::Configuration::global().findParam("Log")->getValueStr().get()); }

// ---- Writing ----

TEST(LogSrcTest, WritersUseTheirLevels) {
  plat::LogSrc src("TestSource");
  LogCapture capture;
  src.error("e%d", 1);
  src.info("i%s", "2");
  src.debug("d");
  src.verbose("v");
  src.write(7, "w%c", '!');
  EXPECT_THAT(capture.from("TestSource"),
              ElementsAre(LogRecord{"TestSource", 0, "e1"}, LogRecord{"TestSource", 30, "i2"},
                          LogRecord{"TestSource", 100, "d"}, LogRecord{"TestSource", 110, "v"},
                          LogRecord{"TestSource", 7, "w!"}));
}

TEST(LogSrcTest, WriteLinesSkipsEmptyLines) {
  plat::LogSrc src("TestSource");
  LogCapture capture;
  src.writeLines(100, "first\n\nsecond\nthird");
  src.writeLines(100, "\n\n");
  src.writeLines(100, nullptr);
  EXPECT_THAT(capture.from("TestSource"),
              ElementsAre(LogRecord{"TestSource", 100, "first"}, LogRecord{"TestSource", 100, "second"},
                          LogRecord{"TestSource", 100, "third"}));
}

TEST(LogSrcTest, LongMessagesAreCutAtAWholeCharacter) {
  plat::LogSrc src("TestSource");
  LogCapture capture;
  // 4094 ASCII bytes and a two-byte character need 4097 bytes with the NUL.
  std::string text(4094, 'a');
  text += "\xC3\xA9";
  src.error("%s", text.c_str());
  std::vector<LogRecord> got = capture.from("TestSource");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, std::string(4094, 'a'));
}

TEST(LogSrcTest, ControlAndMalformedBytesAreEscaped) {
  plat::LogSrc src("Escapes");
  LogCapture capture("Escapes:capture:0");
  const std::pair<const char*, const char*> cases[] = {
      {"a\tb", "a~^Ib"},
      {"line\nnext", "line~^Jnext"},
      {"del\x7f", "del~^?"},
      {"tilde~", "tilde~~"},
      {"caf\xC3\xA9 }", "caf\xC3\xA9 }"},  // valid UTF-8 and '}' stay
      {"bad\xFF", "bad~M^?"},              // 0xFF: high bit, then DEL
      {"cut\xC3x", "cut~M-Cx"},            // a lead byte without its continuation
      {"plain text", "plain text"},
  };
  for (const auto& [in, out] : cases) {
    capture.clear();
    src.error("%s", in);
    EXPECT_THAT(capture.records(), ElementsAre(LogRecord{"Escapes", 0, out})) << in;
  }
}

TEST(LogSrcTest, SourcesAreListedNewestFirstUntilDestroyed) {
  plat::LogSrc src("TestSource");
  EXPECT_EQ(plat::LogSrc::first(), &src);
  {
    plat::LogSrc inner("Inner");
    EXPECT_EQ(plat::LogSrc::first(), &inner);
    plat::MutexLock lock(plat::logRegistryMutex);
    EXPECT_EQ(inner.next(), &src);
  }
  EXPECT_EQ(plat::LogSrc::first(), &src);
}

TEST(LogSrcTest, DeclaredSourcesAreMadeAtStartUpOnceWithTheirType) {
  // Listed before this test calls either accessor: start-up made them.
  EXPECT_THAT(listedSources(), testing::IsSupersetOf({"TaggedAtStart", "PlainAtStart"}));
  TaggedSrc& tagged = taggedLog();
  EXPECT_EQ(&tagged, &taggedLog());
  EXPECT_EQ(&plainLog(), &plainLog());
  EXPECT_STREQ(tagged.name(), "TaggedAtStart");
  EXPECT_EQ(tagged.tag, 7);
}

TEST(LogSrcTest, StderrDestinationTakesTheBoundLevelsOnly) {
  plat::LogSrc src("Quiet");
  plat::LogDestFile::stderrDest("logtest");
  plat::applyLogSetting("Quiet:stderr:10");
  yarl_test::StderrCapture capturedErr;
  src.error("bad %d", 5);
  src.write(10, "edge");
  src.write(11, "hidden");
  src.debug("hidden too");
  std::string out = withoutColour(capturedErr.stop());
  restoreLogSetting();
  EXPECT_THAT(out, testing::MatchesRegex("<11> [-0-9T:.]+Z [^ ]+ logtest\\[[0-9]+\\]: Quiet: bad 5\n"
                                         "<13> [-0-9T:.]+Z [^ ]+ logtest\\[[0-9]+\\]: Quiet: edge\n"));
}

// ---- The `Log` grammar ----

TEST(LogSettingTest, EntriesAreParsedAndBadOnesReported) {
  plat::LogSrc src("Gram");
  LogCapture capture;
  struct Case {
    const char* value;
    const char* stderrText;
    int level;
  } cases[] = {
      {"", "", -1},
      {",,", "", -1},
      {"gRAM:CAPTURE:7", "", 7},                  // name and target ignore case
      {"G*m:capture:7,Gram:capture:20", "", 20},  // a later entry replaces the level
      {"*:capture:3", "", 3},
      {"Other:capture:5,Gr*x:capture:5", "", -1},
      {"Gram::10", "", -1},  // an empty target is skipped silently
      {"Gram:capture", "Failed to parse log param element: 'Gram:capture'\n", -1},
      {"Gram", "Failed to parse log param element: 'Gram'\n", -1},
      {"Gram:capture:x", "Failed to parse log param element: 'Gram:capture:x'\n", -1},
      {"Gram:capture:-1", "Failed to parse log param element: 'Gram:capture:-1'\n", -1},
      {"Gram:capture: 4", "Failed to parse log param element: 'Gram:capture: 4'\n", -1},
      {"Gram:capture:10:5", "Failed to parse log param element: 'Gram:capture:10:5'\n", -1},
      {"Gram:capture:99999999999", "Failed to parse log param element: 'Gram:capture:99999999999'\n", -1},
      {"Gram:nowhere:10", "No LogDest found: 'nowhere'\n", -1},
      {"Gram:ipc:200", "", 200},  // the channel destination is made by its first lookup
      {"Gram:capture:x,Gram:capture:8", "Failed to parse log param element: 'Gram:capture:x'\n", 8},
  };
  for (const Case& c : cases) {
    yarl_test::StderrCapture capturedErr;
    plat::applyLogSetting(c.value);
    EXPECT_EQ(capturedErr.stop(), c.stderrText) << c.value;
    EXPECT_EQ(src.boundLevel(), c.level) << c.value;
  }
  restoreLogSetting();
}

TEST(LogSettingTest, TwoBindingsAtDifferentLevels) {
  plat::LogSrc src("Pair");
  Recorder second("second");
  LogCapture capture("Pair:capture:10,Pair:second:100");
  EXPECT_EQ(src.boundLevel(), 100);
  src.debug("detail");
  src.write(10, "notice");
  EXPECT_THAT(capture.from("Pair"), ElementsAre(LogRecord{"Pair", 10, "notice"}));
  EXPECT_THAT(second.records, ElementsAre(LogRecord{"Pair", 100, "detail"}, LogRecord{"Pair", 10, "notice"}));

  // A destination's ceiling caps the level of the sources bound to it.
  second.setLevel(50);
  EXPECT_EQ(src.boundLevel(), 50);
  second.setLevel(0x7fffffff);
}

TEST(LogSettingTest, ParameterChangesRebindAndADestroyedDestinationIsUnbound) {
  plat::LogSrc src("Rebind");
  {
    LogCapture capture("Rebind:capture:30");
    EXPECT_EQ(src.boundLevel(), 30);
    EXPECT_TRUE(plat::Configuration::global().setParam("Log", "Rebind:capture:100", LogCapture::kPriority + 1));
    EXPECT_EQ(src.boundLevel(), 100);
    plat::Configuration::global().findParam("Log")->unsetParam(LogCapture::kPriority + 1);
    EXPECT_EQ(src.boundLevel(), 30);
  }
  EXPECT_EQ(src.boundLevel(), -1);
  {
    // A destination that goes while still bound leaves no binding behind.
    plat::LogSrc other("Stays");
    auto recorder = std::make_unique<Recorder>("doomed");
    plat::applyLogSetting("Rebind:doomed:20,Stays:doomed:20");
    EXPECT_EQ(src.boundLevel(), 20);
    recorder.reset();
    EXPECT_EQ(src.boundLevel(), -1);
    EXPECT_EQ(other.boundLevel(), -1);
    src.error("no destination left");
  }
  restoreLogSetting();
}

TEST(LogSettingTest, AnOverrideTextStandsInForTheParameterWhileSet) {
  plat::LogSrc src("Overridden");
  LogCapture capture("Overridden:capture:30");
  plat::LogDestFile::setLogOverride("Overridden:capture:100");
  EXPECT_EQ(src.boundLevel(), 100);
  // A change of the parameter meanwhile does not undo the override.
  EXPECT_TRUE(plat::Configuration::global().setParam("Log", "Overridden:capture:10", LogCapture::kPriority + 1));
  EXPECT_EQ(src.boundLevel(), 100);
  plat::LogDestFile::setLogOverride(nullptr);
  EXPECT_EQ(src.boundLevel(), 10);
  plat::Configuration::global().findParam("Log")->unsetParam(LogCapture::kPriority + 1);
  EXPECT_EQ(src.boundLevel(), 30);
}

TEST(LogSettingTest, BindingsCanBeReappliedWhileOtherThreadsLog) {
  plat::LogSrc src("Busy");
  Recorder quiet("quiet");
  LogCapture capture("Busy:capture:100");
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&] {
      for (int n = 0; n < 20000 && (n < 100 || !stop.load()); ++n) src.debug("working %d", n);
    });
  }
  for (int i = 0; i < 300; ++i) plat::applyLogSetting(i % 2 ? "Busy:capture:100" : "Busy:capture:100,Busy:quiet:0");
  stop = true;
  for (std::thread& t : writers) t.join();
  restoreLogSetting();
  EXPECT_FALSE(capture.from("Busy").empty());
  EXPECT_THAT(quiet.records, IsEmpty());
}

// ---- Lists ----

TEST(LogListTest, NamesWrapAtTheWidthAndDestinationsAreIndented) {
  plat::LogSrc a("Alpha"), b("Bravo"), c("Charlie"), d("Delta");
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  plat::listLogNames(24, out);
  fclose(out);
  // The newest sources come first; a name that would pass 22 columns starts
  // a new line.
  EXPECT_THAT(std::string(text), testing::StartsWith("  Delta, Charlie,\n  Bravo, Alpha,"));
  EXPECT_THAT(std::string(text), testing::EndsWith("\n"));
  free(text);

  Recorder listed("listed");
  out = open_memstream(&text, &size);
  plat::listLogDests(out);
  fclose(out);
  EXPECT_THAT(std::string(text), testing::StartsWith("  listed\n"));
  free(text);
  EXPECT_EQ(plat::findLogDest("LISTED"), &listed);
  EXPECT_EQ(plat::findLogDest("unlisted"), nullptr);
}

// ---- Before and after set-up ----
//
// Set-up happens once per process, so these run in a fresh process each.

class LogSetupDeathTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void storeAndReplay() {
  plat::LogSrc src("Early");
  plat::LogDestMem::instance().clear();
  for (int i = 0; i < 600; ++i) src.write(i % 2 ? 100 : 0, "message %d", i);
  int stored = plat::LogDestMem::instance().count();

  Recorder replayed("replay");
  plat::applyLogSetting("*:replay:100");
  int left = plat::LogDestMem::instance().count();
  plat::finishLogSetup();

  const std::vector<LogRecord>& r = replayed.records;
  bool inOrder = r.size() == 503;
  for (int i = 0; inOrder && i < 500; ++i) {
    inOrder = r[i + 1] == LogRecord{"Early", i % 2 ? 100 : 0, "message " + std::to_string(i)};
  }
  fprintf(stderr, "stored %d, left %d, in order %d\n%s|%s|%s\n", stored, left, inOrder, r.front().text.c_str(),
          r[501].text.c_str(), r.back().text.c_str());
  exit(0);
}

TEST_F(LogSetupDeathTest, MessagesBeforeSetUpAreKeptAndReplayed) {
  EXPECT_EXIT(storeAndReplay(), testing::ExitedWithCode(0),
              testing::Eq("stored 501, left 0, in order 1\nStart replaying stored messages|"
                          "Too many messages, discarding further ones|Finished replaying stored messages\n"));
}

void levelsAfterSetUp() {
  plat::LogSrc bound("Bound"), unbound("Unbound");
  plat::LogDestMem::instance().clear();
  Recorder out("out");
  plat::applyLogSetting("Bound:out:10");
  // Before set-up, every message passes the quick check; the store keeps
  // the ones no destination took.
  bool passedBefore = bound.enabled(100) && bound.level() == 0x7fffffff;
  bound.debug("kept");
  unbound.error("kept too");
  plat::finishLogSetup();
  bool storeEmptied = plat::LogDestMem::instance().count() == 0;
  // From then on only bound messages are formatted; the rest are dropped.
  bool gated = bound.enabled(10) && !bound.enabled(11) && bound.level() == 10 && !unbound.enabled(0);
  unbound.error("dropped");
  bound.debug("dropped");
  bound.error("delivered");
  fprintf(stderr, "%d %d %d %zu %s %d\n", passedBefore, storeEmptied, gated, out.records.size(),
          out.records.back().text.c_str(), plat::LogDestMem::instance().count());
  exit(0);
}

TEST_F(LogSetupDeathTest, SetUpTurnsOnTheQuickCheck) {
  EXPECT_EXIT(levelsAfterSetUp(), testing::ExitedWithCode(0), testing::Eq("1 1 1 1 delivered 0\n"));
}

}  // namespace
