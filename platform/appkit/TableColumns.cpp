#include "platform/appkit/TableColumns.h"

#include <algorithm>

#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"

namespace appkit {

namespace {

// The platform's default and smallest column widths.
constexpr double kDefaultColumnWidth = 100;
constexpr double kMinColumnWidth = 10;

}  // namespace

void ImageCell::setImage(Image* image) { image_ = image; }

void ImageCell::drawInteriorWithFrame(Rect frame, View*) {
  auto* image = dynamic_cast<Image*>(objectValue());
  if (!image) image = image_;
  if (!image) return;
  Size size = image->size();
  if (size.width <= 0 || size.height <= 0) return;
  if (scaling_ != kImageScaleNone) {
    const double scale = std::min(frame.size.width / size.width, frame.size.height / size.height);
    size = {size.width * scale, size.height * scale};
  }
  const Rect dst = makeRect(frame.minX() + (frame.size.width - size.width) / 2,
                            frame.minY() + (frame.size.height - size.height) / 2, size.width, size.height);
  image->drawInRect(dst, Rect{}, kCompositeSourceOver, 1, true, nullptr);
}

ImageCell::~ImageCell() = default;

SizedTableColumn::SizedTableColumn(const char* identifier) : TableColumn(identifier), width_(kDefaultColumnWidth) {}

SizedTableColumn::~SizedTableColumn() = default;

void SizedTableColumn::setWidth(double width) noexcept { width_ = std::max(width, kMinColumnWidth); }

void SizedTableColumn::setDataCell(Cell* cell) { dataCell_ = cell; }

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

long RowTableView::rowAtPoint(Point point) {
  if (point.y < 0) return -1;
  const long n = numberOfRows();
  double top = 0;
  for (long row = 0; row < n; ++row) {
    top += heightOfRow(row);
    if (point.y < top) return row;
  }
  return -1;
}

void RowTableView::drawRect(Rect dirty) {
  if (!GraphicsContext::current()) return;
  objc::AutoreleasePool pool;
  Color::textBackgroundColor()->setFill();
  rectFill(dirty);
  const long n = numberOfRows();
  double top = 0;
  for (long row = 0; row < n && top < dirty.maxY(); ++row) {
    const Rect rowRect = makeRect(0, top, bounds().size.width, heightOfRow(row));
    top = rowRect.maxY();
    if (top > dirty.minY()) drawRow(row, rowRect, dirty);
  }
}

void RowTableView::drawRow(long row, Rect rowRect, Rect dirty) {
  if (selectedRowIndexes()->containsIndex(static_cast<size_t>(row))) {
    Color::alternateSelectedControlColor()->setFill();
    rectFill(rowRect);
  }
  double left = 0;
  for (TableColumn* c : tableColumns()) {
    auto* column = dynamic_cast<SizedTableColumn*>(c);
    if (!column) continue;
    const Rect frame = makeRect(left, rowRect.minY(), column->width(), rowRect.size.height);
    left = frame.maxX();
    Cell* cell = column->dataCell();
    if (!cell || frame.maxX() <= dirty.minX() || frame.minX() >= dirty.maxX()) continue;
    cell->setObjectValue(dataSource() ? dataSource()->objectValue(this, column, row) : nullptr);
    if (delegate()) delegate()->willDisplayCell(this, cell, column, row);
    GraphicsContext::saveGraphicsState();
    GraphicsContext::current()->clipToRect(frame);
    cell->drawWithFrame(frame, this);
    GraphicsContext::restoreGraphicsState();
  }
}

void RowTableView::scrollRowToVisible(long row) {
  const Rect r = rectOfRow(row);
  if (r.size.height <= 0) return;
  scrolledRow_ = row;
  scrollRectToVisible(r);
}

}  // namespace appkit
