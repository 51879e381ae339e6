#pragma once
// The remote-framebuffer protocol's built-in texts: protocol messages and
// the names of encryption strengths.

namespace rfb {

// Adds the texts to the translation tables on the first call only.
void registerMessages();

}  // namespace rfb
