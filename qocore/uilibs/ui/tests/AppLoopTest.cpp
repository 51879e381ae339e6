#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Alert.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Window.h"
#include "platform/objc/NotificationCenter.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/unix/SignalHandler.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/uilibs/ui/mac/ActionTarget.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "qocore/uilibs/ui/mac/MsgBox.h"
#include "testing/DesktopFixtures.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"
#include "testing/StderrCapture.h"

namespace {

using appkit::Application;
using appkit::Event;

Event* appEvent(short subtype) {
  return Event::otherEvent(appkit::kEventApplicationDefined, {}, 0, 0, 0, subtype, 0, 0);
}

void post(short subtype) { Application::shared().postEvent(appEvent(subtype), false); }

// A filter that hands the test's own application-defined events (subtypes
// below 100) to a function; the loop's own events pass.
class FnFilter : public ui::AppEventFilter {
 public:
  std::function<bool(Event*)> onEvent = [](Event*) { return false; };
  uint64_t mask = 0;
  std::vector<std::string>* log = nullptr;
  std::string name;

  bool filterAppEvent(Event* e) override {
    if (log) log->push_back(name + " " + std::to_string(e->type()));
    if (e->type() != appkit::kEventApplicationDefined || e->subtype() >= 100) return false;
    return onEvent(e);
  }
  uint64_t appEventMask() override { return mask; }
  void filterNotice(Event* e) override {
    if (log) log->push_back(name + " notice " + std::to_string(e->type()));
  }
  void menuTrackingBegan() override {
    if (log) log->push_back(name + " menu");
  }
};

class RecordingDelegate : public ui::AppDelegate {
 public:
  std::vector<std::string> log;
  bool answer = true;
  void didFinishLaunching() override { log.push_back("launched"); }
  void didBecomeActive() override { log.push_back("active"); }
  bool shouldTerminate() override {
    log.push_back("should terminate");
    return answer;
  }
  bool terminateAfterLastWindowClosed() override { return answer; }
  bool openFile(objc::String* name) override {
    log.push_back(std::string("open file ") + name->utf8());
    return answer;
  }
  bool reopen(bool visible, const char* sender) override {
    log.push_back(std::string("reopen ") + (visible ? "visible " : "hidden ") + (sender ? sender : "null"));
    return answer;
  }
  void openUrl(objc::String* url) override { log.push_back(std::string("url ") + url->utf8()); }
};

// Records the notifications it observes.
class NoticeRecorder : public objc::Object {
 public:
  explicit NoticeRecorder(std::vector<std::string>* log) : log_(log) {}
  void perform(const char*, objc::Object* argument) override {
    log_->push_back(static_cast<objc::Notification*>(argument)->name());
  }

 private:
  std::vector<std::string>* log_;
};

class AppLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    loop_ = std::make_unique<ui::AppLoop>();
  }
  void TearDown() override {
    appkit::inject::setAlertScript(nullptr);
    loop_.reset();
    Application::reset();
  }
  ui::AppLoopAppOC* oc() { return dynamic_cast<ui::AppLoopAppOC*>(&Application::shared()); }

  std::unique_ptr<ui::AppLoop> loop_;
};

TEST_F(AppLoopTest, TheLoopRunsTheProgramsOwnApplicationObject) {
  ASSERT_NE(oc(), nullptr);
  EXPECT_EQ(Application::shared().delegate(), oc());
  EXPECT_NE(loop_->impl(), nullptr);
  EXPECT_EQ(qoutil::imageScale(), 1);
}

TEST_F(AppLoopTest, QuitWaitsBehindTheQueuedEventsAndRunAnswersItsCode) {
  std::vector<std::string> seen;
  auto* recorder = new NoticeRecorder(&seen);
  objc::NotificationCenter::defaultCenter().addObserver(
      recorder, "terminating:", "NSApplicationWillTerminateNotification", nullptr);
  plat::ScopeExit unobserve([recorder] {
    objc::NotificationCenter::defaultCenter().removeObserver(recorder);
    recorder->release();
  });
  FnFilter filter;
  filter.onEvent = [&](Event* e) {
    seen.push_back(std::to_string(e->subtype()));
    if (e->subtype() == 1) {
      post(2);
      post(3);
      os::AppLoop::quit(7);
      post(4);
    }
    return true;
  };
  filter.setEnabled(true);
  post(1);
  EXPECT_EQ(loop_->run(), 7);
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "NSApplicationWillTerminateNotification"}));
  // Only the event posted after the request is left: the wake is gone.
  EXPECT_EQ(Application::shared().queuedEvents(), 1u);
  filter.setEnabled(false);
}

TEST_F(AppLoopTest, SigtermInAMessageBoxInsideAModalDialogEndsEveryLoop) {
  struct Quitter : os::SignalHandler::Callback {
    void handleSignal(int) override { os::AppLoop::quit(143); }
  } quitter;
  os::SignalHandler::instance().addCallback(SIGTERM, &quitter, true);
  plat::ScopeExit unregister([&quitter] { os::SignalHandler::instance().addCallback(SIGTERM, &quitter, false); });

  Application& app = Application::shared();
  auto* dialog = new appkit::Window(appkit::makeRect(100, 100, 400, 300), appkit::kWindowStyleTitled);
  plat::ScopeExit releaseDialog([dialog] { dialog->release(); });
  std::vector<std::string> steps;
  appkit::inject::setAlertScript([&](appkit::Alert* alert) {
    steps.push_back(std::string("alert ") + alert->informativeText());
    // The signal arrives while the box waits for an answer.
    ::raise(SIGTERM);
    return 0L;
  });
  FnFilter filter;
  filter.onEvent = [&](Event* e) {
    if (e->subtype() == 1) {
      post(2);
      steps.push_back("dialog " + std::to_string(app.runModalForWindow(dialog)));
    } else if (e->subtype() == 2) {
      steps.push_back(std::string("box ") + (ui::msgBox(nullptr, "Really?", ui::kMsgBoxYesNo, nullptr) ? "yes" : "no"));
    }
    return true;
  };
  filter.setEnabled(true);
  post(1);
  EXPECT_EQ(loop_->run(), 143);
  EXPECT_EQ(steps, (std::vector<std::string>{"alert Really?", "box no",
                                             "dialog " + std::to_string(appkit::kModalResponseStop)}));
  EXPECT_FALSE(app.isRunning());
  EXPECT_EQ(app.modalWindow(), nullptr);
  EXPECT_EQ(app.queuedEvents(), 0u);
  filter.setEnabled(false);
}

TEST_F(AppLoopTest, TerminateQuitsWithZeroUnlessTheDelegateRefuses) {
  struct Case {
    bool withDelegate;
    bool answer;
    int code;
  };
  const Case cases[] = {{false, true, 0}, {true, true, 0}, {true, false, 5}};
  for (const Case& c : cases) {
    std::unique_ptr<RecordingDelegate> delegate;
    if (c.withDelegate) {
      delegate = std::make_unique<RecordingDelegate>();
      delegate->answer = c.answer;
    }
    FnFilter filter;
    filter.onEvent = [](Event* e) {
      if (e->subtype() == 1) {
        // The Quit menu item: a nil-targeted terminate:.
        EXPECT_TRUE(Application::shared().sendAction(appkit::selector("terminate:"), nullptr, nullptr));
        post(2);
      } else {
        os::AppLoop::quit(5);
      }
      return true;
    };
    filter.setEnabled(true);
    post(1);
    EXPECT_EQ(loop_->run(), c.code) << c.withDelegate << c.answer;
    if (delegate) {
      EXPECT_EQ(delegate->log.back(), "should terminate");
    }
    filter.setEnabled(false);
    Application::shared().discardEvents(appkit::kEventMaskAny);
  }
}

TEST_F(AppLoopTest, FiltersSeeEventsFirstAndMayConsumeThem) {
  Application& app = Application::shared();
  std::vector<std::string> log;
  app.setEventFilter([&log](Event*) {
    log.push_back("platform");
    return false;
  });
  int registrations = objc::NotificationCenter::defaultCenter().registrationCount();
  // Filters are asked in address order: the array's order.
  FnFilter filters[2];
  filters[0].name = "a";
  filters[1].name = "b";
  for (FnFilter& f : filters) {
    f.log = &log;
    f.setEnabled(true);
  }
  filters[0].setEnabled(true);
  EXPECT_EQ(objc::NotificationCenter::defaultCenter().registrationCount(), registrations + 1);

  filters[0].onEvent = [](Event*) { return true; };
  app.sendEvent(appEvent(1));
  EXPECT_EQ(log, (std::vector<std::string>{"a 15"}));

  // A filter that unregisters itself and the other: neither is asked
  // again, the platform still is, and the menu observer goes.
  log.clear();
  filters[0].onEvent = [&filters](Event*) {
    filters[1].setEnabled(false);
    filters[0].setEnabled(false);
    return false;
  };
  app.sendEvent(appEvent(1));
  EXPECT_EQ(log, (std::vector<std::string>{"a 15", "platform"}));
  EXPECT_EQ(objc::NotificationCenter::defaultCenter().registrationCount(), registrations);
  app.setEventFilter(nullptr);
}

TEST_F(AppLoopTest, AFilterThatRunsANestedLoopLeavesTheLaterFiltersTheirTurn) {
  Application& app = Application::shared();
  std::vector<std::string> log;
  app.setEventFilter([&log](Event* e) {
    if (e->type() == appkit::kEventApplicationDefined) log.push_back("platform " + std::to_string(e->subtype()));
    return false;
  });
  // Asked in address order: the first asks a question from its callback;
  // inside the question's loop it unregisters the second; the third
  // consumes the event.
  FnFilter filters[3];
  appkit::inject::setAlertScript([](appkit::Alert*) {
    post(2);
    return 0L;
  });
  filters[0].onEvent = [&](Event* e) {
    if (e->subtype() == 2) {
      filters[1].setEnabled(false);
      appkit::inject::key(36, "\r");
      return true;
    }
    log.push_back(std::string("a ") + (ui::msgBox(nullptr, "Sure?", ui::kMsgBoxYesNo, nullptr) ? "yes" : "no"));
    return false;
  };
  filters[1].onEvent = [&log](Event*) {
    log.push_back("b");
    return false;
  };
  filters[2].onEvent = [&log](Event*) {
    log.push_back("c");
    return true;
  };
  for (FnFilter& f : filters) f.setEnabled(true);
  app.sendEvent(appEvent(1));
  EXPECT_EQ(log, (std::vector<std::string>{"a yes", "c"}));
  EXPECT_EQ(app.queuedEvents(), 0u);
  for (FnFilter& f : filters) f.setEnabled(false);
  app.setEventFilter(nullptr);
}

TEST_F(AppLoopTest, MonitorsAndMenuTrackingReachTheFilters) {
  std::vector<std::string> log;
  auto* mainMenu = new appkit::Menu("Main");
  Application::shared().setMainMenu(mainMenu);
  mainMenu->release();
  FnFilter watching, quiet;
  watching.name = "watching";
  watching.mask = appkit::eventMaskFor(appkit::kEventLeftMouseDown);
  quiet.name = "quiet";
  for (FnFilter* f : {&watching, &quiet}) {
    f->log = &log;
    f->setEnabled(true);
  }
  // A second enable installs no second monitor.
  watching.setEnabled(true);
  appkit::inject::foreignMouseDown({10, 10});
  appkit::inject::handleQueued();
  EXPECT_EQ(log, (std::vector<std::string>{"watching notice 1"}));

  log.clear();
  // A pop-up menu begins tracking as the main menu does.
  auto* popUp = new appkit::Menu("Pop-up");
  popUp->popUpMenuPositioningItem(nullptr, {0, 0}, nullptr);
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (std::vector<std::string>{"quiet menu", "watching menu"}));
  // The same name from another object is not the main menu's.
  log.clear();
  objc::NotificationCenter::defaultCenter().post(appkit::kMenuDidBeginTrackingNotification, popUp);
  EXPECT_TRUE(log.empty());
  popUp->release();

  // A filter destroyed while registered leaves no monitor behind.
  log.clear();
  {
    FnFilter gone;
    gone.mask = watching.mask;
    gone.name = "gone";
    gone.log = &log;
    gone.setEnabled(true);
  }
  watching.setEnabled(false);
  quiet.setEnabled(false);
  appkit::inject::foreignMouseDown({10, 10});
  appkit::inject::handleQueued();
  EXPECT_TRUE(log.empty());
}

TEST_F(AppLoopTest, PlatformMessagesReachTheCurrentDelegate) {
  ui::AppLoopAppOC* app = oc();
  EXPECT_FALSE(app->applicationShouldTerminateAfterLastWindowClosed());
  EXPECT_FALSE(app->applicationOpenFile(nullptr));
  EXPECT_TRUE(app->applicationShouldHandleReopen(false));
  {
    RecordingDelegate delegate;
    delegate.answer = false;
    EXPECT_FALSE(app->applicationShouldTerminateAfterLastWindowClosed());
    EXPECT_FALSE(app->applicationShouldHandleReopen(true));
    delegate.answer = true;
    objc::String* name = os::nsStringFromUtf8("/tmp/a file");
    EXPECT_TRUE(app->applicationOpenFile(name));
    EXPECT_TRUE(app->applicationShouldTerminateAfterLastWindowClosed());
    app->applicationOpenUrl("yarl://x?y=1");
    app->applicationDidBecomeActive();
    app->applicationDidFinishLaunching();
    EXPECT_EQ(delegate.log, (std::vector<std::string>{"reopen visible null", "open file /tmp/a file",
                                                      "url yarl://x?y=1", "active", "launched"}));
  }
  // The last delegate is gone: an opened URL has no one to go to.
  yarl_test::StderrCapture err;
  app->applicationOpenUrl("yarl://lost");
  EXPECT_NE(err.stop().find("Internal error: no AppDelegate for URL scheme handler\n"), std::string::npos);
}

class Counter : public ui::ActionCallback {
 public:
  void action(objc::Object* sender) override {
    log.push_back("action");
    if (throws) throw plat::Exception("callback failed");
    EXPECT_EQ(sender, expected);
  }
  void doubleClick(objc::Object*) override { log.push_back("double"); }
  std::vector<std::string> log;
  objc::Object* expected = nullptr;
  bool throws = false;
};

TEST_F(AppLoopTest, ActionTargetsForwardToTheirCallback) {
  Counter counter;
  auto* control = new appkit::Control;
  plat::ScopeExit releaseControl([control] { control->release(); });
  counter.expected = control;
  {
    ui::ActionTarget target(&counter, control);
    EXPECT_TRUE(control->sendAction(control->action(), control->target()));
    EXPECT_TRUE(control->sendAction(appkit::selector("doubleClick:"), control->target()));
    EXPECT_EQ(counter.log, (std::vector<std::string>{"action", "double"}));

    yarl_test::LogCapture capture;
    counter.throws = true;
    control->sendAction(control->action(), control->target());
    EXPECT_EQ(capture.from("ActionCxx"),
              (std::vector<yarl_test::LogRecord>{{"ActionCxx", 0, "Unhandled exception: callback failed"}}));
    // Without its callback the object does nothing.
    target.object()->cxx = nullptr;
    counter.log.clear();
    control->sendAction(control->action(), control->target());
    EXPECT_TRUE(counter.log.empty());
  }
}

// The launching sequence ends the process, so each case runs in a forked
// child.  The program's own path leads to a script that records the
// arguments of the copy.
class UrlLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "fast");
    ASSERT_EQ(::symlink(recorder_.path(), link_.c_str()), 0);
  }
  // In the child: the loop, the handler, the URL before or after launching
  // has finished; exits with run's code.
  [[noreturn]] void child(const char* exe, bool beforeLaunching) {
    os::setExecutablePathSource(exe);
    // The handler's messages go to standard error, where the parent reads
    // them; the process ends without destroying the capture.
    new yarl_test::LogCapture("AppDelegateUrlHandler:capture:100", [](const char* source, int, const char* text) {
      std::fprintf(stderr, "%s: %s\n", source, text);
    });
    Application::reset();
    ui::AppLoop loop;
    ui::AppDelegateUrlHandler handler;
    FnFilter filter;
    filter.onEvent = [](Event* e) {
      if (e->subtype() == 1) {
        Application::shared().openUrl(kUrl);
        post(2);
      } else {
        os::AppLoop::quit(9);
      }
      return true;
    };
    filter.setEnabled(true);
    if (beforeLaunching)
      Application::shared().openUrl(kUrl);
    else
      post(1);
    std::exit(loop.run());
  }

  static constexpr const char* kUrl = "yarl://callback/install?state=abc&server=t1";
  yarl_test::TempDir dir_;
  yarl_test::RecordingOpener recorder_;
  std::string link_ = dir_ / "exe";
};

TEST_F(UrlLaunchTest, BeforeLaunchingHasFinishedTheCopyStartsAndTheProcessEnds) {
  EXPECT_EXIT(child(link_.c_str(), true), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(recorder_.wait(), std::string("2\n-uri\n") + kUrl + "\n");
}

TEST_F(UrlLaunchTest, AfterLaunchingTheCopyStartsAndTheProcessGoesOn) {
  EXPECT_EXIT(child(link_.c_str(), false), ::testing::ExitedWithCode(9), "");
  EXPECT_EQ(recorder_.wait(), std::string("2\n-uri\n") + kUrl + "\n");
}

TEST_F(UrlLaunchTest, ACopyThatCannotStartIsLoggedAndEndsAnUnlaunchedProcessWithOne) {
  // The program's path leads to a file that cannot be executed.
  std::string broken = dir_ / "broken";
  ASSERT_EQ(::symlink(dir_.write("data", "not a program\n").c_str(), broken.c_str()), 0);
  EXPECT_EXIT(child(broken.c_str(), true), ::testing::ExitedWithCode(1), "Unhandled exception: .*execve");
  // After launching the failure is only logged.
  EXPECT_EXIT(child(broken.c_str(), false), ::testing::ExitedWithCode(9), "Unhandled exception: .*execve");
  EXPECT_FALSE(recorder_.ran());
}

// The display scale is taken once per process, so the case runs in a
// fresh copy of the test program.
TEST(AppLoopScaleTest, TheImageScaleAndActivationPolicyAreSetWhenTheLoopIsBuilt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Application::reset();
        appkit::inject::mainDisplay(1280, 800, 2);
        ui::AppLoop::setAccessory(true);
        ui::AppLoop loop;
        bool ok =
            qoutil::imageScale() == 2 && Application::shared().activationPolicy() == appkit::kActivationPolicyAccessory;
        ui::AppLoop::setAccessory(false);
        ok = ok && Application::shared().activationPolicy() == appkit::kActivationPolicyRegular;
        std::exit(ok ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(AppLoopDeathTest, AnApplicationObjectOfAnotherClassIsAnAssertionFailure) {
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        Application::reset();
        Application::shared();
        ui::AppLoop loop;
      },
      ::testing::KilledBySignal(SIGABRT),
      "Assertion '\\[NSApp isKindOfClass:\\[AppLoopAppOC class\\]\\] && NSApp == oc' failed");
}

}  // namespace
