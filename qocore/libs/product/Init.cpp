#include "qocore/libs/product/Init.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/http/ProductUrl.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/Environment.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/OsVersion.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Env.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/XmlConfig.h"
#include "qocore/base/qoutil/ConfigStore.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/libs/product/ProductTexts.h"

namespace product {

namespace {

constexpr const char* kMaker = "Corvane";
constexpr const char* kPathComponent = "yarl";
constexpr const char* kDefaultVersion = "0.1";
constexpr const char* kProductUri = "https://www.corvane.example/";
// Formed with the documentation version's first part.
constexpr const char* kNoticesFormat = "https://www.corvane.example/legal/notices/yarl/%s/";
constexpr const char* kDefaultLog = "*:stderr:10";
constexpr const char* kUserLogDir = "$HOME/Library/Logs/yarl";
constexpr const char* kSystemLogDir = "/Library/Logs";

#if defined(__x86_64__)
constexpr const char* kProcessor = "x64";
#elif defined(__aarch64__)
constexpr const char* kProcessor = "arm64";
#elif defined(__i386__)
constexpr const char* kProcessor = "x86";
#else
constexpr const char* kProcessor = "unknown";
#endif

// The process-wide texts.  Made once and never destroyed: log lines
// written during exit may still read the banner and the folders.
struct Texts {
  std::string documentationVersion;
  std::string systemConfigDir;
  std::string baseDir;
  std::string profileDir;
  std::string configProfileDir;
  std::string configDir;
  std::string appConfigFile;
  std::string versionLine;
  std::string markedUpInfo;
  std::string osLine;
  std::string productInfo;
  std::string noticesAddress;
};

Texts& texts() {
  static Texts* t = new Texts;
  return *t;
}

plat::CharArray homeFromAccounts(uid_t uid) {
  os::UserInfo info;
  os::lookupUser(info, uid);
  return plat::CharArray(info.entry.pw_dir);
}

HomeLookupFn homeLookup = homeFromAccounts;
const char* buildDate = __DATE__;
const char* buildTime = __TIME__;

std::string expand(const char* text) {
  plat::DString out;
  plat::expandEnvVars(out, text, nullptr, false, true);
  return out.c_str();
}

// A set and non-empty variable's value made safe for a file name, or "".
std::string profileName(const char* variable) {
  const char* value = getenv(variable);
  if (!value || !*value) return std::string();
  return plat::makeSafeName(value, '-').get();
}

void setDefault(const char* name, const char* value) {
  if (!plat::Configuration::global().setParam(name, value, plat::ConfigParameter::kDefault))
    throw plat::Exception("Cannot set the default of %s", name);
}

// Rebuilds the version and product information texts; registered on
// `Locale`, so every change of language rebuilds them.
class VersionInfoUpdater : public plat::ParameterChangedCallback {
 public:
  explicit VersionInfoUpdater(const char* documentationVersion)
      : ownDocVersion_(documentationVersion ? documentationVersion : "") {}

  void parameterChanged(plat::ConfigParameter*, int) override;

 private:
  std::string ownDocVersion_;
};

void appendDiv(plat::DString& out, const char* key) {
  plat::Markup::div(out, 0, nullptr);
  plat::Markup::appendEscaped(out, loc::translate(key));
  out.append("</div>");
}

void VersionInfoUpdater::parameterChanged(plat::ConfigParameter*, int) {
  Texts& t = texts();
  const char* version = os::getProductVersion();

  plat::DString line;
  line.appendf("%s %s %s (%s %s)", os::getAppTitle(true), version, kProcessor, buildDate, buildTime);
  // A one-digit day of __DATE__ is padded with a blank.
  line.replaceAll("  ", " ");
  t.versionLine = line.c_str();

  std::string noticesVersion = ownDocVersion_;
  if (noticesVersion.empty()) noticesVersion = t.documentationVersion.substr(0, t.documentationVersion.find('.'));
  t.noticesAddress = plat::DString::format(kNoticesFormat, noticesVersion.c_str()).get();

  plat::DString markup;
  for (const char* key : {"product_copyright", "product_trademarks", "product_patents"}) appendDiv(markup, key);
  loc::ArgList args;
  args.str(t.noticesAddress.c_str());
  loc::formatArgs(markup, loc::translate("product_info_marked_up_fmt", nullptr, 0, true), args.first());
  t.markedUpInfo = markup.c_str();

  plat::CharArray description;
  os::osVersionString(description);
  char machine[32];
  os::machineArchitecture(machine);
  t.osLine = plat::DString::format("OS: %s, %s", description.get(), machine).get();

  plat::DString info;
  info.appendf("%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s", t.versionLine.c_str(), loc::translate("product_copyright"),
               loc::translate("product_trademarks"), loc::translate("product_patents"),
               loc::translate("product_further_info"), loc::translate("product_ack_intro"), t.noticesAddress.c_str(),
               t.osLine.c_str());
  info.replaceAll("\u00ae", "(R)");
  info.replaceAll("\u00a9", "(C)");
  info.replaceAll("\u2122", "(TM)");
  info.wordWrap(79, 0);
  t.productInfo = info.c_str();
  plat::setLogBanner(t.productInfo.c_str());
}

}  // namespace

void init(const char* argv0, const char* applicationName, const char* displayNameKey, const char* logDefault,
          InitOptions options) {
  initIdentity(argv0, applicationName, displayNameKey);
  initProfileDirs();
  initConfigSearchDirs();
  initVersionInfo(nullptr);
  initLogging(logDefault, nullptr, nullptr, false);
  // The maker's address under its links; a valid text is never refused.
  (void)http::productUri.setParam(kProductUri, plat::ConfigParameter::kDefault);
  if (options.loadConfig) loadConfigFiles(nullptr);
  if (options.logToFile) plat::setLogToFile(true);
}

void initIdentity(const char* argv0, const char* applicationName, const char* displayNameKey) {
  registerProductTexts();
  const char* name = applicationName ? applicationName : argv0;
  os::init(name ? name : "", kMaker, kPathComponent, displayNameKey, nullptr);
  loc::Localize::instance().init({});
  const char* executable = os::getExecutablePath();
  if (!executable) throw plat::Exception("Error: could not find program executable");
  if (!applicationName) os::setAppName(plat::baseName(argv0 ? argv0 : executable, ".exe").get());
  // As root HOME may still name the invoking user's home: files made there
  // would belong to root.
  if (!getenv("HOME") || geteuid() == 0) os::setEnv("HOME", homeLookup(geteuid()).get());
  Texts& t = texts();
  t.systemConfigDir = qoutil::systemPath(qoutil::kSystemConfigDir).get();
  os::setConfiguredDataDir(t.systemConfigDir.c_str());
}

void initProfileDirs() {
  Texts& t = texts();
  t.baseDir = expand("$HOME/.yarl");
  std::string profiles = t.baseDir + "/profiles";
  std::string profile = profileName("YARL_PROFILE");
  t.profileDir = profile.empty() ? t.baseDir : profiles + "/" + profile;
  std::string configProfile = profileName("YARL_CONFIG_PROFILE");
  t.configProfileDir = configProfile.empty() ? t.profileDir : profiles + "/" + configProfile;
  t.configDir = t.configProfileDir + "/config.d";
  t.appConfigFile = t.configDir + "/" + os::getAppName(true);
  os::setEnv("YARL_PROFILE_DIR", t.profileDir.c_str());
  (void)plat::mkDir(t.baseDir.c_str(), true);
  (void)plat::mkDirs(t.profileDir.c_str(), true);
  (void)plat::mkDirs(t.configDir.c_str(), true);
  os::setConfigBase(t.configDir.c_str());
}

void initConfigSearchDirs() {
  Texts& t = texts();
  std::vector<std::string> dirs{t.baseDir, t.systemConfigDir};
  if (plat::CharArray productDir = os::getExecutableProductDir()) dirs.emplace_back(productDir.get());
  loc::Localize::instance().setResourceDirs(dirs);
}

void initVersionInfo(const char* documentationVersion) {
  if (!*os::getProductVersion()) os::setProductVersion(kDefaultVersion);
  Texts& t = texts();
  if (t.documentationVersion.empty()) t.documentationVersion = os::getProductVersion();
  plat::ConfigParameter* locale = plat::Configuration::global().findParam("Locale");
  // Never destroyed: `Locale` keeps calling it until the process ends.
  static VersionInfoUpdater* updater = [documentationVersion, locale] {
    auto* made = new VersionInfoUpdater(documentationVersion);
    if (locale) locale->addCallback(made);
    return made;
  }();
  updater->parameterChanged(locale, plat::ConfigParameter::kDefault);
}

void initLogging(const char* logDefault, const char* logDir, const char* logFile, bool compact) {
  if (!getenv("YARL_PROFILE_DIR")) os::setEnv("YARL_PROFILE_DIR", expand("$HOME/.yarl").c_str());
  if (logDir) {
    setDefault("LogDir", logDir);
  } else if (geteuid() == 0) {
    setDefault("LogDir", qoutil::systemPath(kSystemLogDir).get());
  } else {
    setDefault("LogDir", kUserLogDir);
  }
  const char* app = os::getAppName(true);
  setDefault("LogFile", logFile ? logFile : plat::DString::format("%s.log", app).get());
  plat::LogDestFile::stderrDest(app);
  plat::LogDestFile::fileDest(app, false);
  if (compact) setDefault("CompactLog", "1");
  setDefault("Log", logDefault ? logDefault : kDefaultLog);
}

void loadConfigFiles(plat::Configuration* conf) {
  static qoutil::ConfigStoreFile store;
  store.load(plat::ConfigParameter::kPreference, conf);
  store.loadPolicy(conf);
}

const char* getDocumentationVersion() { return texts().documentationVersion.c_str(); }
const char* getSystemConfigDir() { return texts().systemConfigDir.c_str(); }
const char* getBaseDir() { return texts().baseDir.c_str(); }
const char* getProfileDir() { return texts().profileDir.c_str(); }
const char* getConfigProfileDir() { return texts().configProfileDir.c_str(); }
const char* getConfigDir() { return texts().configDir.c_str(); }
const char* getAppConfigFile() { return texts().appConfigFile.c_str(); }
const char* getVersionLine() { return texts().versionLine.c_str(); }
const char* getMarkedUpProductInfo() { return texts().markedUpInfo.c_str(); }
const char* getOsLine() { return texts().osLine.c_str(); }
const char* getProductInfo() { return texts().productInfo.c_str(); }
const char* getNoticesAddress() { return texts().noticesAddress.c_str(); }

void printProductInfo() {
  fputs(texts().productInfo.c_str(), stdout);
  fputs("\n\n", stdout);
}

void printConfigXml() {
  plat::CharArray xml = plat::XmlConfig::write(plat::Configuration::global(), false);
  fputs(xml.get(), stdout);
}

HomeLookupFn setHomeLookup(HomeLookupFn fn) noexcept {
  HomeLookupFn previous = homeLookup;
  homeLookup = fn ? fn : homeFromAccounts;
  return previous;
}

void setBuildTime(const char* date, const char* time) noexcept {
  buildDate = date ? date : __DATE__;
  buildTime = time ? time : __TIME__;
}

}  // namespace product
