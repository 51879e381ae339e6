#include "qocore/base/plat/FileConfig.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <optional>

#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NameValue.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/FileInStream.h"
#include "qocore/base/rdr/TransactedFileOutStream.h"

namespace plat {

namespace {

PLAT_LOG_SOURCE(fileConfigLog, "FileConfig");

bool isMissing(const SystemException& e) noexcept { return e.error() == ENOENT || e.error() == ENOTDIR; }

// The file's pairs, or none when the file (or its folder) is missing.
CaseMap readPairsIfPresent(const char* path) {
  CaseMap map;
  try {
    readConfigFile(path, map);
  } catch (const SystemException& e) {
    if (!isMissing(e)) throw;
    map.clear();
  }
  return map;
}

// Whether the map holds value for name; an entry without value and a
// missing entry are alike.
bool holds(const CaseMap& map, const char* name, const char* value) {
  auto it = map.find(name);
  const char* current = it == map.end() ? nullptr : it->second.get();
  return strCompare(current, value) == 0;
}

void set(CaseMap& map, const char* name, const char* value) {
  if (value) {
    map.findOrInsert(name)->second = CharArray(value);
  } else if (auto it = map.find(name); it != map.end()) {
    map.erase(it);
  }
}

// Writes the pairs transactedly and commits.  Failures always throw here
// (a transacted file without a stream could not be written through), so
// kNoThrow is left to tryFileChange.
void writePairs(const char* path, const CaseMap& map, int flags) {
  rdr::TransactedFileOutStream out(path, flags & ~FilePtr::kNoThrow);
  writeNameValueLines(out, map);
  out.commit();
}

// Takes the writers' lock of the file: an exclusive flock on
// "<file>.lock" beside it, which the caller holds across reading, changing
// and renaming, so that two writers never interleave (and never share the
// temporary file).  The lock file is created when missing and never
// truncated or removed: removing it would let a later writer lock a new
// file while an earlier one still holds the old.  Targets may sit in
// folders other users can write, so a link there is refused and a FIFO
// cannot hang the open.  No lock (an empty holder) when the folder is
// missing or the file system read-only: nothing can be rewritten there.
UniqueFd lockForWriting(const char* path) {
  const CharArray lockName = DString::format("%s.lock", path);
  constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK;
  UniqueFd lock(openCloexec(lockName.c_str(), kOpenFlags | O_CREAT, 0644));
  // In a sticky folder the system may refuse O_CREAT on another user's
  // existing file; opening it as it is still serves.
  if (!lock && errno == EACCES) lock.reset(openCloexec(lockName.c_str(), kOpenFlags));
  if (!lock) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR || error == EROFS) return lock;
    throw SystemExceptionFmt("Error opening \"%s\"", error, lockName.c_str());
  }
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) throw SystemExceptionFmt("flock(%s)", errno, lockName.c_str());
  }
  return lock;
}

// Runs one change of the file under the writers' lock.  Under
// FilePtr::kNoThrow a failure to lock, read or write the file is logged
// and answered false (the file is then as it was); otherwise it
// propagates.
template <typename Change>
bool tryFileChange(const char* path, int flags, Change change) {
  auto locked = [&] {
    const UniqueFd lock = lockForWriting(path);
    return change();
  };
  if (!(flags & FilePtr::kNoThrow)) return locked();
  try {
    return locked();
  } catch (const Exception& e) {
    fileConfigLog().error("Unable to change %s: %s", path, e.str());
    return false;
  }
}

}  // namespace

bool FileConfig::read(Configuration& conf, const char* path, int priority) {
  fileConfigLog().verbose("Looking for %s config in %s", conf.getName(), path);
  std::optional<rdr::FileInStream> in;
  try {
    in.emplace(path);
  } catch (const SystemException& e) {
    if (isMissing(e)) return false;
    throw;
  }
  fileConfigLog().debug("Reading %s config from %s", conf.getName(), path);
  readNameValueConfig(*in, conf, priority);
  return true;
}

void readConfigFile(const char* path, CaseMap& map) {
  rdr::FileInStream in(path);
  readNameValueLines(in, {}, map);
}

void writeConfigFile(const char* path, const CaseMap& map, int flags) {
  (void)tryFileChange(path, flags, [&] {
    writePairs(path, map, flags);
    return true;
  });
}

bool updateConfigFile(const char* path, const char* name, const char* value, int flags) {
  return tryFileChange(path, flags, [&] {
    CaseMap map = readPairsIfPresent(path);
    if (holds(map, name, value)) return false;
    set(map, name, value);
    writePairs(path, map, flags);
    return true;
  });
}

bool addConfigFileValue(const char* path, const char* name, const char* value, int flags) {
  return tryFileChange(path, flags, [&] {
    CaseMap map = readPairsIfPresent(path);
    if (map.contains(name) || !value) return false;
    set(map, name, value);
    writePairs(path, map, flags);
    return true;
  });
}

bool removeConfigFileValue(const char* path, const char* name, int flags) {
  return tryFileChange(path, flags, [&] {
    CaseMap map = readPairsIfPresent(path);
    auto it = map.find(name);
    if (it == map.end()) return false;
    map.erase(it);
    writePairs(path, map, flags);
    return true;
  });
}

bool mergeConfigFile(const Configuration& conf, const char* path, const Configuration& reference, int flags) {
  CaseMap changed;
  if (!collectChangedParams(conf, reference, changed)) return false;
  return tryFileChange(path, flags, [&] {
    CaseMap map = readPairsIfPresent(path);
    bool rewrite = false;
    for (const auto& [name, value] : changed) {
      if (holds(map, name.get(), value.get())) continue;
      set(map, name.get(), value.get());
      rewrite = true;
    }
    if (rewrite) writePairs(path, map, flags);
    return rewrite;
  });
}

}  // namespace plat
