#include "qocore/libs/muimisc/mac/ProgressBarMac.h"

#include "platform/appkit/Geometry.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace muimisc {

namespace {

// The grey a colour text that does not parse is painted in.
constexpr const char* kFallbackColour = "#808080";

void fill(const mui::Rect& r, const char* colour) {
  ui::fillRect(ui::nativeRect(r), ui::getColour(colour, kFallbackColour));
}

}  // namespace

ProgressBar* ProgressBarMac::create(mui::MuContainer* parent, const char* id) { return new ProgressBarMac(parent, id); }

ProgressBarMac::ProgressBarMac(mui::MuContainer* parent, const char* id)
    : ProgressBar(parent, id), view_(std::make_unique<ui::CustomView>(this, this)) {
  frameWatch_ = std::make_unique<ui::ViewNotifyCxx>(this, view_->view());
  setPeer(std::make_unique<mui::MuCommonMac>(this, view_->view()));
}

ProgressBarMac::~ProgressBarMac() {
  // An empty view must not stay behind in the parent's view.
  view_->view()->removeFromSuperview();
}

void ProgressBarMac::draw() {
  fill(filledRect(), fillColour());
  fill(trackRect(), trackColour());
}

void ProgressBarMac::redrawAll() {
  const mui::Size size = getSize();
  invalidateRect(mui::Rect(0, 0, size.width, size.height));
}

void ProgressBarMac::draw(ui::CustomView*, const rfb::Rect&) { draw(); }

void ProgressBarMac::viewFrameChanged(appkit::View*) { redrawAll(); }

}  // namespace muimisc
