#pragma once
// The platform core's own user-visible texts (command-line errors, the
// usage headings, the logging parameters' descriptions), in de, es, fr, en
// and pt.  Every static initialiser that declares a platform parameter
// calls ensurePlatStrings first, so the texts are there whichever
// initialiser runs first.

namespace plat {

// Registers the table the first time it is called; later calls do nothing.
void ensurePlatStrings();

}  // namespace plat
