#include "qocore/uilibs/mui/mac/LabelledControl.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextSystem.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/ui/mac/AttrString.h"

namespace mui {

namespace {

// The width the control's title rectangle is asked for: only its
// vertical placement counts.
constexpr double kTitleProbeWidth = 200.0;

int32_t gap() { return Mui::instance()->metric(Mui::kLabelGap); }

}  // namespace

LabelledControl::LabelledControl(const char* label, MuInsets insets)
    : ui::NSViewFlipped(appkit::makeRect(0, 0, 1, 1)), measurer_(appkit::kTypesetterLatestBehavior), insets_(insets) {
  setClipsToBounds(true);
  if (!label || !*label) return;
  objc::AutoreleasePool pool;
  label_ = std::make_unique<ui::TextView>(nullptr, false, true);
  ui::AttrString text(label, true, 0);
  label_->textStorage()->setAttributedString(text.get());
  setEnabled(true);
  addSubview(label_->view());
}

LabelledControl::~LabelledControl() = default;

void LabelledControl::addControl(appkit::Control* newControl) {
  PLAT_ASSERT_TEXT(!control_, "!control");
  control_ = newControl;
  addSubview(newControl);
}

void LabelledControl::setEnabled(bool enabled) {
  if (label_) {
    appkit::TextStorage* storage = label_->textStorage();
    appkit::Color* colour = enabled ? appkit::Color::controlTextColor() : appkit::Color::disabledControlTextColor();
    storage->addAttribute(appkit::kForegroundColorAttributeName, colour, storage->wholeRange());
    label_->view()->setNeedsDisplay(true);
  }
  if (control_) control_->setEnabled(enabled);
}

void LabelledControl::setWidths(int32_t labelColumn, int32_t controlWidth) {
  labelSetting_ = labelColumn;
  controlSetting_ = controlWidth;
  resizeSubviewsWithOldSize(frame().size);
}

int32_t LabelledControl::controlNaturalWidth() {
  if (!control_) return 0;
  return rfb::clampTo32(int64_t{ceilToInt32(ui::fittingSize(control_, true).width)} - insets_.left - insets_.right);
}

int32_t LabelledControl::labelNaturalWidth() {
  if (!label_) return 0;
  objc::AutoreleasePool pool;
  return measurer_.naturalWidth(label_->textStorage(), static_cast<int>(label_->lineFragmentPadding()));
}

appkit::Font* LabelledControl::labelFont() const {
  auto* font = dynamic_cast<appkit::Font*>(label_->textStorage()->attributeAt(appkit::kFontAttributeName, 0));
  return font ? font : appkit::Font::systemFontOfSize(0);
}

LabelledControl::Columns LabelledControl::columns(int32_t width, int32_t height) {
  Columns c;
  const appkit::Size natural =
      measurer_.sizeForHeight(label_->textStorage(), std::max<double>(height, 1.0), label_->lineFragmentPadding());
  const double naturalWidth = natural.width + (labelSetting_ <= 0 ? gap() : 0);
  int64_t fixed = 0, weights = 0, label = 0, control = 0;
  if (labelSetting_ < 0)
    weights += -int64_t{labelSetting_};
  else
    fixed += label = labelSetting_ > 0 ? labelSetting_ : ceilToInt32(naturalWidth);
  if (controlSetting_ < 0)
    weights += -int64_t{controlSetting_};
  else
    fixed += control = controlSetting_ > 0 ? controlSetting_ : controlNaturalWidth();
  const int64_t spare = std::max<int64_t>(width - fixed, 0);
  if (weights > 0) {
    if (labelSetting_ < 0) label = -int64_t{labelSetting_} * spare / weights;
    if (controlSetting_ < 0) control = -int64_t{controlSetting_} * spare / weights;
  }
  // Too narrow for both at their natural widths: the label gives way, down
  // to nothing, so that the control still starts inside the view.
  if (width < fixed && labelSetting_ == 0 && controlSetting_ == 0) label = std::max<int64_t>(width - control, 0);
  c.label = rfb::clampTo32(label);
  c.control = rfb::clampTo32(control);
  c.text = std::max(c.label - gap(), 0);
  if (std::floor(naturalWidth) <= c.text)
    c.height = ceilToInt32(natural.height);
  else
    c.height = label_->heightForWidth(c.text);
  return c;
}

int32_t LabelledControl::labelHeightFor(int32_t width) {
  if (!label_) return 0;
  objc::AutoreleasePool pool;
  return columns(width, 0).height;
}

double LabelledControl::labelTop(const Rect& control, int32_t height, int32_t labelHeight) {
  double y = insets_.top + (height - labelHeight) / 2.0;
  if (!control_) return y;
  appkit::Cell* cell = control_->cell();
  if (dynamic_cast<appkit::PopUpButtonCell*>(cell) || dynamic_cast<appkit::TextFieldCell*>(cell)) {
    const double controlHeight = double(control.height());
    const appkit::Rect bounds = appkit::makeRect(control.x1, 0, kTitleProbeWidth, controlHeight);
    appkit::Rect title = cell->titleRectForBounds(bounds);
    if (title.size.height <= 0) title = cell->drawingRectForBounds(bounds);
    // Centred on the title rather than on the whole control.
    if (title.origin.y >= 0 && title.origin.y + title.size.height <= controlHeight)
      y = title.origin.y + (title.size.height - labelHeight) / 2;
  }
  // Fonts of other sizes: the first baselines line up.
  if (appkit::Font* font = cell->font()) y += font->ascender() - labelFont()->ascender();
  return y;
}

LabelledControl::Layout LabelledControl::layoutFor(int32_t width, int32_t height) {
  const MuInsets& in = insets_;
  if (!label_)
    return {Rect(), Rect(0, 0, rfb::clampTo32(int64_t{in.left} + width + in.right),
                         rfb::clampTo32(int64_t{in.top} + height + in.bottom))};
  objc::AutoreleasePool pool;
  const Columns c = columns(width, height);
  const Rect control(rfb::clampTo32(int64_t{c.label} - in.left), 0,
                     rfb::clampTo32(int64_t{c.label} + c.control + in.right),
                     rfb::clampTo32(int64_t{in.top} + height + in.bottom));
  const int32_t top = truncToInt32(std::floor(labelTop(control, height, c.height) + 0.5));
  return {Rect(0, top, c.text, rfb::clampTo32(int64_t{top} + c.height)), control};
}

int32_t LabelledControl::naturalWidth() {
  return rfb::clampTo32(int64_t{controlNaturalWidth()} + (label_ ? int64_t{labelNaturalWidth()} + gap() : 0));
}

void LabelledControl::resizeSubviewsWithOldSize(appkit::Size) {
  const appkit::Size size = frame().size;
  const int64_t width = int64_t{truncToInt32(size.width)} - insets_.right - (label_ ? 0 : insets_.left);
  const int64_t height = int64_t{truncToInt32(size.height)} - insets_.top - insets_.bottom;
  const Layout l = layoutFor(rfb::clampTo32(width), rfb::clampTo32(height));
  if (label_) label_->view()->setFrame(ui::nativeRect(l.label));
  if (control_) control_->setFrame(ui::nativeRect(l.control));
}

}  // namespace mui
