#pragma once
// The small jobs every macOS peer does the same way: a control's text,
// mnemonics and key equivalents, the character of a key event, measuring a
// control, coordinate conversion to the screen, focus queries, child
// windows, retargeted mouse events and screen numbers; the flipped view
// classes that give the peers a top-left origin; and ui::NSViewAutoHider,
// the auto-hider's widget for a native view.

#include <cmath>
#include <cstdint>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Box.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/objc/Ref.h"
#include "qocore/base/rfb/Rect.h"
#include "qocore/uilibs/ui/AutoHider.h"

namespace ui {

// A coordinate read back from the platform: truncated toward zero, and
// held to the 32-bit range.
inline int32_t truncToInt32(double v) noexcept {
  if (!(v > INT32_MIN)) return INT32_MIN;
  if (!(v < INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

// A measured length rounded up, held to the 32-bit range.
inline int32_t ceilToInt32(double v) noexcept { return truncToInt32(std::ceil(v)); }

// The platform's rectangle (origin and size) of a rectangle given by its
// corners.
inline appkit::Rect nativeRect(const rfb::Rect& r) noexcept {
  return appkit::makeRect(r.x1, r.y1, static_cast<double>(r.x2) - r.x1, static_cast<double>(r.y2) - r.y1);
}

// A point of the window's base coordinates in the view's, truncated.
inline rfb::Point viewPointFromBase(const appkit::View* view, appkit::Point base) {
  appkit::Point p = view->convertPointFromView(base, nullptr);
  return rfb::Point{truncToInt32(p.x), truncToInt32(p.y)};
}

// Views and controls whose y axis runs downwards.
class NSViewFlipped : public appkit::View {
 public:
  using appkit::View::View;
  bool isFlipped() const override { return true; }
};
class NSControlFlipped : public appkit::Control {
 public:
  using appkit::Control::Control;
  bool isFlipped() const override { return true; }
};
class NSBoxFlipped : public appkit::Box {
 public:
  using appkit::Box::Box;
  bool isFlipped() const override { return true; }
};

// Sets the text (UTF-8; null means empty): a text view takes it as its
// attributed text; other objects through the first of the title, the
// string value and the label that they have; an object with none is left
// alone.  Also used for window titles.
void setControlText(objc::Object* control, const char* text);
// Sets styled text: a text view's storage takes it (and the caret goes to
// the start); other objects take it as their attributed title, or its
// plain text as setControlText does.
void setControlAttributedText(objc::Object* control, const appkit::AttributedString* text);
// The character marked with '&' (the markers are removed from the text in
// place), lower-cased as typed characters are; 0 when none.
uint32_t mnemonicChar(char* text);
// The marked character of the text, lower-cased (0 when none, or when it
// does not fit 16 bits); with `enable`, it becomes the control's key
// equivalent.
uint16_t setMnemonicKeyEquivalent(objc::Object* control, const char* text, bool enable);
// The event's characters when they are one UTF-16 unit that is a real
// character (no surrogate, no noncharacter); else 0.
uint16_t eventChar(appkit::Event* event);

// The size after sizeToFit; with `restore` the control keeps its frame.
appkit::Size fittingSize(appkit::Control* control, bool restore);
// The fitted size of a fresh selectable, editable text field.
appkit::Size editFieldSize();
// The content size that a frame of the size leaves inside the scroll
// view's border and the wanted scrollers (regular size, in the scroll
// view's scroller style: overlay scrollers take no room), and the frame
// size that holds a content of the size.  A null scroll view counts as one
// without border, with legacy scrollers.
appkit::Size scrollContentSize(const appkit::ScrollView* view, bool horizontal, bool vertical, appkit::Size frame);
appkit::Size scrollFrameSize(const appkit::ScrollView* view, bool horizontal, bool vertical, appkit::Size content);
// Scrolling stops at the edges without bouncing.
void disableElasticScrolling(appkit::ScrollView* view);

// Between a view's coordinates and the screen.
appkit::Point viewToScreen(appkit::View* view, appkit::Point point);
appkit::Point screenToView(appkit::View* view, appkit::Point point);
appkit::Rect viewRectToScreen(appkit::View* view, appkit::Rect rect);

// Whether the view has the focus, directly or through the field editor
// that edits it.
bool isFirstResponder(appkit::View* view);
// Ends editing in the window's field editor, if any.
void endFieldEditing(appkit::Window* window);
// Whether the event's screen position lies in a visible child window of
// the window that is a T.
template <class T>
bool mouseInChildWindow(appkit::Event* event, appkit::Window* window);
// The event as the other window would receive it.
appkit::Event* retargetMouseEvent(appkit::Event* event, appkit::Window* window);
bool fullKeyboardAccess();

// Draws the whole image into the rectangle (or at the point, at its own
// size) of the current graphics context, source over, with the opacity
// (0..1), upright in flipped views.
void drawImage(appkit::Image* image, appkit::Rect rect, double opacity);
void drawImageAt(appkit::Image* image, appkit::Point point, double opacity);
// The system's icon for the file or folder at the path, or, when nothing
// is there, its icon for files with the path's extension.
appkit::Image* fileIcon(const char* path);

long screenNumber(appkit::Screen* screen);
appkit::Screen* screenWithNumber(long number);

namespace detail {
bool mouseInChildWindow(appkit::Event* event, appkit::Window* window, bool (*isOfClass)(appkit::Window*));
}
template <class T>
bool mouseInChildWindow(appkit::Event* event, appkit::Window* window) {
  return detail::mouseInChildWindow(event, window, [](appkit::Window* w) { return dynamic_cast<T*>(w) != nullptr; });
}

class NSViewAutoHider;

// Receives the pointer's entering and leaving the tracked areas.
class NSViewAutoHiderOC : public appkit::Responder {
 public:
  void mouseEntered(appkit::Event* event) override;
  void mouseExited(appkit::Event* event) override;
  NSViewAutoHider* cxx = nullptr;

 protected:
  ~NSViewAutoHiderOC() override = default;
};

// Slides a view over an edge of its container, in when the pointer comes
// over it and out when the pointer leaves it for the container.
class NSViewAutoHider : public AutoHider, public AutoHider::Widget {
 public:
  // The view is retained while the auto-hider lives.
  NSViewAutoHider(appkit::View* view, uint32_t edge, uint32_t inset, AutoHider::Callback* callback);
  ~NSViewAutoHider() override;

  // Moves the view into the container (null: out of any) and places it.
  void setContainer(appkit::View* container);
  bool isAttached() const noexcept { return view_->superview() != nullptr; }
  appkit::View* view() const noexcept { return view_; }

  void setPosition(int x, int y) override;
  Extent getSize() override;
  Extent getContainerSize() override;
  bool isFlipped() override;

 private:
  friend class NSViewAutoHiderOC;
  void pointerMoved();
  void removeTrackingAreas();
  void addTrackingAreas();

  objc::Ref<appkit::View> view_;
  appkit::View* container_ = nullptr;
  objc::Ref<NSViewAutoHiderOC> target_;
  objc::Ref<appkit::TrackingArea> viewArea_;
  objc::Ref<appkit::TrackingArea> containerArea_;
};

}  // namespace ui
