#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/uilibs/ui/mac/MsgBox.h"
#include "testing/StderrCapture.h"

namespace {

using appkit::Alert;
using appkit::Application;

// What a script saw of the alert it answered.
struct Seen {
  std::string buttons;
  std::string message;
  std::string informative;
  bool modal = false;
};

Seen see(Alert* alert) {
  Seen s;
  for (appkit::Button* b : alert->buttons()) s.buttons += std::string(s.buttons.empty() ? "" : "|") + b->title();
  s.message = alert->messageText();
  s.informative = alert->informativeText();
  s.modal = Application::shared().modalWindow() == alert->window();
  return s;
}

class MsgBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    os::setAppTitle("Setup");
  }
  void TearDown() override {
    appkit::inject::setAlertScript(nullptr);
    os::setAppTitle(nullptr);
    Application::reset();
  }
};

TEST_F(MsgBoxTest, ButtonsTextsAndResultFollowTheFlags) {
  struct Case {
    ui::MsgBoxFlags flags;
    const char* caption;
    const char* displayName;
    long answer;
    bool result;
    const char* buttons;
    const char* message;
  };
  const Case cases[] = {
      {0x10, nullptr, "Setup", 1000, true, "OK", "Setup"},
      {0x101, nullptr, "Setup", 1001, true, "Cancel|OK", "Setup"},
      {0x101, nullptr, "Setup", 1000, false, "Cancel|OK", "Setup"},
      {0x24, "Question", "Setup", 1000, true, "Yes|No", "Setup - Question"},
      {0x104, "Question", "Setup", 1000, false, "No|Yes", "Setup - Question"},
      {0x1, "Caption", "", 1001, false, "OK|Cancel", "Caption"},
  };
  for (const Case& c : cases) {
    os::setAppTitle(c.displayName);
    Seen seen;
    appkit::inject::setAlertScript([&](Alert* alert) {
      seen = see(alert);
      return c.answer;
    });
    EXPECT_EQ(ui::msgBox(nullptr, "The text", c.flags, c.caption), c.result) << c.flags;
    EXPECT_EQ(seen.buttons, c.buttons) << c.flags;
    EXPECT_EQ(seen.message, c.message) << c.flags;
    EXPECT_EQ(seen.informative, "The text") << c.flags;
    EXPECT_TRUE(seen.modal) << c.flags;
    EXPECT_EQ(Application::shared().modalWindow(), nullptr);
  }
}

TEST_F(MsgBoxTest, TheUserAnswersWithAClickOrTheReturnKey) {
  struct Case {
    bool click;
    bool result;
  };
  for (const Case c : {Case{true, false}, Case{false, true}}) {
    appkit::inject::setAlertScript([&](Alert* alert) {
      if (c.click) {
        // The second button: No.
        appkit::Rect r = alert->buttons()[1]->frame();
        appkit::inject::click(alert->window(), {r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2});
      } else {
        appkit::inject::key(36, "\r");
      }
      return 0L;
    });
    EXPECT_EQ(ui::msgBox(nullptr, "Continue?", ui::kMsgBoxYesNo, nullptr), c.result) << c.click;
  }
}

TEST_F(MsgBoxTest, AsASheetTheParentShowsTheCaptionMeanwhile) {
  auto* parent = new appkit::Window(appkit::makeRect(100, 100, 500, 400), appkit::kWindowStyleTitled);
  plat::ScopeExit releaseParent([parent] { parent->release(); });
  parent->setTitle("Wizard");
  parent->makeKeyAndOrderFront(nullptr);
  std::string title;
  Seen seen;
  bool sheet = false;
  appkit::inject::setAlertScript([&](Alert* alert) {
    title = parent->title();
    seen = see(alert);
    sheet = alert->sheetParent() == parent && parent->attachedSheet() == alert->window() &&
            Application::shared().modalWindow() == parent;
    return 1001L;
  });
  EXPECT_FALSE(ui::msgBox(parent, "Install now?", ui::kMsgBoxYesNo, "Confirm"));
  EXPECT_EQ(title, "Setup - Confirm");
  EXPECT_TRUE(sheet);
  EXPECT_EQ(seen.buttons, "Yes|No");
  EXPECT_EQ(seen.message, "Install now?");
  EXPECT_EQ(seen.informative, "");
  EXPECT_STREQ(parent->title(), "Wizard");
  EXPECT_EQ(parent->attachedSheet(), nullptr);
  EXPECT_EQ(Application::shared().modalWindow(), nullptr);

  // Without a script the sheet gives its first button from the loop that
  // waits for it.
  appkit::inject::setAlertScript(nullptr);
  yarl_test::StderrCapture err;
  EXPECT_TRUE(ui::msgBox(parent, "Go on?", ui::kMsgBoxOkCancel, nullptr));
  EXPECT_EQ(err.stop(), "Go on?\n");
  EXPECT_STREQ(parent->title(), "Wizard");
}

TEST_F(MsgBoxTest, WithoutAScriptTheBoxWritesToStderrAndGivesItsFirstButton) {
  yarl_test::StderrCapture err;
  EXPECT_TRUE(ui::msgBox(nullptr, "Disk full", ui::kMsgBoxOkCancel | ui::kMsgBoxIconWarning, "Download"));
  EXPECT_FALSE(ui::msgBox(nullptr, "Disk full", ui::kMsgBoxYesNo | ui::kMsgBoxNegativeDefault, nullptr));
  ui::showErrorBox("Start-up failed");
  EXPECT_EQ(err.stop(), "Setup - Download\nDisk full\nSetup\nDisk full\nSetup\nStart-up failed\n");
  // The error box brought the application to the front.
  EXPECT_TRUE(Application::shared().isActive());
}

TEST(MsgBoxStatusImage, TheIconKindNamesTheStatusImage) {
  struct Case {
    ui::MsgBoxFlags flags;
    const char* name;
  };
  const Case cases[] = {{0x10, "statusError"}, {0x21, "statusQuestion"}, {0x134, "statusWarning"},
                        {0x40, "statusInfo"},  {0x50, nullptr},          {0x00, nullptr}};
  for (const Case& c : cases) {
    const char* name = ui::msgBoxStatusImage(c.flags);
    EXPECT_STREQ(name ? name : "-", c.name ? c.name : "-") << c.flags;
  }
}

}  // namespace
