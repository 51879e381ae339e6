#include "qocore/uilibs/mui/mac/MuCommonMac.h"

#include <cmath>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextSystem.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {

PLAT_LOG_SOURCE(vlog, "MuCommonMac");

namespace {

// The size a single blank in the system font takes in a container of the
// size.
appkit::Size measureBlank(ui::TextMeasurer& measurer, double width, double height) {
  // Layouts measure from anywhere, with or without a pool of their own.
  objc::AutoreleasePool pool;
  appkit::Attributes attributes;
  attributes.set(appkit::kFontAttributeName, appkit::Font::systemFontOfSize(appkit::Font::systemFontSize()));
  appkit::AttributedString* blank = appkit::AttributedString::withUtf8(" ", attributes);
  return measurer.measure(blank, -1, width, height);
}

}  // namespace

void detachChildViews(MuContainer* container) {
  for (int32_t i = 0; i < container->childCount(); ++i) {
    if (appkit::View* view = nativeViewOf(container->childAt(i))) view->removeFromSuperview();
  }
}

appkit::View* nativeViewOf(MuElement* element, bool) { return element ? MuCommonMac::viewOf(element, false) : nullptr; }

MuCommonMac::MuCommonMac(MuElement* element, appkit::View* view, Insets insets)
    : element_(element), view_(view), measurer_(appkit::kTypesetterLatestBehavior), insets_(insets) {}

MuCommonMac::~MuCommonMac() = default;

void MuCommonMac::setVisible(bool visible) {
  if (view_) view_->setHidden(!visible);
}

bool MuCommonMac::isVisible() { return view_ && !view_->isHidden(); }

void MuCommonMac::setEnabled(bool enabled) {
  if (auto* control = dynamic_cast<appkit::Control*>(view_)) control->setEnabled(enabled);
}

void MuCommonMac::setFocus() {
  if (view_ && view_->acceptsFirstResponder() && view_->window()) view_->window()->makeFirstResponder(view_);
}

bool MuCommonMac::hasFocus() { return ui::isFirstResponder(view_); }

void MuCommonMac::setToolTip(const char* text) {
  if (!view_) return;
  view_->removeAllToolTips();
  view_->setToolTip(text);
}

void MuCommonMac::setSize(Size size) {
  if (!view_) return;
  view_->setFrameSize({static_cast<double>(size.width) + insets_.left + insets_.right,
                       static_cast<double>(size.height) + insets_.top + insets_.bottom});
}

Size MuCommonMac::getSize() {
  const int32_t w = insets_.left + insets_.right, h = insets_.top + insets_.bottom;
  if (!view_) return {-w, -h};
  const appkit::Size s = view_->frame().size;
  return {truncToInt32(s.width - w), truncToInt32(s.height - h)};
}

int32_t MuCommonMac::widthForHeight(int32_t height) {
  return truncToInt32(std::ceil(measureBlank(measurer_, appkit::kFloatMax, height).width));
}

int32_t MuCommonMac::heightForWidth(int32_t width) {
  return truncToInt32(measureBlank(measurer_, width, appkit::kFloatMax).height);
}

void MuCommonMac::setPosition(Point point) {
  if (!view_) return;
  appkit::View* superview = view_->superview();
  if (!superview || !superview->isFlipped()) {
    vlog().error("Warning: %s", "[[view superview] isFlipped]");
  }
  view_->setFrameOrigin({static_cast<double>(point.x) - insets_.left, static_cast<double>(point.y) - insets_.top});
}

Point MuCommonMac::getPosition() {
  if (!view_) return {};
  const appkit::Rect frame = view_->frame();
  double y = frame.origin.y;
  appkit::View* superview = view_->superview();
  if (superview && !superview->isFlipped()) y = superview->bounds().size.height - (y + frame.size.height);
  Point origin;
  if (MuContainer* parent = element_ ? element_->parent() : nullptr) origin = parent->childOrigin();
  return {truncToInt32(frame.origin.x + origin.x + insets_.left), truncToInt32(y + origin.y + insets_.top)};
}

void MuCommonMac::scrollRectToVisible(const Rect& rect) {
  if (view_) view_->scrollRectToVisible(ui::nativeRect(rect));
}

void MuCommonMac::invalidateRect(const Rect& rect) {
  if (view_) view_->setNeedsDisplayInRect(ui::nativeRect(rect));
}

appkit::View* MuCommonMac::viewOf(MuElement* element, bool assertCommon) {
  PLAT_ASSERT(element);
  auto* c = dynamic_cast<MuCommonMac*>(element->peer());
  PLAT_ASSERT_TEXT(!assertCommon || c, "!assertCommon || c");
  return c ? c->view_ : nullptr;
}

MuElement* MuCommonMac::findElementForView(MuElement* element, appkit::View* view) {
  if (viewOf(element, true) == view) return element;
  auto* container = dynamic_cast<MuContainer*>(element);
  if (!container) return nullptr;
  const int32_t n = container->childCount();
  for (int32_t i = 0; i < n; ++i) {
    MuElement* child = container->childAt(i);
    // Children that are not native peers own no view; their own children
    // cannot be in the view tree either.
    if (!child || !dynamic_cast<MuCommonMac*>(child->peer())) continue;
    if (MuElement* found = findElementForView(child, view)) return found;
  }
  return nullptr;
}

}  // namespace mui
