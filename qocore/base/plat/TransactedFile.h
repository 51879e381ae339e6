#pragma once
// plat::TransactedFile: replaces a file all at once.  Everything is written
// to "<name>.tmp" beside the target, and only commit() renames it over the
// target, so readers never see a half-written file and an abandoned write
// leaves the target untouched.
//
// Folders that other users may write hold targets too (the elevated helper
// rewrites files there), so a file or link already at the temporary name
// is removed, never opened: the temporary file is always created new and a
// planted link is never followed.

#include <cstdio>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/FilePtr.h"

namespace plat {

class TransactedFile : public FilePtr {
 public:
  // Creates the temporary file for writing.  Of the FilePtr::open flags,
  // kPrivate creates it with mode 0600 instead of 0664 and kNoThrow leaves
  // the object without a stream when that fails; otherwise the failure
  // throws SystemException "Error opening \"<name>.tmp\"".  When the target
  // exists its permission bits are copied (and narrowed again under
  // kPrivate); a failure there is logged and the write goes on.
  TransactedFile(const char* name, int flags = 0);
  // Without a commit: closes the stream quietly and removes the temporary
  // file.
  ~TransactedFile();

  // Flushes, syncs and closes the stream, then renames the temporary file
  // over the target.  Throws "fflush", "fsync", "fclose" or
  // "fileRename(...)"; the target is then unchanged.  Without a stream:
  // nothing.
  //
  // Two writers of one target share the temporary name, and the later one
  // replaces the earlier one's file.  So the rename (and the destructor's
  // removal) happens only while "<name>.tmp" is still the file this writer
  // opened; otherwise commit() closes the stream, leaves both files alone
  // and throws "TransactedFile: \"<name>.tmp\" is no longer the file this
  // writer opened; \"<name>\" left unchanged".
  void commit();

  const char* name() const noexcept { return name_.c_str(); }
  // Null once committed.
  const char* tempName() const noexcept { return tempName_.get(); }

 private:
  TransactedFile(const char* name, CharArray tempName, int flags);
  static FILE* createTemporary(const char* tempName, int flags);
  // Whether the temporary name still leads to the open stream's file (true
  // when the stream is closed); a failed check is logged and counts as no.
  bool holdsTemporary() const noexcept;

  CharArray name_;
  CharArray tempName_;
};

// The FILE* forms of fileCopyPerms and fileMakePrivate, for a stream
// opened on the file.
bool fileCopyPermsFp(const char* path, FILE* fp);
void fileMakePrivateFp(FILE* fp);

}  // namespace plat
