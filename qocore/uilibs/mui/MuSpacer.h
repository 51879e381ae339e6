#pragma once
// mui::MuSpacer: an empty element that only takes room.  It has no native
// view, so it keeps its size, position and visibility itself, and measures
// as its preferred size whatever it is asked.

#include <cstdint>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuSpacer : public MuElement {
 public:
  // A spacer without id, added to the parent.
  static MuSpacer* create(MuContainer* parent, int32_t width, int32_t height);

  MuSpacer(MuContainer* parent, int32_t width, int32_t height);

  void setVisible(bool visible) override { visible_ = visible; }
  bool isVisible() override { return visible_; }
  void setSize(Size size) override { size_ = size; }
  // (0, 0) while hidden.
  Size getSize() override { return visible_ ? size_ : Size{}; }
  void setPosition(Point point) override { position_ = point; }
  Point getPosition() override { return position_; }
  int32_t widthForHeight(int32_t) override { return width_; }
  int32_t heightForWidth(int32_t) override { return height_; }
  const char* typeName() override { return "spacer"; }
  // Only "x,y wxh".
  plat::DString describe() override;

 private:
  Size size_;
  Point position_;
  int32_t width_;
  int32_t height_;
  bool visible_ = true;
};

}  // namespace mui
