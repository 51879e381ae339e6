#pragma once
// The setup application's built-in texts: every key it shows, in the five
// languages of the translation tables.

namespace qoSetup {

// Adds the texts to the translation tables on the first call; later calls
// only count.  Every source file of the setup application calls it first
// in its static initialisation, so the texts are there whichever file is
// initialised first.
void registerSetupTexts();

}  // namespace qoSetup
