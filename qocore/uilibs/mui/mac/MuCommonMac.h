#pragma once
// mui::MuCommonMac: the macOS peer of one element.  It binds the element
// to one native view and carries out the element's common requests (show,
// enable, focus, tool tip, size, position, measuring, scrolling, redraw)
// on that view.  Every macOS element class makes one over its outermost
// view.
//
// The view may be larger than the element by four insets (a control that
// draws a bezel or focus ring outside its element rectangle): sizes and
// positions cross this class with the insets added or taken off, so the
// logic above sees only the element rectangle.  Views are expected to sit
// in flipped superviews (y grows downwards), as every container of the
// backend is.
//
// Main thread only.

#include <cstdint>

#include "platform/appkit/View.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/TextMeasurer.h"

namespace mui {

// The margins by which a peer's view is larger than its element.
struct MuInsets {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

class MuCommonMac : public MuCommon {
 public:
  using Insets = MuInsets;

  // Neither the element nor the view is owned (the element owns the peer;
  // the element class owns its views).
  MuCommonMac(MuElement* element, appkit::View* view, Insets insets = {});
  ~MuCommonMac() override;

  void setVisible(bool visible) override;
  bool isVisible() override;
  // Only controls can be disabled; other views ignore it.
  void setEnabled(bool enabled) override;
  void setFocus() override;
  bool hasFocus() override;
  void setToolTip(const char* text) override;
  void setSize(Size size) override;
  Size getSize() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  // Logs a warning when the superview is not flipped, and moves the view
  // all the same.
  void setPosition(Point point) override;
  // Includes the parent container's child origin.
  Point getPosition() override;
  void refreshStyle() override {}
  void scrollRectToVisible(const Rect& rect) override;
  void invalidateRect(const Rect& rect) override;

  MuElement* element() const noexcept { return element_; }
  appkit::View* view() const noexcept { return view_; }
  const Insets& insets() const noexcept { return insets_; }

  // The view of the element's peer; null when it has no peer (with
  // assertCommon that is an assertion).
  static appkit::View* viewOf(MuElement* element, bool assertCommon);
  // The element below `element` (itself included, depth first in child
  // order) whose peer's view is `view`; null when none.
  static MuElement* findElementForView(MuElement* element, appkit::View* view);

 private:
  MuElement* element_;
  appkit::View* view_;
  ui::TextMeasurer measurer_;
  Insets insets_;
};

// Coordinates read back from the platform are truncated as the ui layer
// does.
using ui::ceilToInt32;
using ui::truncToInt32;

// Takes the native views of a container's children out of the view tree,
// before the container's core destroys the children.
void detachChildViews(MuContainer* container);

// The native view of an element: its peer's view, or null for an element
// without a Mac peer.  (The outer-view flag is for peers whose element has
// an inner view of its own; every peer here has one view.)
appkit::View* nativeViewOf(MuElement* element, bool outer = true);

}  // namespace mui
