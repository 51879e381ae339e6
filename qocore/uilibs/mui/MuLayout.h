#pragma once
// mui::MuLayout: the box layout.  It stacks its visible children along one
// axis with a fixed spacing between neighbours.  Each child's extent along
// the axis comes from its mode: natural (measured at every relayout),
// fixed (the entry's size) or weighted (a share of the spare room in
// proportion to the entry's size); across the axis it is stretched or
// aligned.  The layout answers both measurement questions itself, so
// layouts nest.  The backend subclass supplies only the native view.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuSpacer;

class MuLayout : public MuContainer {
 public:
  enum Direction : uint32_t { kVertical = 0, kHorizontal = 1 };
  // The low four bits of a child's mode-and-alignment word.
  static constexpr uint32_t kModeMask = 0xF;
  static constexpr uint32_t kNatural = 0;
  static constexpr uint32_t kFixed = 1;
  static constexpr uint32_t kWeighted = 2;
  // Bits 4 to 7: across the axis.  0 stretches; any other unlisted value
  // behaves as kAlignStart.
  static constexpr uint32_t kAlignMask = 0xF0;
  static constexpr uint32_t kAlignStart = 0x10;
  static constexpr uint32_t kAlignEnd = 0x20;
  static constexpr uint32_t kAlignCentre = 0x30;
  // Where moveChild puts the child; any other value is kBefore.
  enum Where : int32_t { kFront = 0, kEnd = 1, kBefore = 2, kAfter = 3 };

  // Made through the backend's muLayoutFactory and added to the parent.
  static MuLayout* create(MuContainer* parent, const char* id, uint32_t direction);

  // The spacing starts as the toolkit's layout spacing.
  MuLayout(MuContainer* parent, const char* id, uint32_t direction);
  ~MuLayout() override;

  const char* typeName() override { return "layout"; }
  plat::DString describe() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  // Checks the stacking along the axis, then each visible child.
  void checkLayout(MuLayoutCheckObserver* observer) override;
  // A negative index counts from the end.
  MuElement* childAt(int32_t index) override;
  int32_t childCount() override;
  // Appends the child with the default mode and size 1.
  void addChild(MuElement* element) override;
  // A child that is not in the layout is ignored.
  void removeChild(MuElement* element) override;
  void relayout() override;
  // Last first.
  void removeAll() override;

  // Sets the child's mode-and-alignment word and size.
  virtual void setChildLayout(MuElement* child, uint32_t mode, int32_t size);
  // Called after moveChild, so a backend can restack its native views.
  virtual void childrenReordered() {}

  // Takes the child out and puts it back at `where` (relative to
  // `reference` for kBefore and kAfter; a reference not found puts it at
  // the end), then relayouts.
  void moveChild(MuElement* child, int32_t where, MuElement* reference);
  // Adds a fixed spacer of the toolkit's spacer size (less the spacing);
  // when weighted, every child added afterwards shares the spare room with
  // weight 1.
  MuSpacer* addSpacer(bool weighted);

  uint32_t direction() const noexcept { return direction_; }
  int32_t spacing() const noexcept { return spacing_; }
  void setSpacing(int32_t spacing) noexcept { spacing_ = spacing; }
  // The entry of a child: its mode-and-alignment word and size; false when
  // it is not a child.
  bool childLayout(MuElement* child, uint32_t& mode, int32_t& size) const;

 private:
  struct Entry {
    std::unique_ptr<MuElement> element;
    uint32_t mode;
    int32_t size;
  };

  // The extent along the axis for a cross extent (heightForWidth of a
  // vertical layout, widthForHeight of a horizontal one).
  int32_t measureMain(int32_t cross);
  // The extent across the axis for a main extent.
  int32_t measureCross(int32_t main);

  uint32_t direction_;
  int32_t spacing_;
  uint32_t defaultMode_ = 0;
  std::vector<Entry> children_;
};

// The backend's creator of layouts; null until the backend fills it.
extern MuLayout* (*muLayoutFactory)(MuContainer* parent, const char* id, uint32_t direction);

}  // namespace mui
