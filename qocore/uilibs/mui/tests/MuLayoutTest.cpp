#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::Placement;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using yarl_test::MuTestBackend;
using yarl_test::MuTestPeer;

constexpr int32_t kSpacing = 4;

struct Child {
  mui::Size natural;
  uint32_t mode = mui::MuLayout::kNatural;
  int32_t size = 1;
  bool visible = true;
  // Measures as a text of 600 square units: width x height stays 600.
  bool text = false;
};

class Reports : public mui::MuLayoutCheckObserver {
 public:
  void report(mui::MuElement* e, const char* message) override { seen.push_back(mui_test::idOf(e) + " " + message); }
  std::vector<std::string> seen;
};

class MuLayoutTest : public mui_test::MuTest {
 protected:
  // A layout in the dialog, with children "c0", "c1"... as described.
  mui::MuLayout* build(uint32_t direction, const std::vector<Child>& children) {
    mui::MuLayout* layout = mui::MuLayout::create(dialog.get(), "lay", direction);
    layout->setSpacing(kSpacing);
    for (size_t i = 0; i < children.size(); ++i) {
      const Child& c = children[i];
      mui::MuElement* e = MuTestBackend::element(layout, ("c" + std::to_string(i)).c_str(), c.natural);
      layout->setChildLayout(e, c.mode, c.size);
      MuTestPeer* peer = MuTestBackend::peerOf(e);
      peer->visible = c.visible;
      if (c.text) {
        peer->widthFor = [](int32_t h) { return 600 / std::max(h, 1); };
        peer->heightFor = [](int32_t w) { return 600 / std::max(w, 1); };
      }
    }
    return layout;
  }

  static std::vector<Placement> placements(mui::MuLayout* layout) {
    std::vector<Placement> out;
    for (int32_t i = 0; i < layout->childCount(); ++i) {
      mui::MuElement* e = layout->childAt(i);
      out.push_back(mui_test::placement(e));
    }
    return out;
  }

  static std::vector<std::string> ids(mui::MuLayout* layout) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < layout->childCount(); ++i) out.push_back(mui_test::idOf(layout->childAt(i)));
    return out;
  }

  std::unique_ptr<mui::MuDialog> dialog = makeDialog("dlg");
};

constexpr uint32_t kV = mui::MuLayout::kVertical;
constexpr uint32_t kH = mui::MuLayout::kHorizontal;
constexpr uint32_t kFixed = mui::MuLayout::kFixed;
constexpr uint32_t kWeighted = mui::MuLayout::kWeighted;

TEST_F(MuLayoutTest, RelayoutPlacesTheVisibleChildren) {
  struct Case {
    const char* name;
    uint32_t direction;
    mui::Size size;
    std::vector<Child> children;
    std::vector<Placement> expected;
    std::vector<std::string> reports;
  };
  const std::vector<Case> cases = {
      {"natural", kV, {100, 200}, {{{30, 10}}, {{40, 20}}}, {{0, 0, 100, 10}, {0, 14, 100, 20}}, {}},
      {"fixed and weighted",
       kV,
       {100, 200},
       {{{10, 5}, kFixed, 50}, {{10, 5}, kWeighted, 1}, {{10, 5}, kWeighted, 3}},
       {{0, 0, 100, 50}, {0, 54, 100, 35}, {0, 93, 100, 106}},
       {}},
      {"the remainder stays empty at the end",
       kV,
       {100, 18},
       {{{10, 0}, kWeighted, 1}, {{10, 0}, kWeighted, 1}, {{10, 0}, kWeighted, 1}},
       {{0, 0, 100, 3}, {0, 7, 100, 3}, {0, 14, 100, 3}},
       {}},
      {"overflow",
       kV,
       {100, 150},
       {{{10, 100}, kFixed, 100}, {{10, 80}}, {{10, 0}, kWeighted, 1}},
       {{0, 0, 100, 100}, {0, 104, 100, 80}, {0, 188, 100, 0}},
       {"c1 Overflowing V layout by 34 units", "c2 Overflowing V layout by 38 units"}},
      {"a hidden child takes no room",
       kV,
       {100, 200},
       {{{10, 10}}, {{10, 50}, 0, 1, false}, {{10, 20}}},
       {{0, 0, 100, 10}, {0, 0, 0, 0}, {0, 14, 100, 20}},
       {}},
      {"alignments",
       kV,
       {10, 200},
       {{{7, 5}, 0x10},
        {{7, 5}, 0x20},
        {{7, 5}, 0x30},
        {{7, 5}, 0x00},
        {{7, 5}, 0x40},
        {{12, 5}, 0x30},
        {{7, 20}, 0x32, 1}},
       {{0, 0, 7, 5}, {3, 9, 7, 5}, {1, 18, 7, 5}, {0, 27, 10, 5}, {0, 36, 7, 5}, {0, 45, 10, 5}, {1, 54, 7, 146}},
       {}},
      {"horizontal",
       kH,
       {100, 30},
       {{{10, 5}}, {{5, 5}, kFixed, 20}, {{5, 5}, kWeighted, 2}},
       {{0, 0, 10, 30}, {14, 0, 20, 30}, {38, 0, 62, 30}},
       {}},
      {"horizontal overflow",
       kH,
       {20, 10},
       {{{15, 5}}, {{10, 5}, kFixed, 10}},
       {{0, 0, 15, 10}, {19, 0, 10, 10}},
       {"c1 Overflowing H layout by 9 units"}},
      {"a child's own overflow",
       kV,
       {50, 100},
       {{{50, 30}, kFixed, 20}},
       {{0, 0, 50, 20}},
       {"c0 Overflowing by 10 units"}},
      {"weight 0 takes no share",
       kV,
       {100, 50},
       {{{10, 0}, kWeighted, 0}, {{10, 0}, kWeighted, 1}, {{10, 0}, kWeighted, -3}},
       {{0, 0, 100, 0}, {0, 4, 100, 42}, {0, 50, 100, 0}},
       {}},
      {"an unknown direction places nothing", 2, {100, 100}, {{{10, 0}}}, {{0, 0, 0, 0}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mui::MuLayout* layout = build(c.direction, c.children);
    layout->setSize(c.size);
    EXPECT_THAT(placements(layout), ElementsAreArray(c.expected));
    Reports reports;
    layout->checkLayout(&reports);
    EXPECT_THAT(reports.seen, ElementsAreArray(c.reports));
    dialog->remove(layout);
  }
}

TEST_F(MuLayoutTest, MeasuresAlongAndAcrossTheAxis) {
  struct Case {
    const char* name;
    uint32_t direction;
    std::vector<Child> children;
    int32_t width;
    int32_t heightForWidth;
    int32_t height;
    int32_t widthForHeight;
  };
  const std::vector<Case> cases = {
      {"natural and fixed", kV, {{{30, 10}}, {{40, 20}}, {{25, 9}, kFixed, 50}}, 100, 88, 200, 40},
      // The weighted child gets at least its natural 30 once shared by 2.
      {"weighted", kV, {{{30, 10}}, {{20, 30}, kWeighted, 2}}, 100, 44, 100, 30},
      {"text given the room left", kV, {{{10, 20}, kFixed, 20}, {{}, kWeighted, 1, true, true}}, 50, 36, 100, 10},
      {"text in a short layout", kV, {{{10, 20}, kFixed, 20}, {{}, kWeighted, 1, true, true}}, 50, 36, 44, 30},
      {"horizontal", kH, {{{10, 5}}, {{20, 8}, kFixed, 20}}, 100, 8, 50, 34},
      {"hidden children count nothing", kH, {{{10, 5}}, {{20, 80}, kFixed, 20, false}}, 100, 5, 50, 10},
      {"no children measure 0", kV, {}, 100, 0, 100, 0},
      {"only hidden children measure 0", kV, {{{10, 5}, 0, 1, false}}, 100, 0, 100, 0},
      {"weight 0 takes no share", kV, {{{10, 5}, kWeighted, 0}, {{10, 7}}}, 100, 11, 50, 10},
      {"an unknown direction measures 0", 2, {{{10, 5}}}, 100, 0, 100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mui::MuLayout* layout = build(c.direction, c.children);
    EXPECT_EQ(layout->heightForWidth(c.width), c.heightForWidth);
    EXPECT_EQ(layout->widthForHeight(c.height), c.widthForHeight);
    dialog->remove(layout);
  }
}

TEST_F(MuLayoutTest, NestedLayoutsMeasureAndPlaceTheirChildren) {
  mui::MuLayout* column = build(kV, {{{30, 10}}});
  mui::MuLayout* row = mui::MuLayout::create(column, "row", kH);
  row->setSpacing(2);
  MuTestBackend::element(row, "a", {20, 12});
  MuTestBackend::element(row, "b", {30, 6});
  EXPECT_EQ(column->widthForHeight(0), 52);
  EXPECT_EQ(column->heightForWidth(100), 10 + kSpacing + 12);
  column->setSize({100, 100});
  EXPECT_EQ(row->getPosition(), (mui::Point{0, 14}));
  EXPECT_EQ(row->getSize(), (mui::Size{100, 12}));
  EXPECT_EQ(column->findElement("row.b")->getPosition(), (mui::Point{22, 0}));

  // A child that changed size has its container and every ancestor lay out
  // again, up to the dialog, which places the column as its content.
  MuTestBackend::peerOf(column->findElement("row.b"))->natural = {30, 16};
  column->setChildLayout(row, kFixed, 16);
  row->childChanged();
  EXPECT_EQ(column->getSize(), (mui::Size{300 - 32, 400 - 32}));
  EXPECT_EQ(row->getSize(), (mui::Size{300 - 32, 16}));
  EXPECT_EQ(column->findElement("row.b")->getSize(), (mui::Size{30, 16}));
}

TEST_F(MuLayoutTest, MoveChildPutsTheChildBackWhereAsked) {
  struct Case {
    const char* child;
    int32_t where;
    const char* reference;
    std::vector<std::string> order;
  };
  const std::vector<Case> cases = {
      {"c0", mui::MuLayout::kFront, nullptr, {"c0", "c1", "c2"}},
      {"c2", mui::MuLayout::kFront, nullptr, {"c2", "c0", "c1"}},
      {"c0", mui::MuLayout::kEnd, nullptr, {"c1", "c2", "c0"}},
      {"c2", mui::MuLayout::kBefore, "c0", {"c2", "c0", "c1"}},
      {"c0", mui::MuLayout::kAfter, "c2", {"c1", "c2", "c0"}},
      {"c0", mui::MuLayout::kAfter, "c1", {"c1", "c0", "c2"}},
      {"c1", mui::MuLayout::kAfter, "c1", {"c0", "c2", "c1"}},  // itself is no longer there
      {"c0", 7, "c2", {"c1", "c0", "c2"}},                      // other values: before
      {"c0", mui::MuLayout::kBefore, nullptr, {"c1", "c2", "c0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.child << " " << c.where << " " << (c.reference ? c.reference : "-"));
    mui::MuLayout* layout = build(kV, {{{10, 10}}, {{10, 20}}, {{10, 30}}});
    layout->setSize({10, 100});
    layout->moveChild(layout->findElement(c.child), c.where, c.reference ? layout->findElement(c.reference) : nullptr);
    EXPECT_EQ(ids(layout), c.order);
    EXPECT_EQ(static_cast<yarl_test::MuTestLayout*>(layout)->reorders, 1);
    // Laid out again in the new order.
    EXPECT_EQ(layout->childAt(0)->getPosition().y, 0);
    EXPECT_EQ(layout->childAt(1)->getPosition().y, layout->childAt(0)->getSize().height + kSpacing);
    dialog->remove(layout);
  }
}

TEST_F(MuLayoutTest, ChildrenByIndexAndRemoval) {
  mui::MuLayout* layout = build(kV, {{{10, 10}}, {{10, 20}}, {{10, 30}}});
  EXPECT_EQ(mui_test::idOf(layout->childAt(-1)), "c2");
  EXPECT_EQ(mui_test::idOf(layout->childAt(-3)), "c0");
  EXPECT_EQ(layout->childAt(-4), nullptr);
  EXPECT_EQ(layout->childAt(3), nullptr);
  EXPECT_EQ(layout->childCount(), 3);

  mui::MuElement* stranger = MuTestBackend::element(dialog.get(), "stranger");
  layout->removeChild(stranger);  // not a child: ignored
  EXPECT_EQ(layout->childCount(), 3);
  layout->remove(layout->childAt(1));
  EXPECT_EQ(ids(layout), (std::vector<std::string>{"c0", "c2"}));
  layout->removeAll();
  EXPECT_EQ(layout->childCount(), 0);

  EXPECT_STREQ(layout->describe().c_str(),
               "shown 0\nenabled 1\nlocked 0\npos 0,0\nsize 0,0\nelement Layout\ntype Vertical\n");
  EXPECT_EXIT(layout->setChildLayout(stranger, 0, 1), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'i != children.end()' failed at qocore/uilibs/mui/MuLayout.cpp:"));
  EXPECT_EXIT(layout->setChildLayout(stranger, 0, 1), testing::KilledBySignal(SIGABRT),
              HasSubstr(": Element 'stranger' is not a child of 'lay'"));
  EXPECT_EXIT(layout->moveChild(stranger, 0, nullptr), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'i != children.end()' failed"));
  EXPECT_EXIT(layout->addChild(nullptr), testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'element' failed"));
}

TEST_F(MuLayoutTest, SpacersTakeTheToolkitSpacerSize) {
  mui::MuLayout* layout = build(kV, {{{10, 10}}});
  mui::MuSpacer* spacer = layout->addSpacer(true);
  mui::MuElement* after = MuTestBackend::element(layout, "after", {10, 5});
  uint32_t mode = 0;
  int32_t size = 0;
  ASSERT_TRUE(layout->childLayout(spacer, mode, size));
  EXPECT_EQ(mode, kFixed);
  EXPECT_EQ(size, mui::Mui::instance()->metric(mui::Mui::kSpacerSize) - kSpacing);
  EXPECT_EQ(size, 36);
  ASSERT_TRUE(layout->childLayout(after, mode, size));
  EXPECT_EQ(mode, kWeighted);
  EXPECT_EQ(size, 1);

  layout->setSize({100, 200});
  EXPECT_THAT(placements(layout),
              ElementsAre(Placement{0, 0, 100, 10}, Placement{0, 14, 100, 36}, Placement{0, 54, 100, 146}));
  EXPECT_STREQ(spacer->describe().c_str(), "0,14 100x36");
  EXPECT_STREQ(spacer->typeName(), "spacer");
  EXPECT_EQ(spacer->id(), nullptr);
  EXPECT_EQ(spacer->widthForHeight(999), 0);

  // A hidden spacer reads as empty and takes no room.
  spacer->setVisible(false);
  EXPECT_EQ(spacer->getSize(), (mui::Size{}));
  layout->relayout();
  EXPECT_EQ(after->getPosition().y, 14);

  mui::MuSpacer* fixed = mui::MuSpacer::create(layout, 7, 9);
  EXPECT_EQ(fixed->widthForHeight(0), 7);
  EXPECT_EQ(fixed->heightForWidth(1000), 9);
  EXPECT_EQ(layout->childAt(-1), fixed);
}

}  // namespace
