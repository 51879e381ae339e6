#pragma once
// mui::MuEditMac: the macOS edit element.  A one-line text field, a
// password field or a multi-line field inside a mui::LabelledControl with
// the element's label beside it; the labelled control is the peer's view.
// Typing reaches the element tree as changed events; the selection crosses
// this class in UTF-8 byte offsets while the platform counts UTF-16 units.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/mac/LabelledControl.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "qocore/uilibs/ui/mac/TextControls.h"

namespace mui {

class MuEditMac : public MuEdit, public ui::TextFieldDelegate, public ui::NSFormatterCxx::Callback {
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
  // The largest of the label's height, the field's cell height less the
  // insets and the minimum height.
  int32_t heightForWidth(int32_t width) override;
  // The field's background in the style's background colour (else the
  // content background); the field editor draws its background.
  void refreshStyle() override;
  // The label column and the field's width (0 natural, positive fixed,
  // negative a weight), then laid out again.
  void setLabelWidth(int32_t width, int32_t extra) override;
  // The label's natural width; 0 without a label.
  int32_t labelWidth() override;
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
  // less the insets; at least the label's height at the current width.
  int32_t heightForLines(int32_t lines);

  void textDidChange(appkit::TextField* control) override;
  void textDidEndEditing(appkit::TextField* control) override;
  plat::CharArray fixPartialString(const char* text, appkit::TextField* control) override;
  bool isPartialStringValid(const char* text, appkit::TextField* control) override;

  void setEndEditCallback(EndEditCallback* callback) noexcept { endEditCallback_ = callback; }
  appkit::TextField* field() const noexcept { return textField_.field(); }
  LabelledControl* labelled() const noexcept { return labelled_; }
  const MuInsets& insets() const noexcept { return insets_; }

 private:
  ui::TextField textField_;
  objc::Ref<LabelledControl> labelled_;
  std::unique_ptr<ui::TextFieldDelegateHolder> delegate_;
  std::unique_ptr<ui::NSFormatterCxx> formatter_;
  MuInsets insets_;
  EndEditCallback* endEditCallback_ = nullptr;
  // The last text read; a password edit's is its password.
  plat::SecretText text_;
  bool changeSeen_ = false;
};

// The UTF-16 units that the first `bytes` bytes of a UTF-8 text take.
size_t utf16UnitsOfUtf8(const char* text, size_t bytes) noexcept;
// The UTF-8 bytes that `count` UTF-16 units from `start` take.
size_t utf8BytesOfUtf16(const uint16_t* units, size_t start, size_t count) noexcept;

}  // namespace mui
