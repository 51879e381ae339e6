#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/objc/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "qocore/uilibs/ui/mac/AppMenuBar.h"

namespace mui {
namespace {

using mui_test::kKeyEscape;
using mui_test::kKeyReturn;

using appkit::makeRect;
using mui_test::Recorder;

class MuDialogMacTest : public testing::Test {
 protected:
  void SetUp() override {
    yarl_test::MuTestBackend::install();
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    appkit::Cursor::reset();
    muDialogFactory = MuDialogMac::create;
    muFrameFactory = MuFrameMac::create;
    muLayoutFactory = MuLayoutMac::create;
  }
  void TearDown() override {
    yarl_test::MuTestBackend::fillHooks();
    appkit::Application::reset();
  }
  std::unique_ptr<MuDialogMac> dialog(uint32_t flags, Size size = {300, 200}, MuDialog* owner = nullptr,
                                      const char* title = "Title") {
    return std::unique_ptr<MuDialogMac>(
        static_cast<MuDialogMac*>(MuDialog::create("dlg", title, size, flags, owner, nullptr)));
  }

  objc::AutoreleasePool pool_;
};

class Refuser : public MuDialog::CloseCallback {
 public:
  bool queryClose(MuDialog*) override { return ++asked, allow; }
  bool allow = false;
  int asked = 0;
};

class AnyMove : public MuDialog::MoveCallback {
 public:
  bool canMove(MuDialog*, MuElement* element, Point point) override {
    seen = element;
    at = point;
    return true;
  }
  MuElement* seen = nullptr;
  Point at;
};

struct StyleCase {
  uint32_t flags;
  uint64_t style;
};

TEST_F(MuDialogMacTest, WindowStyleFollowsTheFlags) {
  using namespace appkit;
  const uint64_t all = kWindowStyleTitled | kWindowStyleClosable | kWindowStyleMiniaturizable | kWindowStyleResizable;
  // clang-format off
  const StyleCase cases[] = {
    {0,                all},
    {0x1,              all & ~kWindowStyleResizable},
    {0x1000,           all & ~kWindowStyleResizable},
    {0x2,              all & ~kWindowStyleMiniaturizable},
    {0x4,              all & ~kWindowStyleClosable},
    {0x20 | 0x1,       kWindowStyleBorderless},
    {0x100 | 0x2 | 0x4, kWindowStyleBorderless},
  };
  // clang-format on
  for (const StyleCase& c : cases) EXPECT_EQ(dialog(c.flags)->window()->styleMask(), c.style) << c.flags;

  auto tiny = dialog(0, {0, 0});
  EXPECT_EQ(tiny->window()->contentRect().size, (appkit::Size{1, 1}));
  EXPECT_EQ(tiny->contentView()->frame().size, (appkit::Size{1, 1}));
  EXPECT_TRUE(tiny->contentView()->isFlipped());

  auto floating = dialog(0x80 | 0x4000 | 0x8000 | 0x2);
  EXPECT_EQ(floating->window()->level(), kWindowLevelFloating);
  EXPECT_EQ(floating->window()->collectionBehavior(), kCollectionCanJoinAllSpaces | 512u);
  EXPECT_FALSE(floating->window()->canHide());
  auto owned = dialog(0, {100, 100}, floating.get());
  EXPECT_EQ(owned->window()->collectionBehavior(), kCollectionFullScreenAuxiliary);
  auto transient = dialog(0x2000);
  EXPECT_TRUE(transient->window()->acceptsMouseMovedEvents());
  EXPECT_EQ(transient->window()->collectionBehavior(), 0u);
}

TEST_F(MuDialogMacTest, CopiedTextIsTheGeneralPasteboardsOnlyContent) {
  appkit::Pasteboard* board = appkit::Pasteboard::generalPasteboard();
  board->setString("old", "other.type");
  auto d = dialog(0);
  d->copyToPasteboard("s3cret");
  EXPECT_EQ(board->types(), (std::vector<std::string>{appkit::kPasteboardTypeString}));
  EXPECT_EQ(board->stringForType(appkit::kPasteboardTypeString), "s3cret");
  board->clearContents();
}

TEST_F(MuDialogMacTest, GeometryIsTopDownOnTheMainDisplay) {
  auto d = dialog(0);
  EXPECT_FALSE(d->positionSet());
  d->setPosition({100, 50});
  EXPECT_TRUE(d->positionSet());
  EXPECT_EQ(d->getPosition(), (Point{100, 50}));
  EXPECT_EQ(d->absolutePosition(), (Point{100, 50 + static_cast<int32_t>(appkit::kTitleBarHeight)}));
  EXPECT_EQ(d->window()->frame().maxY(), 900 - 50);

  // A new size keeps the top edge where it was.
  d->setSize({400, 250});
  EXPECT_EQ(d->getPosition(), (Point{100, 50}));
  EXPECT_EQ(d->windowSize(), (Size{400, 250 + static_cast<int32_t>(appkit::kTitleBarHeight)}));
  EXPECT_EQ(d->getSize(), (Size{400, 250}));
  EXPECT_EQ(d->screenSize(), (Size{1440, 900}));
  EXPECT_EQ(d->nativeWindow(), toNativeWindow(d->window()));
}

TEST_F(MuDialogMacTest, ShowingCentresOnlyANewUnplacedWindow) {
  auto d = dialog(0);
  d->setVisible(true);
  EXPECT_TRUE(d->isVisible());
  EXPECT_TRUE(d->window()->isKeyWindow());
  EXPECT_TRUE(appkit::Application::shared().isActive());
  const Point centred = d->getPosition();
  // Moved by the user, then shown again while visible: brought to front,
  // not centred again.
  d->window()->setFrameOrigin({10, 10});
  const Point moved = d->getPosition();
  d->setVisible(true);
  EXPECT_EQ(d->getPosition(), moved);
  EXPECT_NE(moved, centred);

  // A placed dialog is never centred.
  d->setVisible(false);
  EXPECT_FALSE(d->isVisible());
  d->setPosition({30, 40});
  d->setVisible(true);
  EXPECT_EQ(d->getPosition(), (Point{30, 40}));

  // An owned dialog is centred over its visible owner.
  auto child = dialog(0x400, {100, 60}, d.get());
  child->setVisible(true);
  const Size ow = d->windowSize(), cw = child->windowSize();
  EXPECT_EQ(child->getPosition(), (Point{30 + (ow.width - cw.width) / 2, 40 + (ow.height - cw.height) / 2}));
}

TEST_F(MuDialogMacTest, ASheetShowsItsTitleOnTheOwnerWhileItIsUp) {
  auto owner = dialog(0, {400, 300}, nullptr, "Main");
  owner->setVisible(true);
  auto sheet = dialog(0x8, {200, 100}, owner.get(), "Sheet");
  appkit::Window* ow = owner->window();

  sheet->setVisible(true);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_TRUE(sheet->shownAsSheet());
  EXPECT_EQ(ow->attachedSheet(), sheet->window());
  EXPECT_EQ(sheet->window()->level(), appkit::kWindowLevelModalPanel);
  EXPECT_STREQ(ow->title(), "Sheet");
  // Shown again while up: nothing moves.
  const appkit::Rect frame = sheet->window()->frame();
  sheet->setVisible(true);
  EXPECT_EQ(sheet->window()->frame(), frame);

  sheet->setVisible(false);
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(ow->attachedSheet(), nullptr);
  EXPECT_STREQ(ow->title(), "Main");

  // A sheet that gets its title only while it is up leaves the owner's
  // title alone when it goes.
  auto late = dialog(0x8, {200, 100}, owner.get(), "");
  late->setVisible(true);
  late->setTitle("Late");
  late->setVisible(false);
  EXPECT_STREQ(ow->title(), "Main");
}

TEST_F(MuDialogMacTest, AChildWindowRidesOnItsOwnerAndNeverTakesTheKeys) {
  auto owner = dialog(0);
  owner->setVisible(true);
  auto popup = dialog(0x20, {80, 40}, owner.get());
  popup->setVisible(true);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_EQ(popup->window()->parentWindow(), owner->window());
  EXPECT_FALSE(popup->window()->canBecomeKeyWindow());
  EXPECT_TRUE(popup->window()->hasActiveControls());
  popup->setVisible(false);
  EXPECT_EQ(popup->window()->parentWindow(), nullptr);
  EXPECT_FALSE(popup->window()->isVisible());
}

TEST_F(MuDialogMacTest, TheCloseButtonAsksTheCloseQuery) {
  auto d = dialog(0);
  Refuser query;
  d->setCloseCallback(&query);
  std::vector<std::string> log;
  Recorder recorder(log, "obs");
  d->addObserver(&recorder);
  d->setVisible(true);

  appkit::inject::closeButton(d->window());
  appkit::inject::handleQueued();
  EXPECT_EQ(query.asked, 1);
  EXPECT_TRUE(d->isVisible());
  query.allow = true;
  appkit::inject::closeButton(d->window());
  appkit::inject::handleQueued();
  EXPECT_FALSE(d->isVisible());
  EXPECT_NE(std::find(log.begin(), log.end(), "obs:dlg:3"), log.end());
  d->addObserver(&recorder, false);
}

// A one-connection line server on the loopback, served by the run loop:
// each line is answered and handed to the test.
class LineServer {
 public:
  explicit LineServer(std::function<std::string(const std::string&)> onLine) : onLine_(std::move(onLine)) {
    listener_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener_.get(), 1) != 0 || getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("no loopback listener");
    port_ = ntohs(addr.sin_port);
    auto& loop = runloop::RunLoop::current();
    accept_ = loop.addSource(
        listener_.get(),
        [this](unsigned, int) {
          conn_.reset(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
          runloop::RunLoop::current().removeSource(accept_);
          accept_ = nullptr;
          read_ = runloop::RunLoop::current().addSource(
              conn_.get(), [this](unsigned, int) { readSome(); }, runloop::kReadCallBack);
        },
        runloop::kReadCallBack);
  }
  ~LineServer() {
    auto& loop = runloop::RunLoop::current();
    if (accept_) loop.removeSource(accept_);
    if (read_) loop.removeSource(read_);
  }
  int port() const noexcept { return port_; }

 private:
  void readSome() {
    char buf[256];
    const ssize_t n = read(conn_.get(), buf, sizeof buf);
    if (n <= 0) {
      runloop::RunLoop::current().removeSource(read_);
      read_ = nullptr;
      return;
    }
    pending_.append(buf, static_cast<size_t>(n));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      const std::string reply = onLine_(line) + "\n";
      ASSERT_EQ(write(conn_.get(), reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    }
  }

  std::function<std::string(const std::string&)> onLine_;
  plat::UniqueFd listener_, conn_;
  runloop::Source* accept_ = nullptr;
  runloop::Source* read_ = nullptr;
  std::string pending_;
  int port_ = 0;
};

// Sends each line and collects the replies.
std::vector<std::string> converse(int port, const std::vector<std::string>& lines) {
  std::vector<std::string> replies;
  plat::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  // Never waits for ever, whatever the loop does.
  const timeval limit{20, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return replies;
  for (const std::string& line : lines) {
    const std::string out = line + "\n";
    if (write(fd.get(), out.data(), out.size()) != static_cast<ssize_t>(out.size())) break;
    std::string reply;
    char c;
    while (read(fd.get(), &c, 1) == 1 && c != '\n') reply += c;
    replies.push_back(reply);
  }
  return replies;
}

TEST_F(MuDialogMacTest, AModalDialogRunsTheLoopThatServesSocketsUntilItCloses) {
  auto d = dialog(MuDialog::kAppModal);
  Refuser query;
  d->setCloseCallback(&query);
  std::vector<std::string> seen;
  LineServer server([&](const std::string& line) {
    seen.push_back(line + (d->runningCodeModal() ? " modal" : " idle"));
    if (line == "close") query.allow = true;
    // Both go through the close query; the first is refused.
    appkit::inject::closeButton(d->window());
    return "ok " + line;
  });
  std::vector<std::string> replies;
  std::thread client([&] { replies = converse(server.port(), {"try", "close"}); });

  // A guard against a hang: a dialog still up after 10 s is taken down.
  auto& loop = runloop::RunLoop::current();
  bool guardFired = false;
  loop.setTimerCallout([&] {
    guardFired = true;
    d->setVisible(false);
  });
  loop.setTimerFireTime(plat::getMonotonicTime() + 10000 * plat::kTicksPerMs);

  d->setVisible(true);  // returns once the dialog has closed
  loop.clearTimer();
  loop.setTimerCallout(nullptr);
  client.join();
  EXPECT_FALSE(guardFired);
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(d->runningCodeModal());
  EXPECT_EQ(query.asked, 2);
  EXPECT_EQ(seen, (std::vector<std::string>{"try modal", "close modal"}));
  EXPECT_EQ(replies, (std::vector<std::string>{"ok try", "ok close"}));
  EXPECT_EQ(appkit::Application::shared().modalWindow(), nullptr);
}

TEST_F(MuDialogMacTest, AModalSheetRunsItsLoopOverTheOwner) {
  auto owner = dialog(0, {400, 300}, nullptr, "Main");
  owner->setVisible(true);
  auto sheet = dialog(MuDialog::kModalToOwner | MuDialog::kAppModal, {200, 100}, owner.get(), "Asking");
  std::vector<std::string> seen;
  auto& loop = runloop::RunLoop::current();
  loop.setTimerCallout([&] {
    seen.push_back(std::string(owner->window()->title()) + (sheet->runningCodeModal() ? " modal" : ""));
    sheet->close();
  });
  loop.setTimerFireTime(plat::getMonotonicTime());
  sheet->setVisible(true);
  loop.setTimerCallout(nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"Asking modal"}));
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(owner->window()->attachedSheet(), nullptr);
  EXPECT_STREQ(owner->window()->title(), "Main");
  EXPECT_EQ(appkit::Application::shared().modalWindow(), nullptr);
}

// Deletes the dialog that tells it it closed.
struct DeleteOnClose : MuObserver {
  void onDialogClosed(MuDialog* dialog) override {
    delete dialog;
    ++deleted;
  }
  int deleted = 0;
};

TEST_F(MuDialogMacTest, AModalDialogDeletedByItsClosedObserverEndsItsLoopUntouched) {
  // Closed by a call from inside its loop, and by its close button.
  for (bool closeButton : {false, true}) {
    MuDialogMac* d = dialog(MuDialog::kAppModal).release();
    DeleteOnClose deleter;
    d->addObserver(&deleter);
    appkit::Window* window = d->window();
    auto& loop = runloop::RunLoop::current();
    loop.setTimerCallout([&] {
      if (closeButton)
        appkit::inject::closeButton(window);
      else
        d->close();
    });
    loop.setTimerFireTime(plat::getMonotonicTime());
    d->setVisible(true);  // returns once the dialog is gone
    loop.setTimerCallout(nullptr);
    EXPECT_EQ(deleter.deleted, 1) << closeButton;
    EXPECT_EQ(appkit::Application::shared().modalWindow(), nullptr) << closeButton;
  }
}

TEST_F(MuDialogMacTest, ClosingTheOuterOfTwoModalDialogsLeavesTheInnerOneRunning) {
  auto outer = dialog(MuDialog::kAppModal);
  auto inner = dialog(MuDialog::kAppModal);
  std::vector<std::string> steps;
  auto& loop = runloop::RunLoop::current();
  int tick = 0;
  loop.setTimerCallout([&] {
    switch (tick++) {
      case 0:  // inside the outer loop
        loop.setTimerFireTime(plat::getMonotonicTime());
        inner->setVisible(true);
        steps.push_back(std::string("inner returned ") + (inner->isVisible() ? "shown" : "hidden"));
        break;
      case 1:  // inside the inner loop: the outer dialog is answered
        // The next step comes after the loop has seen what this one did.
        loop.setTimerFireTime(plat::getMonotonicTime() + plat::kTicksPerMs);
        outer->close();
        steps.push_back("outer closed");
        break;
      case 2:
        steps.push_back(inner->runningCodeModal() ? "inner runs" : "inner stopped");
        // A guard against a hang: a loop still running after 10 s ends.
        loop.setTimerFireTime(plat::getMonotonicTime() + 10000 * plat::kTicksPerMs);
        if (inner->isVisible()) inner->close();
        break;
      default:
        steps.push_back("guard");
        appkit::Application::shared().abortModal();
        break;
    }
  });
  loop.setTimerFireTime(plat::getMonotonicTime());
  outer->setVisible(true);
  loop.clearTimer();
  loop.setTimerCallout(nullptr);
  steps.push_back(std::string("outer returned ") + (outer->isVisible() ? "shown" : "hidden"));
  EXPECT_EQ(steps,
            (std::vector<std::string>{"outer closed", "inner runs", "inner returned hidden", "outer returned hidden"}));
  EXPECT_EQ(appkit::Application::shared().modalWindow(), nullptr);
}

TEST_F(MuDialogMacTest, ShowingAModalDialogFromItsOwnLoopIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto d = dialog(MuDialog::kAppModal);
        auto& loop = runloop::RunLoop::current();
        loop.setTimerCallout([&] { d->setVisible(true); });
        loop.setTimerFireTime(plat::getMonotonicTime());
        d->setVisible(true);
      },
      "Assertion '!runningCodeModal' failed");
}

TEST_F(MuDialogMacTest, ReturnAndEscapePressTheDialogButtons) {
  auto d = dialog(0);
  MuElement* ok = yarl_test::MuTestBackend::element(d.get(), "ok");
  MuElement* cancel = yarl_test::MuTestBackend::element(d.get(), "cancel");
  d->setButton(kDefaultButton, ok);
  d->setButton(kCancelButton, cancel);
  struct Monitor : MuDialog::KeyMonitorCallback {
    void keyPressed(uint32_t key) override { keys.push_back(key); }
    std::vector<uint32_t> keys;
  } monitor;
  d->setKeyMonitor(&monitor);
  std::vector<std::string> log;
  Recorder recorder(log, "obs");
  d->addObserver(&recorder);
  d->setVisible(true);

  appkit::inject::key(kKeyReturn, "\r");
  appkit::inject::key(kKeyEscape, "\x1b", appkit::kModifierCommand);
  appkit::inject::handleQueued();
  // A focused element that takes Return itself keeps it from the button.
  struct Taker : MuElement {
    using MuElement::MuElement;
    bool handleDialogKey(DialogButton key, bool shift) override {
      taken.push_back((key == kDefaultButton ? "return" : "escape") + std::string(shift ? "+shift" : ""));
      return key == kDefaultButton;
    }
    std::vector<std::string> taken;
  };
  auto* taker = new Taker(d.get(), "edit", nullptr);
  taker->setPeer(std::make_unique<yarl_test::MuTestPeer>());
  d->addChild(taker);
  taker->setFocus();
  appkit::inject::key(kKeyReturn, "\r", appkit::kModifierShift);
  appkit::inject::handleQueued();
  EXPECT_EQ(taker->taken, (std::vector<std::string>{"return+shift"}));
  std::vector<std::string> clicks;
  for (const std::string& entry : log)
    if (entry.size() > 2 && entry.compare(entry.size() - 2, 2, ":1") == 0) clicks.push_back(entry);
  EXPECT_EQ(clicks, (std::vector<std::string>{"obs:ok:1", "obs:cancel:1"}));
  EXPECT_EQ(monitor.keys, (std::vector<uint32_t>{0xFF0D, 0xFF1B | 0x4000000, 0xFF0D | 0x2000000}));
  d->addObserver(&recorder, false);
}

TEST_F(MuDialogMacTest, TheBackgroundDragsTheWindowButTheCornerResizes) {
  auto d = dialog(0, {300, 200});
  MuFrame* panel = MuFrame::create(d.get(), "panel", nullptr, MuFrame::kPlain);
  d->layoutNow();
  AnyMove policy;
  d->setMoveCallback(&policy);
  d->setPosition({100, 100});
  d->setVisible(true);
  const appkit::Point before = d->window()->frame().origin;

  // Base coordinates are bottom-up: (50, 150) is 50 below the content top.
  appkit::inject::mouseDown(d->window(), {50, 150});
  appkit::inject::handleQueued();
  EXPECT_TRUE(d->dragging());
  EXPECT_EQ(policy.seen, panel);
  EXPECT_EQ(policy.at, (Point{50, 50}));
  EXPECT_EQ(appkit::Cursor::current(), appkit::kCursorClosedHand);
  appkit::inject::mouseUp(d->window(), {50, 150});
  appkit::inject::handleQueued();
  EXPECT_FALSE(d->dragging());

  appkit::inject::drag(d->window(), {50, 150}, {80, 120}, 3);
  appkit::inject::handleQueued();
  EXPECT_EQ(d->window()->frame().origin, (appkit::Point{before.x + 30, before.y - 30}));
  EXPECT_EQ(appkit::Cursor::current(), appkit::kCursorArrow);

  // The bottom-right corner of a resizable window is the platform's.
  appkit::inject::mouseDown(d->window(), {295, 5});
  appkit::inject::handleQueued();
  EXPECT_FALSE(d->dragging());
}

TEST_F(MuDialogMacTest, ATransientDialogHidesWhenTheUserTurnsElsewhere) {
  // The application loop's application object asks its event filters.
  appkit::Application::reset();
  appkit::Application& app = *ui::AppLoopAppOC::sharedApplication();
  ASSERT_NE(dynamic_cast<ui::AppLoopAppOC*>(&app), nullptr);
  auto* mainMenu = new appkit::Menu("Main");
  app.setMainMenu(mainMenu);
  mainMenu->release();

  auto other = dialog(0, {200, 200});
  struct Presses : MuDialog::MouseDownCallback {
    bool mouseDown(MuDialog*) override { return ++count, false; }
    int count = 0;
  } presses;
  other->setMouseDownCallback(&presses);
  other->setPosition({500, 100});
  other->setVisible(true);
  auto popup = dialog(0x2000 | 0x400, {100, 80});
  popup->setPosition({10, 10});
  popup->setVisible(true);
  popup->window()->makeKeyWindow();

  appkit::inject::click(popup->window(), {20, 20});
  appkit::inject::handleQueued();
  EXPECT_TRUE(popup->isVisible());

  appkit::inject::mouseDown(other->window(), {20, 20});
  appkit::inject::handleQueued();
  EXPECT_FALSE(popup->isVisible());
  // The dismissing press stopped at the filter; the next one arrives.
  EXPECT_EQ(presses.count, 0);
  appkit::inject::mouseDown(other->window(), {20, 20});
  appkit::inject::handleQueued();
  EXPECT_EQ(presses.count, 1);

  // Shown again, a menu that begins tracking or the window losing the
  // keys hides it too.
  popup->setVisible(true);
  auto* menu = new appkit::Menu("Pop-up");
  menu->popUpMenuPositioningItem(nullptr, {0, 0}, nullptr);
  menu->release();
  EXPECT_FALSE(popup->isVisible());
  // Hidden, it is no filter any more: presses elsewhere arrive.
  appkit::inject::mouseDown(other->window(), {20, 20});
  appkit::inject::handleQueued();
  EXPECT_EQ(presses.count, 2);
  popup->setVisible(true);
  popup->window()->makeKeyWindow();
  other->window()->makeKeyWindow();
  EXPECT_FALSE(popup->isVisible());
}

TEST_F(MuDialogMacTest, TheApplicationMenuBarIsMadeOnceAndGoesWithTheDialog) {
  auto d = dialog(0);
  EXPECT_EQ(ui::MenuBar::instance(), nullptr);
  ui::MenuBar* bar = d->appMenuBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(d->appMenuBar(), bar);
  EXPECT_EQ(ui::MenuBar::instance(), bar);
  auto* mac = static_cast<ui::AppMenuBar*>(bar);
  EXPECT_EQ(appkit::Application::shared().mainMenu(), mac->mainMenu()->nsMenu());
  // Callers add the About item through it.
  ui::Menu::Item* about = bar->aboutItem(0);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(bar->aboutItem(3), about);
  d.reset();
  EXPECT_EQ(ui::MenuBar::instance(), nullptr);
}

TEST_F(MuDialogMacTest, KeyChangesAndAppearanceChangesReachTheObservers) {
  auto a = dialog(0), b = dialog(0);
  std::vector<std::string> log;
  Recorder recorder(log, "a");
  a->addObserver(&recorder);
  a->setVisible(true);
  b->setVisible(true);
  objc::NotificationCenter::distributedCenter().post(appkit::kInterfaceThemeChangedNotification, nullptr);
  std::vector<std::string> expected{"a:dlg:4", "a:dlg:5", "a:dlg:7"};
  std::vector<std::string> got;
  for (const std::string& entry : log)
    if (entry != "a:dlg:6") got.push_back(entry);
  EXPECT_EQ(got, expected);
  a->addObserver(&recorder, false);
}

TEST_F(MuDialogMacTest, PanelsPutTheirViewsInTheContentViewAndElementsAreFoundByView) {
  auto d = dialog(0, {300, 200});
  MuLayout* layout = MuLayout::create(d.get(), "rows", MuLayout::kVertical);
  MuFrame* frame = MuFrame::create(layout, "box", "Group", MuFrame::kTitled);
  MuElement* foreign = yarl_test::MuTestBackend::element(d.get(), "foreign");
  d->layoutNow();

  auto* layoutView = static_cast<MuLayoutMac*>(layout)->container();
  ASSERT_EQ(d->contentView()->subviews().size(), 1u);
  EXPECT_EQ(d->contentView()->subviews()[0], layoutView);
  EXPECT_EQ(nativeViewOf(foreign), nullptr);

  auto* background = static_cast<MuFrameMac*>(frame)->background();
  auto* leaf = new appkit::View(makeRect(0, 0, 5, 5));
  background->addSubview(leaf);
  leaf->release();
  EXPECT_EQ(elementForView(d.get(), leaf), frame);
  EXPECT_EQ(elementForView(d.get(), background), frame);
  EXPECT_EQ(elementForView(d.get(), layoutView), layout);
  EXPECT_EQ(elementForView(d.get(), d->contentView()), d.get());
  auto* stranger = new appkit::View;
  EXPECT_EQ(elementForView(d.get(), stranger), nullptr);
  stranger->release();

  d->remove(layout);
  EXPECT_TRUE(d->contentView()->subviews().empty());
}

}  // namespace
}  // namespace mui
