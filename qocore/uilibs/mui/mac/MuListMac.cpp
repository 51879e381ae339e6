#include "qocore/uilibs/mui/mac/MuListMac.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Selector.h"
#include "platform/appkit/TextSystem.h"
#include "platform/objc/String.h"
#include "qocore/uilibs/mui/NamedImageHolder.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/ImageRepPixelBuffer.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"
#include "qocore/uilibs/ui/mac/TextMeasurer.h"

namespace mui {

namespace {

constexpr int kTruncateTail = 4;
// A text column's extra room beside its widest text, and the list's
// beside its columns.
constexpr int32_t kTextColumnPadding = 4;
constexpr int32_t kListPadding = 8;
// A text cell's inset at either side.
constexpr double kTextInset = 2;

}  // namespace

appkit::Rect TextFieldCellOC::titleRectForBounds(appkit::Rect bounds) const {
  objc::AutoreleasePool pool;
  // The string's size on one line.
  const double textHeight = appkit::boundingRectWithSize(attributedStringValue(), {}, 0).size.height;
  appkit::Rect r = appkit::TextFieldCell::titleRectForBounds(bounds);
  r.origin.y = bounds.origin.y - 0.5 + (bounds.size.height - textHeight) * 0.5;
  return r;
}

void TextFieldCellOC::drawInteriorWithFrame(appkit::Rect frame, appkit::View*) {
  objc::AutoreleasePool pool;
  if (drawsBackground() && backgroundColor()) {
    backgroundColor()->setFill();
    appkit::rectFill(frame);
  }
  appkit::Rect text = titleRectForBounds(frame);
  text.origin.x += kTextInset;
  text.size.width = std::max(text.size.width - 2 * kTextInset, 0.0);
  appkit::drawInRect(attributedStringValue(), text);
}

MuList* MuListMac::create(MuContainer* parent, const char* id, uint32_t flags, Callback* callback) {
  return new MuListMac(parent, id, flags, callback);
}

MuListMac::MuListMac(MuContainer* parent, const char* id, uint32_t flags, Callback* callback)
    : MuList(parent, id, flags, callback) {
  scrollView_ = objc::adopt(new appkit::ScrollView(appkit::makeRect(0, 0, 1, 1)));
  scrollView_->setClipsToBounds(true);
  tableView_ = objc::adopt(new appkit::RowTableView(appkit::makeRect(0, 0, 1, 1)));
  tableView_->setClipsToBounds(true);
  // Only the horizontal bridge asks each row's height, which image
  // columns raise.
  tableDelegate_ = std::make_unique<ui::TableViewDelegateHolder>(this, tableView_, true);
  actionTarget_ = std::make_unique<ui::ActionTarget>(this, tableView_);
  rowHeight_ = tableView_->rowHeight();
  tableView_->setDoubleAction(appkit::selector("doubleClick:"));
  scrollView_->setHasVerticalScroller(true);
  scrollView_->setHasHorizontalScroller(true);
  scrollView_->setAutohidesScrollers(true);
  scrollView_->setBorderType(appkit::kBezelBorder);
  scrollView_->setDocumentView(tableView_);
  if (!(flags & kHeader)) tableView_->setHasHeaderView(false);
  setPeer(std::make_unique<MuCommonMac>(this, scrollView_));
}

MuListMac::~MuListMac() {
  tableDelegate_.reset();
  actionTarget_.reset();
  scrollView_->setDocumentView(nullptr);
}

appkit::SizedTableColumn* MuListMac::columnAt(size_t index) const {
  const auto& all = tableView_->tableColumns();
  return index < all.size() ? static_cast<appkit::SizedTableColumn*>(all[index]) : nullptr;
}

void MuListMac::fitTable() {
  const appkit::Size content = scrollView_->contentView()->bounds().size;
  double rows = 0;
  for (long r = 0; r < rowCount(); ++r) rows += tableView_->heightOfRow(r);
  tableView_->setFrameSize({std::max(content.width, 1.0), std::max(content.height, rows)});
}

void MuListMac::setSize(Size size) {
  MuElement::setSize(size);
  fitTable();
  if (!(listFlags() & kSizeToContent)) shareFreeWidth();
}

int32_t MuListMac::widestText(size_t column) {
  objc::AutoreleasePool pool;
  ui::TextMeasurer measurer(0);
  int32_t widest = 0;
  for (int32_t row = 0; row < rowCount(); ++row) {
    const char* text = cell(row, static_cast<int32_t>(column));
    if (!text || !*text) continue;
    ui::AttrString s(text, true, 0);
    const appkit::Size size = measurer.measure(s.get(), 0, 1e7, rowHeight_);
    widest = std::max(widest, truncToInt32(std::ceil(size.width)));
  }
  return widest;
}

int32_t MuListMac::widthForHeight(int32_t) {
  int64_t width = kListPadding;
  for (size_t i = 0; i < columns().size(); ++i)
    width += columns()[i].type == kImageColumn ? listImageSize : widestText(i);
  return rfb::clampTo32(width);
}

void MuListMac::shareFreeWidth() {
  double free = scrollView_->contentView()->bounds().size.width;
  std::vector<size_t> autos;
  for (size_t i = 0; i < columnWidths_.size(); ++i) {
    if (columns()[i].type == kImageColumn || columnWidths_[i] >= 0)
      free -= columnWidths_[i];
    else
      autos.push_back(i);
  }
  if (autos.empty()) return;
  const double share = free / static_cast<double>(autos.size());
  // The last one keeps what AppKit leaves it.
  for (size_t k = 0; k + 1 < autos.size(); ++k)
    if (appkit::SizedTableColumn* c = columnAt(autos[k])) c->setWidth(share);
}

void MuListMac::sizeTextColumnsToContent() {
  for (size_t i = 0; i < columnWidths_.size(); ++i) {
    if (columns()[i].type == kImageColumn || columnWidths_[i] >= 0) continue;
    appkit::SizedTableColumn* c = columnAt(i);
    const double want = widestText(i) + kTextColumnPadding;
    if (c && c->width() != want) {
      c->setWidth(want);
      c->setResizingMask(0);
    }
  }
}

void MuListMac::setSelected(int32_t row) {
  selectingInCode_ = true;
  if (row >= 0 && row < rowCount() && (!callback() || callback()->canSelect(this, row))) {
    objc::AutoreleasePool pool;
    tableView_->selectRowIndexes(appkit::IndexSet::withIndex(static_cast<size_t>(row)), false);
    tableView_->scrollRowToVisible(row);
  } else {
    tableView_->deselectAll(nullptr);
  }
  selectingInCode_ = false;
}

int32_t MuListMac::getSelected() { return static_cast<int32_t>(tableView_->selectedRow()); }

void MuListMac::addColumn(int32_t key, uint32_t type, const char* header, int32_t width) {
  MuList::addColumn(key, type, header, width);
  const std::string identifier = std::to_string(columns().size() - 1);
  const objc::Ref<appkit::SizedTableColumn> column = objc::adopt(new appkit::SizedTableColumn(identifier.c_str()));
  column->setHeaderTitle(header ? header : "");
  if (type == kImageColumn) {
    const objc::Ref<appkit::ImageCell> cell = objc::adopt(new appkit::ImageCell(nullptr));
    cell->setImageScaling(appkit::kImageScaleNone);
    column->setDataCell(cell);
    column->setWidth(listImageSize);
    column->setResizingMask(0);
    if (listImageSize > rowHeight_) rowHeight_ = listImageSize + 4;
    width = listImageSize;
  } else {
    if (width > 0) {
      column->setWidth(width);
      column->setResizingMask(0);
    }
    const objc::Ref<TextFieldCellOC> cell = objc::adopt(new TextFieldCellOC);
    cell->setLineBreakMode(kTruncateTail);
    column->setDataCell(cell);
  }
  tableView_->addTableColumn(column);
  columnWidths_.push_back(width);
}

void MuListMac::insertRow(int32_t index) {
  MuList::insertRow(index);
  tableView_->reloadData();
  fitTable();
}

void MuListMac::removeRow(int32_t index) {
  MuList::removeRow(index);
  tableView_->reloadData();
  fitTable();
}

void MuListMac::removeAllRows() {
  MuList::removeAllRows();
  tableView_->reloadData();
  fitTable();
}

void MuListMac::setCell(int32_t row, int32_t columnKey, const char* text) {
  MuList::setCell(row, columnKey, text);
  refreshRow(row);
  if (listFlags() & kSizeToContent) sizeTextColumnsToContent();
}

void MuListMac::scrollToRow(int32_t row) { tableView_->scrollRowToVisible(row); }

void MuListMac::refreshRow(int32_t row) {
  if (row < 0)
    tableView_->reloadData();
  else
    tableView_->setNeedsDisplayInRect(tableView_->rectOfRow(row));
}

double MuListMac::rowHeightOf(appkit::TableView*, long) { return rowHeight_; }

bool MuListMac::shouldSelectRow(appkit::TableView* table, long row) {
  if (row < 0 || row >= rowCount()) return false;
  // The table bridge asks this for each proposed row, and the
  // change question only for an empty proposal: a fixed selection
  // must refuse here too.
  if (!selectionShouldChange(table)) return false;
  return !callback() || callback()->canSelect(this, static_cast<int32_t>(row));
}

bool MuListMac::selectionShouldChange(appkit::TableView*) {
  return selectingInCode_ || !(listFlags() & kFixedSelection);
}

void MuListMac::selectionDidChange(appkit::TableView*) {
  if (selectingInCode_ || rowCount() == 0) return;
  notifyObservers(this, kEventChanged);
}

int32_t MuListMac::numberOfRows(appkit::TableView*) { return rowCount(); }

objc::Object* MuListMac::cellValue(appkit::TableView*, appkit::TableColumn* column, long row) {
  const long index = column ? std::strtol(column->identifier(), nullptr, 10) : -1;
  if (index < 0 || static_cast<size_t>(index) >= columns().size() || row < 0 || row >= rowCount()) return nullptr;
  const char* text = cell(static_cast<int32_t>(row), static_cast<int32_t>(index));
  const Column& c = columns()[static_cast<size_t>(index)];
  if (c.type == kImageColumn) {
    NamedImageHolder holder;
    if (!text || !*text || !holder.load(text, {listImageSize, listImageSize}, true) || !holder.image()) return nullptr;
    return ui::nsImageFromPixelBuffer(*holder.image(), {double(listImageSize), double(listImageSize)});
  }
  MuFont style;
  if (!callback() || !callback()->rowStyle(this, static_cast<int32_t>(row), c.key, style))
    return objc::String::withUtf8(text ? text : "");
  plat::Markup::Style markup;
  markup.size = style.size;
  markup.weight = style.weight;
  markup.color = style.colour;
  if (tableView_->selectedRowIndexes()->containsIndex(static_cast<size_t>(row))) {
    const plat::Rgb rgb = ui::rgbFromColour(appkit::Color::alternateSelectedControlTextColor());
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%02x%02x%02x", static_cast<unsigned>(rgb.red) & 0xff,
                  static_cast<unsigned>(rgb.green) & 0xff, static_cast<unsigned>(rgb.blue) & 0xff);
    markup.color = plat::CharArray(hex);
  }
  ui::AttrString s(text ? text : "", markup, "contentText");
  // It outlives `s`, for the table to show.
  return objc::autoreleased<appkit::AttributedString>(s.get());
}

void MuListMac::willDisplayCell(objc::Object* cellObject, appkit::TableColumn* column, long row) {
  auto* cell = dynamic_cast<appkit::TextFieldCell*>(cellObject);
  if (!cell || row < 0 || row >= rowCount()) return;
  const long index = column ? std::strtol(column->identifier(), nullptr, 10) : -1;
  const int32_t key = index >= 0 && static_cast<size_t>(index) < columns().size() ? columns()[index].key : -1;
  MuFont style;
  if (callback() && callback()->rowStyle(this, static_cast<int32_t>(row), key, style) && style.background.get() &&
      *style.background.get()) {
    cell->setDrawsBackground(true);
    cell->setBackgroundColor(ui::getColour(style.background.get(), "#808080"));
  } else {
    cell->setDrawsBackground(false);
  }
}

void MuListMac::action(objc::Object*) { click(); }

void MuListMac::doubleClick(objc::Object*) { notifyObservers(this, kEventItemActivated); }

}  // namespace mui
