#pragma once
// The hidden switch that turns on behaviour meant only for testing the
// product (the UI automation server, overriding the server package
// address).  It is on when a key file "TestFeaturesEnableKey" (at most
// 1025 bytes) lies in one of the data directories or in the
// per-application store directory and the SHA-256 digest of its contents
// equals the digest built into the program (the build setting
// YARL_TEST_FEATURES_DIGEST).
//
// Decided once per process, on the main thread; logs through the
// "TestFeaturesEnableKey" source at debug level.

namespace qoutil {

// Runs the check on the first call and answers its cached result after.
bool testFeaturesEnabled();

}  // namespace qoutil
