#include "qocore/uilibs/ui/mac/AppLoop.h"

#include <cstdlib>
#include <set>
#include <vector>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Screen.h"
#include "platform/objc/NotificationCenter.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/uilibs/ui/mac/MsgBox.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace ui {

namespace {

PLAT_LOG_SOURCE(urlLog, "AppDelegateUrlHandler");

// The application-defined events of the two-step stop.
constexpr short kSubtypeQuit = 0x7c17;
constexpr short kSubtypeWake = 0x7c18;

constexpr const char* kWillTerminate = "NSApplicationWillTerminateNotification";

// Process-wide state, main thread only.
AppDelegate* currentDelegate = nullptr;
bool quitting = false;
bool accessoryMode = false;
bool urlHandlerLaunched = false;
std::set<AppEventFilter*>& filters() {
  static std::set<AppEventFilter*>* const set = new std::set<AppEventFilter*>;
  return *set;
}

// One dispatch to the filters: those still to be asked about its event.
// A filter may run a nested loop whose events are dispatched meanwhile, so
// the dispatches in progress form a stack, each with its own filters.
struct FilterDispatch {
  std::set<AppEventFilter*> pending;
};
// The dispatches in progress, innermost last.  A vector rather than links
// through a global pointer to the innermost local: g++'s dangling-pointer
// check refuses that at -O2, not seeing the pointer restored on return.
std::vector<FilterDispatch*>& dispatches() {
  static std::vector<FilterDispatch*>* const stack = new std::vector<FilterDispatch*>;
  return *stack;
}

// Asks each registered filter in turn until one answers true (then true).
// A filter unregistered meanwhile, by itself or another, is not asked.
template <typename Ask>
bool askFilters(Ask ask) {
  FilterDispatch dispatch{filters()};
  dispatches().push_back(&dispatch);
  plat::ScopeExit pop([] { dispatches().pop_back(); });
  while (!dispatch.pending.empty()) {
    AppEventFilter* filter = *dispatch.pending.begin();
    dispatch.pending.erase(dispatch.pending.begin());
    if (ask(filter)) return true;
  }
  return false;
}

appkit::Event* stopEvent(short subtype) {
  return appkit::Event::otherEvent(appkit::kEventApplicationDefined, {}, 0, 0, 0, subtype, 0, 0);
}

bool isWake(appkit::Event* e) { return e->type() == appkit::kEventApplicationDefined && e->subtype() == kSubtypeWake; }

// The first screen's backing scale, truncated, taken once per process.
int displayScale() {
  static const int scale = [] {
    const auto& screens = appkit::Screen::screens();
    int s = screens.empty() ? 1 : static_cast<int>(screens[0]->backingScaleFactor());
    return s < 1 ? 1 : s;
  }();
  return scale;
}

// The application object when the loop made it, else null.
AppLoopAppOC* appOC() { return dynamic_cast<AppLoopAppOC*>(appkit::Application::current()); }

}  // namespace

// AppLoop ------------------------------------------------------------------

AppLoop::AppLoop() : os::AppLoop(new AppLoopImpl) {}

AppLoop::~AppLoop() = default;

AppLoopImpl* AppLoop::impl() {
  auto* t = dynamic_cast<AppLoopImpl*>(implementation());
  PLAT_ASSERT_MSG(t, "%s is null", "ui::AppLoopImpl");
  return t;
}

void AppLoop::setAppDelegate(AppDelegate* delegate) noexcept { currentDelegate = delegate; }

void AppLoop::setAccessory(bool accessory) {
  accessoryMode = accessory;
  if (AppLoopAppOC* app = appOC())
    app->setActivationPolicy(accessory ? appkit::kActivationPolicyAccessory : appkit::kActivationPolicyRegular);
}

// AppLoopImpl --------------------------------------------------------------

AppLoopImpl::AppLoopImpl() {
  qoutil::setImageScale(displayScale());
  appkit::Application* oc = AppLoopAppOC::sharedApplication();
  PLAT_ASSERT_TEXT(dynamic_cast<AppLoopAppOC*>(&appkit::Application::shared()) && &appkit::Application::shared() == oc,
                   "[NSApp isKindOfClass:[AppLoopAppOC class]] && NSApp == oc");
  oc->setDelegate(static_cast<AppLoopAppOC*>(oc));
  if (accessoryMode) oc->setActivationPolicy(appkit::kActivationPolicyAccessory);
  // installs the system colours
  installSysColorsMac();
}

AppLoopImpl::~AppLoopImpl() = default;

int AppLoopImpl::run() {
  appkit::Application& app = appkit::Application::shared();
  app.run();
  // The wake event that followed the stop of the outermost loop has done
  // its work; a later run must not meet it.
  if (!app.isRunning()) app.discardEvents([](appkit::Event* e) { return isWake(e); });
  return os::AppLoop::exitCode();
}

void AppLoopImpl::quit() {
  quitting = true;
  appkit::Application::shared().postEvent(stopEvent(kSubtypeQuit), false);
}

// AppDelegate --------------------------------------------------------------

AppDelegate::AppDelegate() { AppLoop::setAppDelegate(this); }

AppDelegate::~AppDelegate() { AppLoop::setAppDelegate(nullptr); }

// AppEventFilter -----------------------------------------------------------

AppEventFilter::~AppEventFilter() {
  if (filters().count(this) || monitor_) setEnabled(false);
}

void AppEventFilter::setEnabled(bool enabled) {
  appkit::Application& app = appkit::Application::shared();
  AppLoopAppOC* oc = appOC();
  if (enabled) {
    if (filters().empty() && oc)
      objc::NotificationCenter::defaultCenter().addObserver(
          oc, "menuDidBeginTracking:", appkit::kMenuDidBeginTrackingNotification, app.mainMenu());
    uint64_t mask = appEventMask();
    if (mask && !monitor_) monitor_ = app.addGlobalMonitor(mask, [this](appkit::Event* e) { filterNotice(e); });
    filters().insert(this);
    return;
  }
  bool wasRegistered = filters().erase(this) > 0;
  for (FilterDispatch* d : dispatches()) d->pending.erase(this);
  if (wasRegistered && filters().empty() && oc) objc::NotificationCenter::defaultCenter().removeObserver(oc);
  if (monitor_) {
    app.removeMonitor(monitor_);
    monitor_ = 0;
  }
}

// AppDelegateUrlHandler ----------------------------------------------------

void AppDelegateUrlHandler::didFinishLaunching() { urlHandlerLaunched = true; }

void AppDelegateUrlHandler::openUrl(objc::String* url) {
  const char* text = os::nsStringUtf8(url);
  urlLog().debug("Launching process to handle URL %s", text);
  try {
    os::LaunchConfig cfg;
    const char* self = os::getExecutablePath();
    if (!self) throw plat::Exception("Cannot find the program's own path");
    cfg.args.push_back(plat::CharArray(self));
    cfg.args.push_back(plat::CharArray("-uri"));
    cfg.args.push_back(plat::CharArray(text));
    // Nothing waits for the copy: it talks back to this process, which
    // must keep serving its loop.
    cfg.dl = 1;
    os::LaunchProcess process(cfg);
    process.launch();
  } catch (const plat::Exception& e) {
    urlLog().error("Unhandled exception: %s", e.str());
    // Started only to deliver the URL, which is now lost.
    if (!urlHandlerLaunched) std::exit(1);
    return;
  }
  // The system started this process only to deliver the URL.
  if (!urlHandlerLaunched) std::exit(0);
}

// AppLoopAppOC -------------------------------------------------------------

appkit::Application* AppLoopAppOC::sharedApplication() {
  if (!appkit::Application::current()) appkit::Application::install(new AppLoopAppOC);
  return &appkit::Application::shared();
}

void AppLoopAppOC::sendEvent(appkit::Event* e) {
  // Other applications' events reach only the global monitors.
  if (e->isForeign()) {
    appkit::Application::sendEvent(e);
    return;
  }
  if (quitting && e->type() == appkit::kEventApplicationDefined) {
    if (e->subtype() == kSubtypeQuit) {
      objc::NotificationCenter::defaultCenter().post(kWillTerminate, this);
      stop(nullptr);
      postEvent(stopEvent(kSubtypeWake), false);
      return;
    }
    if (e->subtype() == kSubtypeWake) {
      // The stop ended a nested loop and this one still runs: it stops
      // too, and wakes the next one out.
      stop(nullptr);
      if (loopDepth() > 1) postEvent(stopEvent(kSubtypeWake), false);
      return;
    }
  }
  if (askFilters([e](AppEventFilter* filter) { return filter->filterAppEvent(e); })) return;
  appkit::Application::sendEvent(e);
}

bool AppLoopAppOC::respondsToAction(appkit::Sel action) const { return appkit::Application::respondsToAction(action); }

void AppLoopAppOC::performAction(appkit::Sel action, objc::Object* sender) {
  if (action != appkit::selector("terminate:")) {
    appkit::Application::performAction(action, sender);
    return;
  }
  // The platform's own termination never runs: quitting is a stop of the
  // loop, which returns to the program's main.
  if (!currentDelegate || currentDelegate->shouldTerminate()) os::AppLoop::quit(0);
}

void AppLoopAppOC::perform(const char* selector, objc::Object* argument) {
  if (appkit::selector(selector) != appkit::selector("menuDidBeginTracking:")) {
    appkit::Application::perform(selector, argument);
    return;
  }
  // No filter can keep the others from hearing it.
  askFilters([](AppEventFilter* filter) {
    filter->menuTrackingBegan();
    return false;
  });
}

void AppLoopAppOC::applicationWillFinishLaunching() {
  // The open-URL requests come to applicationOpenUrl (getUrl:withReplyEvent:)
  // from here on; the façade delivers them there once launching began.
}

void AppLoopAppOC::applicationDidFinishLaunching() {
  if (currentDelegate) currentDelegate->didFinishLaunching();
}

void AppLoopAppOC::applicationDidBecomeActive() {
  if (currentDelegate) currentDelegate->didBecomeActive();
}

bool AppLoopAppOC::applicationShouldTerminateAfterLastWindowClosed() {
  return currentDelegate && currentDelegate->terminateAfterLastWindowClosed();
}

bool AppLoopAppOC::applicationOpenFile(objc::String* fileName) {
  return currentDelegate && currentDelegate->openFile(fileName);
}

bool AppLoopAppOC::applicationShouldHandleReopen(bool hasVisibleWindows) {
  // There are no Apple events here to name the sender.
  return !currentDelegate || currentDelegate->reopen(hasVisibleWindows, nullptr);
}

void AppLoopAppOC::applicationOpenUrl(const char* url) {
  if (!currentDelegate) {
    showErrorBox("Internal error: no AppDelegate for URL scheme handler");
    return;
  }
  os::AutoreleasePool pool;
  currentDelegate->openUrl(os::nsStringFromUtf8(url));
}

}  // namespace ui
