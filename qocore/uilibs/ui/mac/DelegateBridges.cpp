#include "qocore/uilibs/ui/mac/DelegateBridges.h"

#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace ui {

namespace {
PLAT_LOG_SOURCE(tableLog, "TableViewDelegate");
PLAT_LOG_SOURCE(textFieldLog, "TextFieldDelegate");
PLAT_LOG_SOURCE(textViewLog, "TextViewDelegate");
}  // namespace

void TextFieldDelegateOC::controlTextDidChange(appkit::TextField* field) {
  if (!cxx) return;
  try {
    cxx->textDidChange(field);
  } catch (plat::Exception& e) {
    textFieldLog().error("Unhandled exception: %s", e.str());
  }
}

void TextFieldDelegateOC::controlTextDidEndEditing(appkit::TextField* field) {
  if (cxx) cxx->textDidEndEditing(field);
}

// The holders retain the control they install on, so that they can take
// the bridge off it again however the peer orders its teardown.
TextFieldDelegateHolder::TextFieldDelegateHolder(TextFieldDelegate* receiver, appkit::TextField* control)
    : bridge_(objc::adopt(new TextFieldDelegateOC)), control_(control) {
  bridge_->cxx = receiver;
  if (control_) control_->setDelegate(bridge_);
}

TextFieldDelegateHolder::~TextFieldDelegateHolder() {
  if (control_ && control_->delegate() == bridge_) control_->setDelegate(nullptr);
  bridge_->cxx = nullptr;
}

NSFormatterCxx::NSFormatterCxx(Callback* callback, appkit::TextField* control)
    : formatter_(objc::adopt(new NSFormatterOC)), control_(control) {
  formatter_->callback = callback;
  formatter_->control = control;
  if (control_) control_->setFormatter(formatter_);
}

NSFormatterCxx::~NSFormatterCxx() {
  // The control retains its formatter: it must not call back once the
  // callback is gone.
  formatter_->callback = nullptr;
  formatter_->control = nullptr;
  if (control_ && control_->formatter() == formatter_) control_->setFormatter(nullptr);
}

objc::String* NSFormatterOC::stringForObjectValue(objc::Object* value) { return dynamic_cast<objc::String*>(value); }

bool NSFormatterOC::getObjectValue(objc::Object** value, objc::String* string, objc::String**) {
  if (value) *value = string;
  return true;
}

bool NSFormatterOC::isPartialStringValid(objc::String** partial, appkit::Range* proposedSelection,
                                         objc::String* original, appkit::Range, objc::String**) {
  if (!callback || !partial || !*partial) return true;
  const char* typed = (*partial)->utf8();
  plat::CharArray fixed = callback->fixPartialString(typed, control);
  if (!fixed.isNull() && std::strcmp(fixed.c_str(), typed) != 0) {
    if (!original || std::strcmp(fixed.c_str(), original->utf8()) != 0) {
      objc::String* replacement = objc::String::withUtf8(fixed.c_str());
      if (replacement) {
        *partial = replacement;
        if (proposedSelection) *proposedSelection = appkit::Range{replacement->utf16Length(), 0};
      }
    }
    return false;
  }
  return callback->isPartialStringValid(typed, control);
}

bool TextViewDelegate::clickedOnLink(appkit::TextView*, objc::Object* link, size_t) {
  linkClicked(link);
  return true;
}

bool TextViewDelegate::refuseSelectionChange(appkit::TextView*, const std::vector<appkit::Range>&,
                                             const std::vector<appkit::Range>&) {
  return false;
}

bool TextViewDelegateOC::clickedOnLink(appkit::TextView* view, objc::Object* link, size_t index) {
  if (!cxx) return false;
  try {
    return cxx->clickedOnLink(view, link, index);
  } catch (plat::Exception& e) {
    textViewLog().error("Unhandled exception: %s", e.str());
    return true;
  }
}

std::vector<appkit::Range> TextViewDelegateOC::willChangeSelection(appkit::TextView* view,
                                                                   const std::vector<appkit::Range>& oldRanges,
                                                                   const std::vector<appkit::Range>& newRanges) {
  if (cxx && cxx->refuseSelectionChange(view, oldRanges, newRanges)) return oldRanges;
  return newRanges;
}

TextViewDelegateHolder::TextViewDelegateHolder(TextViewDelegate* receiver, appkit::TextView* view)
    : bridge_(objc::adopt(new TextViewDelegateOC)), view_(view) {
  bridge_->cxx = receiver;
  if (view_) view_->setDelegate(bridge_);
}

TextViewDelegateHolder::~TextViewDelegateHolder() {
  if (view_ && view_->delegate() == bridge_) view_->setDelegate(nullptr);
  bridge_->cxx = nullptr;
}

long TableViewDelegateOC::numberOfRowsInTableView(appkit::TableView* table) {
  return cxx ? static_cast<long>(cxx->numberOfRows(table)) : 0;
}

objc::Object* TableViewDelegateOC::objectValue(appkit::TableView* table, appkit::TableColumn* column, long row) {
  return cxx ? cxx->cellValue(table, column, row) : nullptr;
}

void TableViewDelegateOC::setObjectValue(appkit::TableView* table, objc::Object* value, appkit::TableColumn* column,
                                         long row) {
  if (cxx) cxx->setCellValue(table, column, row, value);
}

bool TableViewDelegateOC::shouldSelectRow(appkit::TableView* table, long row) {
  return cxx ? cxx->shouldSelectRow(table, row) : true;
}

bool TableViewDelegateOC::shouldSelectTableColumn(appkit::TableView* table, appkit::TableColumn* column) {
  return cxx ? cxx->shouldSelectColumn(table, column) : true;
}

bool TableViewDelegateOC::shouldEditTableColumn(appkit::TableView* table, appkit::TableColumn* column, long row) {
  return cxx ? cxx->shouldEditColumn(table, column, row) : true;
}

appkit::IndexSet* TableViewDelegateOC::selectionIndexesForProposedSelection(appkit::TableView* table,
                                                                            appkit::IndexSet* proposed) {
  if (!cxx) return proposed;
  if (proposed->count() == 0) return cxx->selectionShouldChange(table) ? proposed : table->selectedRowIndexes();
  for (size_t i = proposed->firstIndex(); i != appkit::kNotFound; i = proposed->indexGreaterThanIndex(i))
    if (!cxx->shouldSelectRow(table, static_cast<long>(i))) return table->selectedRowIndexes();
  return proposed;
}

void TableViewDelegateOC::tableViewSelectionDidChange(appkit::TableView* table) {
  if (!cxx) return;
  try {
    cxx->selectionDidChange(table);
  } catch (plat::Exception& e) {
    tableLog().error("Unhandled exception: %s", e.str());
  }
}

objc::Object* TableViewDelegateOC::toolTipForRow(appkit::TableView* table, appkit::TableColumn* column, long row) {
  return cxx ? cxx->toolTipFor(table, column, row) : nullptr;
}

void TableViewDelegateOC::willDisplayCell(appkit::TableView*, objc::Object* cell, appkit::TableColumn* column,
                                          long row) {
  if (cxx && dynamic_cast<appkit::TextFieldCell*>(cell)) cxx->willDisplayCell(cell, column, row);
}

double TableViewDelegateHorOC::heightOfRow(appkit::TableView* table, long row) {
  return cxx ? cxx->rowHeightOf(table, row) : table->rowHeight();
}

TableViewDelegateHolder::TableViewDelegateHolder(ui::TableViewDelegate* receiver, appkit::TableView* table,
                                                 bool horizontal)
    : bridge_(objc::adopt(horizontal ? new TableViewDelegateHorOC : new TableViewDelegateOC)), table_(table) {
  bridge_->cxx = receiver;
  if (table_) {
    table_->setDataSource(bridge_);
    table_->setDelegate(bridge_);
  }
}

TableViewDelegateHolder::~TableViewDelegateHolder() {
  if (table_) {
    table_->setDelegate(nullptr);
    table_->setDataSource(nullptr);
  }
  bridge_->cxx = nullptr;
}

}  // namespace ui
