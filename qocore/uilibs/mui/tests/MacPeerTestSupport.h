#pragma once
// Shared by the tests of the macOS element peers: a fixture with the test
// backend installed, a fresh application on a 1440 x 900 main display and
// one macOS dialog to put elements in, whose elements' events are written
// down; a leaf element with a native view of its own and a fixed measure;
// and readers of the pixels a view draws.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Injector.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui_test {

// The keyboard's key codes the tests type.
constexpr unsigned short kKeyA = 0;
constexpr unsigned short kKeyReturn = 36;
constexpr unsigned short kKeyTab = 48;
constexpr unsigned short kKeyEscape = 53;
constexpr unsigned short kKeyDown = 125;

class MacPeerTest : public testing::Test {
 protected:
  explicit MacPeerTest(mui::Size dialogSize = {400, 300}) : dialogSize_(dialogSize) {}

  void SetUp() override {
    yarl_test::MuTestBackend::install();
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    mui::muDialogFactory = mui::MuDialogMac::create;
    dialog_ = makeDialog(dialogSize_);
    dialog_->addObserver(&recorder_);
  }
  void TearDown() override {
    dialog_.reset();
    yarl_test::MuTestBackend::fillHooks();
    appkit::Application::reset();
  }

  // A macOS dialog "dlg" of the size, hidden.
  static std::unique_ptr<mui::MuDialog> makeDialog(mui::Size size) {
    return std::unique_ptr<mui::MuDialog>(mui::MuDialog::create("dlg", "Title", size, 0, nullptr, nullptr));
  }
  // The events of the elements in dialog_ as "r:<id>:<event>" (not the
  // dialog's own layout notices).
  std::vector<std::string> elementEvents() const {
    std::vector<std::string> out;
    for (const std::string& e : log_)
      if (e.rfind("r:dlg:", 0) != 0) out.push_back(e);
    return out;
  }

  objc::AutoreleasePool pool_;
  std::vector<std::string> log_;
  Recorder recorder_{log_, "r"};
  std::unique_ptr<mui::MuDialog> dialog_;

 private:
  mui::Size dialogSize_;
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

// What a view paints itself (not its subviews) for a rectangle of its
// bounds at a backing scale, over a transparent buffer of the view's size:
// device pixels in rows, red in the lowest byte, alpha in the highest.
struct Drawn {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels.at(static_cast<size_t>(y) * width + x); }
};

inline Drawn drawView(appkit::View* view, double scale, appkit::Rect dirty) {
  Drawn out;
  out.width = static_cast<int>(view->bounds().size.width * scale);
  out.height = static_cast<int>(view->bounds().size.height * scale);
  rfb::ManagedPixelBuffer buffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, out.width, out.height));
  int32_t stride = 0;
  uint8_t* p = buffer.getPixelsRW(buffer.getRect(), &stride);
  std::fill(p, p + static_cast<size_t>(stride) * out.height * 4, uint8_t{0});
  auto* context = new appkit::GraphicsContext(buffer, scale, false);
  view->displayRectIgnoringOpacity(dirty, context);
  context->release();
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) out.pixels.push_back(buffer.getPixel(rfb::Point{x, y}));
  return out;
}

// The pixel an opaque colour paints.
inline uint32_t pixelOf(const appkit::Color* colour) {
  double r = 0, g = 0, b = 0;
  colour->getRed(&r, &g, &b, nullptr);
  auto channel = [](double v) { return static_cast<uint32_t>(std::lround(v * 255)); };
  return 0xff000000u | channel(b) << 16 | channel(g) << 8 | channel(r);
}

// The pixel at a point of what the view draws of its own over its whole
// bounds at scale 1.
inline uint32_t drawnPixel(appkit::View* view, int x, int y) { return drawView(view, 1, view->bounds()).at(x, y); }

}  // namespace mui_test
