#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace ui {

// Placeholder until the colour provider joins this file: without one the
// core answers from its own tables.
void installSysColorsMac() {}

}  // namespace ui
