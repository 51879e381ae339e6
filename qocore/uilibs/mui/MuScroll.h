#pragma once
// mui::MuScroll: a single child in a scrolling area.  The core decides the
// measures and which scrollbars a size needs; the scrolling itself is the
// backend's.

#include <cstdint>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuScroll : public MuContainerSingle {
 public:
  static constexpr uint32_t kVertical = 0x1;    // vertical scrolling allowed
  static constexpr uint32_t kHorizontal = 0x2;  // horizontal scrolling allowed
  static constexpr uint32_t kBordered = 0x4;
  static constexpr int32_t kNoLimit = 0x7FFFFFFF;

  static MuScroll* create(MuContainer* parent, const char* id, uint32_t style);

  MuScroll(MuContainer* parent, const char* id, uint32_t style) : MuContainerSingle(parent, id), style_(style) {}

  const char* typeName() override { return "scroll"; }
  plat::DString describe() override;
  // The child's measure plus the chrome, capped at the maximum size; along
  // a scrolling axis the child is measured without limit.
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  virtual Point scrollPosition() { return {}; }
  virtual void setScrollPosition(Point) {}
  virtual void setMaxSize(Size size) { maxSize_ = size; }
  virtual Size borderSize() { return {}; }
  virtual int32_t horizontalScrollbarHeight() { return 0; }
  virtual int32_t verticalScrollbarWidth() { return 0; }
  // Twice the border (when bordered) plus the scrollbars allowed.
  virtual Size chromeSize();

  // For an available size: the child's size and the scrollbars needed.
  void computeScrollbars(Size available, Size& child, bool& horizontal, bool& vertical);

  uint32_t style() const noexcept { return style_; }
  Size maxSize() const noexcept { return maxSize_; }

 private:
  uint32_t style_;
  Size maxSize_{kNoLimit, kNoLimit};
};

// The backend's creator of scroll areas; null until the backend fills it.
extern MuScroll* (*muScrollFactory)(MuContainer* parent, const char* id, uint32_t style);

}  // namespace mui
