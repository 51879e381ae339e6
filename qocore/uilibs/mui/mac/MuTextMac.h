#pragma once
// mui::MuTextMac: the macOS rich text element.  The markup is rendered
// into a text view that is selectable only when the element asks for it or
// the text has links; activated links go to the element's link callback.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "qocore/uilibs/ui/mac/TextControls.h"

namespace mui {

class MuTextMac : public MuText, public ui::TextViewDelegate, public ui::TextView::Callback {
 public:
  // The creator hook's signature; the text is shown escaped, never as
  // markup.
  static MuText* create(MuContainer* parent, const char* id, const char* text, plat::Markup::LinkCallback* linkCallback,
                        uint32_t selectable);

  MuTextMac(MuContainer* parent, const char* id, const char* text, plat::Markup::LinkCallback* linkCallback,
            uint32_t selectable);
  ~MuTextMac() override;

  bool setText(const char* markup) override;
  void refreshStyle() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  void linkClicked(objc::Object* link) override;
  // Without the selectable flag, only links react: no selection shows.
  bool refuseSelectionChange(appkit::TextView* view, const std::vector<appkit::Range>& oldRanges,
                             const std::vector<appkit::Range>& newRanges) override;

  bool acceptsFirstResponder(ui::TextView*) override { return true; }
  bool canBecomeKeyView(ui::TextView*) override { return false; }
  bool keyDown(ui::TextView*, appkit::Event*) override { return false; }

  ui::TextView& textView() noexcept { return *textView_; }
  ui::TextViewDelegateOC* bridge() const noexcept { return delegate_->bridge(); }

 private:
  std::unique_ptr<ui::TextView> textView_;
  std::unique_ptr<ui::TextViewDelegateHolder> delegate_;
};

}  // namespace mui
