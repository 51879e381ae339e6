#include "qocore/base/plat/FileConfig.h"

#include <cerrno>
#include <optional>

#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
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
  rdr::TransactedFileOutStream out(path, flags);
  writeNameValueLines(out, map);
  out.commit();
}

bool updateConfigFile(const char* path, const char* name, const char* value, int flags) {
  CaseMap map = readPairsIfPresent(path);
  if (holds(map, name, value)) return false;
  set(map, name, value);
  writeConfigFile(path, map, flags);
  return true;
}

bool addConfigFileValue(const char* path, const char* name, const char* value, int flags) {
  CaseMap map = readPairsIfPresent(path);
  if (map.contains(name) || !value) return false;
  set(map, name, value);
  writeConfigFile(path, map, flags);
  return true;
}

bool removeConfigFileValue(const char* path, const char* name, int flags) {
  CaseMap map = readPairsIfPresent(path);
  auto it = map.find(name);
  if (it == map.end()) return false;
  map.erase(it);
  writeConfigFile(path, map, flags);
  return true;
}

bool mergeConfigFile(const Configuration& conf, const char* path, const Configuration& reference, int flags) {
  CaseMap changed;
  if (!collectChangedParams(conf, reference, changed)) return false;
  CaseMap map = readPairsIfPresent(path);
  bool rewrite = false;
  for (const auto& [name, value] : changed) {
    if (holds(map, name.get(), value.get())) continue;
    set(map, name.get(), value.get());
    rewrite = true;
  }
  if (rewrite) writeConfigFile(path, map, flags);
  return rewrite;
}

}  // namespace plat
