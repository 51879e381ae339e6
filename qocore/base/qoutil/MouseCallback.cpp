#include "qocore/base/qoutil/MouseCallback.h"

namespace qoutil {

MouseCallback::~MouseCallback() = default;

}  // namespace qoutil
