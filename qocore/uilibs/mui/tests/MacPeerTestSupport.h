#pragma once
// Shared by the tests of the macOS element peers: a fixture with the test
// backend installed, a fresh application on a 1440 x 900 main display and
// one macOS dialog to put elements in, whose elements' events are written
// down; and a leaf element with a native view of its own and a fixed
// measure.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"

namespace mui_test {

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

}  // namespace mui_test
