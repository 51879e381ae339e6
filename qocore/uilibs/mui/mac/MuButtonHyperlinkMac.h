#pragma once
// mui::MuButtonHyperlinkMac: the macOS peer of a hyperlink button.  The
// label, without its mnemonic markers, is one link filling a left-aligned
// text view; a click on the link, or the space bar while the view has the
// focus, is the button's click, unless the element is disabled or locked.
// The link has no target of its own: it only tells the element.
//
// Main thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "qocore/uilibs/ui/mac/TextControls.h"

namespace mui {

class MuButtonHyperlinkMac : public MuButton, public ui::TextViewDelegate, public ui::TextView::Callback {
 public:
  // The key code of the space bar.
  static constexpr unsigned short kSpaceKeyCode = 49;

  MuButtonHyperlinkMac(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                       uint32_t option);
  ~MuButtonHyperlinkMac() override;

  // Shows the new label as the link.
  void setText(const char* text) override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  void linkClicked(objc::Object* link) override;
  // The link is the only thing to click: no selection shows.
  bool refuseSelectionChange(appkit::TextView* view, const std::vector<appkit::Range>& oldRanges,
                             const std::vector<appkit::Range>& newRanges) override;

  // Not with the not-focusable flag; otherwise as the user's keyboard
  // setting lets controls other than text take the focus.
  bool acceptsFirstResponder(ui::TextView* view) override;
  bool canBecomeKeyView(ui::TextView* view) override { return acceptsFirstResponder(view); }
  // The space bar clicks; other keys go on to the text view.
  bool keyDown(ui::TextView* view, appkit::Event* event) override;

  ui::TextView& textView() noexcept { return *textView_; }
  ui::TextViewDelegateOC* bridge() const noexcept { return delegate_->bridge(); }

 private:
  void showLabel();
  // Sends clicked while the element is enabled.
  void click();

  std::unique_ptr<ui::TextView> textView_;
  std::unique_ptr<ui::TextViewDelegateHolder> delegate_;
};

}  // namespace mui
