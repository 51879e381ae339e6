#include "platform/appkit/Window.h"

#include <algorithm>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/TextView.h"

namespace appkit {

namespace {
long nextWindowNumber = 1;

// Visits the view tree under `root` (each view before its subviews) until
// `visit` answers true; whether it did.  The views still to visit are
// held: a visit may take views out of the tree.
template <class Visit>
bool anyView(View* root, Visit visit) {
  std::vector<objc::Ref<View>> stack{root};
  while (!stack.empty()) {
    objc::Ref<View> v = std::move(stack.back());
    stack.pop_back();
    if (visit(v.get())) return true;
    for (View* s : v->subviews()) stack.emplace_back(s);
  }
  return false;
}

bool hasTitleBar(uint64_t style) noexcept {
  return (style & kWindowStyleTitled) && !(style & kWindowStyleFullSizeContentView);
}

// Return and the keypad's Enter.
bool isReturnKey(unsigned short code) noexcept { return code == 36 || code == 76; }
}  // namespace

Rect Window::frameRectForContentRect(Rect content, uint64_t styleMask) noexcept {
  if (hasTitleBar(styleMask)) content.size.height += kTitleBarHeight;
  return content;
}

Rect Window::contentRectForFrameRect(Rect frame, uint64_t styleMask) noexcept {
  if (hasTitleBar(styleMask)) frame.size.height = std::max(0.0, frame.size.height - kTitleBarHeight);
  return frame;
}

Window::Window(Rect contentRect, uint64_t styleMask, int backing, bool)
    : frame_(frameRectForContentRect(contentRect, styleMask)),
      style_(styleMask),
      backing_(backing),
      number_(nextWindowNumber++) {
  content_ = objc::adopt(new View(makeRect(0, 0, contentRect.size.width, contentRect.size.height)));
  content_->setNextResponder(this);
  content_->setWindow(this);
  Application::shared().windows_.push_back(this);
}

void Window::setBackgroundColor(Color* color) { background_ = color; }

Window::~Window() {
  Application::shared().windowGone(this);
  for (Window* child : children_) child->parent_ = nullptr;
  if (parent_) parent_->removeChildWindow(this);
  mouseView_.reset();
  background_.reset();
  if (fieldEditor_) {
    fieldEditor_->removeFromSuperview();
    fieldEditor_.reset();
  }
  if (content_) {
    content_->setWindow(nullptr);
    content_.reset();
  }
}

void Window::setContentView(View* view) {
  if (view == content_) return;
  objc::Ref<View> incoming(view);
  if (view) view->removeFromSuperview();
  firstResponder_ = nullptr;
  if (objc::Ref<View> old = std::move(content_)) {
    old->setWindow(nullptr);
    old->setNextResponder(nullptr);
  }
  content_ = std::move(incoming);
  if (!view) return;
  view->setNextResponder(this);
  view->setWindow(this);
  Rect content = contentRect();
  view->setFrame(makeRect(0, 0, content.size.width, content.size.height));
}

void Window::setFrame(Rect frame, bool) {
  if (frame == frame_) return;
  // Held through the delegate's calls.
  objc::Ref<Window> self(this);
  // A window moves when its top left corner does; growing downwards is
  // only a resize.
  bool moved = frame.origin.x != frame_.origin.x || frame.maxY() != frame_.maxY();
  bool resized = frame.size != frame_.size;
  Point delta{frame.origin.x - frame_.origin.x, frame.origin.y - frame_.origin.y};
  frame_ = frame;
  if (resized && content_) {
    Rect content = contentRect();
    content_->setFrameSize(content.size);
  }
  // Children keep their place relative to the parent; each tells its
  // delegate, which may change the list.
  if (moved)
    for (const objc::Ref<Window>& child : std::vector<objc::Ref<Window>>(children_.begin(), children_.end()))
      child->setFrameOrigin({child->frame_.origin.x + delta.x, child->frame_.origin.y + delta.y});
  if (delegate_ && moved) delegate_->windowDidMove(this);
  if (delegate_ && resized) delegate_->windowDidResize(this);
}

void Window::setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }

void Window::setFrameTopLeftPoint(Point topLeft) { setFrameOrigin({topLeft.x, topLeft.y - frame_.size.height}); }

void Window::setContentSize(Size size) {
  Rect content = contentRect();
  // The top edge stays where it is.
  double top = frame_.maxY();
  Rect frame = frameRectForContentRect({content.origin, size}, style_);
  frame.origin.y = top - frame.size.height;
  setFrame(frame);
}

void Window::center() {
  Screen* screen = Screen::mainScreen();
  Rect vf = screen->visibleFrame();
  setFrameOrigin({vf.origin.x + (vf.size.width - frame_.size.width) / 2,
                  vf.origin.y + (vf.size.height - frame_.size.height) * 2 / 3});
}

Screen* Window::screen() const {
  Screen* best = nullptr;
  double bestArea = 0;
  for (Screen* s : Screen::screens()) {
    Rect f = s->frame();
    double w = std::min(f.maxX(), frame_.maxX()) - std::max(f.minX(), frame_.minX());
    double h = std::min(f.maxY(), frame_.maxY()) - std::max(f.minY(), frame_.minY());
    if (w > 0 && h > 0 && w * h > bestArea) best = s, bestArea = w * h;
  }
  return best;
}

bool Window::canBecomeKeyWindow() { return (style_ & (kWindowStyleTitled | kWindowStyleResizable)) != 0; }

// The platform's own rule, whatever a subclass answers for key status.
bool Window::canBecomeMainWindow() { return visible_ && (style_ & (kWindowStyleTitled | kWindowStyleResizable)) != 0; }

bool Window::isKeyWindow() const noexcept { return Application::shared().keyWindow() == this; }
bool Window::isMainWindow() const noexcept { return Application::shared().mainWindow() == this; }

void Window::makeKeyWindow() {
  if (!canBecomeKeyWindow()) return;
  Application::shared().setKeyWindow(this);
}

void Window::makeMainWindow() {
  if (!canBecomeMainWindow()) return;
  Application::shared().setMainWindow(this);
}

void Window::makeKeyAndOrderFront(objc::Object* sender) {
  orderFront(sender);
  makeKeyWindow();
  if (canBecomeMainWindow()) makeMainWindow();
}

void Window::orderFront(objc::Object*) {
  visible_ = true;
  miniaturized_ = false;
  Application::shared().windowOrderedFront(this);
  for (Window* child : children_) child->orderFront(nullptr);
}

void Window::orderOut(objc::Object*) {
  if (!visible_) return;
  visible_ = false;
  // Each may tell its delegate that it lost the key status.
  for (const objc::Ref<Window>& child : std::vector<objc::Ref<Window>>(children_.begin(), children_.end()))
    child->orderOut(nullptr);
  Application::shared().windowOrderedOut(this);
}

void Window::miniaturize(objc::Object*) {
  if (miniaturized_) return;
  miniaturized_ = true;
  visible_ = false;
  Application::shared().windowOrderedOut(this);
  if (delegate_) delegate_->windowDidMiniaturize(this);
}

void Window::deminiaturize(objc::Object*) {
  if (!miniaturized_) return;
  makeKeyAndOrderFront(nullptr);
  if (delegate_) delegate_->windowDidDeminiaturize(this);
}

void Window::close() {
  // Held through the delegate's call and the rest of the close.
  objc::Ref<Window> self(this);
  if (delegate_) delegate_->windowWillClose(this);
  orderOut(nullptr);
  if (parent_) parent_->removeChildWindow(this);
  // The window's own reference, which its creator handed it.
  if (releasedWhenClosed_) release();
}

void Window::performClose(objc::Object*) {
  if (!(style_ & kWindowStyleClosable)) {
    Application::shared().beep();
    return;
  }
  objc::Ref<Window> self(this);
  if (delegate_ && !delegate_->windowShouldClose(this)) return;
  close();
}

void Window::zoom(objc::Object*) {
  if (zoomed_) {
    zoomed_ = false;
    setFrame(unzoomedFrame_);
    return;
  }
  Screen* on = screen() ? screen() : Screen::mainScreen();
  if (!on) return;
  unzoomedFrame_ = frame_;
  zoomed_ = true;
  setFrame(on->visibleFrame());
}

namespace {
// The window menu's actions and the style each needs; a window without the
// button does not answer, so the menu item turns disabled.
struct StyleAction {
  const char* name;
  uint64_t style;
};
constexpr StyleAction kStyleActions[] = {
    {"performClose:", kWindowStyleClosable},
    {"performMiniaturize:", kWindowStyleMiniaturizable},
    {"performZoom:", kWindowStyleResizable},
};
}  // namespace

bool Window::respondsToAction(Sel action) const {
  for (const StyleAction& a : kStyleActions)
    if (action == selector(a.name)) return (style_ & a.style) != 0;
  return Responder::respondsToAction(action);
}

void Window::performAction(Sel action, objc::Object* sender) {
  if (action == selector("performClose:"))
    performClose(sender);
  else if (action == selector("performMiniaturize:"))
    miniaturize(sender);
  else if (action == selector("performZoom:"))
    zoom(sender);
  else
    Responder::performAction(action, sender);
}

bool Window::hasActiveControls() { return isKeyWindow(); }

Rect Window::constrainFrameRect(Rect frame, Screen* screen) {
  if (!screen || !(style_ & kWindowStyleTitled)) return frame;
  Rect vf = screen->visibleFrame();
  if (frame.maxY() > vf.maxY()) frame.origin.y = vf.maxY() - frame.size.height;
  return frame;
}

void Window::addChildWindow(Window* child) {
  if (!child || child == this || child->parent_ == this) return;
  if (child->parent_) child->parent_->removeChildWindow(child);
  children_.push_back(child);
  child->parent_ = this;
  if (visible_) child->orderFront(nullptr);
}

void Window::removeChildWindow(Window* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  children_.erase(it);
  child->parent_ = nullptr;
}

bool Window::makeFirstResponder(Responder* responder) {
  if (responder == this) responder = nullptr;
  if (responder == firstResponder_) return true;
  if (firstResponder_ && !firstResponder_->resignFirstResponder()) return false;
  Responder* old = firstResponder_;
  firstResponder_ = nullptr;
  // Editing ends when the field editor loses the focus.
  if (fieldEditor_ && old == fieldEditor_) {
    fieldEditor_->setDelegate(nullptr);
    fieldEditor_->removeFromSuperview();
  }
  if (!responder) return true;
  if (!responder->acceptsFirstResponder() || !responder->becomeFirstResponder()) return false;
  // A text field that starts editing hands the focus on to the field
  // editor from its becomeFirstResponder; the editor keeps it.
  if (!firstResponder_) firstResponder_ = responder;
  return true;
}

FieldEditor* Window::fieldEditor(bool create) {
  if (!fieldEditor_ && create) fieldEditor_ = objc::adopt(new FieldEditor);
  return fieldEditor_;
}

bool Window::beginFieldEditing(View* field) {
  if (!field || field->window() != this) return false;
  FieldEditor* editor = fieldEditor(true);
  if (firstResponder_ == editor && editor->delegate() == field) return true;
  if (!makeFirstResponder(nullptr)) return false;
  editor->setFrame(makeRect(0, 0, field->bounds().size.width, field->bounds().size.height));
  field->addSubview(editor);
  editor->setDelegate(field);
  return makeFirstResponder(editor);
}

void Window::sendEvent(Event* e) {
  // The window and the responder it calls are held for the call: a
  // handler may close a window released when closed, or take the view out.
  objc::Ref<Window> self(this);
  Point p = e->locationInWindow();
  switch (e->type()) {
    case kEventLeftMouseDown:
    case kEventRightMouseDown: {
      if (!isKeyWindow() && canBecomeKeyWindow()) makeKeyAndOrderFront(nullptr);
      objc::Ref<View> hit = content_ ? content_->hitTest(p) : nullptr;
      if (!hit) return;
      if (hit.get() != firstResponder_ && hit->acceptsFirstResponder()) makeFirstResponder(hit);
      mouseView_ = hit;
      if (e->type() == kEventLeftMouseDown)
        hit->mouseDown(e);
      else
        hit->rightMouseDown(e);
      return;
    }
    case kEventLeftMouseUp:
    case kEventRightMouseUp:
    case kEventLeftMouseDragged:
    case kEventRightMouseDragged: {
      objc::Ref<View> target = mouseView_;
      if (!target) return;
      if (e->type() == kEventLeftMouseUp || e->type() == kEventRightMouseUp) mouseView_.reset();
      switch (e->type()) {
        case kEventLeftMouseUp:
          target->mouseUp(e);
          break;
        case kEventRightMouseUp:
          target->rightMouseUp(e);
          break;
        default:
          target->mouseDragged(e);
          break;
      }
      return;
    }
    case kEventMouseMoved:
    case kEventScrollWheel: {
      objc::Ref<View> hit = content_ ? content_->hitTest(p) : nullptr;
      if (!hit) return;
      if (e->type() == kEventMouseMoved)
        hit->mouseMoved(e);
      else
        hit->scrollWheel(e);
      return;
    }
    case kEventMouseEntered:
    case kEventMouseExited: {
      TrackingArea* area = e->trackingArea();
      objc::Ref<Responder> owner = area ? area->owner() : nullptr;
      if (!owner) return;
      if (e->type() == kEventMouseEntered)
        owner->mouseEntered(e);
      else
        owner->mouseExited(e);
      return;
    }
    case kEventKeyDown:
      // Command-key combinations are key equivalents first.
      if ((e->modifierFlags() & kModifierCommand) && content_) {
        if (anyView(content_, [e](View* v) { return v->performKeyEquivalent(e); })) return;
      }
      // Then the menu bar's.
      if (Application::shared().performMenuKeyEquivalent(e)) return;
      objc::Ref<Responder>(firstResponder())->keyDown(e);
      return;
    case kEventKeyUp:
      objc::Ref<Responder>(firstResponder())->keyUp(e);
      return;
    case kEventFlagsChanged:
      objc::Ref<Responder>(firstResponder())->flagsChanged(e);
      return;
    default:
      return;
  }
}

void Window::keyDown(Event* e) {
  if (defaultButton_ && isReturnKey(e->keyCode()) && defaultButton_->isEnabled()) {
    objc::Ref<Button>(defaultButton_)->performClick();
    return;
  }
  Responder::keyDown(e);
}

void Window::updateTrackingAreas(Point base) {
  if (!content_ || !visible_) return;
  // Held: an owner's handler may remove areas still to be told.
  std::vector<std::pair<objc::Ref<TrackingArea>, bool>> changes;
  anyView(content_, [&](View* v) {
    for (TrackingArea* a : v->trackingAreas()) {
      Rect local = (a->options() & kTrackingInVisibleRect) ? v->bounds() : a->rect();
      Rect r = v->convertRectToView(local, nullptr);
      bool inside = !v->isHiddenOrHasHiddenAncestor() && mouseInRect(base, r, false);
      if (inside != a->inside_) changes.emplace_back(a, inside);
    }
    return false;
  });
  for (auto& [area, inside] : changes) {
    area->inside_ = inside;
    Event* e = Event::otherEvent(inside ? kEventMouseEntered : kEventMouseExited, base, 0, 0, number_, 0, 0, 0);
    e->setTrackingArea(area);
    objc::Ref<Responder> owner = area->owner();
    if (owner) inside ? owner->mouseEntered(e) : owner->mouseExited(e);
  }
}

void Window::resetCursorRects() {
  if (!content_) return;
  anyView(content_, [](View* v) {
    v->discardCursorRects();
    if (!v->isHiddenOrHasHiddenAncestor()) v->resetCursorRects();
    return false;
  });
}

void Window::becomeKey() {
  if (delegate_) delegate_->windowDidBecomeKey(this);
}

void Window::resignKey() {
  if (delegate_) delegate_->windowDidResignKey(this);
}

}  // namespace appkit
