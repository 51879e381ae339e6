#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/ui/AutoHider.h"

namespace ui {
namespace {

plat::TimeValue fakeNow = 1'000'000'000;
plat::TimeValue fakeClock(plat::TimeValue, bool*) { return fakeNow; }

// A widget in a container, recording where it is put, and an owner
// recording the movements.
class Slider : public AutoHider, public AutoHider::Widget, public AutoHider::Callback {
 public:
  Slider(uint32_t edge, uint32_t inset, Extent size, Extent container, bool upwards = false)
      : AutoHider(edge, inset, this), size_(size), container_(container), upwards_(upwards) {
    setWidget(this);
  }
  void setPosition(int x, int y) override { positions.push_back({x, y}); }
  Extent getSize() override { return size_; }
  Extent getContainerSize() override { return container_; }
  bool isFlipped() override { return upwards_; }
  void autoHiderEvent(bool started, bool showing, AutoHider* hider) override {
    EXPECT_EQ(hider, this);
    events.push_back(std::string(started ? "start " : "end ") + (showing ? "show" : "hide"));
  }

  std::vector<std::pair<int, int>> positions;
  std::vector<std::string> events;

 private:
  Extent size_, container_;
  bool upwards_;
};

class AutoHiderTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = plat::setMonotonicClock(fakeClock); }
  void TearDown() override { plat::setMonotonicClock(previous_); }
  // Moves the clock on and fires what is due.
  void advance(int ms) {
    fakeNow += ms * plat::kTicksPerMs;
    manager_.processTimers();
  }

  plat::MonotonicClockFn previous_;
  plat::TimerManager manager_{plat::TimerManager::current() != nullptr};
};

TEST_F(AutoHiderTest, ImmediateMovesPlaceAtOnceForEveryEdge) {
  struct Case {
    uint32_t edge;
    bool upwards;
    std::pair<int, int> hidden;
    std::pair<int, int> shown;
  } cases[] = {
      // Widget 100 x 40 in a 300 x 200 container, 10 stays inside.
      {AutoHider::kEdgeLeft, false, {-90, 80}, {0, 80}},
      {AutoHider::kEdgeRight, false, {290, 80}, {200, 80}},
      {AutoHider::kEdgeTop, false, {100, -30}, {100, 0}},
      {AutoHider::kEdgeBottom, false, {100, 190}, {100, 160}},
      // A container whose axis runs upwards swaps the vertical edges.
      {AutoHider::kEdgeTop, true, {100, 190}, {100, 160}},
      {AutoHider::kEdgeBottom, true, {100, -30}, {100, 0}},
  };
  for (const Case& c : cases) {
    Slider s(c.edge, 10, {100, 40}, {300, 200}, c.upwards);
    s.start(false, 0);
    s.start(true, 0);
    EXPECT_EQ(s.positions, (std::vector<std::pair<int, int>>{c.hidden, c.shown})) << c.edge << c.upwards;
    EXPECT_EQ(s.events, (std::vector<std::string>{"start hide", "end hide", "start show", "end show"}));
  }
}

TEST_F(AutoHiderTest, SlidesStepByStepOnTheClock) {
  // Travel 90 over 900 ms: a step every 10 ms would be too often, so 20.
  Slider s(AutoHider::kEdgeLeft, 10, {100, 40}, {300, 200});
  s.start(false, 900);
  EXPECT_EQ(s.stepInterval(), 20);
  advance(20);
  advance(430);
  EXPECT_EQ(s.positions, (std::vector<std::pair<int, int>>{{-2, 80}, {-45, 80}}));
  advance(1000);
  EXPECT_EQ(s.positions.back(), (std::pair<int, int>{-90, 80}));
  EXPECT_EQ(s.hiddenFraction(), 1.0);
  EXPECT_EQ(s.stepInterval(), 0);
  EXPECT_EQ(s.events, (std::vector<std::string>{"start hide", "end hide"}));

  // A long movement over a short travel steps every duration / travel.
  Slider slow(AutoHider::kEdgeTop, 0, {100, 10}, {300, 200});
  slow.start(false, 3000);
  EXPECT_EQ(slow.stepInterval(), 300);
  // A widget smaller than the inset still travels one unit.
  Slider tiny(AutoHider::kEdgeTop, 50, {100, 10}, {300, 200});
  EXPECT_EQ(tiny.travel(), 1);
}

TEST_F(AutoHiderTest, DelayedHideShowingCancelsItAndFreezing) {
  Slider s(AutoHider::kEdgeRight, 0, {100, 40}, {300, 200});
  s.showThenHide(1000);
  EXPECT_TRUE(s.hidePending());
  advance(999);
  EXPECT_EQ(s.events, (std::vector<std::string>{"start show", "end show"}));
  advance(1);
  EXPECT_EQ(s.events.back(), "start hide");
  EXPECT_FALSE(s.isShowing());

  Slider t(AutoHider::kEdgeRight, 0, {100, 40}, {300, 200});
  t.showThenHide(500);
  t.start(true, -1);  // showing again while the hide waits
  EXPECT_FALSE(t.hidePending());
  advance(2000);
  EXPECT_TRUE(t.isShowing());
  EXPECT_EQ(t.events.back(), "end show");

  Slider f(AutoHider::kEdgeRight, 0, {100, 40}, {300, 200});
  f.setFrozen(true);
  f.start(false, 0);
  f.showThenHide(10);
  EXPECT_TRUE(f.events.empty());
  EXPECT_EQ(f.hiddenFraction(), 0.0);
}

}  // namespace
}  // namespace ui
