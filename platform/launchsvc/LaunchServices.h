#pragma once
// Stands in for the desktop's URL services: opening a URL with the user's
// default application, and making an application the default handler of a
// URL scheme.  Backed by the XDG desktop conventions: a URL is handed to
// `xdg-open` (or a configured opener), started detached; a scheme handler
// is a desktop entry in the user's data folder ($XDG_DATA_HOME, by default
// ~/.local/share, under "applications") whose command runs the program
// with "-uri %u", made the scheme's default by its
// "x-scheme-handler/<scheme>" line under "[Default Applications]" in the
// user's mimeapps.list ($XDG_CONFIG_HOME, by default ~/.config).  Results
// are status codes of the platform's status table (platform/status).

#include <cstdint>

#include "qocore/base/plat/CharArray.h"

namespace launchsvc {

inline constexpr int32_t kNoErr = 0;
inline constexpr int32_t kParamErr = -50;
inline constexpr int32_t kUnknownErr = -10810;              // kLSUnknownErr
inline constexpr int32_t kApplicationNotFoundErr = -10814;  // kLSApplicationNotFoundErr

// An absolute URL: a scheme (a letter, then letters, digits, "+", "-" or
// "."), ":", and then only the characters URLs may hold, with every "%"
// starting an escape of two hex digits.  No blanks or control characters.
bool isAbsoluteUrl(const char* text) noexcept;

// Starts the opener, detached, with the URL as its one argument.  kNoErr
// once it runs; kParamErr for a text that is not an absolute URL (so the
// argument never reads as an option); kApplicationNotFoundErr when the
// opener cannot be found or executed; kUnknownErr for any other failure.
int32_t openUrl(const char* url);

// The opener: a program name looked up in PATH, or a path.  Null restores
// "xdg-open".  Not copied.
void setOpener(const char* program);

// A scheme may be made of lower-case letters and dots only: the opener
// takes a URL of any other scheme for a file path.
bool isValidScheme(const char* scheme) noexcept;

// The application that handles a scheme.
struct HandlerApp {
  const char* name;     // names the desktop entry; must not be empty
  const char* program;  // absolute path, run with "-uri <url>"
};

// Makes `app` the scheme's default handler: writes its desktop entry and
// sets the scheme's line in mimeapps.list, keeping every other line.  A
// null app removes the scheme's line instead.  kParamErr for an invalid
// scheme or app; kUnknownErr (with the cause logged) when a folder or file
// cannot be written.
int32_t setDefaultHandler(const char* scheme, const HandlerApp* app);

// The desktop entry's file name for an application and scheme:
// "<name>-<scheme>.desktop", with every character of the name other than
// ASCII letters, digits, "-" and "_" written as "_".
plat::CharArray desktopEntryName(const char* appName, const char* scheme);

// The Exec= value of the entry, before the file's value escaping: the
// program, quoted only when it holds a character the Exec key reserves,
// then "-uri %u"; a "%" of the program is written "%%".
plat::CharArray execCommand(const char* program);

}  // namespace launchsvc
