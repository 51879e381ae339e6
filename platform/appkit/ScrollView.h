#pragma once
// Stands in for the platform's scroll views: a clip view (the content
// view) showing part of one document view, scrollers (legacy ones take room
// beside it when shown, overlay ones none) and a border around both.  The content view is
// flipped, so a scroll position is the top-left point of the document that
// shows.

#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"

namespace appkit {

class ClipView : public View {
 public:
  explicit ClipView(Rect frame = {}) : View(frame) {}
  bool isFlipped() const override { return true; }
  View* documentView() const noexcept { return subviews().empty() ? nullptr : subviews().front(); }
  // The part of the document that shows, in the document's coordinates.
  Rect documentVisibleRect() const;
  // Moves the bounds origin, held to the document's extent.
  void scrollToPoint(Point point);

 protected:
  ~ClipView() override = default;
};

class ScrollView : public View {
 public:
  // initWithFrame: (one reference, the caller's).
  explicit ScrollView(Rect frame = {});

  ClipView* contentView() const noexcept { return clip_; }
  View* documentView() const noexcept { return clip_->documentView(); }
  // Retained; null takes the document away.
  void setDocumentView(View* view);
  Rect documentVisibleRect() const { return clip_->documentVisibleRect(); }

  bool hasVerticalScroller() const noexcept { return vertical_; }
  void setHasVerticalScroller(bool has);
  bool hasHorizontalScroller() const noexcept { return horizontal_; }
  void setHasHorizontalScroller(bool has);
  bool autohidesScrollers() const noexcept { return autohides_; }
  void setAutohidesScrollers(bool hides) noexcept { autohides_ = hides; }
  int borderType() const noexcept { return border_; }
  void setBorderType(int type);
  bool drawsBackground() const noexcept { return drawsBackground_; }
  void setDrawsBackground(bool draws) noexcept { drawsBackground_ = draws; }
  Color* backgroundColor() const noexcept { return background_; }
  // Retained.
  void setBackgroundColor(Color* colour);
  int horizontalScrollElasticity() const noexcept { return hElasticity_; }
  void setHorizontalScrollElasticity(int e) noexcept { hElasticity_ = e; }
  int verticalScrollElasticity() const noexcept { return vElasticity_; }
  void setVerticalScrollElasticity(int e) noexcept { vElasticity_ = e; }
  // kScrollerStyleLegacy (the default) or kScrollerStyleOverlay; the
  // content view is laid out again.
  int scrollerStyle() const noexcept { return scrollerStyle_; }
  void setScrollerStyle(int style);

  // frameSizeForContentSize:...: the frame that holds a content of the
  // size with the scrollers and the border given; scrollers of the overlay
  // style take no room.  Scrollers have their regular width here, which
  // is the only control size this stand-in knows.
  static Size frameSizeForContentSize(Size content, bool horizontalScroller, bool verticalScroller, int borderType,
                                      int scrollerStyle = kScrollerStyleLegacy);
  // contentSizeForFrameSize:...: the reverse (never negative).
  static Size contentSizeForFrameSize(Size frame, bool horizontalScroller, bool verticalScroller, int borderType,
                                      int scrollerStyle = kScrollerStyleLegacy);

  // Lays out the content view inside the border and the scrollers.
  void tile();
  bool isFlipped() const override { return true; }
  // Fills the bounds with the background colour (the window background
  // until one is set) when the scroll view draws its background.
  void drawRect(Rect dirty) override;

 protected:
  ~ScrollView() override;
  void resizeSubviewsWithOldSize(Size old) override;

 private:
  ClipView* clip_;
  objc::Ref<Color> background_;
  bool vertical_ = false;
  bool horizontal_ = false;
  bool autohides_ = false;
  bool drawsBackground_ = true;
  int border_ = 0;
  int hElasticity_ = 0;
  int vElasticity_ = 0;
  int scrollerStyle_ = kScrollerStyleLegacy;
};

}  // namespace appkit
