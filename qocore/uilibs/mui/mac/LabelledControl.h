#pragma once
// mui::LabelledControl: the flipped view that puts a label beside one
// control in two columns, for the choice, edit and superbox peers.  The
// label is a text view of the ui layer, measured by the text system: it
// wraps when its column is narrower than its text, and it sits where its
// first baseline lines up with the control's title.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/TextControls.h"
#include "qocore/uilibs/ui/mac/TextMeasurer.h"

namespace mui {

class LabelledControl : public ui::NSViewFlipped {
 public:
  // Corners of the two rectangles the geometry gives.
  struct Layout {
    Rect label;
    Rect control;
  };

  // The label (none when null or empty) goes in now, in the control text
  // colour.
  LabelledControl(const char* label, MuInsets insets);
  // At most one control ("!control"); retained.
  void addControl(appkit::Control* control);
  // The label's colour (the control text colour, or the disabled one) and
  // the control's enabled state.
  void setEnabled(bool enabled);
  // The label column and the control width: 0 natural, positive fixed,
  // negative a weight for a share of the spare width; then lays out again.
  void setWidths(int32_t labelColumn, int32_t controlWidth);

  // The label's and the control's rectangles within the available size
  // (the frame less the insets).
  Layout layoutFor(int32_t width, int32_t height);
  // The control's fitted width less its insets, plus the label's natural
  // width and the gap when there is a label.
  int32_t naturalWidth();
  // The label's height in its column at the available width, wrapped
  // when its text does not fit; 0 without a label.
  int32_t labelHeightFor(int32_t width);
  // The label's natural width (without the gap); 0 without a label.
  int32_t labelNaturalWidth();

  // The label's view; null without a label.
  ui::TextViewOC* label() const noexcept { return label_ ? label_->view() : nullptr; }
  ui::TextView* labelView() const noexcept { return label_.get(); }
  appkit::Control* control() const noexcept { return control_; }
  const MuInsets& insets() const noexcept { return insets_; }
  // Lays the label and the control out in the new frame.
  void resizeSubviewsWithOldSize(appkit::Size) override;

 protected:
  ~LabelledControl() override;

 private:
  // The columns at an available size.
  struct Columns {
    int32_t label = 0;    // the label column, gap included
    int32_t control = 0;  // the control's width
    int32_t text = 0;     // the label text's width
    int32_t height = 0;   // the label's height
  };
  Columns columns(int32_t width, int32_t height);
  int32_t controlNaturalWidth();
  // Where the label's top goes beside a control of the rectangle, for a
  // label of the height.
  double labelTop(const Rect& control, int32_t height, int32_t labelHeight);
  // The font of the label's text.
  appkit::Font* labelFont() const;

  std::unique_ptr<ui::TextView> label_;
  ui::TextMeasurer measurer_;
  objc::Ref<appkit::Control> control_;
  MuInsets insets_;
  int32_t labelSetting_ = 0;
  int32_t controlSetting_ = 0;
};

}  // namespace mui
