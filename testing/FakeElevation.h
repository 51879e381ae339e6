#pragma once
// Test helper: an elevation command for the elevated launch's stand-in
// (platform/authorization), standing where pkexec would.  While it lives,
// `_ElevateCommand` names its script and `_ForceElevation` is on (tests
// run as root, where no command would be used), so every elevated launch
// of the process runs through it.
//
// The script writes down each launch (its process id, then every argument
// on a line of its own, then a line "--") and then acts as told: by
// default it exports the given variables and execs its arguments, so the
// program it was given runs in its place with the same process id;
// otherwise it ends with a status of the test's choice (126 is a dismissed
// prompt, anything else a failed launch).

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"

namespace yarl_test {

class FakeElevation {
 public:
  // One launch as the script saw it.
  struct Launch {
    long pid = 0;
    std::vector<std::string> args;
  };

  // The script and its record go into `dir`, which must exist.  The
  // variables are exported to the launched program (values are quoted
  // for the shell, so any text is fine).
  FakeElevation(const std::string& dir, std::map<std::string, std::string> variables)
      : script_(dir + "/elevate"), record_(dir + "/elevations"), variables_(std::move(variables)) {
    execArguments();
    set("_ElevateCommand", script_.c_str());
    set("_ForceElevation", "1");
  }
  ~FakeElevation() {
    for (const char* name : {"_ElevateCommand", "_ForceElevation"}) {
      if (plat::ConfigParameter* p = plat::Configuration::global().findParam(name)) p->unsetParam(kPriority);
    }
  }
  FakeElevation(const FakeElevation&) = delete;
  FakeElevation& operator=(const FakeElevation&) = delete;

  // Launches from now on run the program (the default).
  void execArguments() {
    std::string body;
    for (const auto& [name, value] : variables_) body += "export " + name + "=" + quoted(value) + "\n";
    // The profile variables of the test's own process are not the
    // launched program's.
    body += "unset YARL_PROFILE YARL_CONFIG_PROFILE YARL_PROFILE_DIR\nexec \"$@\"\n";
    write(body);
  }
  // Exports one more variable (or another value) to the programs launched
  // from now on, which then run again.
  void setVariable(const std::string& name, const std::string& value) {
    variables_[name] = value;
    execArguments();
  }
  // Launches from now on end with the status, the program never run.
  void exitWith(int status) { write("exit " + std::to_string(status) + "\n"); }

  // Every launch so far, in order.
  std::vector<Launch> launches() const {
    std::vector<Launch> out;
    std::ifstream in(record_);
    Launch current;
    bool started = false;
    for (std::string line; std::getline(in, line);) {
      if (!started) {
        current = Launch();
        current.pid = std::stol(line);
        started = true;
      } else if (line == "--") {
        out.push_back(current);
        started = false;
      } else {
        current.args.push_back(line);
      }
    }
    return out;
  }

  const std::string& script() const { return script_; }

 private:
  static constexpr int kPriority = plat::ConfigParameter::kPolicy;

  static std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }

  static void set(const char* name, const char* value) {
    if (!plat::Configuration::global().setParam(name, value, kPriority))
      throw std::runtime_error(std::string("cannot set ") + name);
  }

  // The recording part, then what the launch does.
  void write(const std::string& action) {
    std::ofstream out(script_, std::ios::trunc);
    out << "#!/bin/sh\n"
        << "{ echo $$; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo --; } >> " << quoted(record_) << "\n"
        << action;
    out.close();
    if (!out || ::chmod(script_.c_str(), 0755) != 0) throw std::runtime_error("cannot write " + script_);
  }

  std::string script_;
  std::string record_;
  std::map<std::string, std::string> variables_;
};

}  // namespace yarl_test
