#pragma once
// mui::MuImageMac: the macOS image element.  Shows a named image, or one
// handed over by the caller, unscaled in an image view, and measures it in
// points.
//
// Main thread only.

#include <cstdint>

#include "platform/appkit/ImageView.h"
#include "platform/objc/Ref.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/NamedImageHolder.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"

namespace mui {

class MuImageMac : public MuImage {
 public:
  // The creator hook's signature.
  static MuImage* create(MuContainer* parent, const char* id, const char* name, Size size);

  // Loads the named image at once.
  MuImageMac(MuContainer* parent, const char* id, const char* name, Size size);
  ~MuImageMac() override;

  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  void setImage(const char* name, Size size) override;
  // As setImage; true when the holder found the image.
  bool setImageName(const char* name, Size size);
  // Shows the caller's image (forgetting the name); with `take` this
  // element deletes it when it is replaced or at destruction.
  void setPixelImage(rfb::PixelBuffer* image, bool take);
  // In points: pixels divided by the display's scale factor.
  Size imageSize();

  appkit::ImageView* imageView() const noexcept { return imageView_; }

 private:
  void dropNative();
  void show();

  objc::Ref<appkit::ImageView> imageView_;
  NamedImageHolder holder_;
  rfb::PixelBuffer* image_ = nullptr;
  rfb::PixelBuffer* ownedImage_ = nullptr;
  objc::Ref<appkit::Image> nativeImage_;
};

// The scale factor of the main display (1 without one), as whole pixels
// per point.
int32_t displayScaleFactor();

}  // namespace mui
