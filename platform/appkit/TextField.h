#pragma once
// Stands in for the platform's text fields: a control whose text the user
// edits in the window's field editor (TextView.h).  Every edit is first
// put to the field's formatter as the whole proposed text with the
// proposed selection; the formatter may refuse it or put another text and
// selection in its place.  Only then does the text change, and the
// delegate hears of it.  A secure field shows a bullet per character.

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"

namespace appkit {

class TextField;

// Vets and converts a field's text.
class Formatter : public objc::Object {
 public:
  // stringForObjectValue:: the text shown for a value (autoreleased).
  virtual objc::String* stringForObjectValue(objc::Object* value) = 0;
  // getObjectValue:forString:errorDescription:.
  virtual bool getObjectValue(objc::Object** value, objc::String* string, objc::String** error) = 0;
  // isPartialStringValid:proposedSelectedRange:originalString:
  // originalSelectedRange:errorDescription:: whether the proposed text may
  // stand.  To put another text in its place, the formatter stores an
  // autoreleased string in *partial (and the selection in
  // *proposedSelection) and answers false.
  virtual bool isPartialStringValid(objc::String** partial, Range* proposedSelection, objc::String* original,
                                    Range originalSelection, objc::String** error) = 0;

 protected:
  ~Formatter() override = default;
};

// The text field's delegate (the control-text notifications; the object
// of each is the field).
class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual void controlTextDidChange(TextField*) {}
  virtual void controlTextDidEndEditing(TextField*) {}
};

// The state of a text field beside its view.
class TextFieldCell : public Cell {
 public:
  const char* placeholderString() const noexcept { return placeholder_.c_str(); }
  void setPlaceholderString(const char* text) { placeholder_ = plat::CharArray(text ? text : ""); }
  int lineBreakMode() const noexcept { return lineBreakMode_; }
  void setLineBreakMode(int mode) noexcept { lineBreakMode_ = mode; }
  int focusRingType() const noexcept { return focusRingType_; }
  void setFocusRingType(int type) noexcept { focusRingType_ = type; }
  bool wraps() const noexcept { return wraps_; }
  void setWraps(bool wraps) noexcept { wraps_ = wraps; }
  // setUsesSingleLineMode:: recorded.
  bool usesSingleLineMode() const noexcept { return singleLine_; }
  void setUsesSingleLineMode(bool single) noexcept { singleLine_ = single; }
  // setAllowedInputSourceLocales: with nil (all): recorded.
  bool allowsAllInputSources() const noexcept { return allInputSources_; }
  void setAllowedInputSourceLocales(objc::Object* locales) noexcept { allInputSources_ = locales == nullptr; }

  // The text's rectangle in a cell of the bounds: inset by the title
  // insets (Metrics.h); a zero rectangle gives a negative width.
  Rect titleRectForBounds(Rect bounds) const override;
  // The field's font (the system font until set); a cell of no field
  // (a combo box's) sets its text in the system font.
  Font* font() const override;
  // The size the cell needs for its text within the bounds' width (the
  // text wrapped when the cell wraps), title insets included.
  Size cellSizeForBounds(Rect bounds) const;

  // The cell's own background, as a table's data cell draws it (a text
  // field keeps its own, TextField::drawsBackground); off at first.  The
  // colour is retained.
  bool drawsBackground() const noexcept { return drawsBackground_; }
  void setDrawsBackground(bool draws) noexcept { drawsBackground_ = draws; }
  Color* backgroundColor() const noexcept { return backgroundColor_; }
  void setBackgroundColor(Color* colour) noexcept;
  // The text with its attributes (autoreleased): the field's when the
  // cell belongs to one; else the object value when it is an attributed
  // string, or its text in the system font (and the cell's line break
  // mode) when it is a string; else empty.
  AttributedString* attributedStringValue() const;

 protected:
  ~TextFieldCell() override;

 private:
  friend class TextField;
  TextField* field_ = nullptr;
  objc::Ref<Color> backgroundColor_;
  bool drawsBackground_ = false;
  plat::CharArray placeholder_;
  int lineBreakMode_ = 0;
  int focusRingType_ = 0;
  bool wraps_ = false;
  bool singleLine_ = false;
  bool allInputSources_ = false;
};

class TextField : public Control, public FieldEditorClient {
 public:
  // initWithFrame: (one reference, the caller's).
  explicit TextField(Rect frame = {});

  TextFieldCell* textCell() const noexcept { return static_cast<TextFieldCell*>(cell()); }
  bool isEditable() const noexcept { return editable_; }
  void setEditable(bool editable) noexcept;
  bool isSelectable() const noexcept { return selectable_; }
  void setSelectable(bool selectable) noexcept;
  bool isBordered() const noexcept { return bordered_; }
  void setBordered(bool bordered) noexcept { bordered_ = bordered; }
  bool drawsBackground() const noexcept { return drawsBackground_; }
  void setDrawsBackground(bool draws) noexcept { drawsBackground_ = draws; }
  // Retained; null until set (the platform's text background then).
  Color* backgroundColor() const noexcept { return background_; }
  void setBackgroundColor(Color* colour);
  Font* font() const noexcept { return font_; }
  void setFont(Font* font);

  // The text; while the field is edited, the field editor shows it too.
  void setStringValue(const char* value) override;
  // The text with its attributes (autoreleased); a plain value has the
  // field's font.
  AttributedString* attributedStringValue() const;
  void setAttributedStringValue(const AttributedString* value);
  // What the field shows: its text, or bullets for a secure field.
  virtual plat::CharArray displayedString() const;

  Formatter* formatter() const noexcept { return formatter_; }
  // Retained.
  void setFormatter(Formatter* formatter);
  TextFieldDelegate* delegate() const noexcept { return delegate_; }
  // Not retained.
  void setDelegate(TextFieldDelegate* delegate) noexcept { delegate_ = delegate; }

  // Editable or selectable fields take the focus, and editing starts in
  // the field editor.
  bool acceptsFirstResponder() override;
  bool becomeFirstResponder() override;
  void mouseDown(Event* e) override;
  // Fills the bounds with the background colour (the text background
  // until one is set) when the field draws its background.  Its text is
  // not drawn here: the field editor draws it while the field is edited.
  void drawRect(Rect dirty) override;

  // From the field editor.
  bool fieldEditorShouldChange(objc::String*& proposed, Range& selection, objc::String* original,
                               Range originalSelection) override;
  void fieldEditorDidChange() override;
  void fieldEditorDidReturn() override;
  void fieldEditorDidEndEditing() override;

 protected:
  ~TextField() override;
  Size fittingSize() const override;

 private:
  // The field editor while it edits this field, else null.
  FieldEditor* editor() const;

  objc::Ref<Formatter> formatter_;
  TextFieldDelegate* delegate_ = nullptr;
  objc::Ref<Font> font_;
  objc::Ref<Color> background_;
  objc::Ref<AttributedString> attributed_;
  bool editable_ = true;
  bool selectable_ = true;
  bool bordered_ = true;
  bool drawsBackground_ = true;
};

class SecureTextField : public TextField {
 public:
  explicit SecureTextField(Rect frame = {}) : TextField(frame) {}
  plat::CharArray displayedString() const override;

 protected:
  ~SecureTextField() override = default;
};

}  // namespace appkit
