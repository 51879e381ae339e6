#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::Placement;
using mui_test::placement;
using mui_test::Recorder;
using testing::ElementsAre;
using testing::HasSubstr;
using yarl_test::MuTestBackend;
using yarl_test::MuTestPeer;

constexpr uint32_t kReturn = 0xFF0D;
constexpr uint32_t kEscape = 0xFF1B;

class MuDialogTest : public mui_test::MuTest {
 protected:
  // A top panel 50 high, a content panel and a bottom panel 40 high.
  void addPanels(mui::MuDialog* d) {
    top = MuTestBackend::element(d, "top", {10, 50});
    content = MuTestBackend::element(d, "content", {10, 100});
    bottom = MuTestBackend::element(d, "bottom", {10, 40});
    d->setPanelMode(top, mui::MuDialog::kTopPanel);
    d->setPanelMode(bottom, mui::MuDialog::kBottomPanel);
  }

  mui::MuElement* top = nullptr;
  mui::MuElement* content = nullptr;
  mui::MuElement* bottom = nullptr;
};

TEST_F(MuDialogTest, PanelsStackFromTheEdgesAndTheContentTakesTheRest) {
  auto dialog = makeDialog("dlg", {300, 400});
  ASSERT_EQ(dialog->margin(), 16);
  addPanels(dialog.get());
  mui::MuElement* top2 = MuTestBackend::element(dialog.get(), "top2", {10, 5});
  mui::MuElement* bottom2 = MuTestBackend::element(dialog.get(), "bottom2", {10, 7});
  mui::MuElement* hidden = MuTestBackend::element(dialog.get(), "hidden", {10, 1000});
  dialog->setPanelMode(top2, mui::MuDialog::kTopPanel);
  dialog->setPanelMode(bottom2, mui::MuDialog::kBottomPanel);
  dialog->setPanelMode(hidden, mui::MuDialog::kTopPanel);
  MuTestBackend::peerOf(hidden)->visible = false;
  MuTestBackend::peerOf(top2)->visible = false;
  MuTestBackend::peerOf(bottom2)->visible = false;
  std::vector<std::string> log;
  Recorder recorder(log, "rec");
  dialog->addObserver(&recorder);

  dialog->relayout();
  EXPECT_EQ(placement(top), (Placement{0, 0, 300, 50}));
  EXPECT_EQ(placement(content), (Placement{16, 66, 268, 278}));
  EXPECT_EQ(placement(bottom), (Placement{0, 360, 300, 40}));
  EXPECT_EQ(placement(hidden), (Placement{0, 0, 0, 0}));
  EXPECT_THAT(log, ElementsAre("rec:dlg:6"));

  // The second top and bottom panels, once shown, stack below the first
  // top panel and above the first bottom panel.
  MuTestBackend::peerOf(top2)->visible = true;
  MuTestBackend::peerOf(bottom2)->visible = true;
  dialog->relayout();
  EXPECT_EQ(placement(top2), (Placement{0, 50, 300, 5}));
  EXPECT_EQ(placement(bottom2), (Placement{0, 353, 300, 7}));
  EXPECT_EQ(placement(content), (Placement{16, 71, 268, 266}));

  // Too small for the margins: the content gets nothing.
  dialog->setSize({20, 60});
  EXPECT_EQ(placement(content), (Placement{16, 71, 0, 0}));

  // No size, no lay-out.
  log.clear();
  dialog->setSize({0, 400});
  EXPECT_TRUE(log.empty());
}

TEST_F(MuDialogTest, SizeToContentFitsTheHeight) {
  struct Case {
    const char* name;
    uint32_t flags;
    int32_t height;
  };
  const Case cases[] = {
      {"fixed size and auto height", mui::MuDialog::kFixedSize | mui::MuDialog::kAutoHeight, 50 + 100 + 32 + 40},
      {"auto height", mui::MuDialog::kAutoHeight, 222},
      {"fixed size takes the initial height for content", mui::MuDialog::kFixedSize, 50 + 400 + 40},
      {"absolutely fixed", mui::MuDialog::kFixedSize | mui::MuDialog::kAutoHeight | mui::MuDialog::kAbsFixedSize, 400},
      {"resizable", 0, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto dialog = makeDialog("dlg", {300, 400}, c.flags);
    addPanels(dialog.get());
    std::vector<int32_t> askedWidths;
    MuTestBackend::peerOf(content)->heightFor = [&](int32_t w) {
      askedWidths.push_back(w);
      return 100;
    };
    dialog->layoutNow();
    EXPECT_EQ(dialog->getSize(), (mui::Size{300, c.height}));
    if (c.flags == (mui::MuDialog::kFixedSize | mui::MuDialog::kAutoHeight)) {
      EXPECT_THAT(askedWidths, ElementsAre(268));
      // The new size laid the panels out again.
      EXPECT_EQ(placement(bottom), (Placement{0, 182, 300, 40}));
      EXPECT_EQ(placement(content), (Placement{16, 66, 268, 100}));
    }
  }
}

// The dialog's default and cancel buttons, and how keys reach them.
class MuDialogKeyTest : public MuDialogTest {
 protected:
  MuDialogKeyTest() {
    okButton = MuTestBackend::element(dialog.get(), "ok");
    cancelButton = MuTestBackend::element(dialog.get(), "cancel");
    okButton->addObserver(&recorder);
    cancelButton->addObserver(&recorder);
  }

  struct KeyCallback : mui::MuDialog::KeyCallback {
    bool dialogKey(mui::DialogButton button, mui::MuDialog*) override {
      asked.push_back(button);
      return consume;
    }
    bool consume = false;
    std::vector<int> asked;
  };

  std::unique_ptr<mui::MuDialog> dialog = makeDialog("dlg");
  mui::MuElement* okButton;
  mui::MuElement* cancelButton;
  std::vector<std::string> log;
  Recorder recorder{log, "rec"};
};

TEST_F(MuDialogKeyTest, ReturnAndEscapePressTheDefaultAndCancelButtons) {
  struct Case {
    const char* name;
    uint32_t keysym;
    bool withDefault;
    bool withCancel;
    uint32_t okFlags;
    bool handled;
    std::vector<std::string> clicks;
  };
  const std::vector<Case> cases = {
      {"Return", kReturn, true, true, 0, true, {"rec:ok:1"}},
      {"Escape", kEscape, true, true, 0, true, {"rec:cancel:1"}},
      {"keypad Enter is Return", 0xFF8D, true, true, 0, true, {"rec:ok:1"}},
      {"another key", 'a', true, true, 0, false, {}},
      {"Escape without a cancel button", kEscape, true, false, 0, false, {}},
      {"Return without a default button", kReturn, false, true, 0, false, {}},
      {"Return on a disabled default button", kReturn, true, true, mui::MuElement::kFlagDisabled, false, {}},
      {"Return on a locked default button", kReturn, true, true, mui::MuElement::kFlagLocked, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    dialog->setButton(mui::kDefaultButton, c.withDefault ? okButton : nullptr);
    dialog->setButton(mui::kCancelButton, c.withCancel ? cancelButton : nullptr);
    okButton->setEnabled((c.okFlags & mui::MuElement::kFlagDisabled) == 0);
    okButton->setLocked((c.okFlags & mui::MuElement::kFlagLocked) != 0);
    EXPECT_EQ(dialog->handleKey(c.keysym), c.handled);
    EXPECT_EQ(log, c.clicks);
  }
}

TEST_F(MuDialogKeyTest, TheKeyCallbackIsAskedFirst) {
  dialog->setButton(mui::kDefaultButton, okButton);
  dialog->setButton(mui::kCancelButton, cancelButton);
  KeyCallback callback;
  dialog->setKeyCallback(&callback);
  callback.consume = true;
  EXPECT_TRUE(dialog->handleKey(kReturn));
  EXPECT_TRUE(dialog->handleKey(kEscape));
  EXPECT_FALSE(dialog->handleKey(0xFF09));  // Tab: not asked
  EXPECT_TRUE(dialog->pressButton(mui::kCancelButton));
  EXPECT_THAT(callback.asked, ElementsAre(0, 1, 1));
  EXPECT_TRUE(log.empty());

  callback.consume = false;
  EXPECT_TRUE(dialog->pressButton(mui::kDefaultButton));
  EXPECT_THAT(log, ElementsAre("rec:ok:1"));

  // Without a button the callback still gets its chance.
  dialog->setButton(mui::kCancelButton, nullptr);
  callback.consume = true;
  EXPECT_TRUE(dialog->handleKey(kEscape));

  bool isEscape = false;
  EXPECT_TRUE(mui::MuDialog::classifyKey(kEscape, isEscape));
  EXPECT_TRUE(isEscape);
  EXPECT_TRUE(mui::MuDialog::classifyKey(kReturn, isEscape));
  EXPECT_FALSE(isEscape);
  EXPECT_FALSE(mui::MuDialog::classifyKey(0xFF8D, isEscape));
}

TEST_F(MuDialogKeyTest, ADestroyedButtonIsNoLongerPressed) {
  mui::MuLayout* bar = mui::MuLayout::create(dialog.get(), "bar", mui::MuLayout::kHorizontal);
  mui::MuElement* next = MuTestBackend::element(bar, "next");
  dialog->setButton(mui::kDefaultButton, next);
  dialog->setButton(mui::kCancelButton, cancelButton);
  dialog->remove(bar);
  EXPECT_EQ(dialog->button(mui::kDefaultButton), nullptr);
  EXPECT_EQ(dialog->button(mui::kCancelButton), cancelButton);
  EXPECT_FALSE(dialog->handleKey(kReturn));
}

TEST_F(MuDialogTest, CloseAsksTheCloseCallback) {
  struct Refuser : mui::MuDialog::CloseCallback {
    bool queryClose(mui::MuDialog*) override { return ++asked > 1; }
    int asked = 0;
  } callback;
  struct Closed : mui::MuObserver {
    void onDialogClosed(mui::MuDialog* d) override { closed.push_back(d); }
    std::vector<mui::MuDialog*> closed;
  } observer;
  auto dialog = makeDialog("dlg");
  dialog->addObserver(&observer);
  dialog->setCloseCallback(&callback);
  dialog->setVisible(true);

  EXPECT_FALSE(dialog->close());
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(observer.closed.empty());

  EXPECT_TRUE(dialog->close());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_THAT(observer.closed, ElementsAre(dialog.get()));

  dialog->setCloseCallback(nullptr);
  EXPECT_TRUE(dialog->close());
  EXPECT_EQ(observer.closed.size(), 2u);
}

TEST_F(MuDialogTest, AModalDialogRunsTheTestScript) {
  auto dialog = makeDialog("modal", {200, 100}, mui::MuDialog::kAppModal);
  auto plain = makeDialog("plain");
  mui::MuElement* ok = MuTestBackend::element(dialog.get(), "ok");
  dialog->setButton(mui::kDefaultButton, ok);
  std::vector<std::string> log;
  Recorder recorder(log, "rec");
  dialog->addObserver(&recorder);
  std::vector<std::string> shown;
  backend.modalScript = [&](yarl_test::MuTestDialog& d) {
    shown.push_back(d.id());
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(d.handleKey(kReturn));
    EXPECT_TRUE(d.close());
  };
  dialog->setVisible(true);
  plain->setVisible(true);
  backend.modalScript = nullptr;
  EXPECT_THAT(shown, ElementsAre("modal"));
  EXPECT_THAT(log, ElementsAre("rec:ok:1", "rec:modal:3"));
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(static_cast<yarl_test::MuTestDialog*>(dialog.get())->title, "Title");
}

TEST_F(MuDialogTest, DescribeChildrenAndOwner) {
  int windowStandIn = 0;
  auto* native = reinterpret_cast<mui::NativeWindow*>(&windowStandIn);
  auto dialog = makeDialog("dlg", {300, 400},
                           mui::MuDialog::kFixedSize | mui::MuDialog::kModalToOwner | mui::MuDialog::kAbsFixedSize);
  EXPECT_STREQ(dialog->describe().c_str(),
               "shown 0\nenabled 1\nlocked 0\npos 0,0\nsize 300,400\nelement Dialog\nfixedsize 1\ndisableclose 0\n"
               "nohide 0\nmodal 1\nabsfixedsize 1\n");
  EXPECT_STREQ(dialog->typeName(), "dialog");

  std::unique_ptr<mui::MuDialog> owned(mui::MuDialog::create("owned", "", {1, 1}, 0, nullptr, native));
  EXPECT_EQ(owned->owner(), native);
  std::unique_ptr<mui::MuDialog> child(mui::MuDialog::create("child", "", {1, 1}, 0, owned.get(), native));
  EXPECT_EQ(child->owner(), owned->nativeWindow());
  EXPECT_FALSE(child->positionSet());
  child->setPosition({5, 6});
  EXPECT_TRUE(child->positionSet());
  EXPECT_EQ(child->absolutePosition(), (mui::Point{5, 6}));

  addPanels(dialog.get());
  EXPECT_EQ(dialog->childCount(), 3);
  EXPECT_EQ(dialog->childAt(-1), bottom);
  EXPECT_EQ(dialog->childAt(-3), top);
  EXPECT_EQ(dialog->childAt(3), nullptr);
  dialog->removeChild(owned.get());  // not a panel: ignored
  dialog->remove(content);
  EXPECT_EQ(dialog->childAt(1), bottom);
  EXPECT_EXIT(dialog->setPanelMode(content, 1), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'i != panels.end()' failed"));
  EXPECT_EXIT(dialog->addChild(nullptr), testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'element' failed"));
}

TEST_F(MuDialogTest, StockMovePolicies) {
  struct Typed : mui::MuElement {
    Typed(mui::MuContainer* parent, const char* type) : mui::MuElement(parent, type, nullptr), type_(type) {}
    const char* typeName() override { return type_; }
    const char* type_;
  };
  auto dialog = makeDialog("dlg");
  mui::MuDialog::MoveCallback* exceptButtons = mui::MuDialog::moveCallbackExceptButtons();
  mui::MuDialog::MoveCallback* exceptControls = mui::MuDialog::moveCallbackExceptControls();
  EXPECT_EQ(exceptButtons, mui::MuDialog::moveCallbackExceptButtons());
  struct Case {
    const char* type;
    bool buttons;
    bool controls;
  };
  const Case cases[] = {
      {nullptr, false, true}, {"button", false, false}, {"list", true, false},
      {"check", true, false}, {"layout", true, true},   {"edit", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type ? c.type : "none");
    Typed element(dialog.get(), c.type ? c.type : "");
    mui::MuElement* e = c.type ? &element : nullptr;
    EXPECT_EQ(exceptButtons->canMove(dialog.get(), e, {1, 1}), c.buttons);
    EXPECT_EQ(exceptControls->canMove(dialog.get(), e, {1, 1}), c.controls);
  }
}

}  // namespace
