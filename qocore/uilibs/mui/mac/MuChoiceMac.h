#pragma once
// mui::LabelledControl, the flipped view that puts a label beside one
// control in two columns, and mui::MuChoiceMac, the drop-down choice (a
// pop-up button, or a combo box when editable) inside one.

#include <cstdint>
#include <map>
#include <memory>

#include "platform/appkit/PopUpButton.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/ActionTarget.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {

class LabelledControl : public ui::NSViewFlipped {
 public:
  // Corners of the two rectangles the geometry gives.
  struct Layout {
    Rect label;
    Rect control;
  };

  // The label (none when null or empty) goes in now.
  LabelledControl(const char* label, MuInsets insets);
  // At most one control ("!control").
  void addControl(appkit::Control* control);
  // Label colour and the control's enabled state.
  void setEnabled(bool enabled);
  // 0 natural, positive fixed, negative a weight; then lays out again.
  void setWidths(int32_t labelColumn, int32_t controlWidth);

  // The label's and the control's rectangles within the available size.
  Layout layoutFor(int32_t width, int32_t height);
  // The control's fitted width less its insets, plus the label column.
  int32_t naturalWidth();
  // The label's height when wrapped to its column at the width.
  int32_t labelHeightFor(int32_t width);
  // The label's natural width (without the gap).
  int32_t labelNaturalWidth();

  appkit::Control* label() const noexcept { return label_; }
  appkit::Control* control() const noexcept { return control_; }
  const MuInsets& insets() const noexcept { return insets_; }
  void resizeSubviewsWithOldSize(appkit::Size) override;

 protected:
  ~LabelledControl() override;

 private:
  int32_t controlNaturalWidth();
  // The label column and the label text width at the available width.
  void columns(int32_t width, int32_t& labelColumn, int32_t& controlWidth, int32_t& textWidth);

  appkit::Control* label_ = nullptr;
  appkit::Control* control_ = nullptr;
  plat::CharArray text_;
  MuInsets insets_;
  int32_t labelSetting_ = 0;
  int32_t controlSetting_ = 0;
};

class MuChoiceMac : public MuChoice, public ui::ActionCallback {
 public:
  static constexpr uint32_t kEditable = 0x1;
  static constexpr uint32_t kAutoComplete = 0x2;
  static constexpr uint32_t kComboBox = 0x4;

  // The creator that muChoiceFactory holds.
  static MuChoice* create(MuContainer* parent, const char* id, const char* label, uint32_t flags);

  MuChoiceMac(MuContainer* parent, const char* id, const char* label, uint32_t flags);
  ~MuChoiceMac() override;

  // Items by id.  Adding an id again points it at the new item.
  void addItem(int32_t itemId, const char* text);
  void removeItem(int32_t itemId);
  void removeAllItems();
  // An unknown id empties a combo box's text and clears a pop-up's choice.
  void select(int32_t itemId);
  // -1 when nothing (or an item without id) is selected.
  int32_t selectedId();

  // The core's operations, by id; an item inserted with a negative index
  // gets the next free position as its id.
  void setSelected(int32_t index) override { select(index); }
  int32_t getSelected() override { return selectedId(); }
  void setText(const char* text) override;
  const char* getText() override;
  int32_t itemCount() override { return static_cast<int32_t>(ids_.size()); }
  void insertItem(int32_t index, const char* text) override;
  // "id:text" per position; -1 for a position without id.
  plat::DString listItems() override;
  void enabledChanged() override;
  void setLabelWidth(int32_t width, int32_t extra) override;
  int32_t labelWidth() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  void action(objc::Object* sender) override;
  void doubleClick(objc::Object*) override {}

  LabelledControl* labelled() const noexcept { return labelled_; }
  appkit::PopUpButton* popUp() const noexcept { return popUp_; }
  appkit::ComboBox* comboBox() const noexcept { return combo_; }

 private:
  appkit::ItemList& items() const noexcept;
  void selectIndex(long index);

  LabelledControl* labelled_;
  appkit::PopUpButton* popUp_ = nullptr;
  appkit::ComboBox* combo_ = nullptr;
  std::unique_ptr<ui::ActionTarget> target_;
  std::map<int32_t, int32_t> ids_;
  plat::CharArray text_;
};

}  // namespace mui
