#include "qocore/base/qoutil/ConfigStore.h"

#include <sys/stat.h>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FileConfig.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/qoutil/SystemPath.h"

namespace qoutil {

namespace {

constexpr int kPreference = plat::ConfigParameter::kPreference;
constexpr int kPolicy = plat::ConfigParameter::kPolicy;

plat::Configuration& orGlobal(plat::Configuration* conf) { return conf ? *conf : plat::Configuration::global(); }

// Adds the files one folder contributes at a priority.
void addFolder(ConfigStoreFile::FileList& files, int priority, const char* dir, bool withCustom) {
  std::vector<plat::CharArray>& list = files[priority];
  list.push_back(plat::DString::format("%s/common", dir));
  if (withCustom) list.push_back(plat::DString::format("%s/common.custom", dir));
  list.push_back(plat::DString::format("%s/%s", dir, os::getAppName(true)));
}

}  // namespace

ConfigStoreFile::ConfigStoreFile() {
  if (plat::CharArray programDir = os::getExecutableProductDir()) {
    addFolder(files_, kPreference, plat::DString::format("%s/config.d", programDir.get()).get(), true);
    addFolder(files_, kPolicy, plat::DString::format("%s/policy.d", programDir.get()).get(), false);
  }
  plat::CharArray systemDir = systemPath(kSystemConfigDir);
  addFolder(files_, kPreference, plat::DString::format("%s/config.d", systemDir.get()).get(), true);
  if (const char* userDir = os::getConfigBase()) addFolder(files_, kPreference, userDir, false);
  addFolder(files_, kPolicy, plat::DString::format("%s/policy.d", systemDir.get()).get(), false);
}

void ConfigStoreFile::loadAll(bool withPolicy, plat::Configuration* conf) {
  load(kPreference, conf);
  if (withPolicy) loadPolicy(conf);
}

void ConfigStoreFile::load(int priority, plat::Configuration* conf) {
  auto it = files_.find(priority);
  if (it == files_.end()) return;
  plat::Configuration& target = orGlobal(conf);
  for (const plat::CharArray& path : it->second) {
    try {
      // A missing file or folder (ENOENT, ENOTDIR) gives false and is
      // skipped there.
      (void)plat::FileConfig::read(target, path.get(), priority);
    } catch (const plat::Exception& e) {
      throw plat::Exception("Error reading %s: %s", path.get(), e.str());
    }
  }
}

void ConfigStoreFile::loadPolicy(plat::Configuration* conf) { load(kPolicy, conf); }

bool ConfigStoreFile::save(const plat::Configuration& reference, plat::Configuration* conf) {
  return plat::mergeConfigFile(orGlobal(conf), userConfigFile().get(), reference);
}

void ConfigStoreFile::saveParam(const plat::ConfigParameter& param) {
  (void)plat::updateConfigFile(userConfigFile().get(), param.getName(), param.getValueStr().get());
}

void ConfigStoreFile::removeParam(const plat::ConfigParameter& param) {
  (void)plat::removeConfigFileValue(userConfigFile().get(), param.getName());
}

bool ConfigStoreFile::exists() {
  struct stat st;
  return ::stat(userConfigFile().get(), &st) == 0;
}

plat::CharArray userConfigFile() {
  plat::CharArray file = joinPath(os::getAppName(true));
  if (!file) throw plat::Exception("No user configuration directory");
  return file;
}

plat::CharArray joinPath(const char* name) {
  plat::CharArray out;
  joinPath(out, name);
  return out;
}

void joinPath(plat::CharArray& out, const char* name) {
  const char* dir = os::getConfigBase();
  if (!dir) {
    out = plat::CharArray();
    return;
  }
  plat::joinPath(out, dir, name);
}

void setParameters(const char* file, const plat::CaseMap& map) {
  for (const auto& [name, value] : map) setParameter(file, name.get(), value.get());
}

void setParameter(const char* file, const char* name, const char* value) {
  (void)plat::updateConfigFile(file, name, value);
}

}  // namespace qoutil
