#pragma once
// Stands in for the platform's text view: a view over its own text
// storage, layout manager and text container (the container as wide as
// the view, 5 points of line-fragment padding), selectable and editable
// in UTF-16 ranges that never split a surrogate pair.  Clicking a
// character with a link attribute asks the delegate; typing edits the
// selection.  Drawing fills the background when the view draws one and
// records the text (TextSystem.h), links in the link text attributes.
//
// The field editor is a text view too: one per window (Window.h), put over
// the text field being edited, whose client the field is.

#include <vector>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/TextSystem.h"
#include "platform/appkit/View.h"

namespace appkit {

class TextView;

// The text view's delegate; each message has the platform's answer when
// the delegate does not implement it.
class TextViewDelegate {
 public:
  virtual ~TextViewDelegate() = default;
  // textView:clickedOnLink:atIndex:: true when the click was handled;
  // false leaves it to the platform, which opens nothing here.
  virtual bool clickedOnLink(TextView*, objc::Object* /*link*/, size_t /*index*/) { return false; }
  // textView:willChangeSelectionFromCharacterRanges:toCharacterRanges::
  // the ranges to select instead of the proposed ones.
  virtual std::vector<Range> willChangeSelection(TextView*, const std::vector<Range>& /*old*/,
                                                 const std::vector<Range>& proposed) {
    return proposed;
  }
  // textDidChange:, after each edit by the user.
  virtual void textDidChange(TextView*) {}
};

// A class that answers setUsesRolloverButtonForSelection:.
class RolloverButtonSetter {
 public:
  virtual ~RolloverButtonSetter() = default;
  virtual void setUsesRolloverButtonForSelection(bool uses) = 0;
};

class TextView : public View, public RolloverButtonSetter {
 public:
  // initWithFrame: (one reference, the caller's).
  explicit TextView(Rect frame = {});

  TextStorage* textStorage() const noexcept { return storage_; }
  LayoutManager* layoutManager() const noexcept { return manager_; }
  // The container, kept as wide as the view.
  TextContainer* textContainer();
  // The plain text (autoreleased).
  objc::String* string() const { return storage_->string(); }
  // setString:: the text in the typing attributes (the font's).
  void setString(const char* text);

  bool isEditable() const noexcept { return editable_; }
  // Editable implies selectable.
  void setEditable(bool editable) noexcept;
  bool isSelectable() const noexcept { return selectable_; }
  // Not selectable implies not editable.
  void setSelectable(bool selectable) noexcept;
  bool drawsBackground() const noexcept { return drawsBackground_; }
  void setDrawsBackground(bool draws) noexcept { drawsBackground_ = draws; }
  // The colour drawn behind the text when the view draws its background;
  // the text background colour until one is set.
  Color* backgroundColor() const noexcept { return background_ ? background_.get() : Color::textBackgroundColor(); }
  // Retained; null goes back to the text background colour.
  void setBackgroundColor(Color* colour);
  // What links look like, over the attributes of their runs: by default
  // the link colour and a single underline; an empty set leaves links as
  // their runs say.
  const Attributes& linkTextAttributes() const noexcept { return linkAttributes_; }
  void setLinkTextAttributes(const Attributes& attributes) { linkAttributes_ = attributes; }
  bool isContinuousSpellCheckingEnabled() const noexcept { return spellChecking_; }
  void setContinuousSpellCheckingEnabled(bool enabled) noexcept { spellChecking_ = enabled; }
  bool usesRolloverButtonForSelection() const noexcept { return rollover_; }
  void setUsesRolloverButtonForSelection(bool uses) override { rollover_ = uses; }
  virtual bool isFieldEditor() const noexcept { return false; }
  // The font of typed and set text; null: the system font.
  Font* font() const noexcept { return font_; }
  void setFont(Font* font);

  TextViewDelegate* delegate() const noexcept { return delegate_; }
  // Not retained.
  void setDelegate(TextViewDelegate* delegate) noexcept { delegate_ = delegate; }

  Range selectedRange() const noexcept { return selection_; }
  // Clamped to the text; ends inside a surrogate pair move outwards.
  void setSelectedRange(Range range);
  void selectAll(objc::Object* sender);

  // Editing, as the key bindings send it; each goes through `applyEdit`.
  void insertText(const char* text);
  void deleteBackward();
  void deleteForward();
  // Moves the caret by one code point; with `extend` the selection grows
  // or shrinks from its anchor instead.
  void moveLeft(bool extend);
  void moveRight(bool extend);

  // Text views run top-down.
  bool isFlipped() const override { return true; }
  bool acceptsFirstResponder() override { return selectable_; }
  // Clicks follow links (asking the delegate) or place the caret.
  void mouseDown(Event* e) override;
  // Printable characters are typed, Delete (51), Forward Delete (117),
  // Left (123) and Right (124) edit and move; others pass on.
  void keyDown(Event* e) override;
  // Fills the rectangle with the background colour when the view draws
  // its background, then records the text that crosses it.
  virtual void drawRect(Rect dirty);

 protected:
  ~TextView() override;
  // Records the text that crosses the rectangle, without the background.
  void drawText(Rect dirty);
  // Replaces the units of `range` by `replacement` and selects
  // `selection`; false when the edit is refused.  The base applies it and
  // tells the delegate.
  virtual bool applyEdit(Range range, const char* replacement, Range selection);
  // The selection changes through the delegate's veto.
  void changeSelection(Range proposed);

 private:
  enum class Direction { kBackward, kForward };
  void move(Direction direction, bool extend);
  // The caret's neighbour one code point back or on.
  size_t previousIndex(size_t index) const noexcept;
  size_t nextIndex(size_t index) const noexcept;

  objc::Ref<TextStorage> storage_;
  objc::Ref<LayoutManager> manager_;
  objc::Ref<TextContainer> container_;
  TextViewDelegate* delegate_ = nullptr;
  objc::Ref<Font> font_;
  objc::Ref<Color> background_;
  Attributes linkAttributes_;
  Range selection_;
  size_t anchor_ = 0;
  bool editable_ = true;
  bool selectable_ = true;
  bool drawsBackground_ = true;
  bool spellChecking_ = false;
  bool rollover_ = true;
};

// The view a field editor edits for: it vets each edit and hears of the
// changes and of the end of editing.
class FieldEditorClient {
 public:
  virtual ~FieldEditorClient() = default;
  // The whole text the edit would give and the selection after it; the
  // client may put another text and selection in their place.  False
  // refuses the edit.
  virtual bool fieldEditorShouldChange(objc::String*& proposed, Range& selection, objc::String* original,
                                       Range originalSelection) = 0;
  virtual void fieldEditorDidChange() = 0;
  // Return (36) was typed.
  virtual void fieldEditorDidReturn() = 0;
  virtual void fieldEditorDidEndEditing() = 0;
};

// The window's field editor; its delegate is the view being edited, which
// it retains while editing, so that the window's first responder never
// edits a released field.
class FieldEditor : public TextView {
 public:
  FieldEditor();
  bool isFieldEditor() const noexcept override { return true; }
  View* delegate() const noexcept { return field_; }
  // Starts or (null) stops editing a field: the text is the field's.
  void setDelegate(View* field);
  bool resignFirstResponder() override;
  void keyDown(Event* e) override;
  // A secure field's text is drawn as the field shows it, in bullets.  The
  // background is the field's to draw.
  void drawRect(Rect dirty) override;

 protected:
  ~FieldEditor() override;
  bool applyEdit(Range range, const char* replacement, Range selection) override;

 private:
  objc::Ref<View> field_;
};

}  // namespace appkit
