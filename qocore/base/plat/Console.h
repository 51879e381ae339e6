#pragma once
// Console helpers: whether a descriptor is a (colour) terminal, and the
// terminal's attribute sequences that colour log lines.

#include <cstdio>

namespace plat {

bool isTerminal(int fd) noexcept;
// A terminal whose TERM names a colour-capable type: it contains "xterm",
// "ansi" or "color" (case-sensitive).
bool isColourTerminal(int fd) noexcept;
// Writes ESC "[" attributes "m" (for example "1;31" for bold red, "0" to
// reset) and flushes the stream when asked.
void setTerminalAttr(FILE* stream, const char* attributes, bool flush);

}  // namespace plat
