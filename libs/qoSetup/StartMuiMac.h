#pragma once
// The macOS toolkit backend's start-up: the backend singleton and the
// element creators that every element class's `create` calls.

namespace qoSetup {

// Builds the backend singleton once per process (it lives until the
// process ends), installs it and fills the creator hooks with the macOS
// peers.  Calling it again installs the same singleton and fills the same
// hooks.
void startMuiMac();

}  // namespace qoSetup
