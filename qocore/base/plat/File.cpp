#include "qocore/base/plat/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/rdr/Exceptions.h"

namespace plat {

namespace {

constexpr mode_t kPermBits = 07777;

bool isNotFound(int error) noexcept { return error == ENOENT || error == ENOTDIR; }

}  // namespace

// ---- Directories ----

bool mkDir(const char* path, bool makePrivate, bool fixExisting) {
  if (mkdir(path, makePrivate ? 0700 : 0777) == 0) return true;
  int error = errno;
  if (error == EEXIST && isDirectory(path)) {
    if (makePrivate && fixExisting) fileMakePrivate(-1, path);
    return false;
  }
  throw SystemExceptionFmt("mkDir(%s)", error, path);
}

bool mkDirs(const char* path, bool makePrivate, bool fixExisting) {
  try {
    return mkDir(path, makePrivate, fixExisting);
  } catch (const SystemException& e) {
    if (e.error() != ENOENT || !isNotRootPath(path)) throw;
  }
  mkDirs(dirName(path).get(), makePrivate, false);
  return mkDir(path, makePrivate, fixExisting);
}

bool mkDirMatchParent(const char* path, bool makePrivate) {
  if (!mkDir(path, true)) return false;
  struct stat parent;
  if (stat(dirName(path).get(), &parent) != 0) throw SystemException("mkDirMatchParent/stat", errno);
  if (chown(path, parent.st_uid, parent.st_gid) != 0) throw SystemException("mkDirMatchParent/chown", errno);
  if (chmod(path, parent.st_mode & (makePrivate ? 07700 : 07755)) != 0)
    throw SystemException("mkDirMatchParent/chmod", errno);
  return true;
}

bool isDirectory(const char* path) noexcept {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

void rmDir(const char* path, bool recursive) {
  if (recursive) {
    // Opened without following a link, so that neither a link named as the
    // folder nor one swapped in for a subfolder during the walk leads the
    // removal elsewhere: a link is "not a directory".
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw SystemExceptionFmt("rmDir(%s)", errno == ELOOP ? ENOTDIR : errno, path);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(fd), closedir);
    if (!dir) {
      const int error = errno;
      close(fd);
      throw SystemExceptionFmt("rmDir(%s)", error, path);
    }
    for (;;) {
      errno = 0;
      struct dirent* entry = readdir(dir.get());
      if (!entry) {
        if (errno) throw SystemExceptionFmt("rmDir(%s)", errno, path);
        break;
      }
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      CharArray child;
      joinPath(child, path, entry->d_name);
      struct stat st;
      if (lstat(child.get(), &st) != 0) throw SystemExceptionFmt("rmDir(%s)", errno, child.get());
      if (S_ISDIR(st.st_mode))
        rmDir(child.get(), true);
      else if (remove(child.get()) != 0)
        throw SystemExceptionFmt("rmDir(%s)", errno, child.get());
    }
  }
  if (rmdir(path) != 0) throw SystemExceptionFmt("rmDir(%s)", errno, path);
}

bool removeFile(const char* path) noexcept { return remove(path) == 0; }

bool chDir(const char* path, std::nothrow_t) noexcept { return chdir(path) == 0; }

void chDir(const char* path) {
  if (chdir(path) != 0) throw SystemExceptionFmt("chDir(%s)", errno, path);
}

// ---- Entries ----

bool fileExists(const char* path) {
  struct stat st;
  if (stat(path, &st) == 0) return true;
  if (isNotFound(errno)) return false;
  throw SystemExceptionFmt("fileExists(%s)", errno, path);
}

bool pathExists(const char* path) noexcept {
  struct stat st;
  return stat(path, &st) == 0;
}

int64_t fileGetSize(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) throw SystemExceptionFmt("fileGetSize(%s)", errno, path);
  return st.st_size;
}

TimeValue fileGetTime(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) throw SystemExceptionFmt("fileGetTime(%s)", errno, path);
  return timespecToTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

void fileSetTime(const char* path, TimeValue modified, TimeValue accessed) {
  if (accessed == 0) accessed = modified;
  const struct timeval times[2] = {timeToTimeval(accessed), timeToTimeval(modified)};
  if (utimes(path, times) != 0) throw SystemExceptionFmt("fileSetTime(%s)", errno, path);
}

void fileRemove(const char* path) {
  if (remove(path) != 0) throw SystemExceptionFmt("fileRemove(%s)", errno, path);
}

void fileRename(const char* from, const char* to) {
  if (rename(from, to) != 0) throw SystemExceptionFmt("fileRename(%s,%s)", errno, from, to);
}

bool fileRename(const char* from, const char* to, std::nothrow_t) noexcept { return rename(from, to) == 0; }

// ---- Opening ----

int openCloexec(const char* path, int flags, mode_t mode) noexcept { return open(path, flags | O_CLOEXEC, mode); }

FILE* fopenCloexec(const char* path, int flags, const char* modeText, mode_t permissions) noexcept {
  int fd = openCloexec(path, flags, permissions);
  if (fd < 0) return nullptr;
  FILE* fp = fdopen(fd, modeText);
  if (!fp) {
    int error = errno;
    close(fd);
    errno = error;
  }
  return fp;
}

int fileOpenFd(const char* path, int flags, mode_t mode) {
  int fd = openCloexec(path, flags, mode);
  if (fd < 0) throw SystemExceptionFmt("fileOpenFd(%s)", errno, path);
  return fd;
}

// ---- Ownership and permissions ----

void fileMakePrivate(int fd, const char* path) {
  struct stat st;
  uid_t me = geteuid();
  if (fd != -1) {
    if (fstat(fd, &st) != 0) throw SystemException("fileMakePrivate/fstat", errno);
    if (st.st_uid != me && fchown(fd, me, static_cast<gid_t>(-1)) != 0)
      throw SystemException("fileMakePrivate/fchown", errno);
    if ((st.st_mode & 077) && fchmod(fd, st.st_mode & 07700) != 0)
      throw SystemException("fileMakePrivate/fchmod", errno);
    return;
  }
  if (stat(path, &st) != 0) throw SystemExceptionFmt("fileMakePrivate/stat(%s)", errno, path);
  if (st.st_uid != me && chown(path, me, static_cast<gid_t>(-1)) != 0)
    throw SystemExceptionFmt("fileMakePrivate/chown(%s)", errno, path);
  if ((st.st_mode & 077) && chmod(path, st.st_mode & 07700) != 0)
    throw SystemExceptionFmt("fileMakePrivate/chmod(%s)", errno, path);
}

void fileMakeSticky(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) throw SystemExceptionFmt("fileMakeSticky/stat(%s)", errno, path);
  if ((st.st_mode & S_ISVTX) == 0 && chmod(path, (st.st_mode & kPermBits) | S_ISVTX) != 0)
    throw SystemExceptionFmt("fileMakeSticky/chmod(%s)", errno, path);
}

bool fileCopyPerms(const char* path, int fd) {
  struct stat st;
  if (stat(path, &st) != 0) {
    if (isNotFound(errno)) return false;
    throw SystemExceptionFmt("fileCopyPerms/stat(%s)", errno, path);
  }
  if (fchmod(fd, st.st_mode & kPermBits) != 0) throw SystemException("fileCopyPerms/fchmod", errno);
  return true;
}

bool fileIsSameAsFd(int fd, const char* path) {
  struct stat fdStat;
  if (fstat(fd, &fdStat) != 0) throw SystemException("fileIsSameAsFd/fstat", errno);
  struct stat pathStat;
  if (stat(path, &pathStat) != 0) {
    if (isNotFound(errno)) return false;
    throw SystemExceptionFmt("fileIsSameAsFd/stat(%s)", errno, path);
  }
  return fdStat.st_dev == pathStat.st_dev && fdStat.st_ino == pathStat.st_ino;
}

// ---- Streams ----

bool fileLock(FILE* fp, bool wait) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  for (;;) {
    if (fcntl(fileno(fp), wait ? F_SETLKW : F_SETLK, &lock) == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return false;
    throw SystemException("fileLock", errno);
  }
}

void fileUnlock(FILE* fp) {
  struct flock lock = {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fileno(fp), F_SETLK, &lock) != 0) throw SystemException("fileUnlock", errno);
}

int fileRead(FILE* fp, void* buffer, int n) {
  if (n <= 0) return 0;
  size_t count = fread(buffer, 1, static_cast<size_t>(n), fp);
  if (count > 0) return static_cast<int>(count);
  if (ferror(fp)) throw StdlibException("reading from file failed");
  throw rdr::EndOfStream("End of file");
}

void fileTruncate(FILE* fp, int64_t length) {
  while (ftruncate(fileno(fp), length) != 0) {
    if (errno != EINTR) throw SystemException("fileTruncate()", errno);
  }
}

int64_t fileTell(FILE* fp) {
  int64_t position;
  if (!fileTell(fp, &position)) throw SystemException("fileTell", errno);
  return position;
}

bool fileTell(FILE* fp, int64_t* position) noexcept {
  off_t at = ftello(fp);
  if (at < 0) return false;
  *position = at;
  return true;
}

void fileSeek(FILE* fp, int64_t offset, int whence) {
  if (!fileSeek(fp, offset, whence, std::nothrow)) throw SystemException("fileSeek", errno);
}

bool fileSeek(FILE* fp, int64_t offset, int whence, std::nothrow_t) noexcept { return fseeko(fp, offset, whence) == 0; }

int64_t fileGetSizeFp(FILE* fp) {
  int64_t position = fileTell(fp);
  fileSeek(fp, 0, SEEK_END);
  int64_t size = fileTell(fp);
  fileSeek(fp, position, SEEK_SET);
  return size;
}

}  // namespace plat
