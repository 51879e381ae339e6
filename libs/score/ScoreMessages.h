#pragma once
// The server core's built-in texts: the modes and the kinds of connected
// user.

namespace score {

// Adds the texts to the translation tables on the first call only.
void registerMessages();

}  // namespace score
