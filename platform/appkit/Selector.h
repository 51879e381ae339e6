#pragma once
// Selectors: interned message names.  Two selectors are the same message
// exactly when their pointers are equal, so they compare and hash cheaply;
// the null selector is "no message".

namespace appkit {

using Sel = const char*;

// The one interned copy of a name; null for a null name.  Interned names
// live as long as the process.
Sel selector(const char* name);

}  // namespace appkit
