#pragma once
// What every element class's create does after its creator hook made the
// element: the parent takes it.

#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

template <typename T>
T* adopt(MuContainer* parent, T* element) {
  PLAT_ASSERT(parent);
  parent->addChild(element);
  return element;
}

}  // namespace mui
