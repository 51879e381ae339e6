#pragma once
// mui::MuMessageBox: a modal message window built from ordinary elements
// (an optional status icon, the message and a standard button bar), so it
// looks like the program's other dialogs and the automation server can
// drive it.  show() answers whether the positive button (OK or Yes) was
// pressed.  mui::MuAboutDialog is the toolkit's about window, built the
// same way.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuButtonBar;
class MuDialog;
class MuFrame;
class MuImage;
class MuLayout;
class MuText;
class NativeWindow;

class MuMessageBox : public MuObserver {
 public:
  // Flag fields.
  static constexpr uint32_t kButtonSetMask = 0x00F;
  static constexpr uint32_t kOk = 0;
  static constexpr uint32_t kOkCancel = 1;
  static constexpr uint32_t kYesNo = 4;
  static constexpr uint32_t kIconMask = 0x0F0;
  static constexpr uint32_t kIconError = 0x10;
  static constexpr uint32_t kIconQuestion = 0x20;
  static constexpr uint32_t kIconWarning = 0x30;
  static constexpr uint32_t kIconInfo = 0x40;
  // Makes Cancel or No the default button.
  static constexpr uint32_t kNegativeDefault = 0xF00;

  // The message is plain text; setMessage takes mark-up.  The box is built
  // hidden.  A button set other than OK, OK and Cancel, Yes and No gets the
  // OK button, so the box can always be ended.
  MuMessageBox(const char* message, uint32_t flags, MuDialog* owner, const char* caption, bool applicationModal,
               NativeWindow* nativeParent);
  ~MuMessageBox() override;
  MuMessageBox(const MuMessageBox&) = delete;
  MuMessageBox& operator=(const MuMessageBox&) = delete;

  // Shows the box (the backend returns when it is hidden again) and
  // answers whether OK or Yes ended it.
  bool show(bool visible = true);
  void setMessage(const char* markup);
  // The text in bold, an empty line, then the detail; both plain text.
  void setMessageAndDetail(const char* text, const char* detail);
  void setLinkReceiver(plat::Markup::LinkCallback* receiver);

  void onClicked(MuElement* element) override;
  void onDialogClosed(MuDialog* dialog) override;

  // The product's display name, then " - " and the caption when given.
  static plat::CharArray title(const char* caption);
  static uint32_t dialogFlags(bool hasOwner, uint32_t buttonSet, bool applicationModal);
  // The named image of the icon field, or null for none.
  static const char* iconName(uint32_t flags);

  MuDialog* dialog() const noexcept { return dialog_.get(); }
  MuButtonBar* buttonBar() const noexcept { return buttons_.get(); }

 private:
  std::unique_ptr<MuDialog> dialog_;
  MuLayout* main_ = nullptr;
  MuFrame* frame_ = nullptr;
  MuLayout* split_ = nullptr;
  MuLayout* info_ = nullptr;
  MuText* msg_ = nullptr;
  std::unique_ptr<MuButtonBar> buttons_;
  bool result_ = false;
};

class MuAboutDialog : public MuObserver {
 public:
  // The image is the named one, or the application's when null.
  MuAboutDialog(MuDialog* owner, NativeWindow* nativeParent, const char* imageName);
  ~MuAboutDialog() override;
  MuAboutDialog(const MuAboutDialog&) = delete;
  MuAboutDialog& operator=(const MuAboutDialog&) = delete;

  // OK hides the dialog; a change of appearance reloads the image.
  void notify(MuElement* element, MuEvent event) override;

  MuDialog* dialog() const noexcept { return dialog_.get(); }

 private:
  std::unique_ptr<MuDialog> dialog_;
  MuImage* image_ = nullptr;
  plat::CharArray imageName_;
  std::unique_ptr<MuButtonBar> buttons_;
};

}  // namespace mui
