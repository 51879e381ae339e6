#pragma once
// Expansion of environment references in configured paths and values
// ("$HOME/Library/Logs/yarl", "${TMPDIR}/x").

#include <map>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

class DString;

// Values that take the place of environment variables, by name.
using EnvOverrides = std::map<CharArray, CharArray, StrLess>;

// Replaces out by text with every reference expanded.  A reference is "$"
// followed by "{name}" (an unclosed brace runs to the end of the text) or
// by the longest run of ASCII letters, digits and "_".  "${}" and "$$"
// write "$"; a "$" before anything else writes nothing.  A name is looked
// up in `overrides` (may be null), then, with useEnvironment, in the
// environment.  A name found nowhere writes nothing, or throws Exception
// "unknown environment variable: <name>" with failOnUnknown.
void expandEnvVars(DString& out, const char* text, const EnvOverrides* overrides, bool failOnUnknown,
                   bool useEnvironment);

}  // namespace plat
