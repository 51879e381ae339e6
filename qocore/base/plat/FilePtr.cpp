#include "qocore/base/plat/FilePtr.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogSrc.h"

namespace plat {

namespace {
PLAT_LOG_SOURCE(vlog, "FilePtr");
}  // namespace

FilePtr::~FilePtr() {
  if (fp_ && owned_ && fclose(fp_) != 0 && logCloseErrors_) {
    SystemException failure("fclose", errno);
    vlog().error("%s", failure.str());
  }
}

bool FilePtr::open(const char* path, int mode, int flags) {
  PLAT_ASSERT(mode >= kRead && mode <= kReadWrite);
  close();
  if (std::strcmp(path, "-") == 0) {
    if (mode == kReadWrite) throw Exception("Invalid mode for stdin/stdout");
    fp_ = mode == kRead ? stdin : stdout;
    owned_ = false;
    return true;
  }

  int openFlags;
  const char* modeText;
  if (mode == kRead) {
    openFlags = O_RDONLY;
    modeText = "r";
  } else if (mode == kWrite) {
    bool append = flags & kAppend;
    openFlags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
    modeText = append ? "a" : "w";
  } else if (flags & kTruncate) {
    openFlags = O_RDWR | O_CREAT | O_TRUNC;
    modeText = "w+";
  } else {
    openFlags = O_RDWR | ((flags & kCreate) ? O_CREAT : 0);
    modeText = "r+";
  }
  FILE* fp = fopenCloexec(path, openFlags, modeText, (flags & kPrivate) ? 0600 : 0664);
  if (!fp) {
    if (flags & kNoThrow) return false;
    throw SystemExceptionFmt("Error opening \"%s\"", errno, path);
  }
  fp_ = fp;
  owned_ = true;
  return true;
}

void FilePtr::close() {
  FILE* fp = fp_;
  bool owned = owned_;
  fp_ = nullptr;
  owned_ = true;
  if (fp && owned && fclose(fp) != 0) throw SystemException("fclose", errno);
}

void FilePtr::flush() {
  if (fflush(fp_) != 0) throw SystemException("fflush", errno);
}

bool FilePtr::readLine(DString& out) {
  char* line = nullptr;
  size_t capacity = 0;
  ssize_t n = getline(&line, &capacity, fp_);
  std::unique_ptr<char, void (*)(void*)> owner(line, std::free);
  if (n < 0) {
    if (ferror(fp_)) throw StdlibException("Error reading from file");
    return false;
  }
  if (n > 0 && line[n - 1] == '\n') --n;
  out.clear();
  out.append(line, static_cast<int>(n));
  out.makeValidUtf8();
  return true;
}

MBuf<unsigned char> FilePtr::readAll(int maximum) {
  int64_t size = fileGetSizeFp(fp_) - fileTell(fp_);
  if (size > maximum) throw ExceptionFmt("Error: file is too large (%lld > %d)", static_cast<long long>(size), maximum);
  // An empty file is an empty buffer, not a failure: keys and settings
  // files may legitimately be empty.
  if (size <= 0) return {};
  auto count = static_cast<size_t>(size);
  auto buffer = MBuf<unsigned char>::adopt(new unsigned char[count + 1](), static_cast<int>(count));
  if (fread(buffer.data(), 1, count, fp_) != count) {
    if (ferror(fp_)) throw StdlibException("Reading from file failed");
    throw Exception("Reading from file failed");
  }
  return buffer;
}

}  // namespace plat
