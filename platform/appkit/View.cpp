#include "platform/appkit/View.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"
#include "platform/objc/NotificationCenter.h"
#include "qocore/base/plat/Utf8.h"

namespace appkit {

const char* const kViewFrameDidChangeNotification = "NSViewFrameDidChangeNotification";

View::View(Rect frame) : frame_(frame), bounds_{{0, 0}, frame.size} {}

View::~View() {
  for (View* v : subviews_) {
    v->superview_ = nullptr;
    v->setNextResponder(nullptr);
    v->setWindow(nullptr);
  }
  subviews_.clear();
  for (TrackingArea* a : trackingAreas_) a->view_ = nullptr;
  trackingAreas_.clear();
}

void View::frameChanged() {
  if (postsFrameChanges_) objc::NotificationCenter::defaultCenter().post(kViewFrameDidChangeNotification, this);
}

void View::setFrame(Rect frame) {
  if (frame == frame_) return;
  const Size old = frame_.size;
  frame_ = frame;
  bounds_.size = frame.size;
  if (old != frame.size) resizeSubviewsWithOldSize(old);
  frameChanged();
}

void View::setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }
void View::setFrameSize(Size size) { setFrame({frame_.origin, size}); }
void View::setBoundsOrigin(Point origin) { bounds_.origin = origin; }

bool View::isHiddenOrHasHiddenAncestor() const noexcept {
  for (const View* v = this; v; v = v->superview_)
    if (v->hidden_) return true;
  return false;
}

void View::setNeedsDisplayInRect(Rect rect) noexcept {
  if (!needsDisplay_ || dirtyRect_.size == Size{}) {
    dirtyRect_ = rect;
  } else {
    const double x0 = std::min(dirtyRect_.minX(), rect.minX()), y0 = std::min(dirtyRect_.minY(), rect.minY());
    const double x1 = std::max(dirtyRect_.maxX(), rect.maxX()), y1 = std::max(dirtyRect_.maxY(), rect.maxY());
    dirtyRect_ = makeRect(x0, y0, x1 - x0, y1 - y0);
  }
  needsDisplay_ = true;
}

void View::setWindow(Window* window) {
  if (window_ == window) return;
  window_ = window;
  for (View* v : subviews_) v->setWindow(window);
  viewDidMoveToWindow();
}

void View::addSubview(View* view) {
  if (!view || view == this) return;
  objc::Ref<View> held(view);
  view->removeFromSuperview();
  subviews_.push_back(std::move(held));
  view->superview_ = this;
  view->setNextResponder(this);
  view->setWindow(window_);
}

void View::addSubview(View* view, int place, const View* relativeTo) {
  if (!view || view == this) return;
  addSubview(view);
  objc::Ref<View> moved = subviews_.take(subviews_.size() - 1);
  size_t at = subviews_.indexOf(relativeTo);
  if (at == subviews_.size()) {
    at = place == kSubviewAbove ? subviews_.size() : 0;
  } else if (place == kSubviewAbove) {
    ++at;
  }
  subviews_.insert(at, std::move(moved));
}

void View::removeFromSuperview() {
  View* super = superview_;
  if (!super) {
    // A window's content view sits in the window's frame: taken out of
    // it, the view leaves the window.
    if (window_ && window_->contentView() == this) window_->setContentView(nullptr);
    return;
  }
  if (window_) {
    Responder* first = window_->firstResponder();
    View* firstView = dynamic_cast<View*>(first);
    if (firstView && firstView->isDescendantOf(this)) {
      window_->makeFirstResponder(nullptr);
      // The field editor leaves its field when editing ends: then this
      // view is out already.
      if (superview_ != super) return;
    }
  }
  // The superview's reference, dropped once this view is out.
  objc::Ref<View> held = super->subviews_.remove(this);
  superview_ = nullptr;
  setNextResponder(nullptr);
  setWindow(nullptr);
}

bool View::isDescendantOf(const View* view) const noexcept {
  for (const View* v = this; v; v = v->superview_)
    if (v == view) return true;
  return false;
}

// A point of this view's bounds becomes an offset from the frame's lower
// left corner, which the superview places by its own direction.  A view
// without a superview is the window's content view, whose frame is in the
// window's base coordinates.
Point View::toBase(Point p) const {
  const View* v = this;
  for (;;) {
    double u = p.x - v->bounds_.origin.x;
    double w = v->isFlipped() ? v->bounds_.size.height - (p.y - v->bounds_.origin.y) : p.y - v->bounds_.origin.y;
    const View* s = v->superview_;
    const Rect& f = v->frame_;
    if (!s) return {f.origin.x + u, f.origin.y + w};
    p = {f.origin.x + u, s->isFlipped() ? f.origin.y + f.size.height - w : f.origin.y + w};
    v = s;
  }
}

Point View::fromBase(Point p) const {
  std::vector<const View*> chain;
  for (const View* v = this; v; v = v->superview_) chain.push_back(v);
  // From the outermost view inwards: p is in the coordinates of the
  // superview (base coordinates for the outermost).
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const View* v = *it;
    const View* s = v->superview_;
    const Rect& f = v->frame_;
    double u = p.x - f.origin.x;
    double w = (s && s->isFlipped()) ? f.origin.y + f.size.height - p.y : p.y - f.origin.y;
    p = {v->bounds_.origin.x + u,
         v->isFlipped() ? v->bounds_.origin.y + v->bounds_.size.height - w : v->bounds_.origin.y + w};
  }
  return p;
}

Point View::convertPointToView(Point p, const View* view) const {
  Point base = toBase(p);
  return view ? view->fromBase(base) : base;
}

Point View::convertPointFromView(Point p, const View* view) const {
  Point base = view ? view->toBase(p) : p;
  return fromBase(base);
}

namespace {
Rect spanning(Point a, Point b) {
  return makeRect(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(a.x - b.x), std::abs(a.y - b.y));
}
}  // namespace

Rect View::convertRectToView(Rect r, const View* view) const {
  return spanning(convertPointToView(r.origin, view), convertPointToView({r.maxX(), r.maxY()}, view));
}

Rect View::convertRectFromView(Rect r, const View* view) const {
  return spanning(convertPointFromView(r.origin, view), convertPointFromView({r.maxX(), r.maxY()}, view));
}

View* View::hitTest(Point p) {
  if (hidden_) return nullptr;
  bool superFlipped = superview_ && superview_->isFlipped();
  if (!mouseInRect(p, frame_, superFlipped)) return nullptr;
  // Into our own coordinates: the same conversion as one step of fromBase.
  double u = p.x - frame_.origin.x;
  double w = superFlipped ? frame_.origin.y + frame_.size.height - p.y : p.y - frame_.origin.y;
  Point local{bounds_.origin.x + u, isFlipped() ? bounds_.origin.y + bounds_.size.height - w : bounds_.origin.y + w};
  for (auto it = subviews().rbegin(); it != subviews().rend(); ++it)
    if (View* hit = (*it)->hitTest(local)) return hit;
  return this;
}

void View::addTrackingArea(TrackingArea* area) {
  if (!area || area->view_) return;
  trackingAreas_.push_back(area);
  area->view_ = this;
  area->inside_ = false;
}

void View::removeTrackingArea(TrackingArea* area) {
  objc::Ref<TrackingArea> gone = trackingAreas_.remove(area);
  if (gone) gone->view_ = nullptr;
}

Cell::~Cell() = default;

void Cell::setObjectValue(objc::Object* value) noexcept { objectValue_ = value; }

void Cell::drawWithFrame(Rect frame, View* view) { drawInteriorWithFrame(frame, view); }

Control::Control(Rect frame) : View(frame), cell_(objc::adopt(new Cell)) {}

Control::Control(Rect frame, Cell* cell) : View(frame), cell_(objc::adopt(cell)) {}

Control::~Control() = default;

void Control::setStringValue(const char* value) { value_ = plat::CharArray(value ? value : ""); }

long Control::integerValue() const noexcept { return std::strtol(value_.c_str(), nullptr, 10); }

void Control::setIntegerValue(long value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%ld", value);
  value_ = plat::CharArray(buf);
}

Size Control::fittingSize() const {
  return {static_cast<double>(plat::utf8CharCount(value_.c_str())) * kCharacterWidth + 4, kTextFieldHeight};
}

void Control::sizeToFit() { setFrameSize(fittingSize()); }

double Control::firstBaselineOffsetFromTop() const {
  const Font* font = cell_->font();
  if (!font) return 0;
  Rect title = cell_->titleRectForBounds(bounds());
  if (title.size.height <= 0) title = cell_->drawingRectForBounds(bounds());
  return title.origin.y - bounds().origin.y + font->ascender();
}

bool Control::sendAction(Sel action, ActionTarget* target) {
  if (!action) return false;
  return Application::shared().sendAction(action, target, this);
}

void Control::mouseDown(Event* e) {
  if (!enabled_) return;
  if (e->clickCount() == 2 && doubleAction_) {
    sendAction(doubleAction_, target_);
    return;
  }
  sendAction(action_, target_);
}

Size Button::fittingSize() const {
  if (type_ == kButtonSwitch || type_ == kButtonRadio) {
    // The indicator, a gap and the title.
    const double text = static_cast<double>(plat::utf8CharCount(title_.c_str())) * kCharacterWidth;
    return {kCheckIndicatorWidth + (text > 0 ? kCheckTitleGap + text : 0), kCheckHeight};
  }
  const double text = static_cast<double>(plat::utf8CharCount(title_.c_str())) * kCharacterWidth;
  Size size{text + 2 * kButtonPadding, kButtonHeight};
  if (image_ && imagePosition_ != kNoImage) {
    const Size i = image_->size();
    if (imagePosition_ == kImageOnly)
      size.width = i.width + 2 * kButtonPadding;
    else
      size.width += i.width + (text > 0 ? kButtonImageGap : 0);
    size.height = std::max(size.height, i.height + 2);
  }
  return size;
}

Button::~Button() = default;

void Button::setState(int state) noexcept { state_ = state < 0 ? (allowsMixed_ ? -1 : 1) : (state > 0 ? 1 : 0); }

int Button::nextState() const noexcept {
  if (type_ == kButtonRadio) return 1;
  if (state_ < 0) return 1;
  if (state_ > 0) return 0;
  return allowsMixed_ ? -1 : 1;
}

void Button::setImage(Image* image) noexcept { image_ = image; }

void Button::setAlternateImage(Image* image) noexcept { alternate_ = image; }

void Button::setAttributedTitle(const char* title, double fontSize, Color* colour) {
  setTitle(title);
  fontSize_ = fontSize;
  titleColor_ = colour;
}

bool Button::keepsState() const noexcept {
  return type_ != kButtonMomentaryLight && type_ != kButtonMomentaryChange && type_ != kButtonMomentaryPushIn;
}

void Button::mouseDown(Event* e) {
  if (!isEnabled()) return;
  if (keepsState()) state_ = nextState();
  Control::mouseDown(e);
}

void Button::performClick() {
  if (!isEnabled()) return;
  if (keepsState()) state_ = nextState();
  sendAction(action(), target());
}

bool Button::performKeyEquivalent(Event* e) {
  objc::String* chars = e->charactersIgnoringModifiers();
  if (!isEnabled() || !*key_.c_str() || !chars) return false;
  if (std::strcmp(chars->utf8(), key_.c_str()) != 0) return false;
  performClick();
  return true;
}

void View::displayRectIgnoringOpacity(Rect rect, GraphicsContext* context) {
  GraphicsContext* previous = GraphicsContext::current();
  GraphicsContext::setCurrent(context);
  GraphicsContext::saveGraphicsState();
  context->setFlipped(isFlipped());
  context->translate(-bounds_.origin.x, -bounds_.origin.y);
  context->clipToRect(rect);
  drawRect(rect);
  GraphicsContext::restoreGraphicsState();
  GraphicsContext::setCurrent(previous);
}

void View::rightMouseDown(Event* e) {
  // Held while it tracks: an item's action may let go of it.
  objc::Ref<Menu> menu = menuForEvent(e);
  if (!menu) return Responder::rightMouseDown(e);
  Point at = convertPointFromView(e->locationInWindow(), nullptr);
  menu->popUpMenuPositioningItem(nullptr, at, this);
}

}  // namespace appkit
