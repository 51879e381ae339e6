#pragma once
// The element tree of the toolkit.
//
// Every window is a tree of platform-neutral elements.  mui::MuElement
// holds what every element has (name, text, parent, enable flags, font and
// colour record, observers) and forwards every visual request to its
// backend peer (mui::MuCommon), which the backend's creator attaches right
// after construction; without a peer the requests do nothing (or answer 0).
// mui::MuContainer adds children and lay-out, mui::MuContainerSingle holds
// at most one child.
//
// Events go to the element's own observers and then bubble up to every
// ancestor's observers, nearest first, each with the originating element.
// Observers may add and remove observers, or destroy the sending element,
// while a notification runs: every running notification keeps a record on
// the element, which removal and destruction update.
//
// Elements live on the main thread; nothing here locks.

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/qoutil/MouseCallback.h"
#include "qocore/base/rfb/Rect.h"

namespace mui {

// Coordinates are 32-bit, y growing downwards inside the parent.  A
// rectangle is its left-top corner followed by its right-bottom corner.
using Point = rfb::Point;
using Size = rfb::Size;
using Rect = rfb::Rect;

class MuContainer;
class MuDialog;
class MuElement;

// The event code handed to observers.  Backends and the automation server
// may send codes beyond these; the base observer ignores them.
enum MuEvent : int32_t {
  kEventChanged = 0,            // value, text or selection changed
  kEventClicked = 1,            // activated
  kEventItemActivated = 2,      // a list item was activated
  kEventDialogClosed = 3,       // from MuDialog::close
  kEventDialogActivated = 4,    // the dialog became the focused window
  kEventDialogDeactivated = 5,  // the dialog stopped being the focused window
  kEventDialogLaidOut = 6,      // end of the dialog's relayout
  kEventAppearanceChanged = 7,  // colours and fonts were refreshed
};

class MuObserver {
 public:
  // Dispatches by code: clicked to onClicked, changed to onChanged (with
  // the element), dialog closed and laid out to onDialogClosed and
  // onDialogLaidOut (with the element's root dialog); other codes are
  // ignored.
  virtual void notify(MuElement* element, MuEvent event);
  virtual void onClicked(MuElement*) {}
  virtual void onChanged(MuElement*) {}
  virtual void onDialogClosed(MuDialog*) {}
  virtual void onDialogLaidOut(MuDialog*) {}
  virtual ~MuObserver();
};

// Receives the findings of checkLayout.
class MuLayoutCheckObserver {
 public:
  virtual void report(MuElement* element, const char* message) = 0;
  virtual ~MuLayoutCheckObserver();
};

// The font and colour record of an element.  Colour names are those the
// backend's colour lookup accepts (a named system colour or "#rrggbb");
// null means the backend's default colour and no background.
struct MuFont {
  MuFont() = default;
  // Copies the numbers, and each name only when it differs.
  MuFont(const MuFont& other) { *this = other; }
  MuFont& operator=(const MuFont& other);

  int32_t style = 0;
  // Relative text size; 120 is the platform's standard size.
  int32_t size = 120;
  // 400 regular; 550 and above is drawn bold.
  int32_t weight = 400;
  plat::CharArray colour;
  plat::CharArray background;
};

// The backend peer of an element: one per element, owned by it.
class MuCommon {
 public:
  virtual ~MuCommon();
  virtual void setVisible(bool visible) = 0;
  virtual bool isVisible() = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual void setFocus() = 0;
  virtual bool hasFocus() = 0;
  virtual void setToolTip(const char* text) = 0;
  virtual void setSize(Size size) = 0;
  virtual Size getSize() = 0;
  // The natural width for a height, and the natural height for a width.
  virtual int32_t widthForHeight(int32_t height) = 0;
  virtual int32_t heightForWidth(int32_t width) = 0;
  virtual void setPosition(Point point) = 0;
  virtual Point getPosition() = 0;
  virtual void refreshStyle() = 0;
  virtual void scrollRectToVisible(const Rect& rect) = 0;
  virtual void invalidateRect(const Rect& rect) = 0;
};

// The default (Return) and cancel (Escape) buttons of a dialog, and the
// key that presses each.
enum DialogButton : int32_t {
  kDefaultButton = 0,
  kCancelButton = 1,
};

class MuElement : public MuObserver, public qoutil::MouseCallback {
 public:
  // Flag bits; any bit set keeps the peer disabled.
  static constexpr uint32_t kFlagDisabled = 0x1;
  static constexpr uint32_t kFlagLocked = 0x2;

  // Copies both texts (null stays null).  The element is not added to the
  // parent here: the class's create does that.
  MuElement(MuContainer* parent, const char* id, const char* label);
  ~MuElement() override;
  MuElement(const MuElement&) = delete;
  MuElement& operator=(const MuElement&) = delete;

  virtual void setVisible(bool visible);
  virtual bool isVisible();
  virtual bool isLocked();
  // Then tells the root dialog (elementFocused).
  virtual void setFocus();
  virtual bool hasFocus();
  // This element when it has the focus; containers search their children.
  virtual MuElement* focusedElement();
  virtual void setToolTip(const char* text);
  virtual void setSize(Size size);
  virtual Size getSize();
  virtual void setPosition(Point point);
  virtual Point getPosition();
  // The position relative to the top-level element: the parent's plus the
  // own.  A top-level element must override it.
  virtual Point absolutePosition();
  virtual int32_t widthForHeight(int32_t height);
  virtual int32_t heightForWidth(int32_t width);
  // Copies the record into the own one, then refreshStyle.
  virtual void setFont(const MuFont& font);
  virtual void refreshStyle();
  virtual void scrollToVisible(const Rect& rect);
  virtual void invalidateRect(const Rect& rect);
  // Labelled controls align their label column; `extra` is the backend's.
  virtual void setLabelWidth(int32_t width, int32_t extra);
  virtual int32_t labelWidth();
  virtual const char* typeName();
  // The state text of the automation server.
  virtual plat::DString describe();
  virtual plat::DString listItems();
  // The element at a path of ids joined by "."; null asks for this one.
  virtual MuElement* findElement(const char* path);
  virtual void layoutNow();
  // Automation actions; false when unsupported or refused.  A control's
  // action asks acceptsActions first; one that clicks then calls the
  // control's click(), the same call its peer's action makes.
  virtual bool performAction(const char* action, const char* argument);
  // Asked for the focused element before Return (kDefaultButton) or
  // Escape (kCancelButton) presses a dialog button; true consumes the key.
  virtual bool handleDialogKey(DialogButton key, bool modified);
  // Hands a mouse notice to the mouse callback; false without one.
  virtual bool fireMouse(int32_t kind, Point point, ui::MouseHandlerMac* handler);
  // Reports overflow to the observer.
  virtual void checkLayout(MuLayoutCheckObserver* observer);
  // Called after every change of the enable flags.
  virtual void enabledChanged() {}

  // As fireMouse.
  bool mouseEvent(int32_t kind, Point point, ui::MouseHandlerMac* handler) override;

  // With add, appends the observer (added twice, it is called twice).
  // Without, removes every entry of it, also from the notifications running
  // on this element, so it is not called later in the same notification.
  void addObserver(MuObserver* observer, bool add = true);
  // Removes the observer; never throws (for destructors).
  void addObserverNoexcept(MuObserver* observer) noexcept;
  // Sends an event originating at `element` to this element's observers,
  // then to each ancestor's.  Elements call it on themselves.
  void notifyObservers(MuElement* element, MuEvent event);

  void setEnabled(bool enabled);
  void setLocked(bool locked);
  bool isShown();

  // The own record, created with the defaults when absent.
  MuFont& font();
  // The own record, else the nearest ancestor's.  Dialogs always have one.
  const MuFont& getFont() const;
  void setBackgroundColour(const char* name);
  void setColour(const char* name);
  void setFontSize(int32_t size);

  // The top-level element above `element`.
  static MuElement* getRoot(MuElement* element);
  // The automation path: the ids from below the top-level element down to
  // `element`, joined by "."; unnamed elements are left out.  Null (empty)
  // for a dialog itself.
  static plat::CharArray path(MuElement* element);
  // The root's id, "." and the path; the element's own id when the path
  // is empty.
  static plat::CharArray fullPath(MuElement* element);

  const char* id() const noexcept { return id_.get(); }
  const char* label() const noexcept { return label_.get(); }
  void setLabel(const char* label) { label_ = label; }
  MuContainer* parent() const noexcept { return parent_; }
  uint32_t flags() const noexcept { return flags_; }
  MuCommon* peer() const noexcept { return peer_.get(); }
  // The backend attaches the peer right after construction.
  void setPeer(std::unique_ptr<MuCommon> peer) noexcept { peer_ = std::move(peer); }
  qoutil::MouseCallback* mouseCallback() const noexcept { return mouseCallback_; }
  void setMouseCallback(qoutil::MouseCallback* callback) noexcept { mouseCallback_ = callback; }

 protected:
  // Whether the automation's actions may act: every control's
  // performAction refuses (answers false) while the element is disabled
  // or locked.
  bool acceptsActions() const noexcept { return flags_ == 0; }

 private:
  // One running notification on this element.
  struct Dispatch {
    std::vector<MuObserver*> snapshot;
    size_t next = 0;
    bool destroyed = false;
    Dispatch* previous = nullptr;
  };

  // Runs this element's part of a notification; false when the element
  // was destroyed meanwhile.
  bool dispatch(MuElement* element, MuEvent event);
  void setFlag(uint32_t bit, bool on);

  std::unique_ptr<MuCommon> peer_;
  std::vector<MuObserver*> observers_;
  Dispatch* dispatches_ = nullptr;
  plat::CharArray label_;
  plat::CharArray id_;
  MuContainer* parent_;
  uint32_t flags_ = 0;
  std::unique_ptr<MuFont> font_;
  qoutil::MouseCallback* mouseCallback_ = nullptr;
};

class MuContainer : public MuElement {
 public:
  MuContainer(MuContainer* parent, const char* id);

  // True when locked itself or any visible child is.
  bool isLocked() override;
  MuElement* focusedElement() override;
  // Then relayout.
  void setSize(Size size) override;
  // The children's styles first, then the own.
  void refreshStyle() override;
  const char* typeName() override;
  MuElement* findElement(const char* path) override;
  void layoutNow() override;
  // Each visible child's check.
  void checkLayout(MuLayoutCheckObserver* observer) override;

  // A negative index counts from the end where the class says so; out of
  // range gives null.
  virtual MuElement* childAt(int32_t index) = 0;
  virtual int32_t childCount() = 0;
  // Relayout, then the parent's childChanged.
  virtual void childChanged();
  // The container takes ownership.
  virtual void addChild(MuElement* element) = 0;
  // Removes and destroys the child.
  virtual void removeChild(MuElement* element) = 0;
  // Where the children's coordinates start inside the container's area.
  virtual Point childOrigin();
  virtual void relayout() {}
  virtual void removeAll() {}

  // Removes and destroys a child.
  void remove(MuElement* element);
};

class MuContainerSingle : public MuContainer {
 public:
  using MuContainer::MuContainer;
  ~MuContainerSingle() override;

  // Index 0 and -1 give the child.
  MuElement* childAt(int32_t index) override;
  int32_t childCount() override;
  // Replaces the child, destroying the previous one.
  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;

  MuElement* child() const noexcept { return child_.get(); }

 private:
  std::unique_ptr<MuElement> child_;
};

}  // namespace mui
