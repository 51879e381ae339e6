#pragma once
// mui::MuDialogMac: the macOS window of a toolkit dialog.  It owns one
// native window whose content view is a flipped view holding every
// panel's native view, and supplies what the platform-neutral dialog
// leaves to the backend: the window's style from the dialog flags,
// showing as a normal window, a sheet on the owner, a child window of the
// owner or an application-modal loop (which keeps serving the run loop),
// placement in top-down screen coordinates, dragging the window by its
// background, key routing to the default and cancel buttons, activation
// events, and hiding transient dialogs when the user turns elsewhere.
//
// The close button, the close command and Escape never destroy the
// dialog: they go through MuDialog::close, which asks the close callback
// and hides.  Main thread only.

#include <cstdint>
#include <memory>

#include "platform/appkit/Event.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/objc/Ref.h"
#include "qocore/base/os/mac/NSUtil.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "qocore/uilibs/ui/mac/AppMenuBar.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace mui {

class MuDialogMac;

// The toolkit's handle of a native window is the window itself.
inline NativeWindow* toNativeWindow(appkit::Window* window) noexcept { return reinterpret_cast<NativeWindow*>(window); }
inline appkit::Window* fromNativeWindow(NativeWindow* window) noexcept {
  return reinterpret_cast<appkit::Window*>(window);
}

// The element inside the dialog whose native view is the view or holds it
// (walking from the view up through its superviews); null when none.
MuElement* elementForView(MuDialog* dialog, appkit::View* view);

// A dialog's content view.  As its window's content view it draws nothing:
// the window paints the background around the panels.  Moved into another
// window (the auto-hider floats a dialog's content over another window's
// content) no window paints under it, so it fills itself with the
// dialog's background colour.
class DialogContentOC : public ui::NSViewFlipped {
 public:
  using ui::NSViewFlipped::NSViewFlipped;
  // Retained; null paints nothing.
  void setBackgroundColour(appkit::Color* colour);
  appkit::Color* backgroundColour() const noexcept { return background_; }
  void drawRect(appkit::Rect dirty) override;

 protected:
  ~DialogContentOC() override;

 private:
  bool paintsBackground() const noexcept;

  objc::Ref<appkit::Color> background_;
};

// A transient dialog (flag 0x2000) is one of the application loop's event
// filters while it is shown: the loop then asks it about every event, tells
// it of the other applications' presses that appEventMask selects, and of
// the main menu beginning to track.
class MuDialogMac : public MuDialog,
                    public ui::AppEventFilter,
                    public ui::WindowDelegate,
                    public os::NotificationCallback {
 public:
  // Dialog flags the backend gives meaning to beyond the core's.
  static constexpr uint32_t kChildWindow = 0x20;
  static constexpr uint32_t kFloating = 0x80;
  static constexpr uint32_t kBorderless = 0x100;
  static constexpr uint32_t kNoActivate = 0x400;
  static constexpr uint32_t kTransient = 0x2000;
  static constexpr uint32_t kJoinAllSpaces = 0x4000;
  static constexpr uint32_t kNoFullScreen = 0x8000;

  // The creator that muDialogFactory holds.
  static MuDialog* create(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                          NativeWindow* nativeParent);

  MuDialogMac(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
              NativeWindow* nativeParent);
  ~MuDialogMac() override;

  // Element operations.
  void setVisible(bool visible) override;
  bool isVisible() override;
  void setFocus() override;
  // Keeps the window's top edge in place.
  void setSize(Size size) override;
  void setPosition(Point point) override;
  // Top-down screen coordinates of the main display: the window's frame,
  // and for absolutePosition the top-left of the content area.
  Point getPosition() override;
  Point absolutePosition() override;
  void refreshStyle() override;
  void layoutNow() override;
  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  void setMinSize(Size size) override;
  NativeWindow* nativeWindow() override;
  // The core's, then a macOS push button as default button becomes the
  // window's default button cell, which the platform draws as such.
  void setButton(DialogButton index, MuElement* element) override;
  void setTitle(const char* text) override;
  Size windowSize() override;
  Size screenSize() override;
  // Puts the text on the general pasteboard as its only content.
  void copyToPasteboard(const char* text) override;
  // Made on the first request, deleted with the dialog.
  ui::MenuBar* appMenuBar() override;

  // Application-event filter.  True consumes the event.
  bool filterAppEvent(appkit::Event* event) override;
  uint64_t appEventMask() override;
  void filterNotice(appkit::Event* event) override;
  void menuTrackingBegan() override;

  // Window delegate.
  bool canBecomeKeyWindow(appkit::Window* window) override;
  bool canBecomeMainWindow(appkit::Window* window) override;
  bool handleWindowEvent(appkit::Window* window, appkit::Event* event) override;
  appkit::Rect constrainFrameRect(appkit::Window*, appkit::Rect frame, appkit::Screen*) override { return frame; }
  appkit::Rect willPositionSheet(appkit::Window*, appkit::Window*, appkit::Rect rect) override { return rect; }
  void windowDidEndSheet(appkit::Window*) override {}
  appkit::Size windowWillResize(appkit::Window*, appkit::Size size) override { return size; }
  void windowDidResize(appkit::Window* window) override;
  void windowDidMiniaturize(appkit::Window*) override {}
  void windowDidDeminiaturize(appkit::Window*) override {}
  void windowWillMove(appkit::Window*) override {}
  void windowDidMove(appkit::Window*) override {}
  // Always false: the dialog closes itself, through its close query.
  bool windowShouldClose(appkit::Window* window) override;
  void windowWillClose(appkit::Window*) override {}
  void windowDidBecomeKey(appkit::Window* window) override;
  void windowDidResignKey(appkit::Window* window) override;
  void windowWillEnterFullScreen(appkit::Window*) override {}
  void windowDidEnterFullScreen(appkit::Window*) override {}
  void windowWillExitFullScreen(appkit::Window*) override {}
  void windowDidExitFullScreen(appkit::Window*) override {}
  unsigned long willUseFullScreenPresentationOptions(appkit::Window*, unsigned long options) override {
    return options;
  }

  // The appearance changed.
  void notify(os::NotificationObserver* observer, objc::Notification* notification) override;

  appkit::Window* window() const noexcept { return window_->nativeWindow(); }
  appkit::View* contentView() const noexcept { return contentView_; }
  bool runningCodeModal() const noexcept { return runningCodeModal_; }
  bool shownAsSheet() const noexcept { return shownAsSheet_; }
  bool dragging() const noexcept { return dragging_; }

 private:
  appkit::Window* ownerWindow() const noexcept { return fromNativeWindow(owner()); }
  bool hasModalBit() const noexcept { return (dialogFlags() & (kModalToOwner | kAppModal)) != 0; }
  void show(bool wasVisible);
  void hide();
  void centreOverOwner(appkit::Window* owner);
  bool mouseDown(appkit::Event* event);
  bool keyDown(appkit::Event* event);

  // Cleared when the dialog goes: the callers of its callouts (the modal
  // loop among them) learn whether it is still there.
  objc::Liveness liveness_;
  std::unique_ptr<ui::Window> window_;
  DialogContentOC* contentView_ = nullptr;
  std::unique_ptr<os::NotificationObserver> themeObserver_;
  std::unique_ptr<ui::AppMenuBar> appMenuBar_;
  plat::CharArray sheetTitle_;
  plat::CharArray savedOwnerTitle_;
  bool runningCodeModal_ = false;
  bool shownAsSheet_ = false;
  bool dragging_ = false;
};

}  // namespace mui
