#pragma once
// The system colours of the macOS appearance as the core's colour provider.

namespace ui {

// Installs the provider once per process; later calls change nothing.
void installSysColorsMac();

}  // namespace ui
