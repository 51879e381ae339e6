#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/uilibs/ui/mac/MsgBox.h"
#include "testing/FileFixtures.h"
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
  // The question badge, red, among the resources of every test here: a
  // name's first load is cached for the process.
  static void SetUpTestSuite() {
    resources = new yarl_test::TempDir;
    qoutil_test::TestPng png;
    png.width = png.height = 32;
    png.colourType = PNG_COLOR_TYPE_PALETTE;
    png.palette = {png_color{0xc0, 0x00, 0x00}};
    const std::vector<uint8_t> bytes = qoutil_test::encodePng(png);
    resources->write("statusQuestion.png", std::string(bytes.begin(), bytes.end()));
  }
  static void TearDownTestSuite() {
    delete resources;
    resources = nullptr;
  }

  void SetUp() override {
    previousDir = plat::resource_dir::set([] { return plat::CharArray(resources->c_str()); });
    Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    os::setAppTitle("Setup");
  }
  void TearDown() override {
    appkit::inject::setAlertScript(nullptr);
    os::setAppTitle(nullptr);
    Application::reset();
    plat::resource_dir::set(previousDir);
  }

  static yarl_test::TempDir* resources;
  plat::resource_dir::DirFn previousDir = nullptr;
};

yarl_test::TempDir* MsgBoxTest::resources = nullptr;

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

TEST_F(MsgBoxTest, AParentClosedWhileItsSheetIsUpLivesUntilTheBoxHasReturned) {
  // Released when closed: the window's own reference is the only one.
  auto* parent = new appkit::Window(appkit::makeRect(100, 100, 500, 400), appkit::kWindowStyleTitled);
  parent->setTitle("Wizard");
  parent->makeKeyAndOrderFront(nullptr);
  const long number = parent->windowNumber();
  appkit::inject::setAlertScript([&](Alert*) {
    parent->close();
    return appkit::kAlertFirstButtonReturn;
  });
  EXPECT_TRUE(ui::msgBox(parent, "Go on?", ui::kMsgBoxOkCancel, "Confirm"));
  EXPECT_EQ(Application::shared().windowWithNumber(number), nullptr);
  EXPECT_EQ(Application::shared().modalWindow(), nullptr);
}

TEST_F(MsgBoxTest, AnsweringTheOuterOfTwoNestedBoxesLeavesTheInnerItsOwnAnswer) {
  // The outer box application-modal, and as a sheet on a window.
  auto* parent = new appkit::Window(appkit::makeRect(100, 100, 500, 400), appkit::kWindowStyleTitled);
  plat::ScopeExit releaseParent([parent] { parent->release(); });
  parent->setReleasedWhenClosed(false);
  parent->makeKeyAndOrderFront(nullptr);
  for (appkit::Window* outerParent : {static_cast<appkit::Window*>(nullptr), parent}) {
    Alert* outer = nullptr;
    bool inner = false;
    appkit::inject::setAlertScript([&](Alert* alert) {
      if (!outer) {
        outer = alert;
        // The inner box asks while the outer one waits.
        inner = ui::msgBox(nullptr, "Inner?", ui::kMsgBoxYesNo, nullptr);
        // Given the outer's answer, the outer box would wait for ever.
        if (!inner) Application::shared().abortModal();
        return 0L;
      }
      // The outer box is answered No past the modal filter (as the
      // automation server clicks), then the user presses Return.
      outer->buttons()[1]->performClick();
      appkit::inject::key(36, "\r");
      return 0L;
    });
    EXPECT_FALSE(ui::msgBox(outerParent, "Outer?", ui::kMsgBoxYesNo, nullptr)) << (outerParent != nullptr);
    EXPECT_TRUE(inner) << (outerParent != nullptr);
    EXPECT_EQ(Application::shared().modalWindow(), nullptr);
    EXPECT_EQ(Application::shared().queuedEvents(), 0u);
  }
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

// The alert's icon is the application icon with the status badge at its
// bottom right; the pixels tell which picture lies where.
TEST_F(MsgBoxTest, TheStatusBadgeSitsOverTheApplicationIcon) {
  // A solid blue application icon.
  appkit::BitmapImageRep* rep =
      appkit::BitmapImageRep::create(nullptr, 48, 48, 8, 4, true, false, appkit::kDeviceRGBColorSpace, 48 * 4, 32);
  ASSERT_NE(rep, nullptr);
  for (long i = 0; i < 48 * 48; ++i) {
    uint8_t* p = rep->bitmapData() + i * 4;
    p[0] = 0x00, p[1] = 0x00, p[2] = 0xff, p[3] = 0xff;
  }
  auto* appIcon = new appkit::Image(appkit::Size{48, 48});
  appIcon->addRepresentation(rep);
  rep->release();
  Application::shared().setApplicationIconImage(appIcon);
  appIcon->release();

  std::vector<uint32_t> pixels;
  bool hadIcon = true;
  appkit::inject::setAlertScript([&](Alert* alert) -> long {
    auto* icon = dynamic_cast<appkit::Image*>(alert->icon());
    hadIcon = icon != nullptr;
    if (icon && icon->bitmap()) {
      // Top left, bottom right, where they overlap, and the empty corner
      // at the top right (the buffer's rows run top down).
      for (auto [x, y] : {std::pair{10, 10}, {60, 60}, {40, 40}, {60, 5}})
        pixels.push_back(icon->bitmap()->pixelAt(x, y));
    }
    return appkit::kAlertFirstButtonReturn;
  });
  EXPECT_TRUE(ui::msgBox(nullptr, "Disk full", ui::kMsgBoxIconQuestion, nullptr));
  const uint32_t blue = 0xffff0000u, red = 0xff0000c0u;
  EXPECT_EQ(pixels, (std::vector<uint32_t>{blue, red, red, 0}));

  // Without an icon kind the platform's default icon stays.
  EXPECT_TRUE(ui::msgBox(nullptr, "Disk full", ui::kMsgBoxOkCancel, nullptr));
  EXPECT_FALSE(hadIcon);
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
