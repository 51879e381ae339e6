#pragma once
// The program's entry: one executable, four roles chosen by the first
// argument.  "-pacHelper" is the proxy auto-configuration child, "-helper"
// the elevated admin helper (AdminHelper.h), "-uri" the URL forwarder
// (SetupComms.h); without a mode argument the program is the wizard, once
// per user: a second start only brings the running wizard to the front.
//
// The wizard's start-up, in order: product initialisation, the default
// server-package address, the command line (a bad argument ends the
// program with 1 after an error box), the single-instance probe; then the
// log file, the application loop, the SIGINT and SIGTERM handling, the
// toolkit backend, the automation server, the URL-open handler, the wizard
// dialog and its "SetupComms" listener; the loop's status is the
// program's.

#include "qocore/base/plat/ConfigParameter.h"

namespace plat {
class Configuration;
}

namespace qoSetup {

// "_UriBase": the download server's file folder, to which the package's
// path is appended.
extern plat::StringParameter uriBase;

// `_SvrUri` from `_UriBase`, at default priority while test features are
// on (so the command line and configuration files may change it), at
// policy priority otherwise; then the process's cloud endpoint anew.
void setSvrUriDefault();

// The usage printer of the command line: the product information and the
// parameters (mode 0, 1: all of them) or the configuration as XML (mode
// 2); then the process ends with 1.
[[noreturn]] void printUsage(int mode, plat::Configuration& conf);

class SetupApp {
 public:
  // argv: the program's arguments (null-terminated).  The exit status.
  static int main(char** argv);
};

}  // namespace qoSetup
