#include "qocore/uilibs/mui/mac/MuFrameMac.h"

#include <algorithm>

#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

std::unique_ptr<ui::MouseReceiver> mouseReceiverFor(appkit::View* view, qoutil::MouseCallback* callback) {
  return ui::makeMouseReceiver ? ui::makeMouseReceiver(view, callback) : nullptr;
}

}  // namespace

// ---- Frame ----

MuFrame* MuFrameMac::create(MuContainer* parent, const char* id, const char* title, uint32_t type) {
  return new MuFrameMac(parent, id, title, type);
}

MuFrameMac::MuFrameMac(MuContainer* parent, const char* id, const char* title, uint32_t type)
    : MuFrame(parent, id, title, type) {
  background_ = objc::adopt(new BackgroundFrameOC(appkit::makeRect(0, 0, 1, 1)));
  background_->setClipsToBounds(true);
  background_->cxx = this;
  appkit::View* outer = background_;
  if (type == kTitled) {
    box_ = objc::adopt(new appkit::Box(appkit::makeRect(0, 0, 1, 1)));
    box_->setClipsToBounds(true);
    box_->setTitlePosition(title && *title ? appkit::kAtTop : appkit::kNoTitle);
    ui::setControlText(box_, title);
    box_->setContentViewMargins({0, 0});
    box_->setContentView(background_);
    outer = box_;
  } else {
    background_->setAutoresizesSubviews(false);
  }
  frameWatch_ = std::make_unique<ui::ViewNotifyCxx>(this, background_);
  mouse_ = mouseReceiverFor(background_, this);
  background_->receiver = mouse_.get();
  setPeer(std::make_unique<MuCommonMac>(this, outer));
}

MuFrameMac::~MuFrameMac() {
  removeAll();
  frameWatch_.reset();
  background_->receiver = nullptr;
  mouse_.reset();
  background_->cxx = nullptr;
}

Size MuFrameMac::extra() {
  const Size m = margins();
  Size e{2 * m.width, 2 * m.height};
  if (box_) {
    // What the box takes around the background once it is large enough
    // for it: a box not sized yet would give nonsense here.
    const appkit::Size d = box_->decorationSize();
    e.width += truncToInt32(d.width);
    e.height += truncToInt32(d.height);
  }
  return e;
}

int32_t MuFrameMac::widthForHeight(int32_t height) {
  const Size e = extra();
  MuElement* c = child();
  return rfb::clampTo32(int64_t{e.width} + (c ? c->widthForHeight(rfb::clampTo32(int64_t{height} - e.height)) : 0));
}

int32_t MuFrameMac::heightForWidth(int32_t width) {
  const Size e = extra();
  MuElement* c = child();
  return rfb::clampTo32(int64_t{e.height} + (c ? c->heightForWidth(rfb::clampTo32(int64_t{width} - e.width)) : 0));
}

void MuFrameMac::refreshStyle() {
  MuContainer::refreshStyle();
  background_->setNeedsDisplay(true);
}

void MuFrameMac::addChild(MuElement* element) {
  // The child replaces the previous one, whose view goes with it.
  if (MuElement* previous = child(); previous && previous != element) {
    if (appkit::View* view = nativeViewOf(previous)) view->removeFromSuperview();
  }
  MuFrame::addChild(element);
  if (appkit::View* view = nativeViewOf(element)) background_->addSubview(view);
  relayout();
}

void MuFrameMac::removeChild(MuElement* element) {
  if (appkit::View* view = element ? nativeViewOf(element) : nullptr) view->removeFromSuperview();
  MuFrame::removeChild(element);
}

void MuFrameMac::removeAll() {
  detachChildViews(this);
  MuFrame::removeAll();
}

Point MuFrameMac::childOrigin() {
  if (!box_) return {};
  const appkit::Rect f = background_->frame();
  double y = f.origin.y;
  if (!box_->isFlipped()) y = box_->bounds().size.height - (y + f.size.height);
  return {truncToInt32(f.origin.x), truncToInt32(y)};
}

void MuFrameMac::relayout() {
  MuElement* c = child();
  appkit::View* view = c ? nativeViewOf(c) : nullptr;
  if (!view) return;
  const appkit::Rect b = background_->bounds();
  const Size m = margins();
  view->setFrame(appkit::makeRect(b.origin.x + m.width, b.origin.y + m.height,
                                  std::max(0.0, b.size.width - 2.0 * m.width),
                                  std::max(0.0, b.size.height - 2.0 * m.height)));
}

void MuFrameMac::viewFrameChanged(appkit::View*) { relayout(); }

// ---- Layout ----

MuLayout* MuLayoutMac::create(MuContainer* parent, const char* id, uint32_t direction) {
  return new MuLayoutMac(parent, id, direction);
}

MuLayoutMac::MuLayoutMac(MuContainer* parent, const char* id, uint32_t direction) : MuLayout(parent, id, direction) {
  container_ = objc::adopt(new NSViewWithHandlerOC(appkit::makeRect(0, 0, 1, 1)));
  container_->setClipsToBounds(true);
  container_->setAutoresizesSubviews(false);
  frameWatch_ = std::make_unique<ui::ViewNotifyCxx>(this, container_);
  mouse_ = mouseReceiverFor(container_, this);
  container_->receiver = mouse_.get();
  setPeer(std::make_unique<MuCommonMac>(this, container_));
}

MuLayoutMac::~MuLayoutMac() {
  removeAll();
  frameWatch_.reset();
  container_->receiver = nullptr;
  mouse_.reset();
}

void MuLayoutMac::layoutNow() {
  relayout();
  container_->setNeedsDisplay(true);
}

void MuLayoutMac::addChild(MuElement* element) {
  MuLayout::addChild(element);
  if (appkit::View* view = nativeViewOf(element)) container_->addSubview(view);
  relayout();
}

void MuLayoutMac::removeChild(MuElement* element) {
  if (appkit::View* view = element ? nativeViewOf(element) : nullptr) view->removeFromSuperview();
  MuLayout::removeChild(element);
  relayout();
}

void MuLayoutMac::removeAll() {
  detachChildViews(this);
  MuLayout::removeAll();
}

void MuLayoutMac::viewFrameChanged(appkit::View*) { relayout(); }

// ---- Line ----

MuLine* MuLineMac::create(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness) {
  return new MuLineMac(parent, id, horizontal, etched, thickness);
}

MuLineMac::MuLineMac(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness)
    : MuLine(parent, id, horizontal, etched, thickness) {
  lineView_ = objc::adopt(new MuLineOC(appkit::makeRect(0, 0, 1, 1)));
  lineView_->setClipsToBounds(true);
  lineView_->cxx = this;
  setPeer(std::make_unique<MuCommonMac>(this, lineView_));
}

MuLineMac::~MuLineMac() { lineView_->cxx = nullptr; }

// ---- Drawing ----

void BackgroundFrameOC::drawRect(appkit::Rect dirty) {
  if (cxx) {
    if (const char* name = cxx->getFont().background.get()) ui::fillRect(dirty, ui::getColour(name, "#808080"));
  }
  ui::MouseForwardingView::drawRect(dirty);
  appkit::GraphicsContext* context = appkit::GraphicsContext::current();
  if (!cxx || cxx->box() || !context) return;
  const uint32_t type = cxx->type();
  if (type != MuFrame::kHeader && type != MuFrame::kFooter && type != MuFrame::kBordered) return;
  const appkit::Size size = bounds().size;
  const double w = size.width, h = size.height;
  context->setLineWidth(1);
  context->setStrokeColor(appkit::Color::systemGrayColor());
  if (type == MuFrame::kHeader || type == MuFrame::kBordered) context->strokeLine({0, h}, {w, h});
  if (type == MuFrame::kFooter || type == MuFrame::kBordered) context->strokeLine({0, 0}, {w, 0});
  if (type == MuFrame::kBordered) {
    context->strokeLine({0, h}, {0, 0});
    context->strokeLine({w, h}, {w, 0});
  }
}

void MuLineOC::drawRect(appkit::Rect dirty) {
  if (cxx && cxx->etched()) {
    ui::fillRect(dirty, ui::getColour("disabledText", "#808080"));
    appkit::Rect half = dirty;
    if (cxx->horizontal()) {
      half.origin.y += dirty.size.height / 2;
    } else {
      half.origin.x += dirty.size.width / 2;
    }
    ui::fillRect(half, ui::getColour("contentBg", "#808080"));
  } else if (cxx) {
    ui::fillRect(dirty, ui::getColour(cxx->getFont().colour.get(), "contentText"));
  }
  ui::NSViewFlipped::drawRect(dirty);
}

void MuLineMac::refreshStyle() { lineView_->setNeedsDisplay(true); }

}  // namespace mui
