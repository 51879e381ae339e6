#pragma once
// mui::MuButtonBar: the standard row of OK, Cancel, Yes, No and similar
// buttons of a dialog, with localised labels, placed at the right edge in
// the platform's order, and made the dialog's default and cancel buttons.
//
// It is a helper owned by whoever builds the dialog, not an element.  In a
// dialog it makes a footer frame as a bottom panel; inside any other
// container a horizontal layout.  Custom buttons sit left of the standard
// ones, the latest leftmost.

#include <cstdint>
#include <initializer_list>
#include <map>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuButton;
class MuFrame;
class MuLayout;
class MuSpacer;

class MuButtonBar {
 public:
  // Button bits.
  static constexpr uint32_t kOk = 1;
  static constexpr uint32_t kCancel = 2;
  static constexpr uint32_t kApply = 4;
  static constexpr uint32_t kYes = 8;
  static constexpr uint32_t kNo = 16;
  static constexpr uint32_t kBack = 32;
  static constexpr uint32_t kNext = 64;
  static constexpr uint32_t kContinue = 128;
  static constexpr uint32_t kSave = 256;
  static constexpr uint32_t kOpen = 512;
  static constexpr uint32_t kCustom = 4096;

  // `buttons` holds standard bits only.
  MuButtonBar(MuContainer* parent, uint32_t buttons, bool setDefaults);
  ~MuButtonBar();
  MuButtonBar(const MuButtonBar&) = delete;
  MuButtonBar& operator=(const MuButtonBar&) = delete;

  // Replaces every button of the bar by the standard buttons asked for.
  void setButtons(uint32_t buttons, bool setDefaults);
  // A standard button at the end, or (kCustom) a custom button with the id
  // and label left of the others; null for an unknown bit.
  MuButton* addButton(uint32_t bit, const char* id, const char* label);
  // Default: the first of OK, Yes, Continue, Next, Save, Open; cancel:
  // Cancel, else No.
  void chooseDefaults();
  // The first listed bit that has a button becomes the dialog's button
  // `index`; kCustom matches a custom button without id.
  void setDialogButton(DialogButton index, std::initializer_list<uint32_t> bits);
  // The bit of one of the bar's buttons; 0 for any other element.
  uint32_t buttonBit(MuElement* element) const;
  // The standard button of the bit, or (kCustom) the custom one of the id.
  MuButton* findButton(uint32_t bit, const char* id) const;
  void setEnabled(bool enabled);

  MuLayout* layout() const noexcept { return layout_; }

  // Adds the ui_button_* texts to the translations (once per process).
  static void registerTexts();

 private:
  // The dialog the bar sits in, or null.
  MuDialog* dialog() const;
  void forgetDialogButtons() noexcept;
  MuButton* addStandard(uint32_t bit);

  MuContainer* parent_;
  MuFrame* footer_ = nullptr;
  MuLayout* layout_ = nullptr;
  MuSpacer* leading_ = nullptr;
  MuElement* insertion_ = nullptr;
  MuSpacer* gap_ = nullptr;
  std::map<MuButton*, uint32_t> buttons_;
};

}  // namespace mui
