#pragma once
// mui::MuAutoHiderMac: the macOS auto-hider.  Its content is a dialog of
// its own whose view floats over another window's content area, sliding
// in over one edge when the pointer comes to it and out again when the
// pointer leaves it for the rest of the window.  The dialog's own window
// is never shown.
//
// Main thread only.

#include <algorithm>
#include <cstdint>
#include <memory>

#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {

class MuButtonMac;

class MuAutoHiderMac : public MuAutoHider {
 public:
  // A placement: the edge to slide over (ui::AutoHider::Edge) in the low
  // byte, and above it the points of the content that stay in the window
  // while it is hidden.
  static constexpr uint32_t kEdgeMask = 0xff;
  static constexpr uint32_t kInsetShift = 8;
  static constexpr uint32_t placement(uint32_t edge, uint32_t inset) noexcept {
    return (edge & kEdgeMask) | std::min(inset, UINT32_MAX >> kInsetShift) << kInsetShift;
  }

  // The creator that muAutoHiderFactory holds.
  static MuAutoHider* create(const char* id, Size size, uint32_t placement, Listener* listener);

  // The content dialog is made, sized, laid out and shown in its view,
  // attached to no window yet.
  MuAutoHiderMac(const char* id, Size size, uint32_t placement, Listener* listener);
  // Leaves the window it floats over first.
  ~MuAutoHiderMac() override;
  MuAutoHiderMac(const MuAutoHiderMac&) = delete;
  MuAutoHiderMac& operator=(const MuAutoHiderMac&) = delete;

  MuElement* element() override { return content_.get(); }
  // Moves the content into the window's content view (null: out of any
  // window).  The content's default push button becomes the new window's
  // default button, and stops being the default of the window left.
  void attach(NativeWindow* window) override;
  ui::AutoHider* hider() override { return hider_.get(); }

  MuDialogMac* content() const noexcept { return content_.get(); }
  ui::NSViewAutoHider* viewHider() const noexcept { return hider_.get(); }

 private:
  MuButtonMac* defaultPushButton() const;

  // The hider keeps the content's view alive, so it goes after the
  // content dialog (the destructor sees to the order).
  std::unique_ptr<MuDialogMac> content_;
  std::unique_ptr<ui::NSViewAutoHider> hider_;
};

}  // namespace mui
