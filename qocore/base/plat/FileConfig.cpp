#include "qocore/base/plat/FileConfig.h"

#include <cerrno>
#include <optional>

#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NameValue.h"
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

// Runs one change of the file.  Under FilePtr::kNoThrow a failure to read
// or write the file is logged and answered false (the file is then as it
// was); otherwise it propagates.
template <typename Change>
bool tryFileChange(const char* path, int flags, Change change) {
  if (!(flags & FilePtr::kNoThrow)) return change();
  try {
    return change();
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
