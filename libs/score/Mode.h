#pragma once
// score::Mode: how the server runs (for one user, as a system service, or
// in a virtual session).  The process-wide current mode decides, among
// other things, which control-channel socket a client looks for and which
// user it expects at the other end.

#include <cstdint>

namespace score {

enum Mode : uint32_t { kUser = 0, kService = 1, kVirtual = 2 };

// The process-wide mode; kUser until set.
Mode currentMode() noexcept;
// Only the three modes may be set (anything else fails an assertion).
void setCurrentMode(Mode mode);
// "user", "service" or "virtual".
const char* currentModeName() noexcept;

// The localised display text: the service and virtual modes have their
// own, every other value is shown as the user mode.
const char* modeName(Mode mode);
// Whether the text is "user", "service" or "virtual", ignoring case.
[[nodiscard]] bool isModeName(const char* text) noexcept;
// The mode of one of those words, ignoring case; anything else throws
// plat::Exception "Bad mode name".
Mode parseMode(const char* text);

}  // namespace score
