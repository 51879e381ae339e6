#include "qocore/uilibs/mui/mac/MuChoiceMac.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Metrics.h"

namespace mui {

MuChoice* MuChoiceMac::create(MuContainer* parent, const char* id, const char* label, uint32_t flags) {
  return new MuChoiceMac(parent, id, label, flags);
}

MuChoiceMac::MuChoiceMac(MuContainer* parent, const char* id, const char* label, uint32_t flags)
    : MuChoice(parent, id, label, (flags & kEditable) ? flags | kComboBox : flags) {
  const bool combo = choiceFlags() & kComboBox;
  const bool hasLabel = label && *label;
  MuInsets insets = combo ? MuInsets{0, 1, 3, 3} : MuInsets{2, 2, 2, 2};
  if (hasLabel) insets.left = 0;
  labelled_ = objc::adopt(new LabelledControl(label, insets));
  // The labelled control holds the control.
  objc::Ref<appkit::Control> control;
  if (combo) {
    combo_ = new appkit::ComboBox(appkit::makeRect(0, 0, 1, 1));
    control = objc::adopt<appkit::Control>(combo_);
    combo_->setSelectable(choiceFlags() & kEditable);
    combo_->setEditable(choiceFlags() & kEditable);
    combo_->setCompletes(choiceFlags() & kAutoComplete);
  } else {
    popUp_ = new appkit::PopUpButton(appkit::makeRect(0, 0, 1, 1));
    control = objc::adopt<appkit::Control>(popUp_);
  }
  control->setClipsToBounds(true);
  target_ = std::make_unique<ui::ActionTarget>(this, control);
  labelled_->addControl(control);
  setPeer(std::make_unique<MuCommonMac>(this, labelled_, insets));
}

MuChoiceMac::~MuChoiceMac() {
  labelled_->control()->setTarget(nullptr);
  target_.reset();
}

appkit::ItemList& MuChoiceMac::items() const noexcept {
  if (combo_) return *combo_;
  return *popUp_;
}

void MuChoiceMac::addItem(int32_t itemId, const char* text) {
  if (combo_)
    combo_->addItemWithObjectValue(text);
  else
    popUp_->addItemWithTitle(text);
  ids_[itemId] = static_cast<int32_t>(items().numberOfItems() - 1);
}

void MuChoiceMac::insertItem(int32_t index, const char* text) {
  const long count = items().numberOfItems();
  const long position = index >= 0 && index < count ? index : count;
  // The next id not in use from the item count on: no item loses its own.
  int32_t id = static_cast<int32_t>(count);
  while (ids_.count(id)) ++id;
  for (auto& [key, pos] : ids_)
    if (pos >= position) ++pos;
  if (combo_)
    combo_->insertItemWithObjectValue(text, position);
  else
    popUp_->insertItemWithTitle(text, position);
  ids_[id] = static_cast<int32_t>(position);
}

void MuChoiceMac::removeItem(int32_t itemId) {
  auto it = ids_.find(itemId);
  if (it == ids_.end()) return;
  const int32_t position = it->second;
  if (combo_)
    combo_->removeItemAtIndex(position);
  else
    popUp_->removeItemAtIndex(position);
  ids_.erase(it);
  for (auto& [id, pos] : ids_)
    if (pos > position) --pos;
}

void MuChoiceMac::removeAllItems() {
  ids_.clear();
  if (combo_)
    combo_->removeAllItems();
  else
    popUp_->removeAllItems();
}

void MuChoiceMac::selectIndex(long index) {
  if (combo_)
    combo_->selectItemAtIndex(index);
  else
    popUp_->selectItemAtIndex(index);
}

void MuChoiceMac::select(int32_t itemId) {
  auto it = ids_.find(itemId);
  if (it != ids_.end()) return selectIndex(it->second);
  if (combo_) {
    combo_->selectItemAtIndex(-1);
    combo_->setStringValue("");
  } else {
    popUp_->selectItemAtIndex(-1);
  }
}

int32_t MuChoiceMac::selectedId() {
  const long index = items().indexOfSelectedItem();
  if (index < 0) return -1;
  for (const auto& [id, pos] : ids_)
    if (pos == index) return id;
  return -1;
}

void MuChoiceMac::setText(const char* text) {
  if (combo_)
    combo_->setStringValue(text);
  else
    popUp_->setTitle(text);
}

const char* MuChoiceMac::getText() {
  text_ = combo_ ? combo_->stringValue() : popUp_->title();
  return text_.c_str();
}

plat::DString MuChoiceMac::listItems() {
  plat::DString out;
  const long count = items().numberOfItems();
  for (long j = 0; j < count; ++j) {
    // An item whose id was re-pointed to a later item has none: -1.
    int32_t id = -1;
    for (const auto& [key, pos] : ids_)
      if (pos == j) id = key;
    out.appendf("%d:%s\n", id, items().itemTitleAtIndex(j));
  }
  return out;
}

void MuChoiceMac::enabledChanged() { labelled_->setEnabled(flags() == 0); }

void MuChoiceMac::setLabelWidth(int32_t width, int32_t extra) { labelled_->setWidths(width, extra); }

int32_t MuChoiceMac::labelWidth() { return labelled_->labelNaturalWidth(); }

int32_t MuChoiceMac::widthForHeight(int32_t) { return labelled_->naturalWidth(); }

int32_t MuChoiceMac::heightForWidth(int32_t width) {
  static const int32_t popUpHeight = ceilToInt32(appkit::kPopUpHeight) - 4;
  static const int32_t comboHeight = ceilToInt32(appkit::kTextFieldHeight + 2) - 4;
  return std::max(labelled_->labelHeightFor(width), combo_ ? comboHeight : popUpHeight);
}

void MuChoiceMac::action(objc::Object*) { notifyObservers(this, kEventChanged); }

}  // namespace mui
