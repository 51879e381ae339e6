#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::Recorder;
using testing::ElementsAre;
using testing::HasSubstr;

// Runs the next death tests in a freshly started copy of this executable,
// until the scope ends.
class FreshProcessDeathTests {
 public:
  FreshProcessDeathTests() : saved_(GTEST_FLAG_GET(death_test_style)) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
  ~FreshProcessDeathTests() { GTEST_FLAG_SET(death_test_style, saved_); }

 private:
  std::string saved_;
};

class MuiTest : public mui_test::MuTest {};

TEST_F(MuiTest, MetricsAreScaledByTheLargestDisplayScale) {
  mui::Mui& mui = *mui::Mui::instance();
  const mui::Mui::Metrics saved = mui.rawMetrics();
  plat::ScopeExit restore([&] {
    mui::Mui::setDisplayScales({});
    mui.setMetrics(saved);
  });
  const mui::Mui::Metrics raw = {20, 3, -3, 0, 16, 1, 7, 40};

  mui::Mui::setDisplayScales({});
  EXPECT_EQ(mui::Mui::displayScale(), 8);
  mui.setMetrics(raw);
  for (int i = 0; i < mui::Mui::kMetricCount; ++i) EXPECT_EQ(mui.metric(mui::Mui::Metric(i)), raw[i]) << i;

  // The metrics follow the set only when installed again.
  mui::Mui::setDisplayScales({8, 12, 0, -4});
  EXPECT_EQ(mui::Mui::displayScale(), 12);
  EXPECT_EQ(mui.metric(mui::Mui::kLayoutSpacing), 20);
  mui.setMetrics(raw);
  const mui::Mui::Metrics expected = {30, 5, -5, 0, 24, 2, 11, 60};
  for (int i = 0; i < mui::Mui::kMetricCount; ++i) EXPECT_EQ(mui.metric(mui::Mui::Metric(i)), expected[i]) << i;
  EXPECT_EQ(mui.rawMetrics(), raw);
  EXPECT_EQ(mui::Mui::scaled(INT32_MAX), INT32_MAX);
  EXPECT_EQ(mui::Mui::scaled(INT32_MIN), INT32_MIN);

  mui::Mui::setDisplayScales({0});
  EXPECT_EQ(mui::Mui::displayScale(), 8);
}

TEST_F(MuiTest, DefaultMetricsAndNewLayoutsTakeThem) {
  EXPECT_EQ(mui::Mui::instance()->rawMetrics(), (mui::Mui::Metrics{16, 8, 16, 16, 48, 136, 32, 40}));
  auto dialog = makeDialog("metrics");
  EXPECT_EQ(dialog->margin(), 16);
  EXPECT_EQ(mui::MuLayout::create(dialog.get(), "l", 0)->spacing(), 16);
}

TEST_F(MuiTest, UnitsToPointsFollowsPpmm) {
  plat::ConfigParameter* ppmm = &plat::ppmm;
  constexpr int kPriority = 900;
  plat::ScopeExit restore([&] { ppmm->unsetParam(kPriority); });

  struct Case {
    int ppmm;
    int32_t units;
    int32_t points;
  };
  const Case cases[] = {
      {4, 64, 32},
      {4, 10, 5},
      {4, 0, 0},
      {4, 1, 1},
      {4, -1, -1},
      {4, -3, -2},
      {4, -10, -5},
      {3, 1, 0},
      {3, -1, 0},
      {12, 10, 15},
      {12, -10, -15},
      {1, 4, 1},
      {32, INT32_MAX, INT32_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "ppmm " << c.ppmm << " units " << c.units);
    ASSERT_TRUE(ppmm->setIntValue(c.ppmm, kPriority));
    EXPECT_EQ(mui::Mui::unitsToPoints(c.units), c.points);
  }
}

// The process-wide counter starts at 0, so only a process that has made
// no dialog yet sees it; the threadsafe style runs the statement in a
// freshly started copy of this executable.
TEST_F(MuiTest, TheFirstDialogOfAProcessGetsSerialZero) {
  FreshProcessDeathTests fresh;
  EXPECT_EXIT(
      {
        auto first = makeDialog("first");
        const uint32_t serial = first->serial();
        first.reset();
        auto second = makeDialog("second");
        std::exit(serial == 0 && second->serial() == 1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(MuiTest, SerialsAreNeverReusedAndTheRegistryHoldsTheLive) {
  mui::Mui& mui = *mui::Mui::instance();
  auto a = makeDialog("a");
  auto b = makeDialog("b");
  const uint32_t sa = a->serial();
  EXPECT_EQ(b->serial(), sa + 1);
  b.reset();
  auto c = makeDialog("c");
  EXPECT_EQ(c->serial(), sa + 2);
  EXPECT_EQ(mui.registry().count(sa + 1), 0u);
  EXPECT_EQ(mui.registry().at(sa), a.get());
  EXPECT_EQ(mui.registry().at(sa + 2), c.get());
}

TEST_F(MuiTest, GlobalObserversReachEveryRegisteredElement) {
  mui::Mui& mui = *mui::Mui::instance();
  std::vector<std::string> log;
  Recorder global(log, "global");
  auto a = makeDialog("a");
  auto b = makeDialog("b");
  mui.addGlobalObserver(&global, true);
  auto c = makeDialog("c");
  for (auto* d : {a.get(), b.get(), c.get()}) d->notifyObservers(d, mui::kEventDialogActivated);
  EXPECT_THAT(log, ElementsAre("global:a:4", "global:b:4", "global:c:4"));

  log.clear();
  mui.addGlobalObserver(&global, false);
  auto d = makeDialog("d");
  for (auto* e : {a.get(), c.get(), d.get()}) e->notifyObservers(e, mui::kEventDialogActivated);
  EXPECT_TRUE(log.empty());

  // Registration attaches and detaches by itself.
  mui.addGlobalObserver(&global, true);
  plat::ScopeExit detach([&] { mui.addGlobalObserver(&global, false); });
  {
    yarl_test::MuTestDialog plain("plain", "", {10, 10}, 0, nullptr, nullptr);
    plain.notifyObservers(&plain, mui::kEventChanged);
  }
  EXPECT_THAT(log, ElementsAre("global:plain:0"));
}

TEST_F(MuiTest, MissingSingletonAndHooksAreFatal) {
  EXPECT_EXIT(mui::Mui::setInstance(nullptr), testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'mui_' failed"));
  auto dialog = makeDialog("hooks");
  EXPECT_EXIT(
      {
        mui::muLayoutFactory = nullptr;
        mui::MuLayout::create(dialog.get(), "l", 0);
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'muLayoutFactory' failed"));
  EXPECT_EXIT(
      {
        mui::muDialogFactory = nullptr;
        makeDialog("none");
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'muDialogFactory' failed"));
}

TEST(MuiSingletonTest, InstanceBeforeInstallationIsFatal) {
  FreshProcessDeathTests fresh;
  EXPECT_EXIT((void)mui::Mui::instance(), testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'mui' failed"));
}

}  // namespace
