#pragma once
// Where a program's configuration and policy files lie, reading them into
// a configuration at their priorities, and writing single settings back
// into the user's own file.
//
// ConfigStoreFile reads Name=Value files from "config.d" folders at
// preference priority (10) and from "policy.d" folders at policy priority
// (30): beside the executable ("<exe dir>/<path component>"), in the
// system folder "/etc/yarl" and, for preferences only, in the user's
// configuration directory (os::getConfigBase).  Each folder gives
// "common", then "common.custom" (the two system-wide config.d folders
// only), then the file named after the application; a later file wins
// over an earlier one at the same priority, and policy over all of them.
//
// A missing file or folder (or a plain file where a folder is expected)
// is skipped; any other failure to read stops loading with Exception
// "Error reading <path>: <message>", keeping what earlier files set.

#include <map>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace plat {
class ConfigParameter;
class Configuration;
}  // namespace plat

namespace qoutil {

class ConfigStore {
 public:
  virtual ~ConfigStore() = default;

  // In every operation a null configuration means plat::Configuration::global().
  //
  // load(kPreference), then loadPolicy when withPolicy is set.
  virtual void loadAll(bool withPolicy, plat::Configuration* conf) = 0;
  // Reads every file of that priority in order; a priority without files
  // reads nothing.
  virtual void load(int priority, plat::Configuration* conf) = 0;
  virtual void loadPolicy(plat::Configuration* conf) = 0;
  // Writes into the user's per-application file every parameter of conf
  // whose value text differs from the same parameter's in reference;
  // true when the file was rewritten.
  virtual bool save(const plat::Configuration& reference, plat::Configuration* conf) = 0;
  // Writes the parameter's value in force into the user's per-application
  // file.
  virtual void saveParam(const plat::ConfigParameter& param) = 0;
  // Removes the parameter's entry from the user's per-application file.
  virtual void removeParam(const plat::ConfigParameter& param) = 0;
  // Whether the user's per-application file exists.
  virtual bool exists() = 0;
};

class ConfigStoreFile : public ConfigStore {
 public:
  using FileList = std::map<int, std::vector<plat::CharArray>>;

  // Computes the file list once, from the application identity, the
  // executable's folder and the user's configuration directory as they
  // are now.
  ConfigStoreFile();

  void loadAll(bool withPolicy, plat::Configuration* conf) override;
  void load(int priority, plat::Configuration* conf) override;
  void loadPolicy(plat::Configuration* conf) override;
  bool save(const plat::Configuration& reference, plat::Configuration* conf) override;
  void saveParam(const plat::ConfigParameter& param) override;
  void removeParam(const plat::ConfigParameter& param) override;
  bool exists() override;

  // The paths read at each priority, in reading order.
  const FileList& files() const noexcept { return files_; }

 private:
  FileList files_;
};

// The user's per-application configuration file: the user's configuration
// directory, "/" and the application name.  Throws Exception "No user
// configuration directory" before product initialisation set it.
plat::CharArray userConfigFile();

// The path of a file in the user's configuration directory, with one "/"
// between them; null while the directory is unset.
plat::CharArray joinPath(const char* name);
void joinPath(plat::CharArray& out, const char* name);

// Writes each (name, value) of the map, in the map's order, into the
// Name=Value file (plat::updateConfigFile); a null value removes the name.
void setParameters(const char* file, const plat::CaseMap& map);
void setParameter(const char* file, const char* name, const char* value);

}  // namespace qoutil
