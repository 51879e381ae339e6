#pragma once
// Stands in for the platform's windows.  A window's frame is in screen
// coordinates (bottom-up from the main display's lower left corner); a
// titled window's frame is its content rectangle plus the title bar
// (Metrics.h) on top.  The window is the next responder of its content
// view; events reach it through the application and pass from it to the
// view under the pointer or to the first responder.
//
// The application lists its windows without retaining them; a window
// released when closed drops its creator's reference on close.

#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/View.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class Color;
class Screen;
class Window;

// The messages a window sends its delegate; each has the platform's
// default answer.
class WindowDelegate {
 public:
  virtual ~WindowDelegate() = default;
  virtual Rect willPositionSheet(Window*, Window*, Rect rect) { return rect; }
  virtual void windowDidEndSheet(Window*) {}
  virtual Size windowWillResize(Window*, Size size) { return size; }
  virtual void windowDidResize(Window*) {}
  virtual void windowDidMiniaturize(Window*) {}
  virtual void windowDidDeminiaturize(Window*) {}
  virtual void windowWillMove(Window*) {}
  virtual void windowDidMove(Window*) {}
  virtual bool windowShouldClose(Window*) { return true; }
  virtual void windowWillClose(Window*) {}
  virtual void windowDidBecomeKey(Window*) {}
  virtual void windowDidResignKey(Window*) {}
  virtual void windowWillEnterFullScreen(Window*) {}
  virtual void windowDidEnterFullScreen(Window*) {}
  virtual void windowWillExitFullScreen(Window*) {}
  virtual void windowDidExitFullScreen(Window*) {}
  virtual unsigned long willUseFullScreenPresentationOptions(Window*, unsigned long options) { return options; }
};

class Window : public Responder, public TitleSetter {
 public:
  // initWithContentRect:styleMask:backing:defer: (one reference, the
  // caller's); the content rectangle is in screen coordinates.
  Window(Rect contentRect, uint64_t styleMask, int backing = 2, bool defer = false);

  // Frame and content rectangles of a style, converted either way.
  static Rect frameRectForContentRect(Rect content, uint64_t styleMask) noexcept;
  static Rect contentRectForFrameRect(Rect frame, uint64_t styleMask) noexcept;

  Rect frame() const noexcept { return frame_; }
  Rect contentRect() const noexcept { return contentRectForFrameRect(frame_, style_); }
  // Moves and sizes the window; the delegate hears of a move and of a
  // resize, and the content view takes the new content size.
  void setFrame(Rect frame, bool display = true);
  void setFrameOrigin(Point origin);
  void setFrameTopLeftPoint(Point topLeft);
  void setContentSize(Size size);
  void center();
  uint64_t styleMask() const noexcept { return style_; }
  void setStyleMask(uint64_t style) noexcept { style_ = style; }
  int backingType() const noexcept { return backing_; }
  int level() const noexcept { return level_; }
  void setLevel(int level) noexcept { level_ = level; }
  // The colour shown behind the content view (retained); null until set.
  Color* backgroundColor() const noexcept { return background_; }
  void setBackgroundColor(Color* color);
  uint64_t collectionBehavior() const noexcept { return collection_; }
  void setCollectionBehavior(uint64_t behavior) noexcept { collection_ = behavior; }
  long windowNumber() const noexcept { return number_; }
  const char* title() const noexcept { return title_.c_str(); }
  void setTitle(const char* title) override { title_ = plat::CharArray(title ? title : ""); }
  // The screen holding most of the window, null when it is on none.
  Screen* screen() const;

  View* contentView() const noexcept { return content_; }
  // Retains the view; the previous one is released.
  void setContentView(View* view);

  WindowDelegate* delegate() const noexcept { return delegate_; }
  // Not retained, as the platform does not.
  void setDelegate(WindowDelegate* delegate) noexcept { delegate_ = delegate; }
  bool isReleasedWhenClosed() const noexcept { return releasedWhenClosed_; }
  void setReleasedWhenClosed(bool released) noexcept { releasedWhenClosed_ = released; }

  // Key and main status.
  virtual bool canBecomeKeyWindow();
  virtual bool canBecomeMainWindow();
  bool isKeyWindow() const noexcept;
  bool isMainWindow() const noexcept;
  void makeKeyWindow();
  void makeMainWindow();
  void makeKeyAndOrderFront(objc::Object* sender);
  void orderFront(objc::Object* sender);
  void orderOut(objc::Object* sender);
  bool isVisible() const noexcept { return visible_; }
  bool isMiniaturized() const noexcept { return miniaturized_; }
  void miniaturize(objc::Object* sender);
  void deminiaturize(objc::Object* sender);
  // Closes at once (no delegate question).  A window released when
  // closed loses its own reference here.
  void close();
  // performClose:: asks the delegate, then closes.
  void performClose(objc::Object* sender);
  // zoom:: between the frame the user gave and the screen's visible frame.
  void zoom(objc::Object* sender);
  bool isZoomed() const noexcept { return zoomed_; }

  // Whether its controls draw active although it is not key.
  virtual bool hasActiveControls();
  // The frame the window may take on the screen; keeps the title bar
  // below the top of the screen's visible frame.
  virtual Rect constrainFrameRect(Rect frame, Screen* screen);

  // Child windows move with their parent; not retained beyond the
  // application's reference.
  void addChildWindow(Window* child);
  void removeChildWindow(Window* child);
  const std::vector<Window*>& childWindows() const noexcept { return children_; }
  Window* parentWindow() const noexcept { return parent_; }

  // Recorded options: mouse-moved events, hiding with the application,
  // the key view loop and the smallest size the user may give it.
  bool acceptsMouseMovedEvents() const noexcept { return acceptsMouseMoved_; }
  void setAcceptsMouseMovedEvents(bool accepts) noexcept { acceptsMouseMoved_ = accepts; }
  bool canHide() const noexcept { return canHide_; }
  void setCanHide(bool canHide) noexcept { canHide_ = canHide; }
  bool autorecalculatesKeyViewLoop() const noexcept { return autorecalculatesKeyViewLoop_; }
  void setAutorecalculatesKeyViewLoop(bool recalculates) noexcept { autorecalculatesKeyViewLoop_ = recalculates; }
  void recalculateKeyViewLoop() noexcept { ++keyViewLoopRecalculations_; }
  int keyViewLoopRecalculations() const noexcept { return keyViewLoopRecalculations_; }
  Size minSize() const noexcept { return minSize_; }
  void setMinSize(Size size) noexcept { minSize_ = size; }

  Button* defaultButton() const noexcept { return defaultButton_; }
  void setDefaultButton(Button* button) noexcept { defaultButton_ = button; }

  // The responder that receives key events; null means the window.
  Responder* firstResponder() noexcept { return firstResponder_ ? firstResponder_ : this; }
  // False when the current first responder refuses to resign or the new
  // one refuses to become it; null makes the window first responder.
  bool makeFirstResponder(Responder* responder);
  // The field editor shared by the window's text fields; made on first
  // request when `create` is set.
  FieldEditor* fieldEditor(bool create);
  // Starts editing a field: the field editor becomes first responder with
  // the field as its delegate.
  bool beginFieldEditing(View* field);

  // Dispatches an event meant for this window: mouse events to the view
  // under the pointer (drags and releases to the view that took the
  // press), keys to the first responder, Return to the default button
  // when no one else takes it.
  virtual void sendEvent(Event* e);

  // Base and screen coordinates.
  Point convertBaseToScreen(Point p) const noexcept { return {p.x + frame_.origin.x, p.y + frame_.origin.y}; }
  Point convertScreenToBase(Point p) const noexcept { return {p.x - frame_.origin.x, p.y - frame_.origin.y}; }
  Rect convertRectToScreen(Rect r) const noexcept { return {convertBaseToScreen(r.origin), r.size}; }

  // Sheets: the sheet window in front of this one.
  Window* attachedSheet() const noexcept { return sheet_; }

  // Pointer tracking: delivers entered and exited events to the areas of
  // the window's views that the pointer, at a base position, now enters
  // or leaves.
  void updateTrackingAreas(Point base);

  // Cursor rectangles.  Nothing here sets the cursor from them: whether
  // they are enabled is recorded.  resetCursorRects discards the
  // rectangles of every view in the window and asks each view that is not
  // hidden for its own again.
  void disableCursorRects() noexcept { cursorRectsEnabled_ = false; }
  void enableCursorRects() noexcept { cursorRectsEnabled_ = true; }
  bool areCursorRectsEnabled() const noexcept { return cursorRectsEnabled_; }
  void resetCursorRects();

  void keyDown(Event* e) override;
  void noResponderFor(Event*) override {}
  // The window menu's actions: performClose:, performMiniaturize: and
  // performZoom:.
  bool respondsToAction(Sel action) const override;
  void performAction(Sel action, objc::Object* sender) override;

 protected:
  ~Window() override;

 private:
  friend class Application;
  void resignKey();
  void becomeKey();

  Rect frame_;
  uint64_t style_;
  int backing_;
  int level_ = 0;
  objc::Ref<Color> background_;
  uint64_t collection_ = 0;
  long number_;
  plat::CharArray title_;
  objc::Ref<View> content_;
  WindowDelegate* delegate_ = nullptr;
  Responder* firstResponder_ = nullptr;
  objc::Ref<FieldEditor> fieldEditor_;
  std::vector<Window*> children_;
  Window* parent_ = nullptr;
  Window* sheet_ = nullptr;
  Button* defaultButton_ = nullptr;
  // The view that took the press, until the release.
  objc::Ref<View> mouseView_;
  Size minSize_;
  int keyViewLoopRecalculations_ = 0;
  bool acceptsMouseMoved_ = false;
  bool canHide_ = true;
  bool autorecalculatesKeyViewLoop_ = false;
  bool releasedWhenClosed_ = true;
  bool visible_ = false;
  bool miniaturized_ = false;
  bool zoomed_ = false;
  bool cursorRectsEnabled_ = true;
  Rect unzoomedFrame_;
};

}  // namespace appkit
