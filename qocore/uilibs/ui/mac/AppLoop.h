#pragma once
// The application loop of every process that shows a window, and the
// bridge through which the platform's application object reaches the
// program.
//
// ui::AppLoop is the os::AppLoop whose implementation runs the platform's
// application object, an AppLoopAppOC (the program's own subclass, its own
// delegate).  That object forwards launching, activation, termination,
// open-file, reopen and open-URL events to the one current ui::AppDelegate,
// lets the registered ui::AppEventFilter objects see every event first,
// and stops on a quit request in two steps: os::AppLoop::quit posts a
// request event behind the events already waiting; when it is handled the
// will-terminate notification is posted, the innermost loop is stopped and
// a wake event is posted, which stops each enclosing loop in turn, so a
// quit inside a modal dialog or an alert ends every loop and run returns
// the code given to quit.
//
// ui::AppDelegateUrlHandler hands every opened URL to a new copy of the
// program started with "-uri"; a URL that arrives before launching has
// finished (the system started this process to deliver it) ends the
// process once the copy is started.  Main thread only.

#include <cstdint>

#include "platform/appkit/Application.h"
#include "qocore/base/os/AppLoop.h"

namespace ui {

class AppDelegate;
class AppLoopImpl;

class AppLoop : public os::AppLoop {
 public:
  AppLoop();
  ~AppLoop() override;

  // The loop's implementation; an assertion failure ("t", "%s is null")
  // when there is none or it is of another class.
  AppLoopImpl* impl();
  // Replaces the current delegate (null: none).  Called by ui::AppDelegate.
  static void setAppDelegate(AppDelegate* delegate) noexcept;
  // Accessory mode: no Dock icon and no menu bar of its own.  Applied at
  // once when the loop exists, else when it is built.
  static void setAccessory(bool accessory);
};

class AppLoopImpl : public os::AppLoopImpl {
 public:
  AppLoopImpl();
  ~AppLoopImpl() override;

  // Runs the application object; answers the code given to quit.
  int run() override;
  // Queues the quit request behind the waiting events.
  void quit() override;
};

// The receiver of application events.  Constructing one makes it the
// process's delegate (the last constructed wins); destroying it leaves
// none.
class AppDelegate {
 public:
  AppDelegate();
  virtual ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  virtual void didFinishLaunching() = 0;
  virtual void didBecomeActive() {}
  virtual bool shouldTerminate() { return true; }
  virtual bool terminateAfterLastWindowClosed() { return false; }
  // True when the file was opened.
  virtual bool openFile(objc::String* /*fileName*/) { return false; }
  // `sender` is the sender's address in UTF-8, or null.
  virtual bool reopen(bool /*hasVisibleWindows*/, const char* /*sender*/) { return true; }
  virtual void openUrl(objc::String* url) = 0;
};

// Sees application events before the platform dispatches them.  A filter
// is registered between setEnabled(true) and setEnabled(false).
class AppEventFilter {
 public:
  AppEventFilter() = default;
  // A filter still registered is unregistered, so no event reaches it
  // after it is gone.
  virtual ~AppEventFilter();
  AppEventFilter(const AppEventFilter&) = delete;
  AppEventFilter& operator=(const AppEventFilter&) = delete;

  // True consumes the event: later filters and the platform do not see it.
  virtual bool filterAppEvent(appkit::Event* event) = 0;
  // The events of other applications wanted through a global monitor (0:
  // none).
  virtual uint64_t appEventMask() { return 0; }
  // Another application's event that matched the mask.
  virtual void filterNotice(appkit::Event* /*event*/) {}
  // The main menu began tracking.
  virtual void menuTrackingBegan() {}

  void setEnabled(bool enabled);

 private:
  long monitor_ = 0;
};

// Hands every opened URL to a new copy of the program with "-uri".
class AppDelegateUrlHandler : public AppDelegate {
 public:
  void didFinishLaunching() override;
  // Starts the copy (a failure is logged).  Before launching has finished
  // the process then ends: with 0, or with 1 when the copy could not be
  // started and the URL is lost.
  void openUrl(objc::String* url) override;
};

// The application object's class (tests reach it through
// appkit::Application::shared()).
class AppLoopAppOC : public appkit::Application, public appkit::ApplicationDelegate {
 public:
  // The shared application, made of this class when none exists yet.
  static appkit::Application* sharedApplication();

  void sendEvent(appkit::Event* event) override;
  bool respondsToAction(appkit::Sel action) const override;
  void performAction(appkit::Sel action, objc::Object* sender) override;
  void perform(const char* selector, objc::Object* argument) override;

  void applicationWillFinishLaunching() override;
  void applicationDidFinishLaunching() override;
  void applicationDidBecomeActive() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  bool applicationOpenFile(objc::String* fileName) override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
  // getUrl:withReplyEvent:.
  void applicationOpenUrl(const char* url) override;

 protected:
  ~AppLoopAppOC() override = default;
};

}  // namespace ui
