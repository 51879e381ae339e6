#include "qocore/uilibs/mui/mac/MuDialogMac.h"

#include <algorithm>
#include <cstring>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/CoreGraphics.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Screen.h"
#include "platform/objc/NotificationCenter.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/qoutil/mac/MacKeyboard.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

constexpr uint32_t kReturnKeysym = 0xFF0D;
constexpr uint32_t kEscapeKeysym = 0xFF1B;
// A press this close to the bottom-right corner of a resizable window
// resizes it.
constexpr double kResizeCorner = 10;

double mainDisplayHeight() { return appkit::displayBounds(appkit::mainDisplayId()).size.height; }

// A frame in top-down coordinates of the main display, truncated.
Rect topDown(appkit::Rect frame) {
  const int32_t x = truncToInt32(frame.origin.x), w = truncToInt32(frame.size.width),
                h = truncToInt32(frame.size.height);
  const int32_t y = truncToInt32(mainDisplayHeight() - (frame.origin.y + frame.size.height));
  return {x, y, x + w, y + h};
}

uint64_t styleFor(uint32_t flags) {
  if (flags & (MuDialogMac::kChildWindow | MuDialogMac::kBorderless)) return appkit::kWindowStyleBorderless;
  uint64_t style = appkit::kWindowStyleTitled;
  if (!(flags & MuDialog::kDisableClose)) style |= appkit::kWindowStyleClosable;
  if (!(flags & MuDialog::kNoHide)) style |= appkit::kWindowStyleMiniaturizable;
  if (!(flags & (MuDialog::kFixedSize | MuDialog::kAbsFixedSize))) style |= appkit::kWindowStyleResizable;
  return style;
}

}  // namespace

MuElement* elementForView(MuDialog* dialog, appkit::View* view) {
  if (!dialog) return nullptr;
  for (appkit::View* v = view; v; v = v->superview()) {
    if (MuElement* e = MuCommonMac::findElementForView(dialog, v)) return e;
  }
  return nullptr;
}

// ---- Content view ----

DialogContentOC::~DialogContentOC() = default;

bool DialogContentOC::paintsBackground() const noexcept {
  const appkit::Window* w = window();
  return !w || w->contentView() != this;
}

void DialogContentOC::setBackgroundColour(appkit::Color* colour) {
  background_ = colour;
  if (paintsBackground()) setNeedsDisplay(true);
}

void DialogContentOC::drawRect(appkit::Rect dirty) {
  if (background_ && paintsBackground()) ui::fillRect(dirty, background_);
}

// ---- Construction ----

MuDialog* MuDialogMac::create(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                              NativeWindow* nativeParent) {
  return new MuDialogMac(id, title, size, flags, owner, nativeParent);
}

MuDialogMac::MuDialogMac(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                         NativeWindow* nativeParent)
    : MuDialog(id, title, size, flags, owner, nativeParent) {
  const appkit::Rect rect = appkit::makeRect(0, 0, std::max(size.width, 1), std::max(size.height, 1));
  window_ = std::make_unique<ui::Window>(this, rect, styleFor(flags), false);
  appkit::Window* w = window();

  // The window holds the content view.
  const objc::Ref<DialogContentOC> content = objc::adopt(new DialogContentOC(rect));
  contentView_ = content;
  contentView_->setClipsToBounds(true);

  themeObserver_ = std::make_unique<os::NotificationObserver>(this, &objc::NotificationCenter::distributedCenter(),
                                                              appkit::kInterfaceThemeChangedNotification);

  childWindowFlag = (flags & kChildWindow) != 0;
  if (flags & (kTransient | kChildWindow)) w->setAcceptsMouseMovedEvents(true);
  if (flags & kNoHide) w->setCanHide(false);

  uint64_t behaviour = 0;
  if (flags & kFloating) {
    w->setLevel(appkit::kWindowLevelFloating);
  } else if (ownerWindow() && !hasModalBit()) {
    behaviour = appkit::kCollectionFullScreenAuxiliary;
  }
  if (flags & kJoinAllSpaces) behaviour += appkit::kCollectionCanJoinAllSpaces;
  if (flags & kNoFullScreen) behaviour += 512;
  if (behaviour) w->setCollectionBehavior(behaviour);

  setTitle(title);
  w->setAutorecalculatesKeyViewLoop(true);
  w->setContentView(contentView_);

  setPeer(std::make_unique<MuCommonMac>(this, contentView_));
}

MuDialogMac::~MuDialogMac() {
  // A destructor cannot report a failure to hide; the window goes below
  // all the same.
  try {
    setVisible(false);
  } catch (...) {
  }
  removeAll();
  ui::AppEventFilter::setEnabled(false);
  themeObserver_.reset();
  appMenuBar_.reset();
  window_.reset();
}

// ---- Showing and hiding ----

bool MuDialogMac::isVisible() { return window()->isVisible() || shownAsSheet_; }

void MuDialogMac::setVisible(bool visible) {
  const bool wasVisible = isVisible();
  if (visible == wasVisible) {
    if (!visible) return;
    // Sheets and child windows stay where they are; other windows come to
    // the front again.
    if (ownerWindow() && (dialogFlags() & (kModalToOwner | kAppModal | kChildWindow))) return;
  }
  if (dialogFlags() & kTransient) ui::AppEventFilter::setEnabled(visible);
  if (visible) {
    show(wasVisible);
  } else {
    hide();
  }
}

void MuDialogMac::show(bool wasVisible) {
  // Showing tells the observers of activation and lay-out, any of which
  // may delete the dialog; so may the modal loop.
  const objc::Liveness::Token alive = liveness_.token();
  const uint32_t flags = dialogFlags();
  const objc::Ref<appkit::Window> w = window();
  appkit::Window* owner = ownerWindow();
  relayout();
  sizeToContent();
  w->recalculateKeyViewLoop();
  if (owner && hasModalBit()) {
    w->setLevel(appkit::kWindowLevelModalPanel);
    if (sheetTitle_.get()) {
      if (!savedOwnerTitle_ || std::strcmp(savedOwnerTitle_.get(), owner->title()) != 0)
        savedOwnerTitle_ = owner->title();
      owner->setTitle(sheetTitle_.get());
    }
    shownAsSheet_ = true;
    appkit::Application::shared().beginSheet(w, owner);
  } else if (owner && (flags & kChildWindow)) {
    shownAsSheet_ = true;
    owner->addChildWindow(w);
  } else {
    if (!(flags & kNoActivate)) appkit::Application::shared().activateIgnoringOtherApps(true);
    if (!positionSet() && !wasVisible) {
      if (owner && owner->isVisible()) {
        centreOverOwner(owner);
      } else {
        w->center();
      }
    }
    w->makeKeyAndOrderFront(nullptr);
  }
  if (!(flags & kAppModal) || !alive) return;
  PLAT_ASSERT_TEXT(!runningCodeModal_, "!runningCodeModal");
  runningCodeModal_ = true;
  plat::ScopeExit done([this, &alive] {
    if (alive) runningCodeModal_ = false;
  });
  appkit::Application::shared().runModalForWindow(w);
}

void MuDialogMac::hide() {
  appkit::Window* w = window();
  appkit::Window* owner = ownerWindow();
  if (owner && hasModalBit()) {
    // A sheet title given while the sheet was up saved nothing to give
    // back: the owner keeps what it shows rather than losing its title.
    if (sheetTitle_ && savedOwnerTitle_) owner->setTitle(savedOwnerTitle_.get());
    appkit::Application::shared().endSheet(w);
  } else if (owner && (dialogFlags() & kChildWindow)) {
    owner->removeChildWindow(w);
  }
  shownAsSheet_ = false;
  // This dialog's loop, also when another runs inside it.
  if (dialogFlags() & kAppModal) appkit::Application::shared().stopModalForWindow(w);
  w->orderOut(nullptr);
}

void MuDialogMac::centreOverOwner(appkit::Window* owner) {
  const Rect o = topDown(owner->frame());
  const appkit::Size size = window()->frame().size;
  const int32_t w = truncToInt32(size.width), h = truncToInt32(size.height);
  const int32_t x = truncToInt32(o.x1 + (o.width() - w) / 2);
  const int32_t y = truncToInt32(o.y1 + (o.height() - h) / 2);
  ui::placeWindow(window(), x, y, owner->screen());
}

void MuDialogMac::setFocus() {
  appkit::Application::shared().activateIgnoringOtherApps(true);
  window()->makeKeyAndOrderFront(nullptr);
}

// ---- Geometry ----

void MuDialogMac::setSize(Size size) {
  appkit::Window* w = window();
  const appkit::Rect old = w->frame();
  appkit::Rect frame =
      appkit::Window::frameRectForContentRect(appkit::makeRect(0, 0, size.width, size.height), w->styleMask());
  frame.origin.x = old.origin.x;
  frame.origin.y = old.origin.y + old.size.height - frame.size.height;
  w->setFrame(frame, true);
}

void MuDialogMac::setPosition(Point point) {
  markPositionSet();
  ui::placeWindow(window(), point.x, point.y, nullptr);
}

Point MuDialogMac::getPosition() {
  const Rect r = topDown(window()->frame());
  return {r.x1, r.y1};
}

Point MuDialogMac::absolutePosition() {
  appkit::Window* w = window();
  const Rect r = topDown(appkit::Window::contentRectForFrameRect(w->frame(), w->styleMask()));
  return {r.x1, r.y1};
}

Size MuDialogMac::windowSize() {
  const appkit::Size s = window()->frame().size;
  return {truncToInt32(s.width), truncToInt32(s.height)};
}

Size MuDialogMac::screenSize() {
  const std::vector<appkit::Screen*>& screens = appkit::Screen::screens();
  if (screens.empty()) return {};
  const appkit::Size s = screens.front()->frame().size;
  return {truncToInt32(s.width), truncToInt32(s.height)};
}

void MuDialogMac::copyToPasteboard(const char* text) {
  appkit::Pasteboard* board = appkit::Pasteboard::generalPasteboard();
  board->clearContents();
  board->setString(text, appkit::kPasteboardTypeString);
}

ui::MenuBar* MuDialogMac::appMenuBar() {
  // The items the program adds carry their own callbacks; the standard
  // ones go to the first responder.
  if (!appMenuBar_) appMenuBar_ = std::make_unique<ui::AppMenuBar>(nullptr, ui::AppMenuBar::kShowHide);
  return appMenuBar_.get();
}

void MuDialogMac::setMinSize(Size size) {
  window()->setMinSize({static_cast<double>(size.width), static_cast<double>(size.height)});
}

NativeWindow* MuDialogMac::nativeWindow() { return toNativeWindow(window()); }

void MuDialogMac::setTitle(const char* text) {
  ui::setControlText(window(), text);
  if (text && *text && ownerWindow() && hasModalBit()) {
    if (!sheetTitle_ || std::strcmp(sheetTitle_.get(), text) != 0) sheetTitle_ = text;
  }
}

void MuDialogMac::refreshStyle() {
  MuContainer::refreshStyle();
  appkit::Color* background = ui::getColour(getFont().background.get(), "contentBg");
  window()->setBackgroundColor(background);
  contentView_->setBackgroundColour(background);
}

void MuDialogMac::layoutNow() {
  MuDialog::layoutNow();
  windowDidResize(window());
}

// ---- Panels ----

void MuDialogMac::addChild(MuElement* element) {
  MuDialog::addChild(element);
  if (appkit::View* view = nativeViewOf(element)) contentView_->addSubview(view);
  relayout();
}

void MuDialogMac::removeChild(MuElement* element) {
  if (appkit::View* view = element ? nativeViewOf(element) : nullptr) view->removeFromSuperview();
  MuDialog::removeChild(element);
  relayout();
}

void MuDialogMac::removeAll() {
  detachChildViews(this);
  MuDialog::removeAll();
}

// ---- Application events ----

uint64_t MuDialogMac::appEventMask() {
  return appkit::eventMaskFor(appkit::kEventLeftMouseDown) | appkit::eventMaskFor(appkit::kEventRightMouseDown) |
         appkit::eventMaskFor(25);
}

bool MuDialogMac::filterAppEvent(appkit::Event* event) {
  if (!isVisible() || !event || event->window() == window()) return false;
  const int type = event->type();
  const bool deactivated =
      type == appkit::kEventAppKitDefined && event->subtype() == appkit::kSubtypeApplicationDeactivated;
  const bool pressElsewhere = type == appkit::kEventLeftMouseDown || type == appkit::kEventRightMouseDown || type == 25;
  if (!deactivated && !pressElsewhere) return false;
  // The press that dismisses the dialog does not reach the other window.
  setVisible(false);
  return true;
}

void MuDialogMac::filterNotice(appkit::Event*) {
  if (dialogFlags() & kTransient) setVisible(false);
}

void MuDialogMac::menuTrackingBegan() {
  if (dialogFlags() & kTransient) setVisible(false);
}

// ---- Window delegate ----

bool MuDialogMac::canBecomeKeyWindow(appkit::Window*) { return !(dialogFlags() & kChildWindow); }

bool MuDialogMac::canBecomeMainWindow(appkit::Window* window) { return ui::windowSuperCanBecomeMain(window); }

void MuDialogMac::windowDidResize(appkit::Window*) {
  relayout();
  contentView_->setNeedsDisplay(true);
}

bool MuDialogMac::windowShouldClose(appkit::Window*) {
  // Read before the close: its "closed" observers may delete the dialog.
  const bool appModal = (dialogFlags() & kAppModal) != 0;
  const objc::Ref<appkit::Window> w = window();
  if (close() && appModal) appkit::Application::shared().stopModalForWindow(w);
  return false;
}

void MuDialogMac::windowDidBecomeKey(appkit::Window*) { notifyObservers(this, kEventDialogActivated); }

void MuDialogMac::windowDidResignKey(appkit::Window*) {
  if (dialogFlags() & kTransient) setVisible(false);
  notifyObservers(this, kEventDialogDeactivated);
}

void MuDialogMac::notify(os::NotificationObserver*, objc::Notification*) {
  refreshStyle();
  notifyObservers(this, kEventAppearanceChanged);
}

bool MuDialogMac::handleWindowEvent(appkit::Window*, appkit::Event* event) {
  switch (event->type()) {
    case appkit::kEventLeftMouseDown:
      return mouseDown(event);
    case appkit::kEventLeftMouseDragged:
      if (!dragging_) return false;
      {
        const appkit::Point origin = window()->frame().origin;
        window()->setFrameOrigin({origin.x + event->deltaX(), origin.y - event->deltaY()});
      }
      return true;
    case appkit::kEventLeftMouseUp:
      if (!dragging_) return false;
      appkit::Cursor::pop();
      dragging_ = false;
      return true;
    case appkit::kEventKeyDown:
      return keyDown(event);
    default:
      return false;
  }
}

bool MuDialogMac::mouseDown(appkit::Event* event) {
  const appkit::Point base = event->locationInWindow();
  appkit::View* hit = contentView_->hitTest(base);
  if (!hit) return false;
  if (mouseDownCallback() && mouseDownCallback()->mouseDown(this)) return true;
  if (!moveCallback()) return false;
  if (ownerWindow() && hasModalBit()) return false;
  appkit::Window* w = window();
  if (!w->isKeyWindow()) w->makeKeyWindow();
  MuElement* element = elementForView(this, hit);
  if (!element) return false;
  const appkit::Point p = contentView_->convertPointFromView(base, nullptr);
  if (!moveCallback()->canMove(this, element, {truncToInt32(p.x), truncToInt32(p.y)})) return false;
  if ((w->styleMask() & appkit::kWindowStyleResizable) && base.x > w->frame().size.width - kResizeCorner &&
      base.y < kResizeCorner)
    return false;
  appkit::Cursor::push(appkit::kCursorClosedHand);
  dragging_ = true;
  return true;
}

bool MuDialogMac::keyDown(appkit::Event* event) {
  const int code = event->keyCode();
  uint32_t keysym = qoutil::macModifierKeysym(code);
  if (keysym == 0) keysym = qoutil::keysymForTypedChar(ui::eventChar(event), code);
  const uint32_t flags = qoutil::macModifierFlagsToKeyFlags(event->modifierFlags());
  if (keyMonitor()) keyMonitor()->keyPressed(keysym | flags);
  if (keysym == kReturnKeysym || keysym == kEscapeKeysym) {
    if (MuElement* focused = focusedElement()) {
      const bool shift = (event->modifierFlags() & appkit::kModifierShift) != 0;
      if (focused->handleDialogKey(keysym == kEscapeKeysym ? kCancelButton : kDefaultButton, shift)) return true;
    }
  }
  return handleKey(keysym);
}

void MuDialogMac::setButton(DialogButton index, MuElement* element) {
  MuDialog::setButton(index, element);
  if (index != kDefaultButton) return;
  // Anything but a push button leaves Return to the dialog's own keys.
  auto* button = dynamic_cast<MuButtonMac*>(element);
  window()->setDefaultButton(button ? button->button() : nullptr);
}

}  // namespace mui
