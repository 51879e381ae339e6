#include "qocore/uilibs/mui/mac/MuStaticMac.h"

#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

constexpr int32_t kBoldFrom = 550;
constexpr int kTruncateTail = 4;
constexpr float kLineSpacing = 2;

}  // namespace

MuStatic* MuStaticMac::create(MuContainer* parent, const char* id, const char* text, uint32_t type) {
  return new MuStaticMac(parent, id, text, type);
}

MuStaticMac::MuStaticMac(MuContainer* parent, const char* id, const char* text, uint32_t type)
    : MuStatic(parent, id, text, type) {
  textView_ = std::make_unique<ui::TextView>(this, type == kSelectable, true);
  textView_->view()->setEditable(false);
  textView_->view()->setSelectable(type == kSelectable);
  setText(text, false, 0);
  setPeer(std::make_unique<MuCommonMac>(this, textView_->view()));
  if (type == kDetail) {
    setFontSize(110);
  } else if (type == kHeading) {
    font().size = 140;
    font().weight = 700;
    refreshStyle();
  }
}

void MuStaticMac::setText(const char* text, bool bold, uint32_t extra) {
  text_ = plat::CharArray(text ? text : "");
  MuStatic::setText(text_.get(), bold, extra);
  show();
  enabledChanged();
}

void MuStaticMac::show() {
  const MuFont& f = getFont();
  const float size = std::round(static_cast<float>(static_cast<int>(ui::defaultFontSize())) * f.size / 120.0f);
  ui::AttrString s(text_.get(), true, size);
  if (f.weight >= kBoldFrom) s.setBold(size);
  if (type() != kHeading) s.setLineSpacing(kLineSpacing);
  if ((extra() & kTruncate) && *text_.get()) s.setLineBreakMode(kTruncateTail);
  switch (type()) {
    case kText:
    case kLeftText:
      s.setAlignment(appkit::kTextAlignmentLeft);
      break;
    case kCenteredText:
      s.setAlignment(appkit::kTextAlignmentCenter);
      break;
    case kRightText:
      s.setAlignment(appkit::kTextAlignmentRight);
      break;
    default:
      break;
  }
  appkit::TextStorage* storage = textView_->textStorage();
  if (s.get()) storage->setAttributedString(s.get());
}

void MuStaticMac::refreshStyle() {
  if (text_.get()) setText(text_.get(), getFont().weight >= kBoldFrom, extra());
  enabledChanged();
}

void MuStaticMac::enabledChanged() {
  const char* colour = getFont().colour.get();
  appkit::Color* c = nullptr;
  if (flags() != 0)
    c = appkit::Color::disabledControlTextColor();
  else if (colour && *colour)
    c = ui::getColour(colour, "#808080");
  else
    c = appkit::Color::controlTextColor();
  appkit::TextStorage* storage = textView_->textStorage();
  storage->addAttribute(appkit::kForegroundColorAttributeName, c, storage->wholeRange());
  textView_->view()->setNeedsDisplay(true);
}

int32_t MuStaticMac::widthForHeight(int32_t height) { return textView_->widthForHeight(height); }

int32_t MuStaticMac::heightForWidth(int32_t width) { return textView_->heightForWidth(width); }

}  // namespace mui
