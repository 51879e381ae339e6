#pragma once
// Stands in for the platform's pop-up button and combo box: a list of
// item titles with one selected item.  Selecting in code sends nothing;
// only the user's choice (chooseItem, as a pick from the open list) sends
// the action.

#include <vector>

#include "platform/appkit/TextField.h"
#include "platform/appkit/View.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

// The titles and the selection both controls keep.
class ItemList {
 public:
  long numberOfItems() const noexcept { return static_cast<long>(items_.size()); }
  // Null out of range.
  const char* itemTitleAtIndex(long index) const noexcept;
  void addItem(const char* title);
  // Before the item at the index (past the end: at the end); the
  // selection follows its item.
  void insertItem(const char* title, long index);
  // Out of range is ignored; the selection follows its item.
  void removeItemAtIndex(long index);
  void removeAllItems() noexcept;
  long indexOfSelectedItem() const noexcept { return selected_; }
  // Out of range (-1 too) clears the selection.
  void selectIndex(long index) noexcept;

 private:
  std::vector<plat::CharArray> items_;
  long selected_ = -1;
};

// A pop-up button's cell: its title is one line of the system font,
// between the button's padding on the left and its arrows on the right,
// as high as the font's line rounded up to whole points and centred in
// the bounds (its top rounded down to a whole point).
class PopUpButtonCell : public Cell {
 public:
  PopUpButtonCell();
  Font* font() const override { return font_; }
  Rect titleRectForBounds(Rect bounds) const override;

 protected:
  ~PopUpButtonCell() override;

 private:
  objc::Ref<Font> font_;
};

// A combo box's cell is a text field's, as on the platform.
class ComboBoxCell : public TextFieldCell {
 protected:
  ~ComboBoxCell() override = default;
};

// A button that opens a menu of items and shows the selected one.
class PopUpButton : public Button, public ItemList {
 public:
  explicit PopUpButton(Rect frame = {}) : Button(frame, new PopUpButtonCell) {}

  // menu addItemWithTitle:action:keyEquivalent:; the first item added is
  // selected.
  void addItemWithTitle(const char* title);
  // menu insertItemWithTitle:action:keyEquivalent:atIndex:; selects as
  // adding does.
  void insertItemWithTitle(const char* title, long index);
  // The title follows the selection ("" without one).
  void selectItemAtIndex(long index);
  void removeItemAtIndex(long index);
  void removeAllItems();
  // The user picks an item from the open menu: selected, action sent.
  // Nothing when disabled or out of range.
  void chooseItem(long index);

 protected:
  ~PopUpButton() override = default;
  // The widest title with the arrow's room.
  Size fittingSize() const override;
};

// An editable (or not) text field with a list of values to pick from.
class ComboBox : public Control, public ItemList {
 public:
  explicit ComboBox(Rect frame = {}) : Control(frame, new ComboBoxCell) {}

  bool isEditable() const noexcept { return editable_; }
  void setEditable(bool editable) noexcept { editable_ = editable; }
  bool isSelectable() const noexcept { return selectable_; }
  void setSelectable(bool selectable) noexcept { selectable_ = selectable; }
  bool completes() const noexcept { return completes_; }
  void setCompletes(bool completes) noexcept { completes_ = completes; }

  void addItemWithObjectValue(const char* value) { addItem(value); }
  void insertItemWithObjectValue(const char* value, long index) { insertItem(value, index); }
  const char* itemObjectValueAtIndex(long index) const noexcept { return itemTitleAtIndex(index); }
  // The text becomes the item's; out of range clears the selection and
  // leaves the text.
  void selectItemAtIndex(long index);
  // Typing replaces the text and clears the selection.
  void setStringValue(const char* value) override;
  // The user picks an item from the open list: selected, action sent.
  void chooseItem(long index);
  // The user types a text (editable boxes only): set, action sent.
  void typeText(const char* text);

 protected:
  ~ComboBox() override = default;
  Size fittingSize() const override;

 private:
  bool editable_ = true;
  bool selectable_ = true;
  bool completes_ = false;
};

}  // namespace appkit
