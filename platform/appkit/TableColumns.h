#pragma once
// The parts of a table beyond rows and selection: columns with a width, a
// resizing mask, a header title and a data cell; image cells; a table
// whose rows may be as high as its delegate says, with a header view that
// can be taken away, row rectangles and scrolling a row into view.
//
// Drawing: the table fills what it draws with the text background, each
// selected row with the selection colour, then draws its columns' data
// cells side by side from its left edge, each as wide as its column (no
// spacing between cells), clipped to its frame: for each cell it sets the
// data source's value for the row, lets the delegate see the cell, then
// draws it.

#include "platform/appkit/Image.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/objc/Ref.h"

namespace appkit {

// The image scalings of an image cell.
enum ImageScaling : int { kImageScaleNone = 2 };

// Shows one image (initImageCell:).
class ImageCell : public Cell {
 public:
  explicit ImageCell(Image* image = nullptr) { setImage(image); }
  Image* image() const noexcept { return image_; }
  // Retained.
  void setImage(Image* image);
  int imageScaling() const noexcept { return scaling_; }
  void setImageScaling(int scaling) noexcept { scaling_ = scaling; }
  // Draws the object value when it is an image, else the cell's image:
  // without scaling at its own size, otherwise fitted into the frame with
  // its proportions kept; centred either way.
  void drawInteriorWithFrame(Rect frame, View* view) override;

 protected:
  ~ImageCell() override;

 private:
  objc::Ref<Image> image_;
  int scaling_ = 0;
};

class SizedTableColumn : public TableColumn {
 public:
  explicit SizedTableColumn(const char* identifier);

  double width() const noexcept { return width_; }
  // Held to the minimum width.
  void setWidth(double width) noexcept;
  unsigned resizingMask() const noexcept { return resizingMask_; }
  void setResizingMask(unsigned mask) noexcept { resizingMask_ = mask; }
  // The header cell's title.
  const char* headerTitle() const noexcept { return header_.c_str(); }
  void setHeaderTitle(const char* title) { header_ = plat::CharArray(title ? title : ""); }
  Cell* dataCell() const noexcept { return dataCell_; }
  // Retained.
  void setDataCell(Cell* cell);

 protected:
  ~SizedTableColumn() override;

 private:
  double width_;
  unsigned resizingMask_ = 3;  // autoresizing and user resizing
  plat::CharArray header_;
  objc::Ref<Cell> dataCell_;
};

class RowTableView : public TableView {
 public:
  explicit RowTableView(Rect frame = {}) : TableView(frame) {}

  // setHeaderView: nil takes the header away.
  bool hasHeaderView() const noexcept { return header_; }
  void setHasHeaderView(bool has) noexcept { header_ = has; }
  // The delegate's height when it sets each row's, else the row height.
  double heightOfRow(long row);
  // The rectangle of a row across the table (zero outside the rows).
  Rect rectOfRow(long row);
  // The row under a point, each row as high as heightOfRow says.
  long rowAtPoint(Point point) override;
  void drawRect(Rect dirty) override;
  // Scrolls the enclosing clip view so the row shows; remembered.
  void scrollRowToVisible(long row);
  long lastScrolledRow() const noexcept { return scrolledRow_; }

 protected:
  ~RowTableView() override = default;

 private:
  // One row's background and cells, those cells crossing the dirty
  // rectangle.
  void drawRow(long row, Rect rowRect, Rect dirty);

  bool header_ = true;
  long scrolledRow_ = -1;
};

}  // namespace appkit
