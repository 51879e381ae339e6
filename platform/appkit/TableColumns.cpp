#include "platform/appkit/TableColumns.h"

#include <algorithm>

namespace appkit {

namespace {

// The platform's default and smallest column widths.
constexpr double kDefaultColumnWidth = 100;
constexpr double kMinColumnWidth = 10;

}  // namespace

void ImageCell::setImage(Image* image) {
  if (image) image->retain();
  if (image_) image_->release();
  image_ = image;
}

ImageCell::~ImageCell() {
  if (image_) image_->release();
}

SizedTableColumn::SizedTableColumn(const char* identifier) : TableColumn(identifier), width_(kDefaultColumnWidth) {}

SizedTableColumn::~SizedTableColumn() {
  if (dataCell_) dataCell_->release();
}

void SizedTableColumn::setWidth(double width) noexcept { width_ = std::max(width, kMinColumnWidth); }

void SizedTableColumn::setDataCell(Cell* cell) {
  if (cell) cell->retain();
  if (dataCell_) dataCell_->release();
  dataCell_ = cell;
}

double RowTableView::heightOfRow(long row) {
  if (auto* rows = dynamic_cast<TableViewRowHeightDelegate*>(delegate())) return rows->heightOfRow(this, row);
  return rowHeight();
}

Rect RowTableView::rectOfRow(long row) {
  if (row < 0 || row >= numberOfRows()) return {};
  double y = 0;
  for (long r = 0; r < row; ++r) y += heightOfRow(r);
  return {{0, y}, {bounds().size.width, heightOfRow(row)}};
}

void RowTableView::scrollRowToVisible(long row) {
  const Rect r = rectOfRow(row);
  if (r.size.height <= 0) return;
  scrolledRow_ = row;
  scrollRectToVisible(r);
}

}  // namespace appkit
