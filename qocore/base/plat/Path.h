#pragma once
// Paths as text: normalisation, directory and base names, joining, the
// canonical real path with symbolic links resolved, safe and unique file
// names, reserved device names, and the ownership checks that decide
// whether a path can be trusted.
//
// Paths are NUL-terminated UTF-8 byte strings with "/" as separator.  New
// text comes back as a CharArray; null means "none" where said so.

#include <sys/types.h>

#include <set>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace plat {

// Begins with "/".
bool isAbsolutePath(const char* path) noexcept;
// False only for exactly "/".
bool isNotRootPath(const char* path) noexcept;
// The position after any leading "/" characters.
const char* skipSlashes(const char* path) noexcept;

// Runs of "/" become one and a trailing "/" goes (unless the path is "/");
// "." components go; ".." removes the component before it unless there is
// none or it is ".." itself, is dropped directly under the root and kept at
// the start of a relative path.  An empty result is ".".
CharArray normalisePath(const char* path);
// The normalised path without its last component: "a" gives ".", "." gives
// "..", a relative path ending in ".." gets "/.." appended, "/x" and "/"
// give "/".
CharArray dirName(const char* path);
// The last component of the normalised path ("/" for the root, "." for a
// relative ".."); `suffix` (or null) is removed when the name ends with it,
// compared without regard to case, and is longer than it.
CharArray baseName(const char* path, const char* suffix = nullptr);
// out = name alone when keepAbsolute is set and name is absolute; else dir
// and name with one "/" between them unless dir already ends with one.
void joinPath(CharArray& out, const char* dir, const char* name, bool keepAbsolute = false);

// The current directory.  Throws SystemException "getcwd".
CharArray getCwd();
// An absolute path is normalised, a relative one is joined to the current
// directory and normalised; the result is resolved by realPath.
CharArray absolutePath(const char* path);
// The canonical form of an absolute path (a relative one is a fatal
// assertion): the prefixes are examined from the root and the first
// symbolic link is replaced by its target, the rest appended, the result
// normalised and resolved again; a path without links is returned as given.
// Failures throw SystemException "realpath(<displayPath>)": the lstat error,
// ENOTDIR for a file followed by more components, ELOOP after 32 links, EIO
// for a link target longer than 4095 bytes.
CharArray realPath(const char* displayPath, const char* path);

// The first existing path formed by joining name to each directory in
// order; null when none exists.
CharArray findFileInDirs(const char* name, const std::vector<const char*>& dirs);

// A copy with control characters, DEL and "/" replaced.
CharArray makeSafeName(const char* name, char replacement);
// A path in dir that does not exist yet: dir "/" name (made safe with "-")
// when free, else the name with open, a number from 1 to limit and close
// inserted before its extension (the part after the last ".").  Throws
// Exception "Too many files with same name" when none is free or the limit
// is negative.
CharArray makeUniqueName(const char* dir, const char* name, const char* open, const char* close, int limit);
// The length of the reserved device name ("CON", "PRN", "AUX", "NUL",
// "COM1".."COM9", "LPT1".."LPT9", any case) the name begins with, when
// followed by "." or the end; 0 otherwise.
int reservedNamePrefix(const char* name) noexcept;

// Checks "/", every prefix ending before a "/" and the whole (absolute)
// path: stat and lstat must succeed (SystemException "stat(%s)",
// "lstat(%s)"), both owners must be in `trustedOwners`, and the mode must
// have neither the group- nor the other-write bit, else it throws Exception
// "<prefix>: permissions are not restrictive enough".
void checkPathSecure(const char* path, const std::set<uid_t>& trustedOwners);
// For an absolute path: when `description` is given and the path does not
// exist, throws Exception "<path> must be created and point to
// <description>"; otherwise resolves it with absolutePath, checks it with
// only root trusted, and stores the resolved path in out.
void ensureSecurePath(CharArray& out, const char* path, const char* description);

}  // namespace plat
