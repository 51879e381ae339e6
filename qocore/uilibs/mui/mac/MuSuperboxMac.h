#pragma once
// mui::MuSuperboxMac: the macOS superbox, a one-line text field beside the
// element's label whose typing opens the element's popup list under the
// field.
//
// For its whole life the peer is one of the application loop's event
// filters.  In the focused field, Tab, Return, Escape and the other keys
// that have a key symbol of their own go to the element's key handling
// first.  While the popup is open, a press anywhere but in the popup (in
// this application or, through the global monitor, in another), the
// application losing the front and the main menu starting to track close
// it; the press that closes it goes no further, and a scroll outside the
// popup is swallowed so the list stays where the user left it.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "platform/appkit/Event.h"
#include "platform/appkit/TextField.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "qocore/uilibs/ui/mac/TextControls.h"

namespace mui {

class MuSuperboxMac : public MuSuperbox, public ui::TextFieldDelegate, public ui::AppEventFilter {
 public:
  // The creator that muSuperboxFactory holds.
  static MuSuperbox* create(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback,
                            int32_t popupHeight);

  MuSuperboxMac(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback, int32_t popupHeight);
  // Leaves the event filters first, so no event reaches a half-destroyed
  // peer.
  ~MuSuperboxMac() override;

  // Enabling means the element's; the filter is switched by its full name.
  using MuElement::setEnabled;

  // Focus is the field's; the root dialog is told as for every element.
  void setFocus() override;
  bool hasFocus() override;
  // The label's height for the width, at least a standard field's height
  // plus 2.
  int32_t heightForWidth(int32_t width) override;
  // Both values are kept; the second is the field's width setting in the
  // labelled control (0 natural, positive fixed, negative a weight).
  void setLabelWidth(int32_t width, int32_t extra) override;
  void enabledChanged() override;
  const char* getText() override;
  void setText(const char* text) override;
  void setPlaceholder(const char* text) override;
  // Where the popup goes: under the field.
  Rect textRect() override { return fieldRect(); }

  // The field's frame in its superview as left, top, right, bottom, with
  // y downwards even when the superview counts upwards.
  Rect fieldRect();

  // Typing opens the popup and sends changed.
  void textDidChange(appkit::TextField* control) override;
  void textDidEndEditing(appkit::TextField*) override {}

  // Application-event filter.  True consumes the event.
  bool filterAppEvent(appkit::Event* event) override;
  // Left, right and other mouse presses of other applications.
  uint64_t appEventMask() override;
  void filterNotice(appkit::Event* event) override;
  void menuTrackingBegan() override;

  appkit::TextField* field() const noexcept { return textField_.field(); }
  LabelledControl* labelled() const noexcept { return labelled_; }
  // The last values given to setLabelWidth.
  int32_t labelWidthSetting() const noexcept { return labelWidth_; }
  int32_t fieldWidthSetting() const noexcept { return fieldWidth_; }

 private:
  ui::TextField textField_{false};
  objc::Ref<LabelledControl> labelled_;
  std::unique_ptr<ui::TextFieldDelegateHolder> delegate_;
  // Until told otherwise the label keeps its natural width and the field
  // takes the rest of the row.
  int32_t labelWidth_ = 0;
  int32_t fieldWidth_ = -1;
  plat::CharArray text_;
};

}  // namespace mui
