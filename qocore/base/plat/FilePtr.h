#pragma once
// plat::FilePtr: an owning holder of a C stream.  The destructor closes an
// owned stream without throwing and logs a failure through "FilePtr" when
// asked to; close() reports it as an exception instead.

#include <cstdio>

#include "qocore/base/plat/MBuf.h"

namespace plat {

class DString;

class FilePtr {
 public:
  // Modes of open().
  static constexpr int kRead = 0;       // "r"
  static constexpr int kWrite = 1;      // "w", created and truncated
  static constexpr int kReadWrite = 2;  // "r+"
  // Flags of open().
  static constexpr int kAppend = 1;    // kWrite: "a" instead of "w"
  static constexpr int kCreate = 2;    // kReadWrite: create a missing file
  static constexpr int kTruncate = 4;  // kReadWrite: "w+"
  static constexpr int kPrivate = 16;  // create with 0600 instead of 0664
  static constexpr int kNoThrow = 32;  // return false when opening fails

  FilePtr() noexcept = default;
  // Takes ownership of an open stream.
  explicit FilePtr(FILE* fp) noexcept : fp_(fp) {}
  ~FilePtr();
  FilePtr(const FilePtr&) = delete;
  FilePtr& operator=(const FilePtr&) = delete;

  // Closes any stream held, then opens path in one of the modes above.  The
  // path "-" is standard input (kRead) or output (kWrite), not owned;
  // kReadWrite on it throws Exception "Invalid mode for stdin/stdout".  A
  // failure throws SystemException "Error opening \"<path>\"" unless
  // kNoThrow is given, when it returns false.
  bool open(const char* path, int mode, int flags = 0);
  // Closes an owned stream and forgets the stream.  Throws "fclose".
  void close();
  // Throws "fflush".
  void flush();
  // Reads one line of any length into out without its LF, repaired to
  // valid UTF-8; false at the end of the file.  Throws "Error reading from
  // file".
  bool readLine(DString& out);
  // The rest of the file (the whole file when just opened).  Throws
  // Exception "Error: file is too large (%lld > %d)" past maximum bytes and
  // "Reading from file failed" when the read falls short.  The byte after
  // the last is a NUL, so text can be read in place.
  MBuf<unsigned char> readAll(int maximum);

  FILE* get() const noexcept { return fp_; }
  explicit operator bool() const noexcept { return fp_ != nullptr; }
  // Whether the destructor logs a failing close (on by default).
  void setLogCloseErrors(bool on) noexcept { logCloseErrors_ = on; }

 private:
  bool owned_ = true;
  FILE* fp_ = nullptr;
  bool logCloseErrors_ = true;
};

}  // namespace plat
