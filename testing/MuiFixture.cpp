// mui_fixture: a process whose windows the automation client
// (testing/mui_client.py) drives through the real server.
//
//   mui_fixture <temporary folder> <data folder> <lifetime seconds>
//
// Starts the way the setup program does: the windowing stand-in on a
// 1440 x 900 display, the toolkit's application loop, the macOS toolkit
// backend, then the automation server, which listens only when the
// test-feature key lies in the data folder; its socket goes in the
// temporary folder's channel folder.  Shows one dialog "wizard" and writes
// "READY <socket path>" ("READY -" when the server does not listen) on
// standard output.  Serves until the wizard is closed (exit 0, even while
// a message box is up) or the lifetime ends (exit 3).
//
// "wizard.body" holds a button "next", an edit "name", the controls of
// testing/MuControlTree.h (every kind of element the peers build, the
// auto-hider "hider" floating over the wizard), a button "ask" and a
// static "answer".  A click on "ask" asks "Go on?" in an
// application-modal Yes/No message box; once it ends, "answer" shows
// "yes" or "no".

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "libs/qoSetup/StartMuiMac.h"
#include "platform/appkit/Injector.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/AppLoop.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/MuiComms.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "testing/MuControlTree.h"

namespace yarl_test {
namespace {

constexpr uint32_t kYesNo = 4;

class Wizard : public mui::MuObserver, public plat::Timer::Callback {
 public:
  explicit Wizard(int lifetimeSeconds) {
    dialog_.reset(mui::MuDialog::create("wizard", "Fixture", {600, 880}, 0, nullptr, nullptr));
    mui::MuLayout* body = mui::MuLayout::create(dialog_.get(), "body", mui::MuLayout::kVertical);
    mui::MuButton::create(body, "next", "Next", mui::MuButton::kNormal, 0, 0);
    mui::MuEdit::create(body, "name", "Name", mui::MuEdit::kText, 0);
    addControlTree(body);
    others_ = addEveryOtherKind(body, dialog_.get());
    ask_ = mui::MuButton::create(body, "ask", "Ask", mui::MuButton::kNormal, 0, 0);
    answer_ = mui::MuStatic::create(body, "answer", "-", 0);
    dialog_->addObserver(this);
    dialog_->setVisible(true);
    lifetime_.start(lifetimeSeconds * 1000);
  }

  ~Wizard() override {
    lifetime_.cancel();
    dialog_->addObserverNoexcept(this);
  }

  void onClicked(mui::MuElement* element) override {
    if (element != ask_) return;
    // Runs the box's modal loop inside the click, as a user's click would.
    mui::MuMessageBox box("Go on?", kYesNo, nullptr, nullptr, true, nullptr);
    answer_->setText(box.show() ? "yes" : "no", false, 0);
  }

  void onDialogClosed(mui::MuDialog* dialog) override {
    if (dialog == dialog_.get()) os::AppLoop::quit(0);
  }

  bool timerExpired(plat::Timer*) override {
    std::fputs("mui_fixture: lifetime over\n", stderr);
    // Possibly inside a modal loop: end the process from here.
    std::_Exit(3);
  }

 private:
  std::unique_ptr<mui::MuDialog> dialog_;
  OtherKinds others_;
  mui::MuButton* ask_ = nullptr;
  mui::MuStatic* answer_ = nullptr;
  plat::Timer lifetime_{this};
};

int run(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: mui_fixture <temporary folder> <data folder> <lifetime seconds>\n", stderr);
    return 2;
  }
  const int32_t lifetime = plat::parseIntRange(argv[3], 10, "bad lifetime", 1, 3600);
  os::init("muifixture", "maker", "yarl", nullptr, nullptr);
  os::setTempDir(argv[1]);
  os::setConfiguredDataDir(argv[2]);
  os::setConfigBase(argv[2]);
  appkit::inject::mainDisplay(1440, 900, 1);
  ui::AppLoop loop;
  qoSetup::startMuiMac();
  mui::MuiComms::start(nullptr, -1, -1);
  Wizard wizard(lifetime);
  mui::MuiComms* comms = mui::MuiComms::instance();
  std::printf("READY %s\n", comms->isListening() ? comms->socketName() : "-");
  std::fflush(stdout);
  return loop.run();
}

}  // namespace
}  // namespace yarl_test

int main(int argc, char** argv) {
  try {
    return yarl_test::run(argc, argv);
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    std::fprintf(stderr, "mui_fixture: %s\n", text);
    return 1;
  }
}
