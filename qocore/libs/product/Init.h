#pragma once
// Product initialisation: the one call with which a program of the product
// family sets up, before it parses its command line, its identity, its
// per-user directories, the search folders of its translation files, its
// version and product information texts, its logging defaults (priority
// 0) and its configuration and policy files (priorities 10 and 30).
//
// Per-user folders, under $HOME (replaced by the account's home when unset
// or when running as root):
//   base            $HOME/.yarl
//   profile         base/profiles/<YARL_PROFILE>, or the base
//   config profile  base/profiles/<YARL_CONFIG_PROFILE>, or the profile
//   config dir      <config profile>/config.d, holding the user's
//                   per-application file named after the application
// all made owner-only.  YARL_PROFILE_DIR is set to the profile folder for
// children.
//
// Called once, on the main thread, before other threads exist.  The texts
// live until exit.  Failures of any step propagate as exceptions; nothing
// is rolled back.

#include <sys/types.h>

#include "qocore/base/plat/CharArray.h"

namespace plat {
class Configuration;
}

namespace product {

struct InitOptions {
  // Switch the "file" log destination on at the end.
  bool logToFile = false;
  // Read the configuration and policy files.
  bool loadConfig = false;
};

// The whole initialisation.  applicationName defaults to argv0's base name
// without ".exe"; displayNameKey (a localisation key of the title) and
// logDefault (the `Log` default, else "*:stderr:10") may be null.
void init(const char* argv0, const char* applicationName, const char* displayNameKey, const char* logDefault,
          InitOptions options);

// The steps one by one, in the order init runs them.
//
// Application identity (maker "Corvane", path component "yarl"), the
// localisation following `Locale`, HOME, and "/etc/yarl" as the system
// configuration folder and first data folder.  Throws Exception "Error:
// could not find program executable" without an executable path.
void initIdentity(const char* argv0, const char* applicationName, const char* displayNameKey);
// The per-user folders (above); the config dir becomes the base of
// os::getConfigDir.
void initProfileDirs();
// Translation files are searched in the base folder, "/etc/yarl" and the
// product folder beside the executable.
void initConfigSearchDirs();
// Version "0.1" unless set before (os::setProductVersion), documentation
// version (documentationVersion when given, else the version), and the
// version and product information texts, rebuilt on every change of
// `Locale`.
void initVersionInfo(const char* documentationVersion);
// The priority-0 values of `LogDir` (logDir, else "$HOME/Library/Logs/yarl",
// or "/Library/Logs" as root), `LogFile` (logFile, else "<app>.log") and
// `Log` (logDefault, else "*:stderr:10"); makes the "stderr" and "file"
// destinations, the latter writing compact lines when compact is set.
void initLogging(const char* logDefault, const char* logDir, const char* logFile, bool compact);
// Reads the configuration files at priority 10, then the policy files at
// 30, into conf (null: the global configuration).  The store is made on
// the first call, from the folders set up by then.  Throws Exception
// "Error reading <path>: <message>" for a file that exists but cannot be
// read.
void loadConfigFiles(plat::Configuration* conf);

// The texts; "" until set.
const char* getDocumentationVersion();
const char* getSystemConfigDir();
const char* getBaseDir();
const char* getProfileDir();
const char* getConfigProfileDir();
const char* getConfigDir();
const char* getAppConfigFile();
// "<title> <version> <processor> (<build date> <build time>)".
const char* getVersionLine();
// The maker's notices as rich-text markup.
const char* getMarkedUpProductInfo();
// "OS: <description>, <hardware name>".
const char* getOsLine();
// The version line, the maker's notices and the OS line, wrapped at 79
// columns; also the header of log files.
const char* getProductInfo();
// The address of the maker's notices for this documentation version.
const char* getNoticesAddress();

// The product information text and "\n\n" to standard output.
void printProductInfo();
// The global configuration in the XML configuration form to standard
// output.
void printConfigXml();

// Test seams.
//
// The home folder of an account; the account database by default.  Null
// restores it; returns the previous function.
using HomeLookupFn = plat::CharArray (*)(uid_t uid);
HomeLookupFn setHomeLookup(HomeLookupFn fn) noexcept;
// The build date and time ("Mmm dd yyyy", "hh:mm:ss"), the compiler's by
// default; null restores them.  Not copied.
void setBuildTime(const char* date, const char* time) noexcept;

}  // namespace product
