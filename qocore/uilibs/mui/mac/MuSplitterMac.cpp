#include "qocore/uilibs/mui/mac/MuSplitterMac.h"

#include <vector>

#include "platform/appkit/Cursor.h"

namespace mui {

MuSplitter* MuSplitterMac::create(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                                  uint32_t keepSizes) {
  return new MuSplitterMac(parent, id, orientation, thin, keepSizes);
}

MuSplitterMac::MuSplitterMac(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                             uint32_t keepSizes)
    : MuSplitter(parent, id, orientation, thin, keepSizes) {
  view_ = new ui::NSViewFlipped(appkit::makeRect(0, 0, 1, 1));
  view_->setClipsToBounds(true);
  view_->setAutoresizesSubviews(false);
  frameWatch_ = std::make_unique<ui::ViewNotifyCxx>(this, view_);
  setPeer(std::make_unique<MuCommonMac>(this, view_));
}

MuSplitterMac::~MuSplitterMac() {
  frameWatch_.reset();
  removeAll();
  view_->release();
}

void MuSplitterMac::addChild(MuElement* element) {
  if (appkit::View* view = element ? nativeViewOf(element) : nullptr) view_->addSubview(view);
  MuSplitter::addChild(element);
}

void MuSplitterMac::removeChild(MuElement* element) {
  if (appkit::View* view = element ? nativeViewOf(element) : nullptr) view->removeFromSuperview();
  MuSplitter::removeChild(element);
}

void MuSplitterMac::removeAll() {
  detachChildViews(this);
  MuSplitter::removeAll();
}

void MuSplitterMac::setPaneVisible(bool visible, int32_t index) {
  MuElement* pane = index >= 0 ? childAt(index) : nullptr;
  if (!pane) return;
  pane->setVisible(visible);
  if (appkit::View* view = nativeViewOf(pane)) {
    view->removeFromSuperview();
    if (visible) {
      // Panes never overlap, so their views' order among the subviews
      // does not show.
      view_->addSubview(view);
    }
  }
  relayout();
  view_->setNeedsDisplay(true);
}

void MuSplitterMac::relayout() {
  MuSplitter::relayout();
  if (!dragging()) resetCursorRects();
}

std::vector<appkit::Rect> MuSplitterMac::dividerRects() {
  std::vector<appkit::Rect> rects;
  const int32_t n = childCount();
  const double height = view_->bounds().size.height;
  for (int32_t i = 0; i + 1 < n; ++i) {
    const int32_t w = dividerThicknessAt(i);
    if (w <= 0) continue;
    rects.push_back(appkit::makeRect(getDividerPosition(i), 0, w, height));
  }
  return rects;
}

void MuSplitterMac::resetCursorRects() {
  view_->discardCursorRects();
  for (const appkit::Rect& r : dividerRects()) view_->addCursorRect(r, appkit::kCursorResizeLeftRight);
}

void MuSplitterMac::beginDrag() { view_->discardCursorRects(); }

void MuSplitterMac::endDrag() { resetCursorRects(); }

void MuSplitterMac::viewFrameChanged(appkit::View*) { relayout(); }

}  // namespace mui
