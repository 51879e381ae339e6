#pragma once
// The native text controls of the macOS layer: ui::TextField, a
// single-line field (plain or secure) for the edit and superbox peers, and
// ui::TextView, a multi-line text view used as a label or as selectable
// rich text, with its measurer.

#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/ui/mac/TextMeasurer.h"

namespace ui {

class TextField;
class TextView;

class TextFieldOC : public appkit::TextField {
 public:
  using appkit::TextField::TextField;
  ui::TextField* cxx = nullptr;

 protected:
  ~TextFieldOC() override = default;
};

class TextFieldSecureOC : public appkit::SecureTextField {
 public:
  using appkit::SecureTextField::SecureTextField;
  ui::TextField* cxx = nullptr;

 protected:
  ~TextFieldSecureOC() override = default;
};

class TextField {
 public:
  explicit TextField(bool secure);
  virtual ~TextField();
  TextField(const TextField&) = delete;
  TextField& operator=(const TextField&) = delete;

  // Whichever of the two native fields exists.
  appkit::TextField* field() const noexcept {
    return plain_ ? static_cast<appkit::TextField*>(plain_.get()) : static_cast<appkit::TextField*>(secure_.get());
  }
  TextFieldOC* plain() const noexcept { return plain_; }
  TextFieldSecureOC* secure() const noexcept { return secure_; }

 private:
  objc::Ref<TextFieldOC> plain_;
  objc::Ref<TextFieldSecureOC> secure_;
};

class TextViewOC : public appkit::TextView {
 public:
  using appkit::TextView::TextView;
  ui::TextView* cxx = nullptr;

  bool acceptsFirstResponder() override;
  bool canBecomeKeyView();
  void keyDown(appkit::Event* event) override;
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  void drawRect(appkit::Rect dirty) override;

 protected:
  ~TextViewOC() override = default;

 private:
  // Marks the view for redisplay when the answer is yes.
  bool repaintIf(bool answer);
};

class TextView {
 public:
  // The receiver of the view's focus and key questions.
  class Callback {
   public:
    virtual bool acceptsFirstResponder(TextView* view) = 0;
    virtual bool canBecomeKeyView(TextView* view) = 0;
    // True when handled.
    virtual bool keyDown(TextView* view, appkit::Event* event) = 0;
    virtual ~Callback() = default;
  };

  // A label has no padding and no background and is not editable.
  TextView(Callback* callback, bool selectable, bool label);
  virtual ~TextView();
  TextView(const TextView&) = delete;
  TextView& operator=(const TextView&) = delete;

  TextViewOC* view() const noexcept { return view_; }
  Callback* callback() const noexcept { return callback_; }
  appkit::TextStorage* textStorage() const noexcept { return view_->textStorage(); }
  double lineFragmentPadding() const { return view_->textContainer()->lineFragmentPadding(); }
  int widthForHeight(int height);
  int heightForWidth(int width);
  bool focusRing() const noexcept { return focusRing_; }
  void setFocusRing(bool ring) noexcept { focusRing_ = ring; }

 private:
  objc::Ref<TextViewOC> view_;
  TextMeasurer measurer_;
  Callback* callback_;
  bool focusRing_ = false;
};

}  // namespace ui
