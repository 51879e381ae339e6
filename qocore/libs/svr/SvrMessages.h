#pragma once
// The server's built-in texts: its parameters, authentication schemes,
// encryption modes and session messages.

namespace svr {

// Adds the texts to the translation tables on the first call only.
void registerMessages();

}  // namespace svr
