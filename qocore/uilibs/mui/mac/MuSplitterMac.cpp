#include "qocore/uilibs/mui/mac/MuSplitterMac.h"

#include "platform/appkit/Constants.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Window.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

// Mouse entered and exited, mouse moved, always active, over the visible
// rectangle: the pointer's moves over a divider reach the splitter even
// in an inactive window.
constexpr unsigned kTrackingOptions = appkit::kTrackingMouseEnteredAndExited | appkit::kTrackingMouseMoved |
                                      appkit::kTrackingActiveAlways | appkit::kTrackingInVisibleRect;

// The grey of a colour name that the appearance does not know.
constexpr const char* kFallbackColour = "#808080";

// The divider's style that draws a border in the content background
// colour on either side.
constexpr uint32_t kBorderedStyle = 2;

void fillColumns(double x, double width, const rfb::Rect& dirty, const char* colour) {
  if (width <= 0) return;
  ui::fillRect(appkit::makeRect(x, dirty.y1, width, static_cast<double>(dirty.height())),
               ui::getColour(colour, kFallbackColour));
}

}  // namespace

MuSplitter* MuSplitterMac::create(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                                  uint32_t keepSizes) {
  return new MuSplitterMac(parent, id, orientation, thin, keepSizes);
}

MuSplitterMac::MuSplitterMac(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                             uint32_t keepSizes)
    : MuSplitter(parent, id, orientation, thin, keepSizes), view_(std::make_unique<ui::CustomView>(this, this)) {
  appkit::View* view = view_->view();
  view->setAutoresizesSubviews(false);
  frameWatch_ = std::make_unique<ui::ViewNotifyCxx>(this, view);
  setPeer(std::make_unique<MuCommonMac>(this, view));
  tracking_ = objc::adopt(new appkit::TrackingArea(view->bounds(), kTrackingOptions, view));
  view->addTrackingArea(tracking_);
}

MuSplitterMac::~MuSplitterMac() {
  frameWatch_.reset();
  removeAll();
  view_->view()->removeTrackingArea(tracking_);
}

void MuSplitterMac::addChild(MuElement* element) {
  if (appkit::View* view = element ? nativeViewOf(element) : nullptr) splitterView()->addSubview(view);
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
    if (visible) {
      view->setFrameSize(view->frame().size);
      // Back in the panes' order: in front of the nearest shown pane
      // before it, else behind the first pane's view.
      const int32_t before = previousVisibleChild(index);
      if (before >= 0) {
        splitterView()->addSubview(view, appkit::kSubviewAbove, nativeViewOf(childAt(before)));
      } else {
        splitterView()->addSubview(view, appkit::kSubviewBelow, nativeViewOf(childAt(0)));
      }
    } else {
      view->removeFromSuperview();
    }
  }
  relayout();
  splitterView()->setNeedsDisplay(true);
}

void MuSplitterMac::relayout() {
  MuSplitter::relayout();
  appkit::View* view = splitterView();
  view->discardCursorRects();
  view->resetCursorRects();
}

std::vector<appkit::Rect> MuSplitterMac::dividerRects() {
  std::vector<appkit::Rect> rects;
  const int32_t n = childCount();
  const int32_t height = getSize().height;
  for (int32_t i = 0; i + 1 < n; ++i) {
    const int32_t w = dividerThicknessAt(i);
    // A hidden pane has no divider after it: its place is the next pane's.
    if (w <= 0) continue;
    rects.push_back(appkit::makeRect(getDividerPosition(i), 0, w, height));
  }
  return rects;
}

void MuSplitterMac::draw(ui::CustomView*, const rfb::Rect& dirty) {
  for (const appkit::Rect& d : dividerRects()) {
    const double x = d.origin.x;
    const double w = d.size.width;
    if (style() == kBorderedStyle) {
      fillColumns(x + 1, w - 2, dirty, "disabledText");
      fillColumns(x, 1, dirty, "contentBg");
      fillColumns(x + w - 1, 1, dirty, "contentBg");
    } else {
      fillColumns(x, w, dirty, "disabledText");
    }
  }
}

void MuSplitterMac::resetCursorRects(ui::CustomView* view) {
  for (const appkit::Rect& r : dividerRects()) view->view()->addCursorRect(r, appkit::kCursorResizeLeftRight);
}

void MuSplitterMac::beginDrag() {
  if (appkit::Window* window = splitterView()->window()) window->disableCursorRects();
}

void MuSplitterMac::endDrag() {
  if (appkit::Window* window = splitterView()->window()) {
    window->enableCursorRects();
    window->resetCursorRects();
  }
}

void MuSplitterMac::viewFrameChanged(appkit::View*) { relayout(); }

}  // namespace mui
