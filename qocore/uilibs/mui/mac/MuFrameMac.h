#pragma once
// The macOS peers of the plain containers and the separator line:
// mui::MuFrameMac (a single-child frame, as a titled box for frame type 1),
// mui::MuLayoutMac (the native view of the box layout) and mui::MuLineMac.
// Every native view here is flipped.  Frames and layouts place their
// children's native views whenever their own view's frame changes, and
// hand the mouse events of their background to the element's mouse
// callback (ui/mac/MouseForward.h).  A child without a native view (an
// element of another backend) is left out of the view tree.

#include <cstdint>
#include <memory>

#include "platform/appkit/Box.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/ui/mac/MouseForward.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace mui {

class MuFrameMac;
class MuLineMac;

// The background of a frame; knows its element.
class BackgroundFrameOC : public ui::MouseForwardingView {
 public:
  using ui::MouseForwardingView::MouseForwardingView;
  MuFrameMac* cxx = nullptr;
  // The style's background colour, then the border of a frame without a
  // box.
  void drawRect(appkit::Rect dirty) override;

 protected:
  ~BackgroundFrameOC() override = default;
};

// A layout's container view.
using NSViewWithHandlerOC = ui::MouseForwardingView;

// The view of a line; knows its element.
class MuLineOC : public ui::NSViewFlipped {
 public:
  using ui::NSViewFlipped::NSViewFlipped;
  MuLineMac* cxx = nullptr;
  // An etched line is a grey half and a background-coloured half; a plain
  // one is in the style's text colour.
  void drawRect(appkit::Rect dirty) override;

 protected:
  ~MuLineOC() override = default;
};

class MuFrameMac : public MuFrame, public ui::ViewNotify {
 public:
  // The creator that muFrameFactory holds.
  static MuFrame* create(MuContainer* parent, const char* id, const char* title, uint32_t type);

  MuFrameMac(MuContainer* parent, const char* id, const char* title, uint32_t type);
  ~MuFrameMac() override;

  // The child's measure plus the box's decoration and the margins.
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  void refreshStyle() override;
  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  // Where the background starts inside the box, top-down.
  Point childOrigin() override;
  // The child's view fills the background inside the margins.
  void relayout() override;
  void viewFrameChanged(appkit::View* view) override;

  appkit::Box* box() const noexcept { return box_; }
  BackgroundFrameOC* background() const noexcept { return background_; }

 private:
  Size extra();

  objc::Ref<appkit::Box> box_;
  objc::Ref<BackgroundFrameOC> background_;
  std::unique_ptr<ui::MouseReceiver> mouse_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
};

class MuLayoutMac : public MuLayout, public ui::ViewNotify {
 public:
  // The creator that muLayoutFactory holds.
  static MuLayout* create(MuContainer* parent, const char* id, uint32_t direction);

  MuLayoutMac(MuContainer* parent, const char* id, uint32_t direction);
  ~MuLayoutMac() override;

  void layoutNow() override;
  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  void viewFrameChanged(appkit::View* view) override;

  NSViewWithHandlerOC* container() const noexcept { return container_; }

 private:
  objc::Ref<NSViewWithHandlerOC> container_;
  std::unique_ptr<ui::MouseReceiver> mouse_;
  std::unique_ptr<ui::ViewNotifyCxx> frameWatch_;
};

class MuLineMac : public MuLine {
 public:
  // The creator that muLineFactory holds.
  static MuLine* create(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness);

  MuLineMac(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness);
  ~MuLineMac() override;

  void refreshStyle() override;

  MuLineOC* lineView() const noexcept { return lineView_; }

 private:
  objc::Ref<MuLineOC> lineView_;
};

}  // namespace mui
