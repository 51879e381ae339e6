#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::Recorder;
using testing::ElementsAre;
using testing::HasSubstr;
using yarl_test::MuTestBackend;
using yarl_test::MuTestPeer;

std::string str(const plat::CharArray& text) { return text ? text.get() : "<null>"; }

// dlg > (unnamed layout) > page > (unnamed layout) > ok, and page > name.
class MuTreeTest : public mui_test::MuTest {
 protected:
  MuTreeTest() {
    outer = mui::MuLayout::create(dialog.get(), nullptr, mui::MuLayout::kVertical);
    page = mui::MuLayout::create(outer, "page", mui::MuLayout::kVertical);
    inner = mui::MuLayout::create(page, nullptr, mui::MuLayout::kHorizontal);
    ok = MuTestBackend::element(inner, "ok", {}, "OK");
    name = MuTestBackend::element(page, "name");
  }

  std::unique_ptr<mui::MuDialog> dialog = makeDialog("dlg");
  mui::MuLayout* outer;
  mui::MuLayout* page;
  mui::MuLayout* inner;
  mui::MuElement* ok;
  mui::MuElement* name;
};

TEST_F(MuTreeTest, PathsSkipUnnamedElementsAndTheDialog) {
  EXPECT_EQ(str(mui::MuElement::path(ok)), "page.ok");
  EXPECT_EQ(str(mui::MuElement::fullPath(ok)), "dlg.page.ok");
  EXPECT_EQ(str(mui::MuElement::path(name)), "page.name");
  EXPECT_EQ(str(mui::MuElement::path(inner)), "page");
  EXPECT_EQ(str(mui::MuElement::path(outer)), "<null>");
  EXPECT_EQ(str(mui::MuElement::path(dialog.get())), "<null>");
  EXPECT_EQ(str(mui::MuElement::fullPath(dialog.get())), "dlg");
  EXPECT_EQ(mui::MuElement::getRoot(ok), dialog.get());
}

TEST_F(MuTreeTest, FindElementResolvesThroughUnnamedContainers) {
  struct Case {
    const char* path;
    mui::MuElement* expected;
  };
  const Case cases[] = {
      {nullptr, dialog.get()},
      {"page", page},
      {"page.ok", ok},
      {"..page.ok", ok},
      {"page..ok", ok},
      {"page.name", name},
      {"ok", nullptr},  // only under page
      {"", nullptr},    // an empty component names no named child
      {"page.missing", nullptr},
      {"page.ok.more", nullptr},
      {"pag", nullptr},
      {"page.ok.", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "<null>");
    EXPECT_EQ(dialog->findElement(c.path), c.expected);
  }
  EXPECT_EQ(page->findElement("ok"), ok);
  EXPECT_EQ(ok->findElement(nullptr), ok);
}

TEST_F(MuTreeTest, EventsBubbleToEveryAncestorWithTheOriginatingElement) {
  std::vector<std::string> log;
  Recorder atOk(log, "ok"), atInner(log, "inner"), atPage(log, "page"), atDialog(log, "dialog");
  ok->addObserver(&atOk);
  inner->addObserver(&atInner);
  page->addObserver(&atPage);
  dialog->addObserver(&atDialog);
  ok->notifyObservers(ok, mui::kEventClicked);
  EXPECT_THAT(log, ElementsAre("ok:ok:1", "inner:ok:1", "page:ok:1", "dialog:ok:1"));
}

TEST_F(MuTreeTest, ObserversChangedDuringANotification) {
  std::vector<std::string> log;
  Recorder a(log, "a"), b(log, "b"), c(log, "c"), d(log, "d");
  ok->addObserver(&a);
  ok->addObserver(&b);
  ok->addObserver(&c);
  ok->addObserver(&c);  // twice: called twice
  // a removes c and adds d: c is not called in this pass, d not until the
  // next one.
  a.action = [&] {
    ok->addObserver(&c, false);
    ok->addObserver(&d);
  };
  ok->notifyObservers(ok, mui::kEventChanged);
  EXPECT_THAT(log, ElementsAre("a:ok:0", "b:ok:0"));

  log.clear();
  a.action = nullptr;
  ok->addObserver(&c);
  ok->addObserver(&c);
  ok->notifyObservers(ok, mui::kEventChanged);
  EXPECT_THAT(log, ElementsAre("a:ok:0", "b:ok:0", "d:ok:0", "c:ok:0", "c:ok:0"));

  // A removal inside a nested notification reaches the outer one too.
  log.clear();
  b.action = [&] {
    b.action = nullptr;
    ok->notifyObservers(ok, mui::kEventClicked);
  };
  a.action = [&] {
    if (log.size() > 2) ok->addObserverNoexcept(&d);
  };
  ok->notifyObservers(ok, mui::kEventChanged);
  EXPECT_THAT(log, ElementsAre("a:ok:0", "b:ok:0", "a:ok:1", "b:ok:1", "c:ok:1", "c:ok:1", "c:ok:0", "c:ok:0"));
}

TEST_F(MuTreeTest, DestroyingTheSenderEndsTheNotification) {
  std::vector<std::string> log;
  Recorder first(log, "first"), second(log, "second"), atPage(log, "page");
  ok->addObserver(&first);
  ok->addObserver(&second);
  page->addObserver(&atPage);
  first.action = [&] { inner->remove(ok); };
  ok->notifyObservers(ok, mui::kEventClicked);
  EXPECT_THAT(log, ElementsAre("first:ok:1"));
  EXPECT_EQ(inner->childCount(), 0);

  // Destroying an ancestor destroys the sender too.
  log.clear();
  mui::MuLayout* row = mui::MuLayout::create(page, "row", mui::MuLayout::kHorizontal);
  mui::MuElement* x = MuTestBackend::element(row, "x");
  x->addObserver(&first);
  x->addObserver(&second);
  first.action = [&] { page->remove(row); };
  x->notifyObservers(x, mui::kEventChanged);
  EXPECT_THAT(log, ElementsAre("first:x:0"));
  EXPECT_EQ(page->findElement("row"), nullptr);
}

TEST_F(MuTreeTest, TheBaseObserverDispatchesByCode) {
  struct Observer : mui::MuObserver {
    void onClicked(mui::MuElement* e) override { calls.push_back("clicked " + mui_test::idOf(e)); }
    void onChanged(mui::MuElement* e) override { calls.push_back("changed " + mui_test::idOf(e)); }
    void onDialogClosed(mui::MuDialog* d) override { calls.push_back("closed " + mui_test::idOf(d)); }
    void onDialogLaidOut(mui::MuDialog* d) override { calls.push_back("laid out " + mui_test::idOf(d)); }
    std::vector<std::string> calls;
  } observer;
  ok->addObserver(&observer);
  for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 99, -1}) ok->notifyObservers(ok, static_cast<mui::MuEvent>(code));
  EXPECT_THAT(observer.calls, ElementsAre("changed ok", "clicked ok", "closed dlg", "laid out dlg"));
}

TEST_F(MuTreeTest, EnableAndLockFlagsReachThePeerTogether) {
  MuTestPeer* peer = MuTestBackend::peerOf(ok);
  ok->setLocked(true);
  ok->setEnabled(true);
  EXPECT_FALSE(peer->enabled);  // still locked
  EXPECT_TRUE(ok->isLocked());
  EXPECT_TRUE(page->isLocked());  // through its visible child
  ok->setEnabled(false);
  ok->setLocked(false);
  EXPECT_FALSE(peer->enabled);  // still disabled
  EXPECT_EQ(ok->flags(), mui::MuElement::kFlagDisabled);
  ok->setEnabled(true);
  EXPECT_TRUE(peer->enabled);
  EXPECT_EQ(ok->flags(), 0u);

  ok->setLocked(true);
  MuTestBackend::peerOf(inner)->visible = false;
  EXPECT_FALSE(page->isLocked());  // a hidden child does not count
}

TEST_F(MuTreeTest, VisibilityFocusAndPosition) {
  EXPECT_FALSE(ok->isShown());  // the dialog starts hidden
  dialog->setVisible(true);
  EXPECT_TRUE(ok->isShown());
  inner->setVisible(false);
  EXPECT_FALSE(ok->isShown());
  EXPECT_TRUE(ok->isVisible());

  name->setFocus();
  EXPECT_EQ(dialog->focusedElement(), name);
  EXPECT_EQ(static_cast<yarl_test::MuTestDialog*>(dialog.get())->lastFocused, name);

  dialog->setPosition({100, 50});
  page->setPosition({3, 4});
  inner->setPosition({5, 6});
  ok->setPosition({7, 8});
  outer->setPosition({1, 1});
  EXPECT_EQ(ok->absolutePosition(), (mui::Point{116, 69}));
}

TEST_F(MuTreeTest, FontRecordsAreInheritedUntilAnElementSetsItsOwn) {
  EXPECT_EQ(&ok->getFont(), &dialog->getFont());
  EXPECT_EQ(ok->getFont().size, 120);
  EXPECT_EQ(ok->getFont().weight, 400);

  const int before = MuTestBackend::peerOf(ok)->styleRefreshes;
  ok->setColour("#102030");
  page->setBackgroundColour("helpBg");
  EXPECT_NE(&ok->getFont(), &dialog->getFont());
  EXPECT_STREQ(ok->getFont().colour.get(), "#102030");
  EXPECT_STREQ(name->getFont().background.get(), "helpBg");
  EXPECT_EQ(ok->getFont().background.get(), nullptr);
  // The page refreshed its children, then itself.
  EXPECT_EQ(MuTestBackend::peerOf(ok)->styleRefreshes, before + 2);

  mui::MuFont record;
  record.size = 150;
  record.weight = 700;
  record.background = "contentBg";
  ok->setFont(record);
  EXPECT_EQ(ok->getFont().size, 150);
  EXPECT_STREQ(ok->getFont().background.get(), "contentBg");
  EXPECT_EQ(ok->getFont().colour.get(), nullptr);
  record.colour = "#102030";
  ok->setFont(record);
  const char* same = ok->getFont().colour.get();
  ok->setFont(record);  // an equal name is kept, not replaced
  EXPECT_EQ(ok->getFont().colour.get(), same);
}

TEST_F(MuTreeTest, DescribeAndLayoutCheck) {
  dialog->setVisible(true);
  ok->setPosition({3, 4});
  ok->setSize({10, 20});
  ok->setLocked(true);
  EXPECT_STREQ(ok->describe().c_str(), "shown 1\nenabled 1\nlocked 1\npos 3,4\nsize 10,20\nlabel OK\n");
  EXPECT_STREQ(name->describe().c_str(), "shown 1\nenabled 1\nlocked 0\npos 0,0\nsize 0,0\n");
  EXPECT_STREQ(ok->typeName(), "element");
  EXPECT_STREQ(page->typeName(), "layout");

  struct Reports : mui::MuLayoutCheckObserver {
    void report(mui::MuElement* e, const char* message) override { seen.push_back(mui_test::idOf(e) + " " + message); }
    std::vector<std::string> seen;
  } reports;
  MuTestBackend::peerOf(ok)->heightFor = [](int32_t width) { return width == 10 ? 25 : 0; };
  ok->checkLayout(&reports);
  EXPECT_THAT(reports.seen, ElementsAre("ok Overflowing by 5 units"));
}

TEST_F(MuTreeTest, MouseNoticesGoToTheMouseCallback) {
  struct Receiver : qoutil::MouseCallback {
    bool mouseEvent(int32_t kind, rfb::Point point, ui::MouseHandlerMac*) override {
      seen.push_back(std::to_string(kind) + "@" + std::to_string(point.x) + "," + std::to_string(point.y));
      return true;
    }
    std::vector<std::string> seen;
  } receiver;
  EXPECT_FALSE(ok->fireMouse(0, {1, 2}, nullptr));
  ok->setMouseCallback(&receiver);
  EXPECT_TRUE(ok->fireMouse(0, {1, 2}, nullptr));
  qoutil::MouseCallback* asCallback = ok;
  EXPECT_TRUE(asCallback->mouseEvent(4, {5, 6}, nullptr));
  EXPECT_THAT(receiver.seen, ElementsAre("0@1,2", "4@5,6"));
}

TEST_F(MuTreeTest, FailedInvariantsAreFatal) {
  EXPECT_EXIT(mui::MuElement::getRoot(nullptr), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'element' failed"));
  EXPECT_EXIT(dialog->remove(nullptr), testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'element' failed"));
  EXPECT_EXIT((void)dialog->MuElement::absolutePosition(), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'parent' failed"));
  EXPECT_EXIT(
      {
        mui::MuElement lone(nullptr, "lone", nullptr);
        (void)lone.getFont();
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'parent' failed"));
}

// A single container and a child that reports its end.
class Single : public mui::MuContainerSingle {
 public:
  using mui::MuContainerSingle::MuContainerSingle;
};

class Counted : public mui::MuElement {
 public:
  Counted(mui::MuContainer* parent, int& destroyed) : mui::MuElement(parent, "c", nullptr), destroyed_(destroyed) {}
  ~Counted() override { ++destroyed_; }

 private:
  int& destroyed_;
};

class MuSingleTest : public mui_test::MuTest {};

TEST_F(MuSingleTest, SingleContainerHoldsOneChild) {
  int destroyed = 0;
  {
    Single single(nullptr, "single");
    EXPECT_EQ(single.childCount(), 0);
    EXPECT_EQ(single.childAt(0), nullptr);
    auto* first = new Counted(&single, destroyed);
    single.addChild(first);
    EXPECT_EQ(single.childCount(), 1);
    EXPECT_EQ(single.childAt(0), first);
    EXPECT_EQ(single.childAt(-1), first);
    EXPECT_EQ(single.childAt(1), nullptr);
    EXPECT_EQ(single.childAt(-2), nullptr);
    EXPECT_EQ(single.findElement("c"), first);

    auto* second = new Counted(&single, destroyed);
    single.addChild(second);  // replaces and destroys the first
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(single.childAt(0), second);
    EXPECT_EXIT(single.removeChild(first), testing::KilledBySignal(SIGABRT),
                HasSubstr("Assertion 'element == child.get()' failed"));
    single.remove(second);
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(single.childCount(), 0);
    single.addChild(new Counted(&single, destroyed));
  }
  EXPECT_EQ(destroyed, 3);  // with the container
}

}  // namespace
