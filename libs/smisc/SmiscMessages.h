#pragma once
// The server's miscellaneous built-in texts: control-channel usage, status
// display, connection prompts, permissions dialogs and events.

namespace smisc {

// Adds the texts to the translation tables on the first call only.
void registerMessages();

}  // namespace smisc
