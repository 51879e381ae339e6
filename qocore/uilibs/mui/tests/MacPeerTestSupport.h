#pragma once
// Shared by the tests of the macOS element peers: a fixture with the test
// backend installed, a fresh application on a 1440 x 900 main display and
// one macOS dialog to put elements in; a leaf element with a native view
// of its own and a fixed measure; and a reader of the pixels a view draws.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/appkit/Application.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Injector.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui_test {

class MacPeerTest : public testing::Test {
 protected:
  void SetUp() override {
    yarl_test::MuTestBackend::install();
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    mui::muDialogFactory = mui::MuDialogMac::create;
    dialog_.reset(mui::MuDialog::create("dlg", "Title", {400, 300}, 0, nullptr, nullptr));
  }
  void TearDown() override {
    dialog_.reset();
    yarl_test::MuTestBackend::fillHooks();
    appkit::Application::reset();
  }

  objc::AutoreleasePool pool_;
  std::unique_ptr<mui::MuDialog> dialog_;
};

// Counts the changed events it hears.
struct Changes : mui::MuObserver {
  void onChanged(mui::MuElement*) override { ++count; }
  int count = 0;
};

class ViewLeaf : public mui::MuElement {
 public:
  ViewLeaf(mui::MuContainer* parent, const char* id, mui::Size want = {50, 50})
      : mui::MuElement(parent, id, nullptr), want_(want) {
    view_ = new appkit::View(appkit::makeRect(0, 0, 1, 1));
    setPeer(std::make_unique<mui::MuCommonMac>(this, view_));
  }
  ~ViewLeaf() override { view_->release(); }
  int32_t widthForHeight(int32_t) override { return want_.width; }
  int32_t heightForWidth(int32_t) override { return want_.height; }
  appkit::View* view() const noexcept { return view_; }

 private:
  appkit::View* view_;
  mui::Size want_;
};

// The pixel (RGBA bytes, red lowest) at a point of what the view draws of
// its own (its subviews left out) over a transparent buffer of its size at
// scale 1.
inline uint32_t drawnPixel(appkit::View* view, int x, int y) {
  const appkit::Rect b = view->bounds();
  rfb::ManagedPixelBuffer buffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, int(b.size.width), int(b.size.height)));
  int32_t stride = 0;
  uint8_t* p = buffer.getPixelsRW(buffer.getRect(), &stride);
  std::fill(p, p + size_t(stride) * size_t(b.size.height) * 4, 0);
  auto* context = new appkit::GraphicsContext(buffer, 1, view->isFlipped());
  view->displayRectIgnoringOpacity(b, context);
  context->release();
  return buffer.getPixel(rfb::Point{x, y});
}

// The device value of an opaque colour.
inline uint32_t pixelOf(appkit::Color* colour) {
  const plat::Rgb rgb = ui::rgbFromColour(colour);
  return 0xff000000u | uint32_t(rgb.blue) << 16 | uint32_t(rgb.green) << 8 | uint32_t(rgb.red);
}

}  // namespace mui_test
