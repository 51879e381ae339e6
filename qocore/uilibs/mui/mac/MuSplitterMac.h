#pragma once
// mui::MuSplitterMac: the macOS splitter.  A flipped view holds the panes'
// views side by side; each divider between visible panes gets a
// left-right resize cursor, withdrawn while a divider is dragged.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "qocore/uilibs/mui/MuSplitter.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace mui {

class MuSplitterMac : public MuSplitter, public ui::ViewNotify {
 public:
  // The creator hook's signature.
  static MuSplitter* create(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                            uint32_t keepSizes);

  MuSplitterMac(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin, uint32_t keepSizes);
  ~MuSplitterMac() override;

  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  // A hidden pane's view leaves the tree; a shown one's comes back.
  void setPaneVisible(bool visible, int32_t index) override;
  void relayout() override;
  void beginDrag() override;
  void endDrag() override;
  void viewFrameChanged(appkit::View* view) override;

  // The dividers' rectangles across the splitter (x, 0, thickness, height).
  std::vector<appkit::Rect> dividerRects();
  appkit::View* splitterView() const noexcept { return view_; }

 private:
  void resetCursorRects();

  ui::NSViewFlipped* view_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
};

}  // namespace mui
