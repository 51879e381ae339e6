#include "qocore/uilibs/mui/mac/MuChoiceMac.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Metrics.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/uilibs/mui/Mui.h"

namespace mui {

namespace {

int32_t ceilInt(double v) { return truncToInt32(std::ceil(v)); }

double textWidth(const char* text) { return double(plat::utf8CharCount(text ? text : "")) * appkit::kCharacterWidth; }

int32_t gap() { return Mui::instance()->metric(Mui::kLabelGap); }

}  // namespace

// ---- Labelled control ----

LabelledControl::LabelledControl(const char* label, MuInsets insets)
    : ui::NSViewFlipped(appkit::makeRect(0, 0, 1, 1)), text_(label ? label : ""), insets_(insets) {
  setClipsToBounds(true);
  if (*text_.c_str()) {
    label_ = new appkit::Control(appkit::makeRect(0, 0, 1, 1));
    label_->setStringValue(text_.c_str());
    addSubview(label_);
  }
}

LabelledControl::~LabelledControl() {
  if (label_) label_->release();
  if (control_) control_->release();
}

void LabelledControl::addControl(appkit::Control* control) {
  PLAT_ASSERT(!control_);
  control_ = static_cast<appkit::Control*>(control->retain());
  addSubview(control);
}

void LabelledControl::setEnabled(bool enabled) {
  // The label's colour follows the control's state.
  if (label_) label_->setEnabled(enabled);
  if (control_) control_->setEnabled(enabled);
}

void LabelledControl::setWidths(int32_t labelColumn, int32_t controlWidth) {
  labelSetting_ = labelColumn;
  controlSetting_ = controlWidth;
  resizeSubviewsWithOldSize(frame().size);
}

int32_t LabelledControl::controlNaturalWidth() {
  if (!control_) return 0;
  return ceilInt(ui::fittingSize(control_, true).width) - insets_.left - insets_.right;
}

int32_t LabelledControl::labelNaturalWidth() { return label_ ? ceilInt(textWidth(text_.c_str())) : 0; }

void LabelledControl::columns(int32_t width, int32_t& labelColumn, int32_t& controlWidth, int32_t& textWidth) {
  int64_t natural = labelNaturalWidth();
  if (labelSetting_ <= 0) natural += gap();
  int64_t fixed = 0, weights = 0;
  int64_t label = 0, control = 0;
  if (labelSetting_ < 0)
    weights += -int64_t{labelSetting_};
  else
    fixed += label = labelSetting_ > 0 ? labelSetting_ : natural;
  if (controlSetting_ < 0)
    weights += -int64_t{controlSetting_};
  else
    fixed += control = controlSetting_ > 0 ? controlSetting_ : controlNaturalWidth();
  const int64_t spare = std::max<int64_t>(width - fixed, 0);
  if (weights > 0) {
    if (labelSetting_ < 0) label = -int64_t{labelSetting_} * spare / weights;
    if (controlSetting_ < 0) control = -int64_t{controlSetting_} * spare / weights;
  }
  if (width < fixed && labelSetting_ == 0 && controlSetting_ == 0) label = width - control;
  labelColumn = static_cast<int32_t>(std::clamp<int64_t>(label, INT32_MIN, INT32_MAX));
  controlWidth = static_cast<int32_t>(std::clamp<int64_t>(control, INT32_MIN, INT32_MAX));
  textWidth = std::max(labelColumn - gap(), 0);
}

int32_t LabelledControl::labelHeightFor(int32_t width) {
  if (!label_) return 0;
  int32_t column, control, text;
  columns(width, column, control, text);
  const int32_t natural = labelNaturalWidth() + (labelSetting_ <= 0 ? gap() : 0);
  if (natural <= text) return ceilInt(appkit::kSystemFontSize);
  // Wrapped to the column: as many lines as the text needs.
  const double lines = text > 0 ? std::ceil(textWidth(text_.c_str()) / text) : 1;
  return ceilInt(std::max(lines, 1.0) * appkit::kSystemFontSize);
}

LabelledControl::Layout LabelledControl::layoutFor(int32_t width, int32_t height) {
  const MuInsets& in = insets_;
  if (!label_) return {Rect(), Rect(0, 0, in.left + width + in.right, in.top + height + in.bottom)};
  int32_t column, control, text;
  columns(width, column, control, text);
  const int32_t labelHeight = labelHeightFor(width);
  const Rect controlRect(column - in.left, 0, column + control + in.right, in.top + height + in.bottom);
  // The control's title sits in the middle of its height, in the same
  // font: centring the label puts both first baselines on one line.
  const double y = in.top + (height - labelHeight) / 2.0;
  const int32_t top = truncToInt32(std::floor(y + 0.5));
  return {Rect(0, top, text, top + labelHeight), controlRect};
}

int32_t LabelledControl::naturalWidth() { return controlNaturalWidth() + (label_ ? labelNaturalWidth() + gap() : 0); }

void LabelledControl::resizeSubviewsWithOldSize(appkit::Size) {
  const appkit::Size size = frame().size;
  const int32_t width = truncToInt32(size.width) - insets_.right - (label_ ? 0 : insets_.left);
  const int32_t height = truncToInt32(size.height) - insets_.top - insets_.bottom;
  const Layout l = layoutFor(width, height);
  auto toFrame = [](const Rect& r) { return appkit::makeRect(r.x1, r.y1, double(r.width()), double(r.height())); };
  if (label_) label_->setFrame(toFrame(l.label));
  if (control_) control_->setFrame(toFrame(l.control));
}

// ---- Choice ----

MuChoice* MuChoiceMac::create(MuContainer* parent, const char* id, const char* label, uint32_t flags) {
  return new MuChoiceMac(parent, id, label, flags);
}

MuChoiceMac::MuChoiceMac(MuContainer* parent, const char* id, const char* label, uint32_t flags)
    : MuChoice(parent, id, label, (flags & kEditable) ? flags | kComboBox : flags) {
  const bool combo = choiceFlags() & kComboBox;
  const bool hasLabel = label && *label;
  MuInsets insets = combo ? MuInsets{0, 1, 3, 3} : MuInsets{2, 2, 2, 2};
  if (hasLabel) insets.left = 0;
  labelled_ = new LabelledControl(label, insets);
  appkit::Control* control;
  if (combo) {
    combo_ = new appkit::ComboBox(appkit::makeRect(0, 0, 1, 1));
    combo_->setSelectable(choiceFlags() & kEditable);
    combo_->setEditable(choiceFlags() & kEditable);
    combo_->setCompletes(choiceFlags() & kAutoComplete);
    control = combo_;
  } else {
    popUp_ = new appkit::PopUpButton(appkit::makeRect(0, 0, 1, 1));
    control = popUp_;
  }
  control->setClipsToBounds(true);
  target_ = std::make_unique<ui::ActionTarget>(this, control);
  labelled_->addControl(control);
  control->release();
  setPeer(std::make_unique<MuCommonMac>(this, labelled_, insets));
}

MuChoiceMac::~MuChoiceMac() {
  labelled_->control()->setTarget(nullptr);
  target_.reset();
  labelled_->release();
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
  addItem(index >= 0 ? index : static_cast<int32_t>(items().numberOfItems()), text);
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
  static const int32_t popUpHeight = ceilInt(appkit::kPopUpHeight) - 4;
  static const int32_t comboHeight = ceilInt(appkit::kTextFieldHeight + 2) - 4;
  return std::max(labelled_->labelHeightFor(width), combo_ ? comboHeight : popUpHeight);
}

void MuChoiceMac::action(objc::Object*) { notifyObservers(this, kEventChanged); }

}  // namespace mui
