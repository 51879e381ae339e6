#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qocore/base/os/AppInfo.h"
#include "qocore/uilibs/mui/MuButtonBar.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui::MuMessageBox;
using mui_test::idOf;
using testing::HasSubstr;
using yarl_test::MuTestDialog;

class MuMessageBoxTest : public mui_test::MuTest {
 protected:
  void TearDown() override { backend.modalScript = nullptr; }

  // Shows an application-modal box whose modal run does `action` with it.
  bool run(uint32_t flags, const std::function<void(MuTestDialog&)>& action) {
    MuMessageBox box("Message", flags, nullptr, nullptr, true, nullptr);
    backend.modalScript = action;
    return box.show();
  }

  static void press(MuTestDialog& d, const char* id) {
    mui::MuElement* button = d.findElement((std::string("main.buttons.") + id).c_str());
    ASSERT_NE(button, nullptr) << id;
    EXPECT_TRUE(button->performAction("click", nullptr));
  }
};

TEST_F(MuMessageBoxTest, FlagsGiveIconsButtonsAndDefaults) {
  struct Case {
    uint32_t flags;
    const char* icon;  // "-" for none
    const char* defaultId;
    const char* cancelId;
    uint32_t dialogFlags;
  };
  const Case cases[] = {
      {0x00, "-", "ok", "-", 0x43},
      {0x21, "statusQuestion", "ok", "cancel", 0x43},
      {0x101, "-", "cancel", "cancel", 0x43},
      {0x104, "-", "no", "no", 0x47},
      {0x14, "statusError", "yes", "no", 0x47},
      {0x30, "statusWarning", "ok", "-", 0x43},
      {0x70, "statusInfo", "ok", "-", 0x43},
  };
  for (const Case& c : cases) {
    MuMessageBox box("Hello <world>", c.flags, nullptr, "Caption", false, nullptr);
    mui::MuDialog* d = box.dialog();
    EXPECT_EQ(d->dialogFlags(), c.dialogFlags) << c.flags;
    mui::MuElement* icon = d->findElement("main.frame.split.icon");
    EXPECT_EQ(icon ? static_cast<mui::MuImage*>(icon)->image() : std::string("-"), c.icon) << c.flags;
    // Without an icon "info" sits directly in "frame".
    EXPECT_NE(d->findElement(icon ? "main.frame.split.info.msg" : "main.frame.info.msg"), nullptr) << c.flags;
    EXPECT_EQ(idOf(d->button(mui::kDefaultButton)), c.defaultId) << c.flags;
    EXPECT_EQ(idOf(d->button(mui::kCancelButton)), c.cancelId) << c.flags;
    auto* msg = static_cast<mui::MuText*>(d->findElement(icon ? "main.frame.split.info.msg" : "main.frame.info.msg"));
    EXPECT_STREQ(msg->text(), "Hello &lt;world&gt;");
  }
}

TEST_F(MuMessageBoxTest, DialogFlagsAndTitles) {
  EXPECT_EQ(MuMessageBox::dialogFlags(true, 0, false), 75u);
  EXPECT_EQ(MuMessageBox::dialogFlags(true, 0, true), 83u);
  EXPECT_EQ(MuMessageBox::dialogFlags(false, 0, true), 83u);
  EXPECT_EQ(MuMessageBox::dialogFlags(true, 4, false), 79u);
  EXPECT_EQ(MuMessageBox::dialogFlags(false, 1, true), 83u);
  os::setAppTitle("");
  EXPECT_STREQ(MuMessageBox::title("Caption").get(), "Caption");
  os::setAppTitle("Product");
  EXPECT_STREQ(MuMessageBox::title("Caption").get(), "Product - Caption");
  EXPECT_STREQ(MuMessageBox::title(nullptr).get(), "Product");
}

TEST_F(MuMessageBoxTest, ResultsOfButtonsAndOfClosing) {
  struct Case {
    uint32_t flags;
    const char* press;  // null: close the window
    bool result;
  };
  const Case cases[] = {
      {0x0, "ok", true},  {0x1, "ok", true},      {0x1, "cancel", false}, {0x4, "yes", true},
      {0x4, "no", false}, {0x21, nullptr, false}, {0x0, nullptr, true},   {0x4, nullptr, false},
  };
  for (const Case& c : cases) {
    bool hidden = false;
    const bool result = run(c.flags, [&](MuTestDialog& d) {
      if (c.press) {
        press(d, c.press);
      } else {
        d.close();
      }
      hidden = !d.isVisible();
    });
    EXPECT_EQ(result, c.result) << c.flags << " " << (c.press ? c.press : "close");
    EXPECT_TRUE(hidden);
  }
}

TEST_F(MuMessageBoxTest, ReturnAndEscapePressTheDefaultAndCancelButtons) {
  EXPECT_TRUE(run(0x1, [](MuTestDialog& d) { EXPECT_TRUE(d.handleKey(0xFF0D)); }));
  EXPECT_FALSE(run(0x1, [](MuTestDialog& d) { EXPECT_TRUE(d.handleKey(0xFF1B)); }));
  EXPECT_FALSE(run(0x104, [](MuTestDialog& d) { EXPECT_TRUE(d.handleKey(0xFF0D)); }));
}

TEST_F(MuMessageBoxTest, MessageMarkupAndDetail) {
  MuMessageBox box("plain", 0, nullptr, nullptr, false, nullptr);
  auto* msg = static_cast<mui::MuText*>(box.dialog()->findElement("main.frame.info.msg"));
  box.setMessageAndDetail("Failed <x>", "output & more");
  EXPECT_STREQ(msg->text(), "<b>Failed &lt;x&gt;</b><br/><br/>output &amp; more");
  box.setMessage("see <a href=\"app://x\">this</a>");
  EXPECT_EQ(msg->links().size(), 1u);
  EXPECT_EQ(msg->linkCallback(), mui::MuText::defaultLinkCallback());
  box.setLinkReceiver(nullptr);
  EXPECT_FALSE(msg->performAction("click", "0"));
}

TEST_F(MuMessageBoxTest, AboutDialogOkHidesIt) {
  mui::MuAboutDialog about(nullptr, nullptr, "logo");
  mui::MuDialog* d = about.dialog();
  EXPECT_EQ(d->dialogFlags(), 67u);
  EXPECT_THAT(static_cast<MuTestDialog*>(d)->title, HasSubstr("About"));
  EXPECT_STREQ(static_cast<mui::MuImage*>(d->findElement("img"))->image(), "logo");
  EXPECT_NE(d->findElement("text"), nullptr);
  EXPECT_EQ(d->button(mui::kDefaultButton), d->button(mui::kCancelButton));
  d->setVisible(true);
  EXPECT_TRUE(d->handleKey(0xFF1B));
  EXPECT_FALSE(d->isVisible());
}

}  // namespace
