#pragma once
// The bridge between a native window and the toolkit's window logic: what
// the platform asks of, or reports about, a window goes to one
// ui::WindowDelegate.  Also the operations that bring a window forward and
// place it in top-down coordinates, and ui::ViewNotifyCxx, which turns a
// view's frame-change notification into a call on a ui::ViewNotify.
//
// The native objects may outlive the toolkit's: every path that ends the
// toolkit side first clears their `cxx` pointers, and every forwarding
// method tests `cxx` before use.  Main thread only.

#include <cstdint>

#include "platform/appkit/Screen.h"
#include "platform/appkit/Window.h"
#include "platform/objc/Ref.h"
#include "qocore/base/os/mac/NSUtil.h"

namespace ui {

// Answers for one native window.  Each operation gets the window first.
class WindowDelegate {
 public:
  virtual ~WindowDelegate();
  virtual bool canBecomeKeyWindow(appkit::Window* window) = 0;
  virtual bool canBecomeMainWindow(appkit::Window* window) = 0;
  // True when the event was handled and must not reach the window.
  virtual bool handleWindowEvent(appkit::Window* window, appkit::Event* event) = 0;
  virtual appkit::Rect constrainFrameRect(appkit::Window* window, appkit::Rect frame, appkit::Screen* screen) = 0;
  virtual appkit::Rect willPositionSheet(appkit::Window* window, appkit::Window* sheet, appkit::Rect rect) = 0;
  virtual void windowDidEndSheet(appkit::Window* window) = 0;
  virtual appkit::Size windowWillResize(appkit::Window* window, appkit::Size size) = 0;
  virtual void windowDidResize(appkit::Window* window) = 0;
  virtual void windowDidMiniaturize(appkit::Window* window) = 0;
  virtual void windowDidDeminiaturize(appkit::Window* window) = 0;
  virtual void windowWillMove(appkit::Window* window) = 0;
  virtual void windowDidMove(appkit::Window* window) = 0;
  // False refuses the close.
  virtual bool windowShouldClose(appkit::Window* window) = 0;
  virtual void windowWillClose(appkit::Window* window) = 0;
  virtual void windowDidBecomeKey(appkit::Window* window) = 0;
  virtual void windowDidResignKey(appkit::Window* window) = 0;
  virtual void windowWillEnterFullScreen(appkit::Window* window) = 0;
  virtual void windowDidEnterFullScreen(appkit::Window* window) = 0;
  virtual void windowWillExitFullScreen(appkit::Window* window) = 0;
  virtual void windowDidExitFullScreen(appkit::Window* window) = 0;
  virtual unsigned long willUseFullScreenPresentationOptions(appkit::Window* window, unsigned long options) = 0;

  // Set when the window's controls must draw as active although the
  // window is not key (child windows).
  bool childWindowFlag = false;
};

// The native window class: asks its delegate before the platform's rules.
class WindowOC : public appkit::Window {
 public:
  using appkit::Window::Window;

  bool canBecomeKeyWindow() override;
  bool canBecomeMainWindow() override;
  // The platform's own rule for becoming main.
  bool superCanBecomeMain();
  void sendEvent(appkit::Event* event) override;
  bool hasActiveControls() override;
  appkit::Rect constrainFrameRect(appkit::Rect frame, appkit::Screen* screen) override;

  WindowDelegate* cxx = nullptr;

 protected:
  ~WindowOC() override = default;
};

// The object the platform holds as the window's delegate.
class WindowDelegateOC : public objc::Object, public appkit::WindowDelegate {
 public:
  appkit::Rect willPositionSheet(appkit::Window* window, appkit::Window* sheet, appkit::Rect rect) override;
  void windowDidEndSheet(appkit::Window* window) override;
  appkit::Size windowWillResize(appkit::Window* window, appkit::Size size) override;
  void windowDidResize(appkit::Window* window) override;
  void windowDidMiniaturize(appkit::Window* window) override;
  void windowDidDeminiaturize(appkit::Window* window) override;
  void windowWillMove(appkit::Window* window) override;
  void windowDidMove(appkit::Window* window) override;
  bool windowShouldClose(appkit::Window* window) override;
  void windowWillClose(appkit::Window* window) override;
  void windowDidBecomeKey(appkit::Window* window) override;
  void windowDidResignKey(appkit::Window* window) override;
  void windowWillEnterFullScreen(appkit::Window* window) override;
  void windowDidEnterFullScreen(appkit::Window* window) override;
  void windowWillExitFullScreen(appkit::Window* window) override;
  void windowDidExitFullScreen(appkit::Window* window) override;
  unsigned long willUseFullScreenPresentationOptions(appkit::Window* window, unsigned long options) override;

  ui::WindowDelegate* cxx = nullptr;

 protected:
  ~WindowDelegateOC() override = default;
};

// Installs a delegate object on any window for as long as it lives.
class WindowDelegateBridge {
 public:
  WindowDelegateBridge(WindowDelegate* delegate, appkit::Window* window);
  ~WindowDelegateBridge();
  WindowDelegateBridge(const WindowDelegateBridge&) = delete;
  WindowDelegateBridge& operator=(const WindowDelegateBridge&) = delete;
  WindowDelegateOC* object() const noexcept { return object_; }

 private:
  objc::Ref<WindowDelegateOC> object_;
  appkit::Window* window_;
};

// Owns one native window answered for by a delegate (none: the window
// keeps the platform's rules and never becomes key).
class Window {
 public:
  // A new buffered window of the style; never released by the platform
  // on close.
  Window(WindowDelegate* delegate, appkit::Rect contentRect, uint64_t styleMask, bool defer);
  // Takes a reference to a window that exists already.
  Window(WindowDelegate* delegate, WindowOC* window);
  // Lets go of the delegate first, then closes and releases the window.
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  appkit::Window* nativeWindow() const noexcept { return ns_; }
  WindowOC* window() const noexcept { return window_; }

 private:
  void attach(WindowDelegate* delegate);

  objc::Ref<WindowOC> window_;
  appkit::Window* ns_;
  WindowDelegateBridge* bridge_ = nullptr;
};

// Keeps a plain window: not released on close; closed when the holder
// ends.
class WindowHolder {
 public:
  explicit WindowHolder(appkit::Window* window = nullptr) { take(window); }
  ~WindowHolder();
  WindowHolder(const WindowHolder&) = delete;
  WindowHolder& operator=(const WindowHolder&) = delete;
  void take(appkit::Window* window);
  appkit::Window* get() const noexcept { return window_; }

 private:
  appkit::Window* window_ = nullptr;
};

// Activates the application and makes the window key and frontmost.
void activateWindow(appkit::Window* window);
void activateApp();
// Moves the window's top-left corner to (x, y) in top-down coordinates of
// the main display; with a screen, first clamped into its visible frame.
void placeWindow(appkit::Window* window, int x, int y, appkit::Screen* screen);
bool windowSuperCanBecomeMain(appkit::Window* window);

// Receives a view's frame changes.
class ViewNotify {
 public:
  virtual ~ViewNotify();
  virtual void viewFrameChanged(appkit::View* view) = 0;
};

class ViewNotifyCxx : public os::NotificationCallback {
 public:
  // Observes the view's frame changes when a view is given.
  ViewNotifyCxx(ViewNotify* receiver, appkit::View* view);
  ~ViewNotifyCxx() override;
  ViewNotifyCxx(const ViewNotifyCxx&) = delete;
  ViewNotifyCxx& operator=(const ViewNotifyCxx&) = delete;

  // Observes one more view.
  void observe(appkit::View* view);
  void notify(os::NotificationObserver* observer, objc::Notification* notification) override;

 private:
  ViewNotify* receiver_;
  os::NotificationObserver* observer_;
};

}  // namespace ui
