#pragma once
// mui::MuDialog: the top-level element, one window.
//
// A dialog stacks its panels vertically: top panels downward from the top,
// bottom panels (a button bar) upward from the bottom, and the content
// panels in the room between, inside a margin.  It presses its default
// button for Return and its cancel button for Escape, asks its close
// callback before it closes, and reports closing and lay-out through its
// observers.  The window itself (title, modality, keyboard, screen) is the
// backend's subclass's; the dialog owns only its panels.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/mui/Mui.h"

namespace ui {
class MenuBar;
}  // namespace ui

namespace mui {

// The backend's window handle; opaque to the toolkit core.
class NativeWindow;

class MuDialog : public MuContainer {
 public:
  // Dialog flags.
  static constexpr uint32_t kFixedSize = 0x1;        // the size follows the content; not resizable
  static constexpr uint32_t kNoHide = 0x2;           // left to the backend
  static constexpr uint32_t kDisableClose = 0x4;     // the close control is disabled
  static constexpr uint32_t kModalToOwner = 0x8;     // a sheet or modal child of the owner
  static constexpr uint32_t kAppModal = 0x10;        // runs modally
  static constexpr uint32_t kAutoHeight = 0x40;      // content panels are measured for the height
  static constexpr uint32_t kAbsFixedSize = 0x1000;  // never sized from the content
  static constexpr uint32_t kHideOnDeactivate = 0x2000;

  // Panel modes.
  static constexpr int32_t kContentPanel = 0;
  static constexpr int32_t kTopPanel = 1;
  static constexpr int32_t kBottomPanel = 2;

  // Asked before the dialog closes; false refuses.
  class CloseCallback {
   public:
    virtual bool queryClose(MuDialog* dialog) = 0;
    virtual ~CloseCallback();
  };

  // Whether a mouse press on `element` (null: on no element) at `point` in
  // the content may drag the window.
  class MoveCallback {
   public:
    virtual bool canMove(MuDialog* dialog, MuElement* element, Point point) = 0;
    virtual ~MoveCallback();
  };

  // Asked first for Return and Escape (and for pressButton) with the
  // button the key presses; true consumes it.
  class KeyCallback {
   public:
    virtual bool dialogKey(DialogButton button, MuDialog* dialog) = 0;
    virtual ~KeyCallback();
  };

  // Asked first by the backend on a mouse press in the window; true
  // consumes it.
  class MouseDownCallback {
   public:
    virtual bool mouseDown(MuDialog* dialog) = 0;
    virtual ~MouseDownCallback();
  };

  // Told every key press: the key symbol with the modifier bits.
  class KeyMonitorCallback {
   public:
    virtual void keyPressed(uint32_t keyCombination) = 0;
    virtual ~KeyMonitorCallback();
  };

  // The stock move policies: drag anywhere but on a button (and not from
  // outside every element), or anywhere but on a button, list or check box.
  static MoveCallback* moveCallbackExceptButtons();
  static MoveCallback* moveCallbackExceptControls();

  // Made through the backend's muDialogFactory; added to no parent.
  static MuDialog* create(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                          NativeWindow* nativeParent);

  // Keeps the height of `size` (the title is the backend's).  The owner
  // window is the owner dialog's, else the native parent.  Registers the
  // dialog with the toolkit singleton and makes its font record.
  MuDialog(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner, NativeWindow* nativeParent);
  ~MuDialog() override;

  const char* typeName() override { return "dialog"; }
  plat::DString describe() override;
  // Over the panels; a negative index counts from the end.
  MuElement* childAt(int32_t index) override;
  int32_t childCount() override;
  // Appends a content panel.
  void addChild(MuElement* element) override;
  // Absent elements are ignored.
  void removeChild(MuElement* element) override;
  // Last first.
  void removeAll() override;
  // Places the panels, then sends "laid out".
  void relayout() override;
  // relayout, then sizeToContent.
  void layoutNow() override;
  // Remembers that the window was placed explicitly.
  void setPosition(Point point) override;

  virtual void setMinSize(Size) {}
  virtual NativeWindow* nativeWindow() { return nullptr; }
  virtual void setOwner(NativeWindow* owner) { owner_ = owner; }
  // Stores the default or cancel button; null clears it.
  virtual void setButton(DialogButton index, MuElement* element);
  virtual void setTitle(const char* text) = 0;
  virtual Size windowSize() { return getSize(); }
  virtual Size screenSize() = 0;
  // The application menu bar, which the backend makes once, on the first
  // request, and keeps as long as the dialog lives; null without one.
  virtual ui::MenuBar* appMenuBar() { return nullptr; }
  virtual void copyToPasteboard(const char*) {}
  // Called by every element's setFocus.
  virtual void elementFocused(MuElement*) {}

  // Changes a panel's mode.
  void setPanelMode(MuElement* element, int32_t mode);
  // Asks the close callback; when it does not refuse, hides the dialog and
  // sends "dialog closed".  False when refused.
  bool close();
  // Return presses the default button and Escape the cancel button, after
  // the key callback had its chance; false for other keys and when the
  // button is absent, disabled or locked.
  bool handleKey(uint32_t keysym);
  // As handleKey for an explicit button.
  bool pressButton(DialogButton index);
  // True for Return and Escape.
  static bool classifyKey(uint32_t keysym, bool& isEscape);
  // Fits the height to the visible panels (with kFixedSize or kAutoHeight,
  // never with kAbsFixedSize); the width is kept.
  void sizeToContent();
  // Drops `element` where it is the default or cancel button.
  void forgetButton(MuElement* element) noexcept;

  uint32_t dialogFlags() const noexcept { return flags_; }
  int32_t margin() const noexcept { return margin_; }
  NativeWindow* owner() const noexcept { return owner_; }
  bool positionSet() const noexcept { return positionSet_; }
  MuElement* button(DialogButton index) const noexcept { return buttons_[index == kCancelButton ? 1 : 0]; }
  uint32_t serial() const noexcept { return registration_.serial(); }

  void setCloseCallback(CloseCallback* callback) noexcept { closeCallback_ = callback; }
  CloseCallback* closeCallback() const noexcept { return closeCallback_; }
  void setMoveCallback(MoveCallback* callback) noexcept { moveCallback_ = callback; }
  MoveCallback* moveCallback() const noexcept { return moveCallback_; }
  void setKeyCallback(KeyCallback* callback) noexcept { keyCallback_ = callback; }
  KeyCallback* keyCallback() const noexcept { return keyCallback_; }
  void setMouseDownCallback(MouseDownCallback* callback) noexcept { mouseDownCallback_ = callback; }
  MouseDownCallback* mouseDownCallback() const noexcept { return mouseDownCallback_; }
  void setKeyMonitor(KeyMonitorCallback* monitor) noexcept { keyMonitor_ = monitor; }
  KeyMonitorCallback* keyMonitor() const noexcept { return keyMonitor_; }

 protected:
  // For backends that place the window themselves instead of the peer.
  void markPositionSet() noexcept { positionSet_ = true; }

 private:
  struct Panel {
    std::unique_ptr<MuElement> element;
    int32_t mode;
  };

  std::vector<Panel> panels_;
  uint32_t flags_;
  int32_t initialHeight_;
  int32_t margin_;
  NativeWindow* owner_;
  bool positionSet_ = false;
  MuElement* buttons_[2] = {nullptr, nullptr};
  KeyCallback* keyCallback_ = nullptr;
  MouseDownCallback* mouseDownCallback_ = nullptr;
  MoveCallback* moveCallback_ = nullptr;
  CloseCallback* closeCallback_ = nullptr;
  KeyMonitorCallback* keyMonitor_ = nullptr;
  Mui::Registration registration_;
};

// The backend's creator of dialogs; null until the backend fills it.
extern MuDialog* (*muDialogFactory)(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                                    NativeWindow* nativeParent);

}  // namespace mui
