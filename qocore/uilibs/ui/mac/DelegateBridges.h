#pragma once
// The bridge objects through which the platform's text-field, formatter and
// text-view calls reach the element peers.  Each bridge holds a non-owning
// back pointer, `cxx`, to its receiver; its holder installs it on the
// control and, before releasing it, takes it off the control and clears
// the pointer, so a late call from the platform reaches no one.  No
// exception from a receiver that may throw escapes into the platform: it
// is logged as "Unhandled exception: %s".

#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace ui {

// Receives a text field's edits.
class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual void textDidChange(appkit::TextField* control) = 0;
  virtual void textDidEndEditing(appkit::TextField* control) = 0;
};

class TextFieldDelegateOC : public objc::Object, public appkit::TextFieldDelegate {
 public:
  ui::TextFieldDelegate* cxx = nullptr;
  // Exceptions logged.
  void controlTextDidChange(appkit::TextField* field) override;
  void controlTextDidEndEditing(appkit::TextField* field) override;

 protected:
  ~TextFieldDelegateOC() override = default;
};

// Installs a text-field bridge on a control (when given).
class TextFieldDelegateHolder {
 public:
  TextFieldDelegateHolder(TextFieldDelegate* receiver, appkit::TextField* control);
  ~TextFieldDelegateHolder();
  TextFieldDelegateHolder(const TextFieldDelegateHolder&) = delete;
  TextFieldDelegateHolder& operator=(const TextFieldDelegateHolder&) = delete;
  TextFieldDelegateOC* bridge() const noexcept { return bridge_; }

 private:
  objc::Ref<TextFieldDelegateOC> bridge_;
  objc::Ref<appkit::TextField> control_;
};

class NSFormatterOC;

// A formatter whose partial-string checks a callback answers.
class NSFormatterCxx {
 public:
  class Callback {
   public:
    virtual ~Callback() = default;
    // A text to put in place of the typed one, or null for no change.
    virtual plat::CharArray fixPartialString(const char* text, appkit::TextField* control) = 0;
    virtual bool isPartialStringValid(const char* text, appkit::TextField* control) = 0;
  };

  // Installs the formatter on the control.
  NSFormatterCxx(Callback* callback, appkit::TextField* control);
  ~NSFormatterCxx();
  NSFormatterCxx(const NSFormatterCxx&) = delete;
  NSFormatterCxx& operator=(const NSFormatterCxx&) = delete;
  NSFormatterOC* formatter() const noexcept { return formatter_; }

 private:
  objc::Ref<NSFormatterOC> formatter_;
  objc::Ref<appkit::TextField> control_;
};

class NSFormatterOC : public appkit::Formatter {
 public:
  NSFormatterCxx::Callback* callback = nullptr;
  appkit::TextField* control = nullptr;

  // The text is its own value.
  objc::String* stringForObjectValue(objc::Object* value) override;
  bool getObjectValue(objc::Object** value, objc::String* string, objc::String** error) override;
  // The callback's fixed text, when it differs from the typed one, takes
  // its place with the caret at its end (unless it is the text before the
  // keystroke, which is simply kept); otherwise the callback decides.
  // Without a callback every text is valid.
  bool isPartialStringValid(objc::String** partial, appkit::Range* proposedSelection, objc::String* original,
                            appkit::Range originalSelection, objc::String** error) override;

 protected:
  ~NSFormatterOC() override = default;
};

// Receives a text view's link clicks and selection changes.
class TextViewDelegate {
 public:
  virtual ~TextViewDelegate() = default;
  virtual void linkClicked(objc::Object* link) = 0;
  // Calls linkClicked and answers true (handled).
  virtual bool clickedOnLink(appkit::TextView* view, objc::Object* link, size_t index);
  // True keeps the old selection.
  virtual bool refuseSelectionChange(appkit::TextView* view, const std::vector<appkit::Range>& oldRanges,
                                     const std::vector<appkit::Range>& newRanges);
};

class TextViewDelegateOC : public objc::Object, public appkit::TextViewDelegate {
 public:
  ui::TextViewDelegate* cxx = nullptr;
  // A receiver's exception is logged and the click counts as handled.
  bool clickedOnLink(appkit::TextView* view, objc::Object* link, size_t index) override;
  std::vector<appkit::Range> willChangeSelection(appkit::TextView* view, const std::vector<appkit::Range>& oldRanges,
                                                 const std::vector<appkit::Range>& newRanges) override;

 protected:
  ~TextViewDelegateOC() override = default;
};

class TextViewDelegateHolder {
 public:
  TextViewDelegateHolder(TextViewDelegate* receiver, appkit::TextView* view);
  ~TextViewDelegateHolder();
  TextViewDelegateHolder(const TextViewDelegateHolder&) = delete;
  TextViewDelegateHolder& operator=(const TextViewDelegateHolder&) = delete;
  TextViewDelegateOC* bridge() const noexcept { return bridge_; }

 private:
  objc::Ref<TextViewDelegateOC> bridge_;
  objc::Ref<appkit::TextView> view_;
};

// Receives a table's data-source and delegate messages.
class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  virtual double rowHeightOf(appkit::TableView* table, long row) = 0;
  virtual bool shouldEditColumn(appkit::TableView* table, appkit::TableColumn* column, long row) = 0;
  virtual bool shouldSelectRow(appkit::TableView* table, long row) = 0;
  // True: an empty selection is allowed.
  virtual bool selectionShouldChange(appkit::TableView* table) = 0;
  virtual bool shouldSelectColumn(appkit::TableView* table, appkit::TableColumn* column) = 0;
  virtual void selectionDidChange(appkit::TableView* table) = 0;
  virtual objc::Object* toolTipFor(appkit::TableView* table, appkit::TableColumn* column, long row) = 0;
  virtual int32_t numberOfRows(appkit::TableView* table) = 0;
  virtual objc::Object* cellValue(appkit::TableView* table, appkit::TableColumn* column, long row) = 0;
  virtual void setCellValue(appkit::TableView* table, appkit::TableColumn* column, long row, objc::Object* value) = 0;
  virtual void willDisplayCell(objc::Object* cell, appkit::TableColumn* column, long row) = 0;
};

// The data source and delegate of a vertical list.  Without a receiver
// every message has the platform's answer for a delegate that lacks it.
class TableViewDelegateOC : public objc::Object, public appkit::TableViewDataSource, public appkit::TableViewDelegate {
 public:
  ui::TableViewDelegate* cxx = nullptr;

  long numberOfRowsInTableView(appkit::TableView* table) override;
  objc::Object* objectValue(appkit::TableView* table, appkit::TableColumn* column, long row) override;
  void setObjectValue(appkit::TableView* table, objc::Object* value, appkit::TableColumn* column, long row) override;
  bool shouldSelectRow(appkit::TableView* table, long row) override;
  bool shouldSelectTableColumn(appkit::TableView* table, appkit::TableColumn* column) override;
  bool shouldEditTableColumn(appkit::TableView* table, appkit::TableColumn* column, long row) override;
  // Rows are asked in ascending order; the first refusal keeps the
  // current selection, as does an empty proposal the receiver refuses.
  appkit::IndexSet* selectionIndexesForProposedSelection(appkit::TableView* table, appkit::IndexSet* proposed) override;
  // Exceptions logged.
  void tableViewSelectionDidChange(appkit::TableView* table) override;
  objc::Object* toolTipForRow(appkit::TableView* table, appkit::TableColumn* column, long row) override;
  // Called for text cells only.
  void willDisplayCell(appkit::TableView* table, objc::Object* cell, appkit::TableColumn* column, long row) override;

 protected:
  ~TableViewDelegateOC() override = default;
};

// The same for a horizontal list, which sets each row's height.
class TableViewDelegateHorOC : public TableViewDelegateOC, public appkit::TableViewRowHeightDelegate {
 public:
  double heightOfRow(appkit::TableView* table, long row) override;

 protected:
  ~TableViewDelegateHorOC() override = default;
};

class TableViewDelegateHolder {
 public:
  // Installs the bridge as the table's data source, then its delegate.
  TableViewDelegateHolder(ui::TableViewDelegate* receiver, appkit::TableView* table, bool horizontal);
  // Takes the bridge off the table first.
  ~TableViewDelegateHolder();
  TableViewDelegateHolder(const TableViewDelegateHolder&) = delete;
  TableViewDelegateHolder& operator=(const TableViewDelegateHolder&) = delete;
  TableViewDelegateOC* bridge() const noexcept { return bridge_; }

 private:
  objc::Ref<TableViewDelegateOC> bridge_;
  objc::Ref<appkit::TableView> table_;
};

}  // namespace ui
