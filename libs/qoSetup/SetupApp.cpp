#include "libs/qoSetup/SetupApp.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "libs/hostedremoteaccess/CloudConfig.h"
#include "libs/qoSetup/AdminHelper.h"
#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/SetupComms.h"
#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "libs/qoSetup/StartMuiMac.h"
#include "qocore/base/http/PacHelper.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/PersistentStore.h"
#include "qocore/base/os/unix/SignalHandlerApp.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/qoutil/TestFeatures.h"
#include "qocore/libs/product/Init.h"
#include "qocore/uilibs/mui/MuiComms.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "qocore/uilibs/ui/mac/MsgBox.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "SetupApp");

constexpr const char kAppName[] = "vuzovuvivovevada";
constexpr const char kDisplayNameKey[] = "qoSetup_setupapp_name_r";
constexpr const char kProductVersion[] = "2.4.0 (r2)";
constexpr const char kBuildVersion[] = "2.4.0.2";
constexpr const char kLogDefault[] = "*:file:100";
constexpr const char kPackagePath[] = "%syarl.files/Yarl-Server-Latest-MacOSX-universal.pkg";
constexpr const char kDefaultUriBase[] = "https://download.corvane.example/download/file/";

// Carries a `_UriBase` given later (command line, configuration file) into
// `_SvrUri`, while test features are on.
class UriParamDefaultSetter : public plat::ParameterChangedCallback {
 public:
  void parameterChanged(plat::ConfigParameter*, int) override {
    if (qoutil::testFeaturesEnabled()) setSvrUriDefault();
  }
};

// The wizard dialog and, referring to it, its listener: built together,
// the listener goes first.
struct Wizard {
  SetupDlg dlg;
  SetupComms comms{&dlg};
};

// Tells a running wizard of this user to come forward; false when there
// is none (or it could not be told).
bool forwardToRunningWizard() {
  try {
    SetupCommsClient client;
    (void)client.ipc().writeMsg("fg");
    client.ipc().out().endMsg(true);
    return true;
  } catch (const plat::Exception&) {
    // No wizard runs: this copy becomes it.
    return false;
  }
}

// Lives only until the platform has finished launching, so that a
// URL-open event that started this copy is still handed on.
int runUntilFinishLaunching() {
  class UrlHandler : public ui::AppDelegateUrlHandler {
   public:
    void didFinishLaunching() override { std::exit(0); }
  };
  ui::AppLoop loop;
  UrlHandler handler;
  const int code = loop.run();
  ui::AppLoop::setAppDelegate(nullptr);
  return code;
}

int runWizard() {
  plat::setLogToFile(true);
  ui::AppLoop loop;
  // Registered for the rest of the process.
  static os::SignalHandlerApp* signals = new os::SignalHandlerApp(&vlog());
  (void)signals;
  startMuiMac();
  mui::MuiComms::start(nullptr, -1, -1);
  ui::AppDelegateUrlHandler urlHandler;
  vlog().debug("Server package from %s", svrUri.getValue());
  auto wizard = std::make_unique<Wizard>();
  wizard->dlg.show();
  const int code = loop.run();
  wizard.reset();
  ui::AppLoop::setAppDelegate(nullptr);
  return code;
}

}  // namespace

plat::StringParameter uriBase("_UriBase", "URI base", kDefaultUriBase, true);

namespace {

UriParamDefaultSetter uriParamDefaultSetter;
[[maybe_unused]] const bool setterAdded = (uriBase.addCallback(&uriParamDefaultSetter), true);

}  // namespace

void setSvrUriDefault() {
  const int priority = qoutil::testFeaturesEnabled() ? plat::ConfigParameter::kDefault : plat::ConfigParameter::kPolicy;
  plat::DString uri;
  uri.appendf(kPackagePath, uriBase.getValue());
  if (!svrUri.setParam(uri.c_str(), priority)) vlog().error("Cannot set _SvrUri to %s", uri.c_str());
  cloudEndpoint() = hostedremoteaccess::loadCloudConfig(&os::PersistentStoreFile::defaultStore());
}

void printUsage(int mode, plat::Configuration& conf) {
  if (mode == plat::Configuration::kUsageXml) {
    product::printConfigXml();
  } else {
    product::printProductInfo();
    conf.printUsage(mode == plat::Configuration::kUsageAll, true);
  }
  std::fflush(stdout);
  std::exit(1);
}

int SetupApp::main(char** argv) {
  http::PacHelper::main(argv);
  try {
    os::setProductVersion(kProductVersion);
    os::setBuildVersion(kBuildVersion);
    if (argv[0] && argv[1]) {
      if (std::strcmp(argv[1], "-helper") == 0) return AdminHelper::main(argv);
      if (std::strcmp(argv[1], "-uri") == 0) return UriHandler::main(argv);
    }
    product::InitOptions options;
    options.logToFile = false;
    options.loadConfig = true;
    product::init(argv[0], kAppName, kDisplayNameKey, kLogDefault, options);
    setSvrUriDefault();
    plat::Configuration::global().parseCommandLine(argv, &printUsage);
    if (forwardToRunningWizard()) return runUntilFinishLaunching();
    return runWizard();
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    vlog().error("%s", text);
    ui::showErrorBox(e.str());
    return 1;
  }
}

}  // namespace qoSetup
