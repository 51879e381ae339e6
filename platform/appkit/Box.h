#pragma once
// Stands in for the platform's box: a view with a border, an optional
// title along its top or bottom edge and one content view that it keeps
// tiled inside the border, the title band and the content view margins
// (Metrics.h gives the band's height and the default margins; the border
// is as wide as its type's width).  Boxes are not flipped unless a
// subclass says so; the content view's place follows the box's own
// direction, so a title at the top is at the top either way.

#include "platform/appkit/View.h"

namespace appkit {

class Box : public View, public TitleSetter {
 public:
  // A new box (one reference, the caller's) with a plain content view.
  explicit Box(Rect frame = {});

  const char* title() const noexcept { return title_.c_str(); }
  void setTitle(const char* title) override { title_ = plat::CharArray(title ? title : ""); }
  // A TitlePosition (Constants.h); kNoTitle leaves no band for it.
  int titlePosition() const noexcept { return titlePosition_; }
  void setTitlePosition(int position);
  // A BorderType (Constants.h).
  int borderType() const noexcept { return borderType_; }
  void setBorderType(int type);
  // A transparent box draws nothing of its own: no border, whatever its
  // type, so the content view has all of the box but the margins.
  bool isTransparent() const noexcept { return transparent_; }
  void setTransparent(bool transparent);
  Size contentViewMargins() const noexcept { return margins_; }
  void setContentViewMargins(Size margins);

  View* contentView() const noexcept { return content_; }
  // Retains the view and puts it in place of the previous content view,
  // which is released; null leaves the box empty.
  void setContentView(View* view);

  // 0 for a transparent box.
  double borderWidth() const noexcept;
  // The title band in the box's bounds (an empty rectangle without one).
  Rect titleRect() const noexcept;
  // Where the content view goes in the box's bounds.
  Rect contentRect() const noexcept;
  // How much wider and higher the box is than its content view once it is
  // large enough for its border, title band and margins.
  Size decorationSize() const noexcept;

  void resizeSubviewsWithOldSize(Size) override { tile(); }

 protected:
  ~Box() override;

 private:
  void tile();

  plat::CharArray title_;
  View* content_ = nullptr;
  Size margins_;
  int titlePosition_;
  int borderType_;
  bool transparent_ = false;
};

}  // namespace appkit
