#include "qocore/uilibs/mui/mac/MuEditMac.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/appkit/Font.h"
#include "platform/appkit/TextSystem.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

// The line-break mode that truncates the tail, and the focus ring type
// that draws none.
constexpr int kTruncateTail = 4;
constexpr int kNoFocusRing = 1;

// The field editor while it edits `field`, else null.
appkit::FieldEditor* currentEditor(appkit::TextField* field) {
  appkit::Window* window = field->window();
  if (!window) return nullptr;
  auto* editor = dynamic_cast<appkit::FieldEditor*>(window->firstResponder());
  return editor && editor->delegate() == field ? editor : nullptr;
}

}  // namespace

size_t utf16UnitsOfUtf8(const char* text, size_t bytes) noexcept {
  size_t units = 0;
  for (size_t i = 0; i < bytes && text[i]; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) == 0x80) continue;
    units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

size_t utf8BytesOfUtf16(const uint16_t* units, size_t start, size_t count) noexcept {
  size_t bytes = 0;
  for (size_t i = start; i < start + count; ++i) {
    const uint16_t u = units[i];
    if (u < 0x80) {
      bytes += 1;
    } else if (u < 0x800) {
      bytes += 2;
    } else if (u >= 0xD800 && u < 0xDC00) {
      bytes += 4;
      ++i;  // the low half of the pair
    } else {
      bytes += 3;
    }
  }
  return bytes;
}

MuEdit* MuEditMac::create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option) {
  return new MuEditMac(parent, id, label, type, option);
}

MuEditMac::MuEditMac(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option)
    : MuEdit(parent, id, label, type, option), textField_(type == kPassword) {
  appkit::TextField* f = field();
  // A border takes a point above and below the text that the layout does
  // not count.
  if (!(option & kBorderless)) insets_ = {0, -1, 0, -1};
  labelled_ = objc::adopt(new LabelledControl(label, insets_));
  labelled_->addControl(f);
  // Until a layout aligns the label column, the field takes the width the
  // edit is given beyond its label: at its natural width an empty field
  // would be a few points wide with blank space beside it.
  labelled_->setWidths(0, -1);
  delegate_ = std::make_unique<ui::TextFieldDelegateHolder>(this, f);
  formatter_ = std::make_unique<ui::NSFormatterCxx>(this, f);
  f->setSelectable(true);
  f->setEditable(true);
  if (option & kBorderless) f->setBordered(false);
  if (type == kMultiline) {
    f->textCell()->setFocusRingType(kNoFocusRing);
  } else {
    f->textCell()->setLineBreakMode(kTruncateTail);
  }
  if (type == kPassword) f->textCell()->setAllowedInputSourceLocales(nullptr);
  setPeer(std::make_unique<MuCommonMac>(this, labelled_, insets_));
}

MuEditMac::~MuEditMac() {
  formatter_.reset();
  delegate_.reset();
}

void MuEditMac::setFocus() {
  appkit::TextField* f = field();
  if (f->acceptsFirstResponder() && f->window()) f->window()->makeFirstResponder(f);
}

bool MuEditMac::hasFocus() { return ui::isFirstResponder(field()); }

int32_t MuEditMac::heightForWidth(int32_t width) {
  appkit::TextFieldCell* cell = field()->textCell();
  // The title rectangle of an empty rectangle is as much narrower than
  // nothing as the cell insets its text.
  const double titleWidth = cell->titleRectForBounds(appkit::Rect{}).size.width;
  const appkit::Size size = cell->cellSizeForBounds(appkit::makeRect(0, 0, width + titleWidth, 2147483647.0));
  const int64_t cellHeight = int64_t{truncToInt32(size.height)} - insets_.top - insets_.bottom;
  return rfb::clampTo32(std::max<int64_t>({cellHeight, labelled_->labelHeightFor(width), minHeight()}));
}

void MuEditMac::refreshStyle() {
  objc::AutoreleasePool pool;
  field()->setBackgroundColor(ui::getColour(getFont().background.get(), "contentBg"));
  if (appkit::FieldEditor* editor = currentEditor(field())) editor->setDrawsBackground(true);
  field()->setNeedsDisplay(true);
}

void MuEditMac::setLabelWidth(int32_t width, int32_t extra) { labelled_->setWidths(width, extra); }

int32_t MuEditMac::labelWidth() { return labelled_->labelNaturalWidth(); }

bool MuEditMac::handleDialogKey(DialogButton key, bool modified) {
  if (type() != kMultiline || key != kDefaultButton || !modified) return false;
  appkit::FieldEditor* editor = currentEditor(field());
  if (!editor) return false;
  // Typed in place of the selection, through the field's formatter.
  // The edit reaches the delegate like typing does; one changed event
  // either way.
  // A filter may refuse the newline: then nothing changed.
  const std::string before = field()->stringValue();
  changeSeen_ = false;
  editor->insertText("\n");
  if (!changeSeen_ && before != field()->stringValue()) notifyObservers(this, kEventChanged);
  return true;
}

void MuEditMac::enabledChanged() { labelled_->setEnabled(flags() == 0); }

void MuEditMac::setText(const char* text) { ui::setControlText(field(), text); }

const char* MuEditMac::getText() {
  text_.assign(field()->stringValue());
  return text_.c_str();
}

void MuEditMac::setPlaceholder(const char* text) { field()->textCell()->setPlaceholderString(text); }

void MuEditMac::setSelection(int32_t start, int32_t length) {
  appkit::FieldEditor* editor = currentEditor(field());
  if (!editor) return;
  objc::String* s = editor->string();
  if (start < 0) {
    editor->setSelectedRange({s->utf16Length(), 0});
    return;
  }
  const char* text = s->utf8();
  const auto size = static_cast<int64_t>(s->byteLength());
  int begin = static_cast<int>(std::min<int64_t>(start, size));
  int count = static_cast<int>(std::clamp<int64_t>(length, 0, size - begin));
  plat::utf8AdjustRange(text, &begin, &count);
  const size_t before = utf16UnitsOfUtf8(text, static_cast<size_t>(begin));
  const size_t inside = utf16UnitsOfUtf8(text + begin, static_cast<size_t>(count));
  editor->setSelectedRange({before, inside});
}

void MuEditMac::getSelection(int32_t& start, int32_t& length) {
  start = 0;
  length = 0;
  appkit::FieldEditor* editor = currentEditor(field());
  if (!editor) return;
  const std::vector<uint16_t>& units = editor->string()->characters();
  const appkit::Range r = editor->selectedRange();
  const size_t location = std::min(r.location, units.size());
  const size_t count = std::min(r.length, units.size() - location);
  start = rfb::clampTo32(static_cast<int64_t>(utf8BytesOfUtf16(units.data(), 0, location)));
  length = rfb::clampTo32(static_cast<int64_t>(utf8BytesOfUtf16(units.data(), location, count)));
}

int32_t MuEditMac::heightForLines(int32_t lines) {
  const objc::Ref<appkit::LayoutManager> manager = objc::adopt(new appkit::LayoutManager());
  manager->setTypesetterBehavior(0);
  appkit::Font* font = field()->font() ? field()->font() : appkit::Font::systemFontOfSize(0);
  const double line = manager->defaultLineHeightForFont(font);
  const int64_t height = static_cast<int64_t>(line * std::max(lines, 1)) - insets_.top - insets_.bottom;
  return rfb::clampTo32(std::max<int64_t>(height, labelled_->labelHeightFor(getSize().width)));
}

void MuEditMac::textDidChange(appkit::TextField*) {
  changeSeen_ = true;
  getText();
  notifyObservers(this, kEventChanged);
}

void MuEditMac::textDidEndEditing(appkit::TextField*) {
  if (endEditCallback_) endEditCallback_->editingEnded(this);
}

plat::CharArray MuEditMac::fixPartialString(const char* text, appkit::TextField*) {
  if (type() == kMultiline || !text) return {};
  std::string kept;
  for (const char* p = text; *p; ++p) {
    if (*p != '\t' && *p != '\n' && *p != '\r') kept += *p;
  }
  return plat::CharArray(kept.c_str());
}

bool MuEditMac::isPartialStringValid(const char* text, appkit::TextField*) {
  Filter* f = filter();
  return !f || f->accept(text ? text : "");
}

}  // namespace mui
