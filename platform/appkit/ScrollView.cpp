#include "platform/appkit/ScrollView.h"

#include <algorithm>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Metrics.h"

namespace appkit {

namespace {

double borderWidth(int type) noexcept {
  switch (type) {
    case kLineBorder:
    case kBezelBorder:
      return kBezelBorderWidth;
    case kGrooveBorder:
      return kGrooveBorderWidth;
    default:
      return 0;
  }
}

}  // namespace

Rect ClipView::documentVisibleRect() const {
  // The document sits at the clip view's origin, in its flipped space.
  return bounds();
}

void ClipView::scrollToPoint(Point point) {
  const View* doc = documentView();
  const Size visible = bounds().size;
  const Size extent = doc ? doc->frame().size : Size{};
  point.x = std::max(0.0, std::min(point.x, extent.width - visible.width));
  point.y = std::max(0.0, std::min(point.y, extent.height - visible.height));
  setBoundsOrigin(point);
}

ScrollView::ScrollView(Rect frame) : View(frame) {
  // The clip view is a subview: its superview holds it.
  objc::Ref<ClipView> clip = objc::adopt(new ClipView(Rect{}));
  clip_ = clip;
  addSubview(clip_);
  tile();
}

ScrollView::~ScrollView() = default;

void ScrollView::setDocumentView(View* view) {
  if (View* old = clip_->documentView()) old->removeFromSuperview();
  clip_->setBoundsOrigin({0, 0});
  if (view) clip_->addSubview(view);
}

void ScrollView::setHasVerticalScroller(bool has) {
  vertical_ = has;
  tile();
}

void ScrollView::setHasHorizontalScroller(bool has) {
  horizontal_ = has;
  tile();
}

void ScrollView::setBorderType(int type) {
  border_ = type;
  tile();
}

void ScrollView::setBackgroundColor(Color* colour) { background_ = colour; }

void ScrollView::drawRect(Rect) {
  if (!drawsBackground_) return;
  Color* colour = background_ ? background_.get() : Color::windowBackgroundColor();
  colour->setFill();
  rectFill(bounds());
}

void ScrollView::setScrollerStyle(int style) {
  scrollerStyle_ = style;
  tile();
}

Size ScrollView::frameSizeForContentSize(Size content, bool horizontalScroller, bool verticalScroller, int borderType,
                                         int scrollerStyle) {
  const double b = 2 * borderWidth(borderType);
  const double scroller = scrollerStyle == kScrollerStyleOverlay ? 0 : kScrollerWidth;
  return {content.width + b + (verticalScroller ? scroller : 0),
          content.height + b + (horizontalScroller ? scroller : 0)};
}

Size ScrollView::contentSizeForFrameSize(Size frame, bool horizontalScroller, bool verticalScroller, int borderType,
                                         int scrollerStyle) {
  const Size extra = frameSizeForContentSize({}, horizontalScroller, verticalScroller, borderType, scrollerStyle);
  return {std::max(0.0, frame.width - extra.width), std::max(0.0, frame.height - extra.height)};
}

void ScrollView::tile() {
  const double b = borderWidth(border_);
  const Size content = contentSizeForFrameSize(bounds().size, horizontal_, vertical_, border_, scrollerStyle_);
  clip_->setFrame({{b, b}, content});
}

void ScrollView::resizeSubviewsWithOldSize(Size) { tile(); }

}  // namespace appkit
