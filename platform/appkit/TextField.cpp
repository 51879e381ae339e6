#include "platform/appkit/TextField.h"

#include <cmath>
#include <string>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextMetrics.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Utf8.h"

namespace appkit {

Rect TextFieldCell::titleRectForBounds(Rect bounds) const {
  return makeRect(bounds.origin.x + kTextFieldTitleInsetX, bounds.origin.y + kTextFieldTitleInsetY,
                  bounds.size.width - 2 * kTextFieldTitleInsetX, bounds.size.height - 2 * kTextFieldTitleInsetY);
}

Size TextFieldCell::cellSizeForBounds(Rect bounds) const {
  objc::AutoreleasePool pool;
  AttributedString* text = field_ ? field_->attributedStringValue() : AttributedString::withUtf8("");
  double width = wraps_ ? std::max(bounds.size.width - 2 * kTextFieldTitleInsetX, 0.0) : kFloatMax;
  Rect used = boundingRectWithSize(text, Size{width, kFloatMax}, kStringDrawingUsesLineFragmentOrigin);
  if (text->length() == 0) {
    Font* font = field_ && field_->font() ? field_->font() : Font::systemFontOfSize(0);
    used.size.height = textMetrics().lineHeight(*font);
  }
  return Size{used.size.width + 2 * kTextFieldTitleInsetX, used.size.height + 2 * kTextFieldTitleInsetY};
}

TextFieldCell::~TextFieldCell() = default;

void TextFieldCell::setBackgroundColor(Color* colour) noexcept { backgroundColor_ = colour; }

AttributedString* TextFieldCell::attributedStringValue() const {
  if (field_) return field_->attributedStringValue();
  if (auto* styled = dynamic_cast<AttributedString*>(objectValue())) return styled->substring(styled->wholeRange());
  Attributes a;
  a.set(kFontAttributeName, Font::systemFontOfSize(0));
  if (lineBreakMode_ != 0) {
    objc::Ref<ParagraphStyle> style = objc::adopt(ParagraphStyle::defaultStyle()->mutableCopy());
    style->setLineBreakMode(lineBreakMode_);
    a.set(kParagraphStyleAttributeName, style);
  }
  auto* plain = dynamic_cast<objc::String*>(objectValue());
  return AttributedString::withUtf8(plain ? plain->utf8() : "", a);
}
Font* TextFieldCell::font() const { return field_ && field_->font() ? field_->font() : Font::systemFontOfSize(0); }

TextField::TextField(Rect frame) : Control(frame, new TextFieldCell) { textCell()->field_ = this; }

TextField::~TextField() = default;

void TextField::setBackgroundColor(Color* colour) { background_ = colour; }

void TextField::drawRect(Rect) {
  if (!drawsBackground_) return;
  Color* colour = background_ ? background_.get() : Color::textBackgroundColor();
  colour->setFill();
  rectFill(bounds());
}

void TextField::setEditable(bool editable) noexcept {
  editable_ = editable;
  if (editable) selectable_ = true;
}

void TextField::setSelectable(bool selectable) noexcept {
  selectable_ = selectable;
  if (!selectable) editable_ = false;
}

void TextField::setFont(Font* font) { font_ = font; }

void TextField::setFormatter(Formatter* formatter) { formatter_ = formatter; }

FieldEditor* TextField::editor() const {
  Window* w = window();
  FieldEditor* e = w ? w->fieldEditor(false) : nullptr;
  return e && e->delegate() == this ? e : nullptr;
}

void TextField::setStringValue(const char* value) {
  Control::setStringValue(value);
  attributed_.reset();
  if (FieldEditor* e = editor()) e->setString(stringValue());
}

AttributedString* TextField::attributedStringValue() const {
  if (attributed_) return attributed_->substring(attributed_->wholeRange());
  Attributes a;
  a.set(kFontAttributeName, font_ ? font_.get() : Font::systemFontOfSize(0));
  return AttributedString::withUtf8(stringValue(), a);
}

void TextField::setAttributedStringValue(const AttributedString* value) {
  objc::AutoreleasePool pool;
  objc::String* plain = value ? value->string() : nullptr;
  setStringValue(plain ? plain->utf8() : "");
  if (value) attributed_ = objc::adopt(value->mutableCopy());
}

plat::CharArray TextField::displayedString() const { return plat::CharArray(stringValue()); }

plat::CharArray SecureTextField::displayedString() const {
  std::string bullets;
  for (int n = plat::utf8CharCount(stringValue()); n > 0; --n) bullets += "\xE2\x80\xA2";
  return plat::CharArray(bullets.c_str());
}

bool TextField::acceptsFirstResponder() { return isEnabled() && selectable_; }

bool TextField::becomeFirstResponder() {
  Window* w = window();
  // The field editor takes the focus in the field's place.
  return w && w->beginFieldEditing(this);
}

void TextField::mouseDown(Event*) {
  // The click that focused the field has started editing already.
}

bool TextField::fieldEditorShouldChange(objc::String*& proposed, Range& selection, objc::String* original,
                                        Range originalSelection) {
  if (!editable_) return false;
  if (!formatter_) return true;
  objc::String* partial = proposed;
  Range proposedSelection = selection;
  if (formatter_->isPartialStringValid(&partial, &proposedSelection, original, originalSelection, nullptr)) return true;
  // A refusal with a text of the formatter's own puts that text in place.
  if (!partial || partial == proposed) return false;
  proposed = partial;
  selection = proposedSelection;
  return true;
}

void TextField::fieldEditorDidChange() {
  if (FieldEditor* e = editor()) {
    objc::AutoreleasePool pool;
    Control::setStringValue(e->string()->utf8());
    attributed_.reset();
  }
  if (delegate_) delegate_->controlTextDidChange(this);
}

void TextField::fieldEditorDidReturn() {
  if (delegate_) delegate_->controlTextDidEndEditing(this);
  if (action()) sendAction(action(), target());
}

void TextField::fieldEditorDidEndEditing() {
  if (delegate_) delegate_->controlTextDidEndEditing(this);
}

Size TextField::fittingSize() const {
  Size s = textCell()->cellSizeForBounds(makeRect(0, 0, kFloatMax, kFloatMax));
  return Size{std::ceil(s.width), kTextFieldHeight};
}

}  // namespace appkit
