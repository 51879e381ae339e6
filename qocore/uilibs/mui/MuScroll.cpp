#include "qocore/uilibs/mui/MuScroll.h"

#include <algorithm>

#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/Adopt.h"

namespace mui {

MuScroll* (*muScrollFactory)(MuContainer*, const char*, uint32_t) = nullptr;

namespace {

// Measured along a scrolling axis: no practical limit.
constexpr int32_t kUnlimited = 0x3FFFFFFF;

int32_t capped(int64_t value, int32_t maximum) { return static_cast<int32_t>(std::min<int64_t>(value, maximum)); }

}  // namespace

MuScroll* MuScroll::create(MuContainer* parent, const char* id, uint32_t style) {
  PLAT_ASSERT(muScrollFactory);
  return adopt(parent, muScrollFactory(parent, id, style));
}

plat::DString MuScroll::describe() {
  plat::DString text = MuElement::describe();
  text.appendf("element Scroll\nstyle %d\n", static_cast<int>(style_));
  return text;
}

Size MuScroll::chromeSize() {
  Size chrome;
  if (style_ & kBordered) {
    const Size border = borderSize();
    chrome = Size{2 * border.width, 2 * border.height};
  }
  if (style_ & kVertical) chrome.width += verticalScrollbarWidth();
  if (style_ & kHorizontal) chrome.height += horizontalScrollbarHeight();
  return chrome;
}

int32_t MuScroll::widthForHeight(int32_t height) {
  const Size chrome = chromeSize();
  MuElement* c = child();
  const int32_t inner = c ? c->widthForHeight(((style_ & kVertical) ? kUnlimited : height) - chrome.height) : 0;
  return capped(int64_t{inner} + chrome.width, maxSize_.width);
}

int32_t MuScroll::heightForWidth(int32_t width) {
  const Size chrome = chromeSize();
  MuElement* c = child();
  const int32_t inner = c ? c->heightForWidth(((style_ & kHorizontal) ? kUnlimited : width) - chrome.width) : 0;
  return capped(int64_t{inner} + chrome.height, maxSize_.height);
}

void MuScroll::computeScrollbars(Size available, Size& childSize, bool& horizontal, bool& vertical) {
  MuElement* c = child();
  childSize = available;
  horizontal = vertical = false;
  if (!c) return;
  auto verticalTest = [&] {
    if (!(style_ & kVertical) || c->heightForWidth(available.width) <= available.height) return;
    vertical = true;
    available.width -= verticalScrollbarWidth();
    // A horizontal bar already made the child wider than the room.
    childSize.width = horizontal ? std::max(childSize.width, available.width) : available.width;
    childSize.height = std::max(childSize.height, c->heightForWidth(available.width));
  };
  verticalTest();
  const bool verticalFirst = vertical;
  if ((style_ & kHorizontal) && c->widthForHeight(childSize.height) > available.width) {
    horizontal = true;
    available.height -= horizontalScrollbarHeight();
    if (!verticalFirst) childSize.height = available.height;
    childSize.width = std::max(childSize.width, c->widthForHeight(childSize.height));
  }
  // The horizontal bar may have made vertical scrolling necessary.
  if (!verticalFirst) verticalTest();
}

}  // namespace mui
