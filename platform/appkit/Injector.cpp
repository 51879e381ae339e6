#include "platform/appkit/Injector.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Screen.h"
#include "qocore/base/plat/Time.h"

namespace appkit::inject {

namespace {
// The last press, for click counting.
struct LastClick {
  plat::TimeValue time = 0;
  long window = -1;
  Point where;
  long count = 0;
  bool any = false;
} last;

long eventNumber = 1;

double now() { return static_cast<double>(plat::getMonotonicTime()) / plat::kTicksPerSecond; }

long clickCountFor(Window* window, Point base) {
  plat::TimeValue t = plat::getMonotonicTime();
  bool near = last.any && last.window == window->windowNumber() && std::abs(last.where.x - base.x) <= 4 &&
              std::abs(last.where.y - base.y) <= 4 && t - last.time <= kDoubleClickIntervalMs * plat::kTicksPerMs;
  last.count = near ? last.count + 1 : 1;
  last.time = t;
  last.window = window->windowNumber();
  last.where = base;
  last.any = true;
  return last.count;
}

void postMouse(int type, Window* window, Point base, uint64_t flags, long clicks, Point delta = {}) {
  setMouseLocation(window->convertBaseToScreen(base));
  Event* e = Event::mouseEvent(type, base, flags, now(), window->windowNumber(), eventNumber++, clicks, 1);
  e->setDelta(delta.x, delta.y);
  Application::shared().postEvent(e, false);
}

long keyWindowNumber() {
  Window* key = Application::shared().keyWindow();
  return key ? key->windowNumber() : 0;
}
}  // namespace

int handleQueued() {
  Application& app = Application::shared();
  int handled = 0;
  while (Event* e = app.nextEvent(kEventMaskAny, 0, true)) {
    objc::AutoreleasePool pool;
    objc::Ref<Event> held(e);
    app.sendEvent(e);
    ++handled;
  }
  return handled;
}

void mouseDown(Window* window, Point base, uint64_t flags) {
  postMouse(kEventLeftMouseDown, window, base, flags, clickCountFor(window, base));
}

void mouseUp(Window* window, Point base, uint64_t flags) {
  postMouse(kEventLeftMouseUp, window, base, flags, last.count ? last.count : 1);
}

void click(Window* window, Point base, uint64_t flags) {
  mouseDown(window, base, flags);
  mouseUp(window, base, flags);
}

void rightClick(Window* window, Point base) {
  postMouse(kEventRightMouseDown, window, base, 0, 1);
  postMouse(kEventRightMouseUp, window, base, 0, 1);
}

void drag(Window* window, Point from, Point to, int steps) {
  mouseDown(window, from, 0);
  if (steps < 1) steps = 1;
  Point previous = from;
  for (int i = 1; i <= steps; ++i) {
    Point p{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
    // The pointer's own movement: y grows downwards in the delta.
    postMouse(kEventLeftMouseDragged, window, p, 0, 1, {p.x - previous.x, previous.y - p.y});
    previous = p;
  }
  postMouse(kEventLeftMouseUp, window, to, 0, 1);
}

void movePointer(Point screen) {
  setMouseLocation(screen);
  // Held: an owner's handler may close a window.
  const std::vector<Window*>& ordered = Application::shared().orderedWindows();
  for (const objc::Ref<Window>& w : std::vector<objc::Ref<Window>>(ordered.begin(), ordered.end()))
    w->updateTrackingAreas(w->convertScreenToBase(screen));
}

void keyDown(unsigned short keyCode, const char* characters, uint64_t flags) {
  Application::shared().postEvent(
      Event::keyEvent(kEventKeyDown, {}, flags, now(), keyWindowNumber(), characters, characters, false, keyCode),
      false);
}

void key(unsigned short keyCode, const char* characters, uint64_t flags) {
  keyDown(keyCode, characters, flags);
  Application::shared().postEvent(
      Event::keyEvent(kEventKeyUp, {}, flags, now(), keyWindowNumber(), characters, characters, false, keyCode), false);
}

void flagsChanged(unsigned short keyCode, uint64_t flags) {
  Application::shared().postEvent(
      Event::keyEvent(kEventFlagsChanged, {}, flags, now(), keyWindowNumber(), "", "", false, keyCode), false);
}

void foreignMouseDown(Point screen) {
  Event* e = Event::mouseEvent(kEventLeftMouseDown, screen, 0, now(), 0, eventNumber++, 1, 1);
  e->setForeign(true);
  Application::shared().postEvent(e, false);
}

void deactivate() { Application::shared().deactivate(); }

void closeButton(Window* window) { window->performClose(nullptr); }

void resize(Window* window, Size size) {
  Size wanted = window->delegate() ? window->delegate()->windowWillResize(window, size) : size;
  Rect f = window->frame();
  // The top edge stays put while the user drags the lower right corner.
  window->setFrame(makeRect(f.origin.x, f.maxY() - wanted.height, wanted.width, wanted.height));
}

void move(Window* window, Point origin) {
  if (window->delegate()) window->delegate()->windowWillMove(window);
  window->setFrameOrigin(origin);
}

void miniaturize(Window* window) { window->miniaturize(nullptr); }

void enterFullScreen(Window* window) {
  WindowDelegate* d = window->delegate();
  if (d) d->willUseFullScreenPresentationOptions(window, 0);
  if (d) d->windowWillEnterFullScreen(window);
  window->setStyleMask(window->styleMask() | kWindowStyleFullScreen);
  if (d) d->windowDidEnterFullScreen(window);
}

void exitFullScreen(Window* window) {
  WindowDelegate* d = window->delegate();
  if (d) d->windowWillExitFullScreen(window);
  window->setStyleMask(window->styleMask() & ~uint64_t{kWindowStyleFullScreen});
  if (d) d->windowDidExitFullScreen(window);
}

void mainDisplay(double width, double height, double scale) {
  Screen::configure({DisplaySpec{makeRect(0, 0, width, height), scale}});
}

}  // namespace appkit::inject
