#pragma once
// muimisc::ClearTextPassword: a password field whose text can be shown in
// clear.  A horizontal row holds a password edit, a plain edit showing the
// same text, an eye button that switches between them and, optionally, a
// button that copies the password to the pasteboard.  One edit is visible
// at a time; the field moves the text (and on a toggle by the user the
// selection and focus) between them.  It is not an element itself: it
// builds its elements in the parent (which owns them) and observes them.
//
// The copies of the password that the field makes on the way are wiped
// before they are released.

#include <cstdint>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui {
class MuButton;
class MuEdit;
class MuLayout;
}  // namespace mui

namespace muimisc {

class ClearTextPassword : public mui::MuObserver {
 public:
  // The row gets the id; the edits are "hidden" and "clear", the buttons
  // "clearObsBtn" and "clipboardBtn".
  ClearTextPassword(mui::MuContainer* parent, const char* id, const char* label, bool withCopyButton);
  ~ClearTextPassword() override;
  ClearTextPassword(const ClearTextPassword&) = delete;
  ClearTextPassword& operator=(const ClearTextPassword&) = delete;

  void setTextShown(bool shown);
  // The edits and the eye button; the copy button stays as it is.
  void setEnabled(bool enabled);
  void setPlaceholder(const char* text);
  void setLabelWidth(int32_t width, int32_t extra);
  // "eyeOpen" while the text is shown, else "eyeClosed".
  void refreshEyeImage();

  // Clicks on the eye and copy buttons.
  void notify(mui::MuElement* element, mui::MuEvent event) override;

  // The visible edit.
  mui::MuEdit* currentEdit() const;
  mui::MuLayout* row() const noexcept { return row_; }
  mui::MuEdit* hiddenEdit() const noexcept { return hiddenEdit_; }
  mui::MuEdit* clearEdit() const noexcept { return clearEdit_; }
  mui::MuButton* eyeButton() const noexcept { return eyeButton_; }
  mui::MuButton* copyButton() const noexcept { return copyButton_; }

  // Adds the muimisc_* texts to the translations; only the first call of
  // the process adds them.
  static void registerTexts();

 private:
  // Every image is square, as high as the password edit.
  mui::Size imageSize() const;
  // Shows the other edit with the text of the current one and empties
  // the one it leaves.
  void swapTo(bool shown);

  mui::MuLayout* row_;
  mui::MuEdit* hiddenEdit_;
  mui::MuEdit* clearEdit_;
  mui::MuButton* eyeButton_;
  mui::MuButton* copyButton_ = nullptr;
};

}  // namespace muimisc
