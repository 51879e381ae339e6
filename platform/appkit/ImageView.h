#pragma once
// Stands in for the platform's image view: a control that shows one image
// with a scaling rule.

#include "platform/appkit/Image.h"
#include "platform/appkit/View.h"

namespace appkit {

class ImageView : public Control {
 public:
  // initWithFrame: (one reference, the caller's).
  explicit ImageView(Rect frame = {}) : Control(frame) {}
  Image* image() const noexcept { return image_; }
  // Retained; null shows nothing.
  void setImage(Image* image);
  int imageScaling() const noexcept { return scaling_; }
  void setImageScaling(int scaling) noexcept { scaling_ = scaling; }

 protected:
  ~ImageView() override;

 private:
  objc::Ref<Image> image_;
  int scaling_ = 0;
};

}  // namespace appkit
