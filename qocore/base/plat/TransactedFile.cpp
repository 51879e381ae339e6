#include "qocore/base/plat/TransactedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogSrc.h"

namespace plat {

namespace {
PLAT_LOG_SOURCE(vlog, "TransactedFile");
}  // namespace

TransactedFile::TransactedFile(const char* name, int flags)
    : TransactedFile(name, DString::format("%s.tmp", name), flags) {}

TransactedFile::TransactedFile(const char* name, CharArray tempName, int flags)
    : FilePtr(createTemporary(tempName.c_str(), flags)), name_(name), tempName_(std::move(tempName)) {
  if (!get()) {
    // kNoThrow and the open failed: whatever is at the temporary name is
    // not ours to remove.
    tempName_.reset();
    return;
  }
  try {
    bool existed = fileCopyPermsFp(name_.c_str(), get());
    // The copied bits may be wider than a private file allows.
    if (existed && (flags & kPrivate)) fileMakePrivateFp(get());
  } catch (const Exception& e) {
    vlog().error("%s", e.str());
  }
}

TransactedFile::~TransactedFile() {
  setLogCloseErrors(false);
  // Another writer of the same target may have replaced the temporary
  // file since; its file is not ours to remove.
  bool ours = tempName_ && holdsTemporary();
  try {
    close();
  } catch (const Exception&) {
    // Quietly: the temporary file goes anyway.
  }
  if (ours) ::unlink(tempName_.c_str());
}

bool TransactedFile::holdsTemporary() const noexcept {
  if (!get()) return true;  // closed by a commit that checked just before
  try {
    return fileIsSameAsFd(fileno(get()), tempName_.c_str());
  } catch (const Exception& e) {
    vlog().error("%s", e.str());
    return false;
  }
}

FILE* TransactedFile::createTemporary(const char* tempName, int flags) {
  // A stale file, or a link someone planted, goes first; O_EXCL then
  // refuses anything that appears in its place instead of following it.
  ::unlink(tempName);
  FILE* fp = fopenCloexec(tempName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, "w", (flags & kPrivate) ? 0600 : 0664);
  if (!fp && !(flags & kNoThrow)) throw SystemExceptionFmt("Error opening \"%s\"", errno, tempName);
  return fp;
}

void TransactedFile::commit() {
  if (!get()) return;
  flush();
  // The new contents must be on disk before the name points at them.
  if (fsync(fileno(get())) != 0) throw SystemException("fsync", errno);
  // A second writer of the same target starts by replacing the temporary
  // file: renaming that one would publish its half-written contents.
  if (!holdsTemporary()) {
    CharArray tempName = std::move(tempName_);
    try {
      close();
    } catch (const Exception&) {
      // The write is refused below either way.
    }
    throw ExceptionFmt("TransactedFile: \"%s\" is no longer the file this writer opened; \"%s\" left unchanged",
                       tempName.c_str(), name_.c_str());
  }
  close();
  fileRename(tempName_.c_str(), name_.c_str());
  tempName_.reset();
}

bool fileCopyPermsFp(const char* path, FILE* fp) { return fileCopyPerms(path, fileno(fp)); }

void fileMakePrivateFp(FILE* fp) { fileMakePrivate(fileno(fp), nullptr); }

}  // namespace plat
