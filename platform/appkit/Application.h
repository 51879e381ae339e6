#pragma once
// Stands in for the platform's application object: the event queue, the
// main loop and its nested modal loops, the launching sequence, activation
// and key and main windows.
//
// The loops serve the calling thread's run loop (platform/runloop) while
// they wait, so descriptors, timers and IPC keep running inside modal
// sessions.  The queue has a descriptor of its own in that loop, and
// posting or stopping wakes it.  `stop` ends the innermost loop that runs
// (the main loop or a modal one) once the event being handled returns.
// An exception thrown by a handler leaves every loop it passes through,
// restoring the current event and the modal state, and reaches the caller
// of `run`.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/Window.h"

namespace runloop {
class Source;
}

namespace appkit {

// What the application tells its delegate.  AppKit-defined events that
// carry a window go to that window.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationWillFinishLaunching() {}
  virtual void applicationDidFinishLaunching() {}
  virtual void applicationDidBecomeActive() {}
  virtual void applicationDidResignActive() {}
  // The system's open-URL request.
  virtual void applicationOpenUrl(const char*) {}
  // 1 terminate now, 0 cancel.
  virtual int applicationShouldTerminate() { return 1; }
  virtual void applicationWillTerminate() {}
  // The system asks these directly; the façade itself never does.
  virtual bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
  virtual bool applicationOpenFile(objc::String*) { return false; }
  virtual bool applicationShouldHandleReopen(bool /*hasVisibleWindows*/) { return true; }
};

class ModalSession;
class Menu;
class DockTile;
class Image;

class Application : public Responder {
 public:
  // The shared application (made on first use); `install` replaces it
  // with an instance of a subclass before first use.
  static Application& shared();
  // The shared application when one was made, else null.
  static Application* current() noexcept;
  static void install(Application* app);
  // Drops the shared application and everything it holds (tests).
  static void reset();

  Application();

  ApplicationDelegate* delegate() const noexcept { return delegate_; }
  void setDelegate(ApplicationDelegate* delegate) noexcept { delegate_ = delegate; }
  // Sees every event first; answering true consumes it.
  void setEventFilter(std::function<bool(Event*)> filter) { filter_ = std::move(filter); }

  // Global monitors see the events of other applications (never this
  // one's); the answer identifies the monitor for removal.
  long addGlobalMonitor(uint64_t mask, std::function<void(Event*)> handler);
  void removeMonitor(long id);

  // The main loop: finishes launching once, then handles events until
  // stop.  Re-entrant.
  void run();
  void finishLaunching();
  bool isRunning() const noexcept { return depth_ > 0; }
  // Loops running now, the main loop and the modal ones nested in it.
  int loopDepth() const noexcept { return depth_; }
  bool didFinishLaunching() const noexcept { return launched_; }
  // Ends the innermost loop after the current event.
  void stop(objc::Object* sender);
  void terminate(objc::Object* sender);
  bool terminated() const noexcept { return terminated_; }

  // Queue.  The application keeps a reference to a posted event until it
  // has been handled.
  void postEvent(Event* event, bool atStart);
  // The next event matching the mask, waiting at most timeoutMs
  // (negative: until one comes or the loop is stopped); null when none.
  // Dequeued, autoreleased.
  Event* nextEvent(uint64_t mask, int timeoutMs, bool dequeue = true);
  void discardEvents(uint64_t mask);
  // Drops the queued events the predicate picks.
  void discardEvents(const std::function<bool(Event*)>& match);
  size_t queuedEvents() const noexcept { return queue_.size(); }
  Event* currentEvent() const noexcept { return current_; }
  // Delivers an event: the filter, then the window or the application.
  virtual void sendEvent(Event* event);

  // Actions: to the target, or with a null target along the key window's
  // responder chain, then the main window's, then to the application and
  // its delegate target.  False when no one answered.
  bool sendAction(Sel action, ActionTarget* target, objc::Object* sender);
  ActionTarget* targetForAction(Sel action);
  // The application's own action target beyond itself (its delegate's).
  void setDelegateTarget(ActionTarget* target) noexcept { delegateTarget_ = target; }

  // Modal loops.  runModalForWindow handles events until stopModal or
  // abortModal; events of other windows than the modal one (and its
  // sheets and children) are dropped, application-defined events pass.
  // The window is held while its loop runs.
  long runModalForWindow(Window* window);
  // End the innermost modal loop.
  void stopModal();
  void stopModalWithCode(long code);
  void abortModal();
  // End the innermost modal session of the window, whichever loop is
  // innermost: a loop with others nested in it ends once they have
  // returned, and a session without a loop of its own (beginModalSession)
  // answers the code from its next runModalSession.  Nothing when the
  // window runs no session.
  void stopModalForWindow(Window* window);
  void stopModalForWindowWithCode(Window* window, long code);
  ModalSession* beginModalSession(Window* window);
  // Handles the waiting events once; kModalResponseContinue while the
  // session goes on.
  long runModalSession(ModalSession* session);
  void endModalSession(ModalSession* session);
  Window* modalWindow() const noexcept;
  // Sheets: a sheet is a document-modal window shown over its parent.
  void beginSheet(Window* sheet, Window* parent);
  void endSheet(Window* sheet);

  // Activation.  The policy (Constants.h) is only recorded.
  long activationPolicy() const noexcept { return activationPolicy_; }
  void setActivationPolicy(long policy) noexcept { activationPolicy_ = policy; }
  bool isActive() const noexcept { return active_; }
  void activateIgnoringOtherApps(bool flag);
  void deactivate();
  bool isFullKeyboardAccessEnabled() const noexcept { return fullKeyboardAccess_; }
  void setFullKeyboardAccessEnabled(bool enabled) noexcept { fullKeyboardAccess_ = enabled; }

  // Windows, front to back.
  const std::vector<Window*>& orderedWindows() const noexcept { return windows_; }
  Window* keyWindow() const noexcept { return key_; }
  Window* mainWindow() const noexcept { return main_; }
  Window* windowWithNumber(long number) const noexcept;
  // The application's count of beeps.
  int beeps() const noexcept { return beeps_; }
  void beep() noexcept { ++beeps_; }

  // The system's open-URL request: before launching has finished it is
  // delivered between will- and did-finish-launching, afterwards as an
  // event in the queue.
  void openUrl(const char* url);

  // The menu bar's menu, the application menu and the Window menu, each
  // retained.
  Menu* mainMenu() const noexcept { return mainMenu_; }
  void setMainMenu(Menu* menu);
  Menu* appleMenu() const noexcept { return appleMenu_; }
  void setAppleMenu(Menu* menu);
  Menu* windowsMenu() const noexcept { return windowsMenu_; }
  void setWindowsMenu(Menu* menu);
  // The main menu's key equivalents: asked for key-downs with Command or
  // Control and for the function keys, after the key window's views.
  bool performMenuKeyEquivalent(Event* event);
  // The Dock tile, made on first use.
  DockTile* dockTile();
  // The application's icon: a generic one until the program sets another
  // (retained).
  Image* applicationIconImage();
  void setApplicationIconImage(Image* image);

  // Hiding, recorded: hide: hides the application (and deactivates it),
  // unhideAllApplications: shows it again, hideOtherApplications: counts.
  bool isHidden() const noexcept { return hidden_; }
  void hide(objc::Object* sender);
  void unhideAllApplications(objc::Object* sender);
  // Brings every visible window forward, keeping their order.
  void arrangeInFront(objc::Object* sender);
  int otherApplicationsHidden() const noexcept { return othersHidden_; }

  bool respondsToAction(Sel action) const override;
  void performAction(Sel action, objc::Object* sender) override;

 protected:
  ~Application() override;

 private:
  friend class Window;
  friend class ModalSession;
  struct Loop;
  // Handles events until the loop's flag is set; rethrows what a handler
  // threw after restoring the state.
  void runLoop(Loop& loop);
  void wake();
  void drainWake();
  bool passesModal(Event* e) const;
  void dispatchOpenUrl(const char* url);
  // Window bookkeeping.
  void windowOrderedFront(Window* w);
  void windowOrderedOut(Window* w);
  void windowGone(Window* w);
  void setKeyWindow(Window* w);
  void setMainWindow(Window* w);

  ApplicationDelegate* delegate_ = nullptr;
  ActionTarget* delegateTarget_ = nullptr;
  std::function<bool(Event*)> filter_;
  struct Monitor {
    long id;
    uint64_t mask;
    std::function<void(Event*)> handler;
  };
  std::vector<Monitor> monitors_;
  long nextMonitor_ = 1;
  std::deque<objc::Ref<Event>> queue_;
  Event* current_ = nullptr;
  Loop* innermost_ = nullptr;
  int depth_ = 0;
  std::vector<ModalSession*> modal_;
  std::vector<Window*> windows_;
  Window* key_ = nullptr;
  Window* main_ = nullptr;
  std::vector<plat::CharArray> pendingUrls_;
  int wakeFd_ = -1;
  runloop::Source* wakeSource_ = nullptr;
  bool launched_ = false;
  bool launching_ = false;
  bool active_ = false;
  bool terminated_ = false;
  bool fullKeyboardAccess_ = false;
  int beeps_ = 0;
  long activationPolicy_ = 0;
  objc::Ref<Menu> mainMenu_;
  objc::Ref<Menu> appleMenu_;
  objc::Ref<Menu> windowsMenu_;
  objc::Ref<DockTile> dockTile_;
  objc::Ref<Image> iconImage_;
  bool hidden_ = false;
  int othersHidden_ = 0;
};

class ModalSession {
 public:
  Window* window() const noexcept { return window_; }
  long response() const noexcept { return response_; }

 private:
  friend class Application;
  explicit ModalSession(Window* window) : window_(window) {}
  Window* window_;
  long response_ = kResponseNone;
  static constexpr long kResponseNone = 0x7fffffff;
};

}  // namespace appkit
