#pragma once
// mui::MuSplitter: panes side by side (orientation 0, along x) or stacked
// (1, along y) with dividers the user drags.  Each pane has a minimum and a
// stored size; the last visible pane takes the rest.  While the splitter
// is shown and there is room for every minimum, panes are cut so the ones
// after them keep their minimum.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuSplitter : public MuContainer {
 public:
  // Mouse notice kinds.
  static constexpr int32_t kMousePressed = 0;
  static constexpr int32_t kMouseReleased = 1;
  static constexpr int32_t kMouseMoved = 4;
  static constexpr int32_t kMouseExited = 5;

  static MuSplitter* create(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                            uint32_t keepSizes);

  MuSplitter(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin, uint32_t keepSizes);
  ~MuSplitter() override;

  const char* typeName() override { return "splitter"; }
  plat::DString describe() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  // Divider dragging; true when the notice was used.
  bool fireMouse(int32_t kind, Point point, ui::MouseHandlerMac* handler) override;
  MuElement* childAt(int32_t index) override;
  int32_t childCount() override;
  // Measures the new pane for its minimum and size.
  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  // Measures every pane again.
  void childChanged() override;
  void relayout() override;
  // Silently.
  void removeAll() override;

  // 3 when thin, else 5.
  virtual int32_t dividerThickness() { return thin_ ? 3 : 5; }
  virtual void setPaneVisible(bool visible, int32_t index);
  virtual void beginDrag() = 0;
  virtual void endDrag() = 0;
  virtual void hoverDivider(Point) {}

  void setPaneLimits(int32_t index, int32_t minimum, int32_t size);
  void setPaneSize(int32_t size, int32_t index);
  // The end of pane `index` along the axis (its position when hidden).
  int32_t getDividerPosition(int32_t index);
  // 0 after a hidden pane.
  int32_t dividerThicknessAt(int32_t index);
  std::vector<int32_t> dividerPositions();
  // 0 for hidden panes.
  std::vector<int32_t> paneSizes();
  // The room the visible panes after `index` need at least.
  int32_t spaceAfter(int32_t index);
  // The nearest visible pane before `index`, or -1.
  int32_t previousVisibleChild(int32_t index);

  uint32_t orientation() const noexcept { return orientation_; }
  bool dragging() const noexcept { return dragging_; }
  int32_t paneMinimum(int32_t index) const { return panes_.at(index).minimum; }
  // The backend's divider style (2 draws bordered dividers).
  uint32_t style() const noexcept { return style_; }
  void setStyle(uint32_t style) noexcept { style_ = style; }

 private:
  struct Pane {
    int32_t minimum;
    int32_t size;
    std::unique_ptr<MuElement> element;
  };

  // The pane's measure along the axis for the splitter's cross extent.
  int32_t measure(MuElement* element);
  int32_t along(Point p) const noexcept { return orientation_ ? p.y : p.x; }
  int32_t along(Size s) const noexcept { return orientation_ ? s.height : s.width; }
  int32_t hoveredDivider(int32_t coordinate);
  // The stored sizes (keepSizes) or minimums, and the dividers.
  int32_t naturalAlong();
  // The largest unconstrained measure of a pane across the axis.
  int32_t largestAcross();

  std::vector<Pane> panes_;
  bool dragging_ = false;
  int32_t dragIndex_ = -1;
  int32_t dragStart_ = 0;
  int32_t dragStartSize_ = 0;
  uint32_t orientation_;
  uint32_t thin_;
  uint32_t keepSizes_;
  uint32_t style_ = 0;
};

// The backend's creator of splitters; null until the backend fills it.
extern MuSplitter* (*muSplitterFactory)(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                                        uint32_t keepSizes);

}  // namespace mui
