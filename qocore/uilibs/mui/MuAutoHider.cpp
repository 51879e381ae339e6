#include "qocore/uilibs/mui/MuAutoHider.h"

#include "qocore/base/plat/Exception.h"

namespace mui {

MuAutoHider* (*muAutoHiderFactory)(const char*, Size, uint32_t, MuAutoHider::Listener*) = nullptr;

MuAutoHider::Listener::~Listener() = default;

MuAutoHider* MuAutoHider::create(const char* id, Size size, uint32_t placement, Listener* listener) {
  PLAT_ASSERT(muAutoHiderFactory);
  return muAutoHiderFactory(id, size, placement, listener);
}

void MuAutoHider::autoHiderEvent(bool started, bool showing, ui::AutoHider*) {
  if (listener_) listener_->visibilityChanged(showing, started);
}

}  // namespace mui
