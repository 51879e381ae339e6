#pragma once
// Name=Value configuration files (the line format of NameValue.h): reading
// one into a configuration, and changing a file one setting at a time.
// Every rewrite goes through a transacted file, so a crash leaves either
// the old file or the new one, never half of it; a change that would not
// alter the file's settings leaves the file untouched.  Writers of one file,
// in this process or others, take turns: each holds an exclusive flock on
// "<file>.lock" beside it (created when missing, left in place) from
// reading the file to renaming the new one over it, so no change is lost.
//
// The `flags` arguments are the plat::TransactedFile flags (kPrivate makes
// a rewritten file private).  With FilePtr::kNoThrow a file that cannot be
// read or written is logged and the change answers false, leaving the file
// as it was; without it the failure throws.  Logs through the "FileConfig"
// source.

#include "qocore/base/plat/Strings.h"

namespace plat {

class Configuration;

class FileConfig {
 public:
  // Loads the file's lines into conf at the priority (values a parameter
  // refuses are passed over).  A missing file, or one under a missing
  // folder, is skipped and gives false; other failures to open or read
  // throw.
  static bool read(Configuration& conf, const char* path, int priority);
};

// The file's pairs, names compared without case.  Every failure throws,
// a missing file included.
void readConfigFile(const char* path, CaseMap& map);
// Writes the pairs transactedly and commits (under kNoThrow a failure is
// only logged).
void writeConfigFile(const char* path, const CaseMap& map, int flags = 0);

// In the functions below a missing file (or folder) counts as empty, and
// a null value as an absent entry.  Each returns whether it rewrote the
// file; under kNoThrow false is also the answer of a failure.
//
// Sets name to value (removes it for a null value) unless the file already
// holds that.
[[nodiscard]] bool updateConfigFile(const char* path, const char* name, const char* value, int flags = 0);
// Adds name=value only when the file has no entry for name.
[[nodiscard]] bool addConfigFileValue(const char* path, const char* name, const char* value, int flags = 0);
// Removes the entry for name when there is one.
[[nodiscard]] bool removeConfigFileValue(const char* path, const char* name, int flags = 0);
// Sets in the file every parameter of conf whose value text differs from
// the same parameter's in reference.
[[nodiscard]] bool mergeConfigFile(const Configuration& conf, const char* path, const Configuration& reference,
                                   int flags = 0);

}  // namespace plat
