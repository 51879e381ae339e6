#include "platform/appkit/Application.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/StatusBar.h"
#include "platform/appkit/Workspace.h"
#include "platform/runloop/RunLoop.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Time.h"

namespace appkit {

namespace {
// Never destroyed: the application lives until the process ends.
objc::Ref<Application>& sharedApp() {
  static auto* const app = new objc::Ref<Application>;
  return *app;
}
// The subtype of the AppKit-defined event that carries an open-URL request.
constexpr short kSubtypeOpenUrl = 0x55;
}  // namespace

struct Application::Loop {
  bool stop = false;
  ModalSession* session = nullptr;
  Loop* outer = nullptr;
};

Application& Application::shared() {
  if (!sharedApp()) sharedApp() = objc::adopt(new Application);
  return *sharedApp();
}

Application* Application::current() noexcept { return sharedApp(); }

void Application::install(Application* app) {
  if (sharedApp() == app) return;
  sharedApp() = objc::adopt(app);
}

void Application::reset() {
  // Out of place first: what the application's end runs sees none.
  const objc::Ref<Application> app = std::move(sharedApp());
}

Application::Application() {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw plat::StdlibException("eventfd");
}

Application::~Application() {
  if (wakeSource_) runloop::RunLoop::current().removeSource(wakeSource_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  // Let go of by another holder than the slot: the slot forgets it without
  // releasing it again.
  if (sharedApp() == this) static_cast<void>(sharedApp().leak());
}

Image* Application::applicationIconImage() {
  if (!iconImage_) iconImage_ = Workspace::shared().iconForFileType("app");
  return iconImage_;
}

void Application::setApplicationIconImage(Image* image) { iconImage_ = image; }

void Application::wake() {
  uint64_t one = 1;
  // A full counter still wakes the loop, so a failed write loses nothing.
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void Application::drainWake() {
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
}

long Application::addGlobalMonitor(uint64_t mask, std::function<void(Event*)> handler) {
  monitors_.push_back({nextMonitor_, mask, std::move(handler)});
  return nextMonitor_++;
}

void Application::removeMonitor(long id) {
  monitors_.erase(std::remove_if(monitors_.begin(), monitors_.end(), [id](const Monitor& m) { return m.id == id; }),
                  monitors_.end());
}

void Application::finishLaunching() {
  if (launched_ || launching_) return;
  launching_ = true;
  plat::ScopeExit done([this] { launching_ = false; });
  if (delegate_) delegate_->applicationWillFinishLaunching();
  std::vector<plat::CharArray> urls;
  urls.swap(pendingUrls_);
  for (const plat::CharArray& url : urls) dispatchOpenUrl(url.c_str());
  launched_ = true;
  activateIgnoringOtherApps(true);
  if (delegate_) delegate_->applicationDidFinishLaunching();
}

void Application::run() {
  finishLaunching();
  if (terminated_) return;
  Loop loop;
  runLoop(loop);
}

void Application::runLoop(Loop& loop) {
  loop.outer = innermost_;
  innermost_ = &loop;
  ++depth_;
  plat::ScopeExit leave([this, &loop] {
    innermost_ = loop.outer;
    --depth_;
    // A loop stopped while this one ran ends now; it may be waiting in
    // the run loop that called this one out.
    if (innermost_ && innermost_->stop) wake();
  });
  while (!loop.stop) {
    objc::AutoreleasePool pool;
    Event* e = nextEvent(kEventMaskAny, -1, true);
    if (!e) continue;
    if (!passesModal(e)) continue;
    Event* saved = current_;
    current_ = e;
    plat::ScopeExit restore([this, saved] { current_ = saved; });
    sendEvent(e);
  }
}

void Application::stop(objc::Object*) {
  if (!innermost_) return;
  innermost_->stop = true;
  if (innermost_->session && innermost_->session->response_ == ModalSession::kResponseNone)
    innermost_->session->response_ = kModalResponseStop;
  wake();
}

void Application::terminate(objc::Object*) {
  if (delegate_ && delegate_->applicationShouldTerminate() == 0) return;
  if (delegate_) delegate_->applicationWillTerminate();
  terminated_ = true;
  for (Loop* l = innermost_; l; l = l->outer) {
    l->stop = true;
    if (l->session && l->session->response_ == ModalSession::kResponseNone) l->session->response_ = kModalResponseAbort;
  }
  wake();
}

void Application::postEvent(Event* event, bool atStart) {
  if (!event) return;
  if (atStart)
    queue_.emplace_front(event);
  else
    queue_.emplace_back(event);
  wake();
}

Event* Application::nextEvent(uint64_t mask, int timeoutMs, bool dequeue) {
  if (!wakeSource_)
    wakeSource_ = runloop::RunLoop::current().addSource(
        wakeFd_, [this](unsigned, int) { drainWake(); }, runloop::kReadCallBack);
  plat::TimeValue deadline = timeoutMs < 0 ? 0 : plat::getMonotonicTime() + timeoutMs * plat::kTicksPerMs;
  Loop* loop = innermost_;
  for (;;) {
    // A stopped loop takes no further event.
    if (loop && loop->stop) return nullptr;
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      Event* e = *it;
      if (!(mask & eventMaskFor(e->type()))) continue;
      if (!dequeue) return e;
      // The queue's reference goes to the pool.
      Event* out = it->leak();
      queue_.erase(it);
      out->autorelease();
      return out;
    }
    int wait = -1;
    if (timeoutMs >= 0) {
      plat::TimeValue left = deadline - plat::getMonotonicTime();
      if (left <= 0) return nullptr;
      wait = static_cast<int>((left + plat::kTicksPerMs - 1) / plat::kTicksPerMs);
    }
    runloop::RunLoop::current().runOnce(wait);
  }
}

void Application::discardEvents(uint64_t mask) {
  discardEvents([mask](Event* e) { return (mask & eventMaskFor(e->type())) != 0; });
}

void Application::discardEvents(const std::function<bool(Event*)>& match) {
  // Released once out of the queue: an event's end may post another.
  std::vector<objc::Ref<Event>> gone;
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (match(*it)) {
      gone.push_back(std::move(*it));
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
}

void Application::sendEvent(Event* e) {
  // The event, its window and the window it goes to are held for the
  // call: a handler may close a window released when closed.
  const objc::Ref<Event> event(e);
  if (e->isForeign()) {
    std::vector<Monitor> monitors = monitors_;
    for (const Monitor& m : monitors)
      if (m.mask & eventMaskFor(e->type())) m.handler(e);
    return;
  }
  const objc::Ref<Window> window = e->window();
  // A copy: the filter may replace itself.
  if (std::function<bool(Event*)> filter = filter_; filter && filter(e)) return;
  switch (e->type()) {
    case kEventKeyDown:
    case kEventKeyUp:
    case kEventFlagsChanged: {
      objc::Ref<Window> w = window ? window.get() : key_;
      if (w)
        w->sendEvent(e);
      else if (e->type() == kEventKeyDown && !performMenuKeyEquivalent(e))
        beep();
      return;
    }
    case kEventAppKitDefined:
      if (e->subtype() == kSubtypeOpenUrl)
        dispatchOpenUrl(e->url());
      else if (window)
        window->sendEvent(e);
      return;
    case kEventApplicationDefined:
    case kEventSystemDefined:
    case kEventPeriodic:
      return;
    default:
      if (window) window->sendEvent(e);
      return;
  }
}

bool Application::passesModal(Event* e) const {
  Window* modal = modalWindow();
  if (!modal || e->isForeign()) return true;
  switch (e->type()) {
    case kEventLeftMouseDown:
    case kEventLeftMouseUp:
    case kEventRightMouseDown:
    case kEventRightMouseUp:
    case kEventLeftMouseDragged:
    case kEventRightMouseDragged:
    case kEventScrollWheel:
    case kEventKeyDown:
    case kEventKeyUp:
      break;
    default:
      return true;
  }
  Window* w = e->window() ? e->window() : key_;
  // The modal window, its sheets and child windows take input; others
  // do not.
  for (Window* x = w; x; x = x->parentWindow())
    if (x == modal) return true;
  return false;
}

ActionTarget* Application::targetForAction(Sel action) {
  auto along = [action](Window* w) -> ActionTarget* {
    if (!w) return nullptr;
    for (Responder* r = w->firstResponder(); r; r = r->nextResponder())
      if (r->respondsToAction(action)) return r;
    if (w->respondsToAction(action)) return w;
    if (auto* t = dynamic_cast<ActionTarget*>(w->delegate()); t && t->respondsToAction(action)) return t;
    return nullptr;
  };
  if (ActionTarget* t = along(key_)) return t;
  if (main_ != key_)
    if (ActionTarget* t = along(main_)) return t;
  if (respondsToAction(action)) return this;
  if (delegateTarget_ && delegateTarget_->respondsToAction(action)) return delegateTarget_;
  if (auto* t = dynamic_cast<ActionTarget*>(delegate_); t && t->respondsToAction(action)) return t;
  return nullptr;
}

bool Application::sendAction(Sel action, ActionTarget* target, objc::Object* sender) {
  if (!action) return false;
  if (!target) target = targetForAction(action);
  if (!target || !target->respondsToAction(action)) return false;
  // Held for the call: the action may close the window they are in.
  objc::Ref<objc::Object> heldTarget = dynamic_cast<objc::Object*>(target);
  objc::Ref<objc::Object> heldSender = sender;
  target->performAction(action, sender);
  return true;
}

bool Application::respondsToAction(Sel action) const {
  static const Sel kTerminate = selector("terminate:");
  static const Sel kStop = selector("stop:");
  static const Sel kHide = selector("hide:");
  static const Sel kUnhideAll = selector("unhideAllApplications:");
  static const Sel kHideOthers = selector("hideOtherApplications:");
  static const Sel kArrange = selector("arrangeInFront:");
  return action == kTerminate || action == kStop || action == kHide || action == kUnhideAll || action == kHideOthers ||
         action == kArrange || Responder::respondsToAction(action);
}

void Application::performAction(Sel action, objc::Object* sender) {
  if (action == selector("terminate:"))
    terminate(sender);
  else if (action == selector("stop:"))
    stop(sender);
  else if (action == selector("hide:"))
    hide(sender);
  else if (action == selector("unhideAllApplications:"))
    unhideAllApplications(sender);
  else if (action == selector("hideOtherApplications:"))
    ++othersHidden_;
  else if (action == selector("arrangeInFront:"))
    arrangeInFront(sender);
  else
    Responder::performAction(action, sender);
}

void Application::setMainMenu(Menu* menu) { mainMenu_ = menu; }
void Application::setAppleMenu(Menu* menu) { appleMenu_ = menu; }
void Application::setWindowsMenu(Menu* menu) { windowsMenu_ = menu; }

bool Application::performMenuKeyEquivalent(Event* e) {
  if (!mainMenu_ || !e || e->type() != kEventKeyDown) return false;
  bool functionKey = false;
  if (objc::String* chars = e->charactersIgnoringModifiers(); chars && chars->utf16Length() == 1) {
    uint16_t c = chars->characterAt(0);
    functionKey = c >= 0xF700 && c <= 0xF8FF;
  }
  if (!(e->modifierFlags() & (kModifierCommand | kModifierControl)) && !functionKey) return false;
  // Held: an item's action may replace the main menu.
  objc::Ref<Menu> menu = mainMenu_;
  return menu->performKeyEquivalent(e);
}

DockTile* Application::dockTile() {
  if (!dockTile_) dockTile_ = objc::adopt(new DockTile);
  return dockTile_;
}

void Application::hide(objc::Object*) {
  hidden_ = true;
  deactivate();
}

void Application::unhideAllApplications(objc::Object*) { hidden_ = false; }

void Application::arrangeInFront(objc::Object* sender) {
  // Brought forward from the back, the visible windows keep their order.
  std::vector<Window*> windows = windows_;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->isVisible()) (*it)->orderFront(sender);
}

ModalSession* Application::beginModalSession(Window* window) {
  ModalSession* session = new ModalSession(window);
  modal_.push_back(session);
  if (window) window->makeKeyAndOrderFront(nullptr);
  return session;
}

void Application::endModalSession(ModalSession* session) {
  auto it = std::find(modal_.begin(), modal_.end(), session);
  if (it != modal_.end()) modal_.erase(it);
  delete session;
}

Window* Application::modalWindow() const noexcept { return modal_.empty() ? nullptr : modal_.back()->window(); }

long Application::runModalForWindow(Window* window) {
  objc::Ref<Window> held(window);
  ModalSession* session = beginModalSession(window);
  plat::ScopeExit end([this, session] { endModalSession(session); });
  Loop loop;
  loop.session = session;
  if (terminated_) return kModalResponseAbort;
  runLoop(loop);
  return session->response_ == ModalSession::kResponseNone ? kModalResponseStop : session->response_;
}

long Application::runModalSession(ModalSession* session) {
  Loop loop;
  loop.session = session;
  loop.outer = innermost_;
  innermost_ = &loop;
  plat::ScopeExit leave([this, &loop] {
    innermost_ = loop.outer;
    if (innermost_ && innermost_->stop) wake();
  });
  // Serves what is ready now, then handles the events waiting.
  runloop::RunLoop::current().runOnce(0);
  size_t waiting = queue_.size();
  while (waiting-- > 0 && !loop.stop && session->response_ == ModalSession::kResponseNone) {
    objc::AutoreleasePool pool;
    Event* e = nextEvent(kEventMaskAny, 0, true);
    if (!e) break;
    if (!passesModal(e)) continue;
    Event* saved = current_;
    current_ = e;
    plat::ScopeExit restore([this, saved] { current_ = saved; });
    sendEvent(e);
  }
  return session->response_ == ModalSession::kResponseNone ? kModalResponseContinue : session->response_;
}

void Application::stopModalWithCode(long code) {
  for (Loop* l = innermost_; l; l = l->outer) {
    if (!l->session) continue;
    l->session->response_ = code;
    l->stop = true;
    wake();
    return;
  }
  if (!modal_.empty()) modal_.back()->response_ = code;
}

void Application::stopModal() { stopModalWithCode(kModalResponseStop); }
void Application::abortModal() { stopModalWithCode(kModalResponseAbort); }

void Application::stopModalForWindow(Window* window) { stopModalForWindowWithCode(window, kModalResponseStop); }

void Application::stopModalForWindowWithCode(Window* window, long code) {
  if (!window) return;
  for (Loop* l = innermost_; l; l = l->outer) {
    if (!l->session || l->session->window_ != window) continue;
    l->session->response_ = code;
    l->stop = true;
    wake();
    return;
  }
  for (auto it = modal_.rbegin(); it != modal_.rend(); ++it) {
    if ((*it)->window_ != window) continue;
    (*it)->response_ = code;
    return;
  }
}

void Application::beginSheet(Window* sheet, Window* parent) {
  if (!sheet || !parent) return;
  // Held through the delegates' calls.
  const objc::Ref<Window> heldSheet(sheet), heldParent(parent);
  parent->sheet_ = sheet;
  Rect where = makeRect(parent->frame().origin.x + (parent->frame().size.width - sheet->frame().size.width) / 2,
                        parent->contentRect().maxY() - sheet->frame().size.height, sheet->frame().size.width,
                        sheet->frame().size.height);
  if (parent->delegate()) {
    Rect r = parent->delegate()->willPositionSheet(
        parent, sheet, makeRect(0, parent->contentRect().size.height, parent->frame().size.width, 0));
    where.origin.y = parent->frame().origin.y + r.origin.y - sheet->frame().size.height;
  }
  sheet->setFrame(where);
  parent->addChildWindow(sheet);
  sheet->makeKeyAndOrderFront(nullptr);
}

void Application::endSheet(Window* sheet) {
  Window* parent = sheet ? sheet->parentWindow() : nullptr;
  if (!parent || parent->sheet_ != sheet) return;
  // Held through the delegates' calls.
  const objc::Ref<Window> heldSheet(sheet), heldParent(parent);
  parent->sheet_ = nullptr;
  parent->removeChildWindow(sheet);
  sheet->orderOut(nullptr);
  if (parent->delegate()) parent->delegate()->windowDidEndSheet(parent);
}

void Application::activateIgnoringOtherApps(bool) {
  if (active_) return;
  active_ = true;
  if (key_) key_->becomeKey();
  if (delegate_) delegate_->applicationDidBecomeActive();
}

void Application::deactivate() {
  if (!active_) return;
  active_ = false;
  if (key_) key_->resignKey();
  if (delegate_) delegate_->applicationDidResignActive();
}

Window* Application::windowWithNumber(long number) const noexcept {
  for (Window* w : windows_)
    if (w->windowNumber() == number) return w;
  return nullptr;
}

void Application::openUrl(const char* url) {
  if (!url) return;
  if (launching_) {
    dispatchOpenUrl(url);
  } else if (!launched_) {
    pendingUrls_.emplace_back(url);
  } else {
    Event* e = Event::otherEvent(kEventAppKitDefined, {}, 0, 0, 0, kSubtypeOpenUrl, 0, 0);
    e->setUrl(url);
    postEvent(e, false);
  }
}

void Application::dispatchOpenUrl(const char* url) {
  if (delegate_) delegate_->applicationOpenUrl(url);
}

void Application::windowOrderedFront(Window* w) {
  auto it = std::find(windows_.begin(), windows_.end(), w);
  if (it != windows_.end()) windows_.erase(it);
  windows_.insert(windows_.begin(), w);
}

void Application::windowOrderedOut(Window* w) {
  if (key_ == w) {
    setKeyWindow(nullptr);
    for (Window* other : windows_)
      if (other != w && other->isVisible() && other->canBecomeKeyWindow()) {
        setKeyWindow(other);
        break;
      }
  }
  if (main_ == w) main_ = key_ && key_->canBecomeMainWindow() ? key_ : nullptr;
}

void Application::windowGone(Window* w) {
  // Events do not retain their window: those still queued for it go too.
  discardEvents([w](Event* e) { return e->window_.pointsTo(w); });
  auto it = std::find(windows_.begin(), windows_.end(), w);
  if (it != windows_.end()) windows_.erase(it);
  if (key_ == w) key_ = nullptr;
  if (main_ == w) main_ = nullptr;
  for (ModalSession* s : modal_)
    if (s->window_ == w) s->window_ = nullptr;
}

void Application::setKeyWindow(Window* w) {
  if (key_ == w) return;
  // Held: the delegates told may let go of either.
  objc::Ref<Window> old = key_;
  objc::Ref<Window> held(w);
  key_ = w;
  if (old && active_) old->resignKey();
  if (w && active_) w->becomeKey();
}

void Application::setMainWindow(Window* w) { main_ = w; }

}  // namespace appkit
