#include "qocore/base/qoutil/DragDropData.h"

namespace qoutil {

DragDropData::~DragDropData() = default;

}  // namespace qoutil
