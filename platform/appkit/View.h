#pragma once
// Stands in for the platform's views and controls: a tree of rectangles,
// each in its superview's coordinates, with its own bounds, flipped or
// not (y downwards or upwards).  Frame changes are announced at once,
// on the changing thread, through the default notification centre
// ("NSViewFrameDidChangeNotification"), so layouts that listen re-run
// inside the change, also re-entrantly.

#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Responder.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class Font;
class Color;
class Image;
class Window;
class View;
class GraphicsContext;
class Menu;

// The name of the frame-change notification.
extern const char* const kViewFrameDidChangeNotification;

// Optional setters a class may implement; "responds to setTitle:" is a
// dynamic_cast to the interface.
class TitleSetter {
 public:
  virtual ~TitleSetter() = default;
  virtual void setTitle(const char* title) = 0;
};
class StringValueSetter {
 public:
  virtual ~StringValueSetter() = default;
  virtual void setStringValue(const char* value) = 0;
};
class LabelSetter {
 public:
  virtual ~LabelSetter() = default;
  virtual void setLabel(const char* label) = 0;
};
class KeyEquivalentSetter {
 public:
  virtual ~KeyEquivalentSetter() = default;
  virtual void setKeyEquivalent(const char* key) = 0;
};

// A region of a view whose entering and leaving the pointer reports to
// its owner as mouse-entered and mouse-exited events.
class TrackingArea : public objc::Object {
 public:
  // A new area (one reference, the caller's); the owner is not retained.
  TrackingArea(Rect rect, unsigned options, Responder* owner) : rect_(rect), options_(options), owner_(owner) {}
  Rect rect() const noexcept { return rect_; }
  unsigned options() const noexcept { return options_; }
  Responder* owner() const noexcept { return owner_; }
  View* view() const noexcept { return view_; }
  bool inside() const noexcept { return inside_; }

 private:
  friend class View;
  friend class Window;
  Rect rect_;
  unsigned options_;
  Responder* owner_;
  View* view_ = nullptr;
  bool inside_ = false;
};

class View : public Responder {
 public:
  // A new view (one reference, the caller's) with the frame.
  explicit View(Rect frame = {});

  virtual bool isFlipped() const { return false; }

  Rect frame() const noexcept { return frame_; }
  Rect bounds() const noexcept { return bounds_; }
  void setFrame(Rect frame);
  void setFrameOrigin(Point origin);
  void setFrameSize(Size size);
  void setBoundsOrigin(Point origin);
  bool postsFrameChangedNotifications() const noexcept { return postsFrameChanges_; }
  void setPostsFrameChangedNotifications(bool posts) noexcept { postsFrameChanges_ = posts; }
  bool clipsToBounds() const noexcept { return clips_; }
  void setClipsToBounds(bool clips) noexcept { clips_ = clips; }
  bool isHidden() const noexcept { return hidden_; }
  void setHidden(bool hidden) noexcept { hidden_ = hidden; }
  // Hidden itself or below a hidden view.
  bool isHiddenOrHasHiddenAncestor() const noexcept;

  View* superview() const noexcept { return superview_; }
  const std::vector<View*>& subviews() const noexcept { return subviews_.items(); }
  Window* window() const noexcept { return window_; }
  // Retains the subview, taking it from its former superview first.
  void addSubview(View* view);
  // addSubview:positioned:relativeTo:: the same, in front of (kSubviewAbove)
  // or behind (kSubviewBelow) a sibling; when `relativeTo` is not a
  // subview (or null), in front of or behind all of them.
  void addSubview(View* view, int place, const View* relativeTo);
  // Drops the view from its superview (releasing the superview's
  // reference); a window's content view leaves its window (which releases
  // it); nothing for other views without a superview.
  void removeFromSuperview();
  bool isDescendantOf(const View* view) const noexcept;

  // Point and rectangle conversion between this view and another of the
  // same window; a null view means the window's base coordinates
  // (bottom-up from the window's lower left corner).
  Point convertPointToView(Point p, const View* view) const;
  Point convertPointFromView(Point p, const View* view) const;
  Rect convertRectToView(Rect r, const View* view) const;
  Rect convertRectFromView(Rect r, const View* view) const;

  // The deepest visible view under the point, given in the superview's
  // coordinates; null when the point is outside this view.
  virtual View* hitTest(Point p);
  // Draws the view's own content into the current graphics context, in
  // the view's coordinates; the base draws nothing.
  virtual void drawRect(Rect /*dirty*/) {}

  void addTrackingArea(TrackingArea* area);
  void removeTrackingArea(TrackingArea* area);
  const std::vector<TrackingArea*>& trackingAreas() const noexcept { return trackingAreas_.items(); }

  // Cursor rectangles, recorded.
  void addCursorRect(Rect rect, int cursor) { cursorRects_.push_back({rect, cursor}); }
  void discardCursorRects() noexcept { cursorRects_.clear(); }
  struct CursorRect {
    Rect rect;
    int cursor;
  };
  const std::vector<CursorRect>& cursorRects() const noexcept { return cursorRects_; }

  const char* toolTip() const noexcept { return toolTip_.c_str(); }
  void setToolTip(const char* tip) { toolTip_ = plat::CharArray(tip ? tip : ""); }
  void removeAllToolTips() { toolTip_ = plat::CharArray(""); }

  bool needsDisplay() const noexcept { return needsDisplay_; }
  void setNeedsDisplay(bool needs) noexcept {
    needsDisplay_ = needs;
    if (!needs) dirtyRect_ = Rect{};
  }
  // Marks a part of the bounds for redrawing; the parts so far add up to
  // the smallest rectangle holding them all.
  void setNeedsDisplayInRect(Rect rect) noexcept;
  Rect dirtyRect() const noexcept { return dirtyRect_; }
  // Asks the enclosing scroll views to bring the rectangle (bounds
  // coordinates) into sight; recorded, as nothing here scrolls.  False:
  // nothing scrolled.
  bool scrollRectToVisible(Rect rect) noexcept {
    scrolledRect_ = rect;
    return false;
  }
  Rect lastScrolledRect() const noexcept { return scrolledRect_; }

  // Called when the view has moved to another window (or none).
  virtual void viewDidMoveToWindow() {}
  // Called when the frame size changed, before the frame-change
  // notification; views that tile their subviews do it here.
  virtual void resizeSubviewsWithOldSize(Size) {}
  // displayRectIgnoringOpacity:inContext:: makes the context current over
  // the view (its origin at the bounds' origin, flipped as the view is,
  // clipped to the rectangle) and draws the rectangle.
  void displayRectIgnoringOpacity(Rect rect, GraphicsContext* context);
  // The context menu for a right press; null for none.
  virtual Menu* menuForEvent(Event*) { return nullptr; }
  // A right press pops up the view's context menu when it has one, and is
  // passed on otherwise.
  void rightMouseDown(Event* e) override;
  // Asked to set up the cursor rectangles again.
  virtual void resetCursorRects() {}
  // The Escape key's action.
  virtual void cancelOperation(objc::Object*) {}

  // Recorded: subviews here never resize with their superview on their own.
  bool autoresizesSubviews() const noexcept { return autoresizes_; }
  void setAutoresizesSubviews(bool autoresizes) noexcept { autoresizes_ = autoresizes; }

 protected:
  ~View() override;

 private:
  friend class Window;
  void setWindow(Window* window);
  void frameChanged();
  // To and from the window's base coordinates.
  Point toBase(Point p) const;
  Point fromBase(Point p) const;

  Rect frame_;
  Rect bounds_;
  View* superview_ = nullptr;
  objc::RefVector<View> subviews_;
  Window* window_ = nullptr;
  objc::RefVector<TrackingArea> trackingAreas_;
  std::vector<CursorRect> cursorRects_;
  plat::CharArray toolTip_;
  Rect dirtyRect_;
  Rect scrolledRect_;
  bool postsFrameChanges_ = true;
  bool autoresizes_ = true;
  bool clips_ = false;
  bool hidden_ = false;
  bool needsDisplay_ = false;
};

// The state a control keeps beside its view.
class Cell : public objc::Object {
 public:
  int highlightsBy() const noexcept { return highlightsBy_; }
  void setHighlightsBy(int mask) noexcept { highlightsBy_ = mask; }
  // The value the cell shows (a table sets its data cells' value for each
  // row before drawing them); retained.
  objc::Object* objectValue() const noexcept { return objectValue_; }
  void setObjectValue(objc::Object* value) noexcept;
  // drawWithFrame:inView:: the whole cell in the current graphics context,
  // in the view's coordinates; the base draws the interior.
  virtual void drawWithFrame(Rect frame, View* view);
  // drawInteriorWithFrame:inView:: the cell's content; the base draws
  // nothing.
  virtual void drawInteriorWithFrame(Rect /*frame*/, View* /*view*/) {}

  // The font of the cell's title; null for a cell that shows no text of
  // its own (the plain cell).
  virtual Font* font() const { return nullptr; }
  // drawingRectForBounds:: the part of the bounds the cell draws in; all
  // of it, as no cell here draws a frame of its own.
  virtual Rect drawingRectForBounds(Rect bounds) const { return bounds; }
  // titleRectForBounds:: where the title goes.  Titles are laid out
  // top-down: the first line starts at this rectangle's top.  The plain
  // cell's is its drawing rectangle.
  virtual Rect titleRectForBounds(Rect bounds) const { return drawingRectForBounds(bounds); }

 protected:
  ~Cell() override;

 private:
  int highlightsBy_ = 0;
  objc::Ref<objc::Object> objectValue_;
};

// A view that sends an action to a target when the user works it.
class Control : public View, public StringValueSetter {
 public:
  explicit Control(Rect frame = {});

  bool isEnabled() const noexcept { return enabled_; }
  void setEnabled(bool enabled) noexcept { enabled_ = enabled; }
  // The target is not retained; null sends the action along the
  // responder chain.
  ActionTarget* target() const noexcept { return target_; }
  void setTarget(ActionTarget* target) noexcept { target_ = target; }
  Sel action() const noexcept { return action_; }
  void setAction(Sel action) noexcept { action_ = action; }
  Sel doubleAction() const noexcept { return doubleAction_; }
  void setDoubleAction(Sel action) noexcept { doubleAction_ = action; }

  const char* stringValue() const noexcept { return value_.c_str(); }
  void setStringValue(const char* value) override;
  // The leading integer of the string value, 0 when there is none.
  long integerValue() const noexcept;
  void setIntegerValue(long value);
  Cell* cell() const noexcept { return cell_; }
  // firstBaselineOffsetFromTop: how far below the top of the bounds the
  // title's first baseline lies: the top of the cell's title rectangle for
  // the bounds (of its drawing rectangle when the title rectangle is
  // empty) plus the cell font's ascender; 0 when the cell has no font.
  double firstBaselineOffsetFromTop() const;

  // Gives the control the size its content asks for.
  virtual void sizeToFit();
  // Sends the action to the target through the application; false when
  // no one received it.
  bool sendAction(Sel action, ActionTarget* target);

  bool acceptsFirstResponder() override { return enabled_; }
  // A click sends the action, a double click the double action too.
  void mouseDown(Event* e) override;

 protected:
  // A control of a class with its own kind of cell (one reference, which
  // the control takes).
  Control(Rect frame, Cell* cell);
  ~Control() override;
  // The content's natural size, for sizeToFit.
  virtual Size fittingSize() const;

 private:
  ActionTarget* target_ = nullptr;
  Sel action_ = nullptr;
  Sel doubleAction_ = nullptr;
  plat::CharArray value_;
  objc::Ref<Cell> cell_;
  bool enabled_ = true;
};

// A push button: a titled control with a type, a bezel and a key
// equivalent; a window's default button answers the Return key.
class Button : public Control, public TitleSetter, public KeyEquivalentSetter {
 public:
  explicit Button(Rect frame = {}) : Control(frame) {}

  const char* title() const noexcept { return title_.c_str(); }
  void setTitle(const char* title) override { title_ = plat::CharArray(title ? title : ""); }
  const char* keyEquivalent() const noexcept { return key_.c_str(); }
  void setKeyEquivalent(const char* key) override { key_ = plat::CharArray(key ? key : ""); }
  int buttonType() const noexcept { return type_; }
  void setButtonType(int type) noexcept { type_ = type; }
  int bezelStyle() const noexcept { return bezel_; }
  void setBezelStyle(int bezel) noexcept { bezel_ = bezel; }
  bool isBordered() const noexcept { return bordered_; }
  // Push-on/push-off, toggle, switch, radio and on-off buttons keep a
  // state that clicks move on; momentary ones do not.
  bool keepsState() const noexcept;
  void setBordered(bool bordered) noexcept { bordered_ = bordered; }
  // performClick:: as if the user clicked it (nothing when disabled): a
  // check box or radio button first moves to its next state.
  void performClick();
  bool performKeyEquivalent(Event* e) override;
  // A click is the user's: the state moves on before the action is sent.
  void mouseDown(Event* e) override;

  // The state (ControlState of Menu.h).  Setting it sends nothing; a mixed
  // state is taken as on unless the button allows it.
  int state() const noexcept { return state_; }
  void setState(int state) noexcept;
  bool allowsMixedState() const noexcept { return allowsMixed_; }
  void setAllowsMixedState(bool allows) noexcept { allowsMixed_ = allows; }
  // The state a click gives: mixed to on, on to off, off to mixed when
  // the button allows it, else on.  Radio buttons are turned on.
  int nextState() const noexcept;
  // Both retained; null takes the image away.
  Image* image() const noexcept { return image_; }
  void setImage(Image* image) noexcept;
  Image* alternateImage() const noexcept { return alternate_; }
  void setAlternateImage(Image* image) noexcept;
  // 0 no image, 1 image only, 2 image left of the title, ... (Constants.h).
  int imagePosition() const noexcept { return imagePosition_; }
  void setImagePosition(int position) noexcept { imagePosition_ = position; }
  bool showsBorderOnlyWhileMouseInside() const noexcept { return borderOnHover_; }
  void setShowsBorderOnlyWhileMouseInside(bool shows) noexcept { borderOnHover_ = shows; }
  // The title with its font size (points; 0 the system font's).
  void setAttributedTitle(const char* title, double fontSize) { setAttributedTitle(title, fontSize, nullptr); }
  // ... and its colour (retained; null: the control's own text colour).
  void setAttributedTitle(const char* title, double fontSize, Color* colour);
  double fontSize() const noexcept { return fontSize_; }
  Color* titleColor() const noexcept { return titleColor_; }

 protected:
  // A button of a class with its own kind of cell (one reference, which
  // the button takes).
  Button(Rect frame, Cell* cell) : Control(frame, cell) {}
  ~Button() override;
  Size fittingSize() const override;

 private:
  plat::CharArray title_;
  plat::CharArray key_;
  objc::Ref<Image> image_;
  objc::Ref<Image> alternate_;
  double fontSize_ = 0;
  objc::Ref<Color> titleColor_;
  int type_ = 0;
  int bezel_ = 0;
  int state_ = 0;
  int imagePosition_ = 0;
  bool bordered_ = true;
  bool allowsMixed_ = false;
  bool borderOnHover_ = false;
};

// The text editor a window shares among its text fields (TextView.h).
class FieldEditor;

}  // namespace appkit
