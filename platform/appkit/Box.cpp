#include "platform/appkit/Box.h"

#include <algorithm>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"

namespace appkit {

Box::Box(Rect frame)
    : View(frame), margins_{kBoxContentMargin, kBoxContentMargin}, titlePosition_(kAtTop), borderType_(kGrooveBorder) {
  objc::Ref<View> content = objc::adopt(new View);
  setContentView(content);
}

Box::~Box() = default;

void Box::setTitlePosition(int position) {
  titlePosition_ = position;
  tile();
}

void Box::setBorderType(int type) {
  borderType_ = type;
  tile();
}

void Box::setTransparent(bool transparent) {
  transparent_ = transparent;
  tile();
}

void Box::setContentViewMargins(Size margins) {
  margins_ = margins;
  tile();
}

void Box::setContentView(View* view) {
  if (view == content_) return;
  if (content_) content_->removeFromSuperview();
  content_ = view;
  if (content_) {
    addSubview(content_);
    tile();
  }
}

double Box::borderWidth() const noexcept {
  if (transparent_) return 0;
  switch (borderType_) {
    case kLineBorder:
    case kBezelBorder:
      return kBezelBorderWidth;
    case kGrooveBorder:
      return kGrooveBorderWidth;
    default:
      return 0;
  }
}

Rect Box::titleRect() const noexcept {
  if (titlePosition_ <= kNoTitle || titlePosition_ > kBelowBottom) return {};
  const Size size = bounds().size;
  const double b = borderWidth();
  const double h = std::min(kBoxTitleHeight, std::max(0.0, size.height - 2 * b));
  const bool atTop = titlePosition_ <= kBelowTop;
  // The band's distance from the box's lower edge in its own direction.
  const double y = atTop == isFlipped() ? b : size.height - b - h;
  return makeRect(b, y, std::max(0.0, size.width - 2 * b), h);
}

Rect Box::contentRect() const noexcept {
  const Size size = bounds().size;
  const double b = borderWidth();
  const double band = titleRect().size.height;
  const bool atTop = titlePosition_ <= kBelowTop;
  const double left = b + margins_.width;
  const double near = b + margins_.height + (band > 0 && atTop == isFlipped() ? band : 0);
  const double w = std::max(0.0, size.width - 2 * left);
  const double h = std::max(0.0, size.height - 2 * (b + margins_.height) - band);
  return makeRect(left, near, w, h);
}

Size Box::decorationSize() const noexcept {
  const double b = borderWidth();
  const double band = titlePosition_ > kNoTitle && titlePosition_ <= kBelowBottom ? kBoxTitleHeight : 0;
  return {2 * (b + margins_.width), 2 * (b + margins_.height) + band};
}

void Box::tile() {
  if (content_) content_->setFrame(contentRect());
}

}  // namespace appkit
