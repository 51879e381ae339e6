#include "qocore/uilibs/mui/MuControls.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/uilibs/mui/Adopt.h"
#include "qocore/uilibs/mui/Mui.h"

namespace mui {

MuButton* (*muButtonFactory)(MuContainer*, const char*, const char*, uint32_t, uint32_t, uint32_t) = nullptr;
MuCheck* (*muCheckFactory)(MuContainer*, const char*, const char*, uint32_t, MuCheck*, const char*) = nullptr;
MuChoice* (*muChoiceFactory)(MuContainer*, const char*, const char*, uint32_t) = nullptr;
MuEdit* (*muEditFactory)(MuContainer*, const char*, const char*, uint32_t, uint32_t) = nullptr;
MuFrame* (*muFrameFactory)(MuContainer*, const char*, const char*, uint32_t) = nullptr;
MuImage* (*muImageFactory)(MuContainer*, const char*, const char*, Size) = nullptr;
MuLine* (*muLineFactory)(MuContainer*, const char*, bool, uint32_t, int32_t) = nullptr;
MuList* (*muListFactory)(MuContainer*, const char*, uint32_t, MuList::Callback*) = nullptr;

namespace {

// "w,h".
plat::DString sizeText(Size size) { return plat::DString("%d%s%d", size.width, ",", size.height); }

const char* word(const char* const* words, size_t count, uint32_t value) {
  return value < count ? words[value] : "Unknown";
}

}  // namespace

// ---- MuButton ----

MuButton* MuButton::create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                           uint32_t option) {
  PLAT_ASSERT(muButtonFactory);
  return adopt(parent, muButtonFactory(parent, id, label, type, flags, option));
}

MuButton::MuButton(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                   uint32_t option)
    : MuElement(parent, id, label), type_(type), buttonFlags_(flags), option_(option) {}

plat::DString MuButton::describe() {
  static const char* const kTypes[] = {"Normal", "Custom", "Hyperlink"};
  plat::DString text = MuElement::describe();
  text.appendf("element Button\ntype %s\n", word(kTypes, std::size(kTypes), type_));
  if (image_) text.appendf("image %s\n", image_.get());
  return text;
}

bool MuButton::performAction(const char* action, const char*) {
  if (!acceptsActions() || std::strcmp(action, "click") != 0) return false;
  click();
  return true;
}

void MuButton::click() { notifyObservers(this, kEventClicked); }

void MuButton::setText(const char* text) {
  if (plat::strCompare(text, label()) != 0) setLabel(text);
}

void MuButton::setImage(const char* name, Size, int32_t state) {
  if (state == 0 && plat::strCompare(name, image_.get()) != 0) image_ = name;
}

void MuButton::setImageInsets(Size first, Size second) {
  insets_[0] = first;
  insets_[1] = second;
  const Size size = getSize();
  invalidateRect(Rect(0, 0, size.width, size.height));
}

// ---- MuCheck ----

MuCheck* MuCheck::create(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
                         const char* imageBase) {
  PLAT_ASSERT(muCheckFactory);
  return adopt(parent, muCheckFactory(parent, id, label, type, member, imageBase));
}

MuCheck::MuCheck(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
                 const char* imageBase)
    : MuElement(parent, id, label), type_(type), imageBase_(imageBase) {
  if (type_ != kRadio) return;
  Group* group = member ? member->group_ : new Group;
  if (group) group->addMember(this, true);
}

MuCheck::~MuCheck() {
  if (group_) group_->addMember(this, false);
}

plat::DString MuCheck::describe() {
  static const char* const kTypes[] = {"Normal", "Radio"};
  plat::DString text = MuElement::describe();
  text.appendf("element Check\ntype %s\nvalue %d\nindeterminate %d\n", word(kTypes, std::size(kTypes), type_),
               getValue() ? 1 : 0, isIndeterminate() ? 1 : 0);
  return text;
}

bool MuCheck::performAction(const char* action, const char* argument) {
  if (!acceptsActions() || std::strcmp(action, "click") != 0 || !isShown() || !argument) return false;
  setValue(std::atoi(argument) != 0);
  click();
  return true;
}

void MuCheck::click() { notifyObservers(this, kEventChanged); }

void MuCheck::Group::onChanged(MuElement* element) {
  // A copy: setting a value may run observers that change the group.
  const std::vector<MuCheck*> members = members_;
  for (MuCheck* member : members) member->setValue(member == element);
}

void MuCheck::Group::addMember(MuCheck* check, bool add) {
  if (add) {
    PLAT_ASSERT(!check->group_);
    check->group_ = this;
    check->addObserver(this, true);
    members_.push_back(check);
    return;
  }
  if (check->group_ != this) return;
  check->addObserverNoexcept(this);
  check->group_ = nullptr;
  members_.erase(std::remove(members_.begin(), members_.end(), check), members_.end());
  if (members_.empty()) delete this;
}

// ---- MuChoice ----

MuChoice* MuChoice::create(MuContainer* parent, const char* id, const char* label, uint32_t flags) {
  PLAT_ASSERT(muChoiceFactory);
  return adopt(parent, muChoiceFactory(parent, id, label, flags));
}

MuChoice::MuChoice(MuContainer* parent, const char* id, const char* label, uint32_t flags)
    : MuElement(parent, id, label), choiceFlags_(flags) {}

plat::DString MuChoice::describe() {
  plat::DString text = MuElement::describe();
  const char* value = getText();
  text.appendf("element Choice\nvalue %d\nvaluestr %s\n", getSelected(), value ? value : "");
  return text;
}

bool MuChoice::performAction(const char* action, const char* argument) {
  if (!acceptsActions()) return false;
  if (std::strcmp(action, "click") == 0) {
    if (!isShown()) return false;
    click();
    return true;
  }
  if (!argument) return false;
  if (std::strcmp(action, "select") == 0) {
    setSelected(std::atoi(argument));
  } else if (std::strcmp(action, "settext") == 0) {
    setText(argument);
  } else {
    return false;
  }
  notifyObservers(this, kEventChanged);
  return true;
}

void MuChoice::click() { notifyObservers(this, kEventClicked); }

// ---- MuEdit ----

MuEdit::Filter::~Filter() = default;

bool MuEdit::NumericFilter::accept(const char* text) {
  if (!text || !*text) return true;
  if (std::strcmp(text, "-") == 0) return minimum_ < 0;
  const char* cursor = text;
  int32_t value = 0;
  if (!plat::parseInt(value, cursor) || *cursor) return false;
  if (std::strcmp(text, "-0") == 0) return false;
  const char* digits = text + ((*text == '-' || *text == '+') ? 1 : 0);
  if (digits[0] == '0' && digits[1] != '\0') return false;
  return value >= minimum_ && value <= maximum_;
}

MuEdit* MuEdit::create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option) {
  PLAT_ASSERT(muEditFactory);
  return adopt(parent, muEditFactory(parent, id, label, type, option));
}

MuEdit::MuEdit(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option)
    : MuElement(parent, id, label), type_(type), option_(option) {}

plat::DString MuEdit::describe() {
  static const char* const kTypes[] = {"Text", "Password", "Multiline"};
  plat::DString text = MuElement::describe();
  const char* value = type_ == kPassword ? "<hidden>" : getText();
  text.appendf("element Edit\ntype %s\nvalue %s\n", word(kTypes, std::size(kTypes), type_), value ? value : "");
  return text;
}

bool MuEdit::performAction(const char* action, const char* argument) {
  if (!acceptsActions() || std::strcmp(action, "settext") != 0 || !argument) return false;
  setText(argument);
  notifyObservers(this, kEventChanged);
  return true;
}

void MuEdit::setNumeric() {
  static NumericFilter filter(INT32_MIN, INT32_MAX);
  setFilter(&filter);
}

// ---- MuFrame ----

MuFrame* MuFrame::create(MuContainer* parent, const char* id, const char* title, uint32_t type) {
  PLAT_ASSERT(muFrameFactory);
  return adopt(parent, muFrameFactory(parent, id, title, type));
}

MuFrame::MuFrame(MuContainer* parent, const char* id, const char* title, uint32_t type)
    : MuContainerSingle(parent, id), type_(type) {
  setLabel(title);
  const int32_t margin = Mui::instance()->metric(Mui::kFrameMargin);
  margins_ = Size{margin, margin};
}

plat::DString MuFrame::describe() {
  static const char* const kTypes[] = {"Plain", "Titled", "Header", "Footer", "Bordered"};
  plat::DString text = MuElement::describe();
  text.appendf("element Frame\ntype %s\nmargin %s\n", word(kTypes, std::size(kTypes), type_),
               sizeText(margins_).c_str());
  return text;
}

int32_t MuFrame::widthForHeight(int32_t height) {
  MuElement* c = child();
  const int32_t inner = c && c->isVisible() ? c->widthForHeight(height < 0 ? height : height - 2 * margins_.height) : 0;
  return inner + 2 * margins_.width;
}

int32_t MuFrame::heightForWidth(int32_t width) {
  MuElement* c = child();
  const int32_t inner = c && c->isVisible() ? c->heightForWidth(width < 0 ? width : width - 2 * margins_.width) : 0;
  return inner + 2 * margins_.height;
}

void MuFrame::relayout() {
  MuElement* c = child();
  if (!c) return;
  const Size size = getSize();
  c->setPosition(Point{margins_.width, margins_.height});
  c->setSize(Size{std::max(0, size.width - 2 * margins_.width), std::max(0, size.height - 2 * margins_.height)});
}

void MuFrame::setMargins(Size margins) { margins_ = margins; }

// ---- MuImage ----

MuImage* MuImage::create(MuContainer* parent, const char* id, const char* name, Size size) {
  PLAT_ASSERT(muImageFactory);
  return adopt(parent, muImageFactory(parent, id, name, size));
}

MuImage::MuImage(MuContainer* parent, const char* id, const char* name, Size)
    : MuElement(parent, id, nullptr), image_(name) {}

plat::DString MuImage::describe() {
  plat::DString text = MuElement::describe();
  text.appendf("element Image\nvalue %s\nimSize %s\n", image_ ? image_.get() : "<unknown>",
               sizeText(getSize()).c_str());
  return text;
}

void MuImage::setImage(const char* name, Size) {
  if (plat::strCompare(name, image_.get()) != 0) image_ = name;
}

// ---- MuLine ----

MuLine* MuLine::create(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness) {
  PLAT_ASSERT(muLineFactory);
  return adopt(parent, muLineFactory(parent, id, horizontal, etched, thickness));
}

MuLine::MuLine(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness)
    : MuElement(parent, id, nullptr), etched_(etched), horizontal_(horizontal), thickness_(etched ? 2 : thickness) {}

plat::DString MuLine::describe() {
  plat::DString text = MuElement::describe();
  text.appendf("element Line\ntype %s type %s\n", horizontal_ ? "horizontal" : "vertical",
               etched_ ? "etched" : "color");
  return text;
}

void MuLine::setThickness(int32_t thickness) {
  thickness_ = etched_ ? 2 : thickness;
  refreshStyle();
}

// ---- MuList ----

MuList::Callback::~Callback() = default;

MuList* MuList::create(MuContainer* parent, const char* id, uint32_t flags, Callback* callback) {
  PLAT_ASSERT(muListFactory);
  return adopt(parent, muListFactory(parent, id, flags, callback));
}

MuList::MuList(MuContainer* parent, const char* id, uint32_t flags, Callback* callback)
    : MuElement(parent, id, nullptr), listFlags_(flags), callback_(callback) {}

plat::DString MuList::describe() {
  plat::DString text = MuElement::describe();
  text.appendf("element List\nvalue %d\n", getSelected());
  return text;
}

plat::DString MuList::listItems() {
  plat::DString text;
  for (size_t r = 0; r < rows_.size(); ++r) {
    text.appendf("%d:", static_cast<int>(r));
    for (size_t c = 0; c < rows_[r].size(); ++c) text.appendf("%s\"%s\"", c ? "|" : "", rows_[r][c].c_str());
    text.append("\n");
  }
  return text;
}

bool MuList::performAction(const char* action, const char* argument) {
  if (!acceptsActions() || std::strcmp(action, "select") != 0 || !argument) return false;
  setSelected(std::atoi(argument));
  notifyObservers(this, kEventChanged);
  return true;
}

void MuList::click() { notifyObservers(this, kEventClicked); }

void MuList::addColumn(int32_t key, uint32_t type, const char* header, int32_t width) {
  columns_.push_back(Column{key, type, plat::CharArray(header), width});
  for (auto& row : rows_) row.emplace_back("");
}

void MuList::insertRow(int32_t index) {
  std::vector<plat::CharArray> row;
  row.reserve(columns_.size());
  for (size_t c = 0; c < columns_.size(); ++c) row.emplace_back("");
  const bool append = index < 0 || static_cast<size_t>(index) >= rows_.size();
  rows_.insert(append ? rows_.end() : rows_.begin() + index, std::move(row));
}

void MuList::removeRow(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= rows_.size()) return;
  rows_.erase(rows_.begin() + index);
}

void MuList::removeAllRows() { rows_.clear(); }

void MuList::setCell(int32_t row, int32_t columnKey, const char* text) {
  const int32_t column = findColumn(columnKey);
  if (row < 0 || static_cast<size_t>(row) >= rows_.size() || column < 0) return;
  plat::CharArray& cell = rows_[row][column];
  if (std::strcmp(cell.c_str(), text ? text : "") != 0) cell = text ? text : "";
}

void MuList::setRow(int32_t row, const std::vector<const char*>& texts) {
  for (size_t c = 0; c < columns_.size() && c < texts.size(); ++c) setCell(row, columns_[c].key, texts[c]);
}

int32_t MuList::findColumn(int32_t key) const {
  for (size_t c = 0; c < columns_.size(); ++c) {
    if (columns_[c].key == key) return static_cast<int32_t>(c);
  }
  return -1;
}

const char* MuList::cell(int32_t row, int32_t column) const {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size() || column < 0 ||
      static_cast<size_t>(column) >= columns_.size())
    return nullptr;
  return rows_[row][column].c_str();
}

}  // namespace mui
