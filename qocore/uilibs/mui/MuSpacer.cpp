#include "qocore/uilibs/mui/MuSpacer.h"

#include "qocore/base/plat/Exception.h"

namespace mui {

MuSpacer* MuSpacer::create(MuContainer* parent, int32_t width, int32_t height) {
  PLAT_ASSERT(parent);
  auto* spacer = new MuSpacer(parent, width, height);
  parent->addChild(spacer);
  return spacer;
}

MuSpacer::MuSpacer(MuContainer* parent, int32_t width, int32_t height)
    : MuElement(parent, nullptr, nullptr), width_(width), height_(height) {}

plat::DString MuSpacer::describe() {
  const Size size = getSize();
  return plat::DString("%d,%d %dx%d", position_.x, position_.y, size.width, size.height);
}

}  // namespace mui
