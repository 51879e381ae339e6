#pragma once
// mui::MuEditMac: the macOS edit element.  A one-line text field, a
// password field or a multi-line field inside a flipped carrier view, the
// peer's view.  Typing reaches the element tree as changed events; the
// selection crosses this class in UTF-8 byte offsets while the platform
// counts UTF-16 units.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "qocore/uilibs/ui/mac/TextControls.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace mui {

class MuEditMac : public MuEdit,
                  public ui::TextFieldDelegate,
                  public ui::NSFormatterCxx::Callback,
                  public ui::ViewNotify {
 public:
  // Told when the user leaves the field.
  class EndEditCallback {
   public:
    virtual ~EndEditCallback() = default;
    virtual void editingEnded(MuEditMac* edit) = 0;
  };

  // The creator hook's signature.
  static MuEdit* create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option);

  MuEditMac(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option);
  ~MuEditMac() override;

  void setFocus() override;
  bool hasFocus() override;
  int32_t heightForWidth(int32_t width) override;
  void refreshStyle() override;
  // Shift+Return in a multi-line field types a newline; every other
  // Return or Escape goes to the dialog's buttons.
  bool handleDialogKey(DialogButton key, bool modified) override;
  void enabledChanged() override;
  void setText(const char* text) override;
  const char* getText() override;
  void setPlaceholder(const char* text) override;
  // In UTF-8 bytes; only while the field is being edited.  A negative
  // start puts the caret at the end.
  void setSelection(int32_t start, int32_t length) override;
  void getSelection(int32_t& start, int32_t& length) override;
  // The line height of the field's font times the lines (at least one),
  // less the insets.
  int32_t heightForLines(int32_t lines);

  void textDidChange(appkit::TextField* control) override;
  void textDidEndEditing(appkit::TextField* control) override;
  plat::CharArray fixPartialString(const char* text, appkit::TextField* control) override;
  bool isPartialStringValid(const char* text, appkit::TextField* control) override;
  void viewFrameChanged(appkit::View* view) override;

  void setEndEditCallback(EndEditCallback* callback) noexcept { endEditCallback_ = callback; }
  appkit::TextField* field() const noexcept { return textField_.field(); }
  appkit::View* carrier() const noexcept { return carrier_; }
  const MuInsets& insets() const noexcept { return insets_; }

 private:
  ui::TextField textField_;
  ui::NSViewFlipped* carrier_;
  std::unique_ptr<ui::TextFieldDelegateHolder> delegate_;
  std::unique_ptr<ui::NSFormatterCxx> formatter_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
  MuInsets insets_;
  EndEditCallback* endEditCallback_ = nullptr;
  plat::CharArray text_;
  bool changeSeen_ = false;
};

// The UTF-16 units that the first `bytes` bytes of a UTF-8 text take.
size_t utf16UnitsOfUtf8(const char* text, size_t bytes) noexcept;
// The UTF-8 bytes that `count` UTF-16 units from `start` take.
size_t utf8BytesOfUtf16(const uint16_t* units, size_t start, size_t count) noexcept;

}  // namespace mui
