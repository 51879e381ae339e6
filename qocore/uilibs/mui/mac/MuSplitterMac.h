#pragma once
// mui::MuSplitterMac: the macOS splitter.  An owner-drawn, flipped view
// holds the panes' views side by side and paints the dividers between
// them; each divider gets a left-right resize cursor, and the window's
// cursor rectangles are off while a divider is dragged.
//
// Main thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/base/rfb/Rect.h"
#include "qocore/uilibs/mui/MuSplitter.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CustomView.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace mui {

class MuSplitterMac : public MuSplitter, public ui::CustomView::Callback, public ui::ViewNotify {
 public:
  // The creator hook's signature.
  static MuSplitter* create(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                            uint32_t keepSizes);

  MuSplitterMac(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin, uint32_t keepSizes);
  ~MuSplitterMac() override;

  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  // A hidden pane's view leaves the tree; a shown one's comes back in its
  // place among its siblings.
  void setPaneVisible(bool visible, int32_t index) override;
  // Then the cursor rectangles for the dividers' new places.
  void relayout() override;
  void beginDrag() override;
  void endDrag() override;
  void viewFrameChanged(appkit::View* view) override;

  // Paints the dividers that cross the dirty rectangle's rows.
  void draw(ui::CustomView* view, const rfb::Rect& dirty) override;
  void resetCursorRects(ui::CustomView* view) override;

  // The dividers' rectangles across the splitter (x, 0, thickness,
  // height); none after a hidden pane.
  std::vector<appkit::Rect> dividerRects();
  appkit::View* splitterView() const noexcept { return view_->view(); }
  ui::CustomView* customView() const noexcept { return view_.get(); }

 private:
  std::unique_ptr<ui::CustomView> view_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
  objc::Ref<appkit::TrackingArea> tracking_;
};

}  // namespace mui
