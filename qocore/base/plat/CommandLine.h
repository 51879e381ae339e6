#pragma once
// One command-line string for a child process, built from arguments and
// split back into them.  Quoting follows the common convention for such
// strings: double quotes group, and backslashes are special only before a
// double quote.

#include "qocore/base/plat/CharArray.h"

namespace plat {

class DString;

// Appends the arguments of text to list.  Runs of blanks and tabs outside
// quotes separate arguments; n backslashes before a double quote give n/2
// backslashes and, for odd n, a literal quote (for even n the quote opens
// or closes quoting); other backslashes are literal; "" yields an empty
// argument.
void splitCommandLine(CharArrayList& list, const char* text);
// Appends one argument to out, after a blank unless out is empty.  An
// argument that is empty or holds a blank, tab, LF or double quote is
// enclosed in double quotes, with the backslashes before a quote or the
// closing quote doubled (plus one that escapes an inner quote).
void appendQuotedArg(DString& out, const char* arg);

}  // namespace plat
