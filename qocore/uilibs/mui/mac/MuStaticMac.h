#pragma once
// mui::MuStaticMac: the macOS label.  The text is shown in a text view in
// the system font at the element's size and weight, coloured by the
// element's font colour or the platform's control text colours.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/TextControls.h"

namespace mui {

class MuStaticMac : public MuStatic, public ui::TextView::Callback {
 public:
  // The truncate bit of setText's extra word.
  static constexpr uint32_t kTruncate = 0x1;

  // The creator hook's signature.
  static MuStatic* create(MuContainer* parent, const char* id, const char* text, uint32_t type);

  MuStaticMac(MuContainer* parent, const char* id, const char* text, uint32_t type);

  void setText(const char* text, bool bold, uint32_t extra) override;
  void refreshStyle() override;
  void enabledChanged() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  bool acceptsFirstResponder(ui::TextView*) override { return type() == kSelectable; }
  bool canBecomeKeyView(ui::TextView*) override { return false; }
  bool keyDown(ui::TextView*, appkit::Event*) override { return false; }

  ui::TextView& textView() noexcept { return *textView_; }

 private:
  void show();

  std::unique_ptr<ui::TextView> textView_;
  plat::CharArray text_;
};

}  // namespace mui
