#include "platform/appkit/TextView.h"

#include <algorithm>
#include <cstring>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/objc/Number.h"

namespace appkit {

namespace {

bool isHighSurrogate(uint16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool isLowSurrogate(uint16_t c) { return c >= 0xDC00 && c < 0xE000; }

// The Mac key codes the text view binds.
enum : unsigned short {
  kKeyReturn = 36,
  kKeyDelete = 51,
  kKeyForwardDelete = 117,
  kKeyLeft = 123,
  kKeyRight = 124,
};

}  // namespace

TextView::TextView(Rect frame)
    : View(frame),
      storage_(objc::adopt(new TextStorage)),
      manager_(objc::adopt(new LayoutManager)),
      container_(objc::adopt(new TextContainer(Size{frame.size.width, kFloatMax}))) {
  manager_->addTextContainer(container_);
  storage_->addLayoutManager(manager_);
  objc::AutoreleasePool pool;
  linkAttributes_.set(kForegroundColorAttributeName, Color::linkColor());
  linkAttributes_.set(kUnderlineStyleAttributeName, objc::Number::withLong(kUnderlineStyleSingle));
}

TextView::~TextView() = default;

void TextView::setBackgroundColor(Color* colour) { background_ = colour; }

TextContainer* TextView::textContainer() {
  if (container_->containerSize().width != bounds().size.width)
    container_->setContainerSize(Size{bounds().size.width, kFloatMax});
  return container_;
}

void TextView::setFont(Font* font) {
  font_ = font;
  if (font_ && storage_->length()) storage_->addAttribute(kFontAttributeName, font_, storage_->wholeRange());
}

void TextView::setString(const char* text) {
  objc::AutoreleasePool pool;
  Attributes typing;
  if (font_) typing.set(kFontAttributeName, font_);
  objc::Ref<AttributedString> s = objc::adopt(new AttributedString(objc::String::withUtf8(text ? text : ""), typing));
  storage_->setAttributedString(s);
  setSelectedRange(Range{storage_->length(), 0});
}

void TextView::setEditable(bool editable) noexcept {
  editable_ = editable;
  if (editable) selectable_ = true;
}

void TextView::setSelectable(bool selectable) noexcept {
  selectable_ = selectable;
  if (!selectable) editable_ = false;
}

void TextView::setSelectedRange(Range range) {
  const std::vector<uint16_t>& u = storage_->characters();
  size_t n = u.size();
  size_t start = std::min(range.location, n);
  size_t end = start + std::min(range.length, n - start);
  if (start > 0 && start < n && isLowSurrogate(u[start]) && isHighSurrogate(u[start - 1])) --start;
  if (end > 0 && end < n && isLowSurrogate(u[end]) && isHighSurrogate(u[end - 1])) ++end;
  selection_ = Range{start, end - start};
  anchor_ = start;
}

void TextView::selectAll(objc::Object*) { setSelectedRange(storage_->wholeRange()); }

void TextView::changeSelection(Range proposed) {
  if (delegate_) {
    std::vector<Range> chosen = delegate_->willChangeSelection(this, {selection_}, {proposed});
    if (chosen.empty()) return;
    proposed = chosen.front();
  }
  setSelectedRange(proposed);
}

size_t TextView::previousIndex(size_t index) const noexcept {
  const std::vector<uint16_t>& u = storage_->characters();
  if (index == 0) return 0;
  --index;
  if (index > 0 && isLowSurrogate(u[index]) && isHighSurrogate(u[index - 1])) --index;
  return index;
}

size_t TextView::nextIndex(size_t index) const noexcept {
  const std::vector<uint16_t>& u = storage_->characters();
  if (index >= u.size()) return u.size();
  ++index;
  if (index < u.size() && isLowSurrogate(u[index]) && isHighSurrogate(u[index - 1])) ++index;
  return index;
}

bool TextView::applyEdit(Range range, const char* replacement, Range selection) {
  objc::AutoreleasePool pool;
  storage_->replaceCharacters(range, objc::String::withUtf8(replacement));
  setSelectedRange(selection);
  if (delegate_) delegate_->textDidChange(this);
  return true;
}

void TextView::insertText(const char* text) {
  if (!editable_ || !text) return;
  objc::AutoreleasePool pool;
  objc::String* s = objc::String::withUtf8(text);
  if (!s) return;
  applyEdit(selection_, text, Range{selection_.location + s->utf16Length(), 0});
}

void TextView::deleteBackward() {
  if (!editable_) return;
  Range r = selection_;
  if (r.length == 0) {
    if (r.location == 0) return;
    size_t prev = previousIndex(r.location);
    r = Range{prev, r.location - prev};
  }
  applyEdit(r, "", Range{r.location, 0});
}

void TextView::deleteForward() {
  if (!editable_) return;
  Range r = selection_;
  if (r.length == 0) {
    size_t next = nextIndex(r.location);
    if (next == r.location) return;
    r = Range{r.location, next - r.location};
  }
  applyEdit(r, "", Range{r.location, 0});
}

void TextView::moveLeft(bool extend) { move(Direction::kBackward, extend); }

void TextView::moveRight(bool extend) { move(Direction::kForward, extend); }

void TextView::move(Direction direction, bool extend) {
  const bool forward = direction == Direction::kForward;
  auto step = [&](size_t index) { return forward ? nextIndex(index) : previousIndex(index); };
  if (!extend) {
    // A selection collapses to its end in the direction of the move.
    size_t to = selection_.length ? (forward ? selection_.end() : selection_.location) : step(selection_.location);
    setSelectedRange(Range{to, 0});
    return;
  }
  // The moving end is the one away from the anchor.
  size_t anchor = anchor_;
  size_t head = step(selection_.location == anchor ? selection_.end() : selection_.location);
  setSelectedRange(head < anchor ? Range{head, anchor - head} : Range{anchor, head - anchor});
  anchor_ = anchor;
}

void TextView::mouseDown(Event* e) {
  Point p = convertPointFromView(e->locationInWindow(), nullptr);
  size_t index = manager_->characterIndexForPoint(p, textContainer());
  if (index != kNotFound) {
    // Held: the delegate may change the text.
    if (objc::Ref<objc::Object> link = storage_->attributeAt(kLinkAttributeName, index)) {
      bool handled = delegate_ && delegate_->clickedOnLink(this, link, index);
      // Unhandled links would open in the browser, which the façade
      // does not have.
      (void)handled;
      return;
    }
  }
  if (!selectable_) return;
  if (index == kNotFound) index = storage_->length();
  changeSelection(Range{index, 0});
}

void TextView::keyDown(Event* e) {
  unsigned short code = e->keyCode();
  bool shift = (e->modifierFlags() & kModifierShift) != 0;
  if (code == kKeyLeft && selectable_) return moveLeft(shift);
  if (code == kKeyRight && selectable_) return moveRight(shift);
  if (editable_) {
    if (code == kKeyDelete) return deleteBackward();
    if (code == kKeyForwardDelete) return deleteForward();
    objc::String* chars = e->characters();
    bool command = (e->modifierFlags() & (kModifierCommand | kModifierControl)) != 0;
    if (!command && chars && chars->utf16Length() > 0 && code != kKeyReturn) {
      uint16_t first = chars->characterAt(0);
      if (first >= 0x20 && first != 0x7F && !(first >= 0xF700 && first <= 0xF8FF)) return insertText(chars->utf8());
    }
  }
  View::keyDown(e);
}

void TextView::drawRect(Rect dirty) {
  if (drawsBackground_) {
    backgroundColor()->setFill();
    rectFill(dirty);
  }
  drawText(dirty);
}

void TextView::drawText(Rect dirty) { manager_->drawText(dirty, Point{0, 0}, textContainer(), &linkAttributes_); }

FieldEditor::FieldEditor() = default;

FieldEditor::~FieldEditor() = default;

void FieldEditor::setDelegate(View* field) {
  if (field == field_) return;
  field_ = field;
  if (!field_) return;
  auto* control = dynamic_cast<Control*>(field_.get());
  setString(control ? control->stringValue() : "");
  selectAll(nullptr);
}

bool FieldEditor::resignFirstResponder() {
  if (auto* client = dynamic_cast<FieldEditorClient*>(field_.get())) client->fieldEditorDidEndEditing();
  return true;
}

void FieldEditor::keyDown(Event* e) {
  if (e->keyCode() == kKeyReturn) {
    // The editor and its field are held through the client's call: the
    // field's action may close the window and free them both.
    objc::Ref<FieldEditor> self(this);
    objc::Ref<View> field = field_;
    if (auto* client = dynamic_cast<FieldEditorClient*>(field.get())) client->fieldEditorDidReturn();
    // On to the window, whose default button answers Return.
    View::keyDown(e);
    return;
  }
  TextView::keyDown(e);
}

void FieldEditor::drawRect(Rect dirty) {
  auto* secure = dynamic_cast<SecureTextField*>(field_.get());
  if (!secure) return drawText(dirty);
  const std::vector<LineFragment>& lines = layoutManager()->lineFragments(textContainer());
  if (lines.empty()) return;
  objc::AutoreleasePool pool;
  plat::CharArray bullets = secure->displayedString();
  recordTextDrawing(bullets.c_str(), lines.front().usedRect, secure->font(), nullptr, false);
}

bool FieldEditor::applyEdit(Range range, const char* replacement, Range selection) {
  // Held through the client's calls, as for Return.
  objc::Ref<FieldEditor> self(this);
  objc::Ref<View> field = field_;
  auto* client = dynamic_cast<FieldEditorClient*>(field.get());
  if (!client) return TextView::applyEdit(range, replacement, selection);
  objc::AutoreleasePool pool;
  objc::String* original = string();
  objc::String* inserted = objc::String::withUtf8(replacement);
  if (!inserted) return false;
  std::vector<uint16_t> units = original->characters();
  units.erase(units.begin() + static_cast<std::ptrdiff_t>(range.location),
              units.begin() + static_cast<std::ptrdiff_t>(range.end()));
  const std::vector<uint16_t>& add = inserted->characters();
  units.insert(units.begin() + static_cast<std::ptrdiff_t>(range.location), add.begin(), add.end());
  objc::String* proposed = objc::String::fromUtf16(units.data(), units.size());
  if (!proposed) return false;
  proposed->autorelease();
  if (!client->fieldEditorShouldChange(proposed, selection, original, selectedRange()) || !proposed) return false;
  textStorage()->replaceCharacters(textStorage()->wholeRange(), proposed);
  setSelectedRange(selection);
  client->fieldEditorDidChange();
  return true;
}

}  // namespace appkit
