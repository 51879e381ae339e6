#pragma once
// mui::MuChoiceMac, the drop-down choice (a pop-up button, or a combo box
// when editable) inside a mui::LabelledControl.

#include <cstdint>
#include <map>
#include <memory>

#include "platform/appkit/PopUpButton.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/mac/LabelledControl.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/ActionTarget.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {

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

  // The core's operations, by id; an inserted item (a negative or too
  // large index appends) gets the first id from the item count on that no
  // item holds.
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

  objc::Ref<LabelledControl> labelled_;
  appkit::PopUpButton* popUp_ = nullptr;
  appkit::ComboBox* combo_ = nullptr;
  std::unique_ptr<ui::ActionTarget> target_;
  std::map<int32_t, int32_t> ids_;
  plat::CharArray text_;
};

}  // namespace mui
