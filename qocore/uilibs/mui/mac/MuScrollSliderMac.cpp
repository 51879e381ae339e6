#include "qocore/uilibs/mui/mac/MuScrollSliderMac.h"

#include <algorithm>

#include "platform/appkit/Constants.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

// A slider's thickness across its track.
constexpr int32_t kSliderThickness = 28;

}  // namespace

// ---- Scroll container ----

MuScroll* MuScrollMac::create(MuContainer* parent, const char* id, uint32_t style) {
  return new MuScrollMac(parent, id, style);
}

MuScrollMac::MuScrollMac(MuContainer* parent, const char* id, uint32_t style) : MuScroll(parent, id, style) {
  scrollView_ = objc::adopt(new appkit::ScrollView(appkit::makeRect(0, 0, 1, 1)));
  scrollView_->setClipsToBounds(true);
  scrollView_->setBorderType(style & kBordered ? appkit::kBezelBorder : appkit::kNoBorder);
  scrollView_->setDrawsBackground(false);
  frameWatch_ = std::make_unique<ui::ViewNotifyCxx>(this, scrollView_);
  setPeer(std::make_unique<MuCommonMac>(this, scrollView_));
}

MuScrollMac::~MuScrollMac() {
  frameWatch_.reset();
  removeAll();
}

void MuScrollMac::refreshStyle() {
  MuContainer::refreshStyle();
  scrollView_->setDrawsBackground(true);
  const char* name = getFont().background.get();
  scrollView_->setBackgroundColor(ui::getColour(name && *name ? name : "contentBg", "contentBg"));
}

void MuScrollMac::addChild(MuElement* element) {
  MuScroll::addChild(element);
  scrollView_->setDocumentView(element ? nativeViewOf(element) : nullptr);
  relayout();
}

void MuScrollMac::removeChild(MuElement* element) {
  scrollView_->setDocumentView(nullptr);
  MuScroll::removeChild(element);
}

void MuScrollMac::removeAll() {
  scrollView_->setDocumentView(nullptr);
  MuScroll::removeAll();
}

Point MuScrollMac::childOrigin() {
  appkit::ClipView* clip = scrollView_->contentView();
  const appkit::Point o = clip->bounds().origin;
  return {truncToInt32(-o.x), truncToInt32(clip->isFlipped() ? -o.y : o.y)};
}

void MuScrollMac::relayout() {
  MuElement* c = child();
  if (!c) return;
  Size viewport = getSize();
  if (style() & kBordered) {
    const Size b = borderSize();
    viewport.width -= 2 * b.width;
    viewport.height -= 2 * b.height;
  }
  Size size;
  bool horizontal = false;
  bool vertical = false;
  computeScrollbars(viewport, size, horizontal, vertical);
  scrollView_->setHasHorizontalScroller(horizontal);
  scrollView_->setHasVerticalScroller(vertical);
  c->setSize(size);
}

Point MuScrollMac::scrollPosition() {
  const appkit::Rect r = scrollView_->documentVisibleRect();
  return {truncToInt32(r.origin.x), truncToInt32(r.origin.y)};
}

void MuScrollMac::setScrollPosition(Point point) {
  scrollView_->contentView()->scrollToPoint({double(point.x), double(point.y)});
}

Size MuScrollMac::borderSize() {
  const appkit::Size f = ui::scrollFrameSize(scrollView_, false, false, {});
  return {truncToInt32(f.width) / 2, truncToInt32(f.height) / 2};
}

int32_t MuScrollMac::horizontalScrollbarHeight() {
  return truncToInt32(ui::scrollFrameSize(scrollView_, true, false, {}).height -
                      ui::scrollFrameSize(scrollView_, false, false, {}).height);
}

int32_t MuScrollMac::verticalScrollbarWidth() {
  return truncToInt32(ui::scrollFrameSize(scrollView_, false, true, {}).width -
                      ui::scrollFrameSize(scrollView_, false, false, {}).width);
}

void MuScrollMac::viewFrameChanged(appkit::View*) { relayout(); }

// ---- Slider ----

MuSlider* MuSliderMac::create(MuContainer* parent, const char* id, uint32_t style) {
  return new MuSliderMac(parent, id, style);
}

MuSliderMac::MuSliderMac(MuContainer* parent, const char* id, uint32_t style) : MuSlider(parent, id, style) {
  slider_ = objc::adopt(new appkit::Slider(appkit::makeRect(0, 0, 1, 1)));
  slider_->setClipsToBounds(true);
  slider_->setAllowsTickMarkValuesOnly(true);
  actionTarget_ = std::make_unique<ui::ActionTarget>(this, slider_);
  setPeer(std::make_unique<MuCommonMac>(this, slider_));
}

MuSliderMac::~MuSliderMac() {
  slider_->setTarget(nullptr);
  actionTarget_.reset();
}

int32_t MuSliderMac::widthForHeight(int32_t) { return style() & kVerticalStyle ? kSliderThickness : 0; }

int32_t MuSliderMac::heightForWidth(int32_t) { return style() & kVerticalStyle ? 0 : kSliderThickness; }

void MuSliderMac::setValue(int32_t value) { slider_->setIntValue(value); }

int32_t MuSliderMac::getValue() { return slider_->intValue(); }

void MuSliderMac::setRange(int32_t minimum, int32_t maximum) {
  slider_->setMinValue(minimum);
  slider_->setMaxValue(maximum);
  slider_->setNumberOfTickMarks(static_cast<long>(int64_t{maximum} - minimum + 1));
}

int32_t MuSliderMac::getMin() { return truncToInt32(slider_->minValue()); }

int32_t MuSliderMac::getMax() { return truncToInt32(slider_->maxValue()); }

void MuSliderMac::action(objc::Object*) { click(); }

}  // namespace mui
