#include "qocore/uilibs/ui/mac/WindowGlue.h"

#include <algorithm>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/objc/NotificationCenter.h"

namespace ui {

WindowDelegate::~WindowDelegate() = default;
ViewNotify::~ViewNotify() = default;

bool WindowOC::canBecomeKeyWindow() { return cxx ? cxx->canBecomeKeyWindow(this) : false; }

bool WindowOC::canBecomeMainWindow() {
  return cxx ? cxx->canBecomeMainWindow(this) : appkit::Window::canBecomeMainWindow();
}

bool WindowOC::superCanBecomeMain() { return appkit::Window::canBecomeMainWindow(); }

void WindowOC::sendEvent(appkit::Event* event) {
  if (cxx && cxx->handleWindowEvent(this, event)) return;
  appkit::Window::sendEvent(event);
}

bool WindowOC::hasActiveControls() {
  if (cxx && cxx->childWindowFlag) return true;
  return appkit::Window::hasActiveControls();
}

appkit::Rect WindowOC::constrainFrameRect(appkit::Rect frame, appkit::Screen* screen) {
  return cxx ? cxx->constrainFrameRect(this, frame, screen) : frame;
}

appkit::Rect WindowDelegateOC::willPositionSheet(appkit::Window* window, appkit::Window* sheet, appkit::Rect rect) {
  return cxx ? cxx->willPositionSheet(window, sheet, rect) : rect;
}
void WindowDelegateOC::windowDidEndSheet(appkit::Window* window) {
  if (cxx) cxx->windowDidEndSheet(window);
}
appkit::Size WindowDelegateOC::windowWillResize(appkit::Window* window, appkit::Size size) {
  return cxx ? cxx->windowWillResize(window, size) : size;
}
void WindowDelegateOC::windowDidResize(appkit::Window* window) {
  if (cxx) cxx->windowDidResize(window);
}
void WindowDelegateOC::windowDidMiniaturize(appkit::Window* window) {
  if (cxx) cxx->windowDidMiniaturize(window);
}
void WindowDelegateOC::windowDidDeminiaturize(appkit::Window* window) {
  if (cxx) cxx->windowDidDeminiaturize(window);
}
void WindowDelegateOC::windowWillMove(appkit::Window* window) {
  if (cxx) cxx->windowWillMove(window);
}
void WindowDelegateOC::windowDidMove(appkit::Window* window) {
  if (cxx) cxx->windowDidMove(window);
}
bool WindowDelegateOC::windowShouldClose(appkit::Window* window) { return cxx ? cxx->windowShouldClose(window) : true; }
void WindowDelegateOC::windowWillClose(appkit::Window* window) {
  if (cxx) cxx->windowWillClose(window);
}
void WindowDelegateOC::windowDidBecomeKey(appkit::Window* window) {
  if (cxx) cxx->windowDidBecomeKey(window);
}
void WindowDelegateOC::windowDidResignKey(appkit::Window* window) {
  if (cxx) cxx->windowDidResignKey(window);
}
void WindowDelegateOC::windowWillEnterFullScreen(appkit::Window* window) {
  if (cxx) cxx->windowWillEnterFullScreen(window);
}
void WindowDelegateOC::windowDidEnterFullScreen(appkit::Window* window) {
  if (cxx) cxx->windowDidEnterFullScreen(window);
}
void WindowDelegateOC::windowWillExitFullScreen(appkit::Window* window) {
  if (cxx) cxx->windowWillExitFullScreen(window);
}
void WindowDelegateOC::windowDidExitFullScreen(appkit::Window* window) {
  if (cxx) cxx->windowDidExitFullScreen(window);
}
unsigned long WindowDelegateOC::willUseFullScreenPresentationOptions(appkit::Window* window, unsigned long options) {
  return cxx ? cxx->willUseFullScreenPresentationOptions(window, options) : options;
}

WindowDelegateBridge::WindowDelegateBridge(WindowDelegate* delegate, appkit::Window* window)
    : object_(objc::adopt(new WindowDelegateOC)), window_(window) {
  object_->cxx = delegate;
  if (window_) window_->setDelegate(object_);
}

WindowDelegateBridge::~WindowDelegateBridge() {
  if (window_) window_->setDelegate(nullptr);
  object_->cxx = nullptr;
}

Window::Window(WindowDelegate* delegate, appkit::Rect contentRect, uint64_t styleMask, bool defer)
    : window_(objc::adopt(new WindowOC(contentRect, styleMask, appkit::kBackingStoreBuffered, defer))), ns_(window_) {
  attach(delegate);
}

Window::Window(WindowDelegate* delegate, WindowOC* window) : window_(window), ns_(window) { attach(delegate); }

void Window::attach(WindowDelegate* delegate) {
  try {
    window_->cxx = delegate;
    window_->setReleasedWhenClosed(false);
    if (delegate) bridge_ = new WindowDelegateBridge(delegate, window_);
  } catch (...) {
    // The constructor fails: the member's reference goes with it.
    window_->cxx = nullptr;
    window_->close();
    throw;
  }
}

Window::~Window() {
  window_->cxx = nullptr;
  if (bridge_) {
    delete bridge_;  // clears the window's delegate and the object's cxx
    bridge_ = nullptr;
  }
  window_->close();
}

WindowHolder::~WindowHolder() {
  if (window_) window_->close();
}

void WindowHolder::take(appkit::Window* window) {
  window_ = window;
  if (window_) window_->setReleasedWhenClosed(false);
}

void activateWindow(appkit::Window* window) {
  appkit::Application::shared().activateIgnoringOtherApps(true);
  if (window) window->makeKeyAndOrderFront(nullptr);
}

void activateApp() { appkit::Application::shared().activateIgnoringOtherApps(true); }

void placeWindow(appkit::Window* window, int x, int y, appkit::Screen* screen) {
  int mainHeight = static_cast<int>(appkit::displayBounds(appkit::mainDisplayId()).size.height);
  if (screen) {
    appkit::Rect vf = screen->visibleFrame();
    int left = static_cast<int>(vf.origin.x), width = static_cast<int>(vf.size.width);
    int height = static_cast<int>(vf.size.height), bottom = static_cast<int>(vf.origin.y);
    int top = mainHeight - (bottom + height);
    int w = window ? static_cast<int>(window->frame().size.width) : 0;
    int h = window ? static_cast<int>(window->frame().size.height) : 0;
    // A window larger than the frame is aligned to its left and top edges.
    x = std::max(std::min(x, left + width - w), left);
    y = std::max(std::min(y, top + height - h), top);
  }
  if (window) window->setFrameTopLeftPoint({static_cast<double>(x), static_cast<double>(mainHeight - y)});
}

bool windowSuperCanBecomeMain(appkit::Window* window) {
  auto* oc = dynamic_cast<WindowOC*>(window);
  return oc ? oc->superCanBecomeMain() : window && window->canBecomeMainWindow();
}

ViewNotifyCxx::ViewNotifyCxx(ViewNotify* receiver, appkit::View* view)
    : receiver_(receiver),
      observer_(new os::NotificationObserver(this, &objc::NotificationCenter::defaultCenter(), nullptr)) {
  if (view) observe(view);
}

ViewNotifyCxx::~ViewNotifyCxx() { delete observer_; }

void ViewNotifyCxx::observe(appkit::View* view) { observer_->observe(appkit::kViewFrameDidChangeNotification, view); }

void ViewNotifyCxx::notify(os::NotificationObserver*, objc::Notification* notification) {
  if (receiver_) receiver_->viewFrameChanged(static_cast<appkit::View*>(notification->object()));
}

}  // namespace ui
