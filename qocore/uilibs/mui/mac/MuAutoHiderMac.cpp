#include "qocore/uilibs/mui/mac/MuAutoHiderMac.h"

#include "platform/appkit/Window.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"

namespace mui {

namespace {

// The dialog's close control is disabled: the content is never a window of
// its own that the user could close.
constexpr uint32_t kContentFlags = MuDialog::kDisableClose;

}  // namespace

MuAutoHider* MuAutoHiderMac::create(const char* id, Size size, uint32_t placement, Listener* listener) {
  return new MuAutoHiderMac(id, size, placement, listener);
}

MuAutoHiderMac::MuAutoHiderMac(const char* id, Size size, uint32_t placement, Listener* listener)
    : MuAutoHider(listener) {
  // The dialog registers with the toolkit singleton as every dialog does.
  content_ = std::make_unique<MuDialogMac>(id, "", size, kContentFlags, nullptr, nullptr);
  hider_ = std::make_unique<ui::NSViewAutoHider>(content_->contentView(), placement & kEdgeMask,
                                                 placement >> kInsetShift, this);
  setBackgroundColour("contentBg");
  // The view is the content, wherever it floats: it takes the size and is
  // shown, while the dialog's own window stays hidden.
  content_->peer()->setSize(size);
  layoutNow();
  content_->peer()->setVisible(true);
}

MuAutoHiderMac::~MuAutoHiderMac() {
  attach(nullptr);
  content_.reset();
  hider_.reset();
}

MuButtonMac* MuAutoHiderMac::defaultPushButton() const {
  return dynamic_cast<MuButtonMac*>(content_->button(kDefaultButton));
}

void MuAutoHiderMac::attach(NativeWindow* native) {
  appkit::Window* window = fromNativeWindow(native);
  MuButtonMac* button = defaultPushButton();
  appkit::View* view = hider_->view();
  // Return in the window left behind must not press a button it no longer
  // holds (the window does not keep the button alive).
  if (button) button->resignDefaultIn(view->window());
  hider_->setContainer(window ? window->contentView() : nullptr);
  if (appkit::Window* now = view->window(); button && now) now->setDefaultButton(button->button());
}

}  // namespace mui
