#pragma once
// Files and directories through the C library, with every failure turned
// into a SystemException whose message names the operation and the path
// (for example "mkDir(/a/b)") and whose error number is the call's errno.
// Forms that return bool never throw.  Descriptors are opened
// close-on-exec.

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <new>

#include "qocore/base/plat/Time.h"

namespace plat {

// ---- Directories ----

// mkdir with mode 0700 when makePrivate, else 0777 less the umask; true
// when created.  An existing directory gives false (made private first
// when both flags are set).  Throws "mkDir(%s)".
bool mkDir(const char* path, bool makePrivate = false, bool fixExisting = false);
// mkDir, creating the missing parents first (with the same privacy, never
// fixing existing ones).
bool mkDirs(const char* path, bool makePrivate = false, bool fixExisting = false);
// Creates the directory privately; when created, gives it the owner and
// group of its parent and the parent's mode masked with 07700 (private) or
// 07755.  True when created.  Throws "mkDirMatchParent/stat", "/chown" or
// "/chmod".
bool mkDirMatchParent(const char* path, bool makePrivate);
bool isDirectory(const char* path) noexcept;
// Removes a directory; recursive removes its contents first (directories
// by lstat recursively, anything else with remove).  A link is never
// followed, also not as path itself (ENOTDIR).  Throws "rmDir(%s)" naming
// the entry that could not be removed.
void rmDir(const char* path, bool recursive = false);
bool removeFile(const char* path) noexcept;
[[nodiscard]] bool chDir(const char* path, std::nothrow_t) noexcept;
// Throws "chDir(%s)".
void chDir(const char* path);

// ---- Entries ----

// stat succeeds; false on ENOENT or ENOTDIR; any other failure throws
// "fileExists(%s)".
bool fileExists(const char* path);
bool pathExists(const char* path) noexcept;
// Throws "fileGetSize(%s)".
int64_t fileGetSize(const char* path);
// The modification time.  Throws "fileGetTime(%s)".
TimeValue fileGetTime(const char* path);
// Sets both times (to microsecond precision); an access time of 0 means
// the modification time.  Throws "fileSetTime(%s)".
void fileSetTime(const char* path, TimeValue modified, TimeValue accessed = 0);
// Throws "fileRemove(%s)".
void fileRemove(const char* path);
// Throws "fileRename(%s,%s)".
void fileRename(const char* from, const char* to);
[[nodiscard]] bool fileRename(const char* from, const char* to, std::nothrow_t) noexcept;

// ---- Opening ----

// open with O_CLOEXEC added; -1 on failure.
[[nodiscard]] int openCloexec(const char* path, int flags, mode_t mode = 0) noexcept;
// openCloexec, then fdopen with modeText; null on failure with errno kept.
[[nodiscard]] FILE* fopenCloexec(const char* path, int flags, const char* modeText, mode_t permissions) noexcept;
// openCloexec that throws "fileOpenFd(%s)".
int fileOpenFd(const char* path, int flags, mode_t mode = 0);

// ---- Ownership and permissions ----

// Gives the file to the effective user when another user owns it, and
// masks its mode with 07700 when any group or other bit is set.  Works on
// fd when it is not -1, else on path.  Throws "fileMakePrivate/fstat",
// "/fchown", "/fchmod" (descriptor) or "fileMakePrivate/stat(%s)",
// "/chown(%s)", "/chmod(%s)" (path).
void fileMakePrivate(int fd, const char* path);
// Adds the sticky bit when missing.  Throws "fileMakeSticky/stat(%s)" or
// "fileMakeSticky/chmod(%s)".
void fileMakeSticky(const char* path);
// Gives fd the mode of the file at path; false when the path does not
// exist.  Throws "fileCopyPerms/stat(%s)" or "fileCopyPerms/fchmod".
bool fileCopyPerms(const char* path, int fd);
// Whether fd and path name the same device and inode; false when the path
// does not exist.  Throws "fileIsSameAsFd/fstat" or
// "fileIsSameAsFd/stat(%s)".
bool fileIsSameAsFd(int fd, const char* path);

// ---- Streams ----

// An exclusive fcntl write lock on the whole file (held by the process,
// not the stream).  With wait, blocks until it is free.  False when another
// process holds it; other failures throw "fileLock".
[[nodiscard]] bool fileLock(FILE* fp, bool wait);
// Throws "fileUnlock".
void fileUnlock(FILE* fp);
// fread of up to n bytes; returns the count.  At the end of the file
// throws rdr::EndOfStream "End of file"; a read error throws
// StdlibException "reading from file failed".
int fileRead(FILE* fp, void* buffer, int n);
// ftruncate, retried after EINTR.  Throws "fileTruncate()".
void fileTruncate(FILE* fp, int64_t length);
// ftello.  Throws "fileTell".
int64_t fileTell(FILE* fp);
[[nodiscard]] bool fileTell(FILE* fp, int64_t* position) noexcept;
// fseeko.  Throws "fileSeek".
void fileSeek(FILE* fp, int64_t offset, int whence);
[[nodiscard]] bool fileSeek(FILE* fp, int64_t offset, int whence, std::nothrow_t) noexcept;
// The size, by seeking to the end and back.  Throws "fileTell" or
// "fileSeek".
int64_t fileGetSizeFp(FILE* fp);

}  // namespace plat
