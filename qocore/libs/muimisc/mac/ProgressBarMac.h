#pragma once
// muimisc::ProgressBarMac: the macOS progress bar.  An owner-drawn view
// paints the filled part and the track in their colours; a frame change of
// the view redraws the whole bar.
//
// Main thread only.

#include <memory>

#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/ui/mac/CustomView.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace muimisc {

class ProgressBarMac : public ProgressBar, public ui::CustomView::Callback, public ui::ViewNotify {
 public:
  // The creator hook's signature.
  static ProgressBar* create(mui::MuContainer* parent, const char* id);

  ProgressBarMac(mui::MuContainer* parent, const char* id);
  ~ProgressBarMac() override;

  // Fills filledRect with the fill colour and trackRect with the track
  // colour; a colour text that does not parse paints "#808080".
  virtual void draw();
  // Invalidates the whole bar.
  virtual void redrawAll();

  void draw(ui::CustomView* view, const rfb::Rect& dirty) override;
  void viewFrameChanged(appkit::View* view) override;

  ui::CustomView* customView() const noexcept { return view_.get(); }

 private:
  std::unique_ptr<ui::CustomView> view_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
};

}  // namespace muimisc
