#pragma once
// The macOS peers of the scrolling container (mui::MuScrollMac: its one
// child is the document of a scroll view, which lays it out again when its
// frame changes) and of the slider (mui::MuSliderMac: an integer slider
// with a tick mark per value, reporting the user's moves).
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "platform/appkit/ScrollView.h"
#include "platform/appkit/Slider.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/mui/MuScroll.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/ActionTarget.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace mui {

class MuScrollMac : public MuScroll, public ui::ViewNotify {
 public:
  // The creator hook's signature.
  static MuScroll* create(MuContainer* parent, const char* id, uint32_t style);

  MuScrollMac(MuContainer* parent, const char* id, uint32_t style);
  ~MuScrollMac() override;

  void refreshStyle() override;
  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  Point childOrigin() override;
  void relayout() override;
  Point scrollPosition() override;
  void setScrollPosition(Point point) override;
  // Half the frame that the border adds to an empty content.
  Size borderSize() override;
  int32_t horizontalScrollbarHeight() override;
  int32_t verticalScrollbarWidth() override;
  void viewFrameChanged(appkit::View* view) override;

  appkit::ScrollView* scrollView() const noexcept { return scrollView_; }

 private:
  objc::Ref<appkit::ScrollView> scrollView_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
};

class MuSliderMac : public MuSlider, public ui::ActionCallback {
 public:
  static constexpr uint32_t kVerticalStyle = 0x1;

  // The creator hook's signature.
  static MuSlider* create(MuContainer* parent, const char* id, uint32_t style);

  MuSliderMac(MuContainer* parent, const char* id, uint32_t style);
  ~MuSliderMac() override;

  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  void setValue(int32_t value) override;
  int32_t getValue() override;
  // One tick mark per whole value.
  void setRange(int32_t minimum, int32_t maximum) override;
  int32_t getMin() override;
  int32_t getMax() override;

  void action(objc::Object* sender) override;
  void doubleClick(objc::Object*) override {}

  appkit::Slider* slider() const noexcept { return slider_; }

 private:
  objc::Ref<appkit::Slider> slider_;
  std::unique_ptr<ui::ActionTarget> actionTarget_;
};

}  // namespace mui
