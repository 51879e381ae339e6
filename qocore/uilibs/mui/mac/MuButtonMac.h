#pragma once
// The macOS peers of the push button (mui::MuButtonMac) and of the check
// box and radio button (mui::MuCheckMac).  Each keeps its button view,
// whose back pointer it clears when it dies, and turns the view's actions
// (the user's clicks only) into element events.

#include <cstdint>
#include <memory>

#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/ui/mac/ActionTarget.h"
#include "qocore/uilibs/ui/mac/NamedImageMac.h"

namespace mui {

class MuButtonMac;
class MuCheckMac;

// A push button's view: hover comes back through its tracking area, and
// it takes the focus only as its element allows.
class ButtonOC : public appkit::Button {
 public:
  using appkit::Button::Button;
  MuButtonMac* cxx = nullptr;
  bool acceptsFirstResponder() override;
  void mouseEntered(appkit::Event* e) override;
  void mouseExited(appkit::Event* e) override;

 protected:
  ~ButtonOC() override = default;
};

// A check box's or radio button's view.
class MuCheckMacOC : public appkit::Button {
 public:
  using appkit::Button::Button;
  MuCheckMac* cxx = nullptr;

 protected:
  ~MuCheckMacOC() override = default;
};

class MuButtonMac : public MuButton, public ui::ActionCallback {
 public:
  // The creator that muButtonFactory holds (the hyperlink type is the
  // hyperlink peer's).
  static MuButton* create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                          uint32_t option);

  MuButtonMac(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags, uint32_t option);
  ~MuButtonMac() override;

  void setText(const char* text) override;
  void setImage(const char* name, Size size, int32_t state) override;
  void setImageInsets(Size first, Size second) override;
  void setSize(Size size) override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  void action(objc::Object* sender) override;
  void doubleClick(objc::Object*) override {}

  void setHovering(bool hovering);
  ButtonOC* button() const noexcept { return button_; }
  // Return in the window stops pressing this button, if it did (the
  // window does not keep its default button alive).
  void resignDefaultIn(appkit::Window* window) const noexcept;

 private:
  bool bordered() const noexcept { return type() == kNormal && !(buttonFlags() & kBorderless); }
  void updateImages();

  objc::Ref<ButtonOC> button_;
  std::unique_ptr<ui::ActionTarget> target_;
  objc::Ref<appkit::TrackingArea> tracking_;
  // Normal, hover, pressed.
  plat::LinkedPtr<ui::NamedImage> images_[3];
  objc::Ref<appkit::Image> rendered_[3];
  Size scaledInsets_[2];
  bool hovering_ = false;
};

class MuCheckMac : public MuCheck, public ui::ActionCallback {
 public:
  // The creator that muCheckFactory holds.
  static MuCheck* create(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
                         const char* imageBase);

  MuCheckMac(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
             const char* imageBase);
  ~MuCheckMac() override;

  void setValue(bool checked) override;
  bool getValue() override;
  // Allowed only while the program sets it: the next click drops it.
  void setIndeterminate();
  bool isIndeterminate() override;
  void setText(const char* text);
  void refreshStyle() override;
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;

  void action(objc::Object* sender) override;
  void doubleClick(objc::Object*) override {}

  MuCheckMacOC* check() const noexcept { return check_; }
  // The image shown now (null without state images).
  appkit::Image* stateImage() const noexcept { return check_->image(); }

 private:
  void showStateImage();

  objc::Ref<MuCheckMacOC> check_;
  std::unique_ptr<ui::ActionTarget> target_;
  // Mixed, unchecked, checked.
  plat::LinkedPtr<ui::NamedImage> images_[3];
};

}  // namespace mui
