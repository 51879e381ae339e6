#pragma once
// Fixtures for the desktop's URL services: a private set of XDG folders,
// and an opener program that records what it was asked to open.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "testing/FileFixtures.h"

namespace yarl_test {

// Points every XDG base folder into a temporary folder and unsets
// XDG_CURRENT_DESKTOP, so that nothing reads or writes the user's own
// desktop settings; the environment comes back at the end.
class XdgHome {
 public:
  XdgHome() {
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    set("HOME", dir_.path());
    set("XDG_DATA_HOME", dir_ / "data");
    set("XDG_CONFIG_HOME", dir_ / "config");
    set("XDG_DATA_DIRS", dir_ / "system-data");
    set("XDG_CONFIG_DIRS", dir_ / "system-config");
    set("XDG_CACHE_HOME", dir_ / "cache");
    set("XDG_STATE_HOME", dir_ / "state");
    set("XDG_RUNTIME_DIR", dir_ / "runtime");
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("XDG_MENU_PREFIX");
  }
  ~XdgHome() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  XdgHome(const XdgHome&) = delete;
  XdgHome& operator=(const XdgHome&) = delete;

  const TempDir& dir() const { return dir_; }
  std::string dataHome() const { return dir_ / "data"; }
  std::string configHome() const { return dir_ / "config"; }
  std::string mimeappsList() const { return dir_ / "config/mimeapps.list"; }
  static void set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

 private:
  static constexpr const char* kVariables[] = {
      "HOME",           "XDG_DATA_HOME",  "XDG_CONFIG_HOME", "XDG_DATA_DIRS",       "XDG_CONFIG_DIRS",
      "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "XDG_CURRENT_DESKTOP", "XDG_MENU_PREFIX"};
  TempDir dir_;
  std::map<std::string, std::optional<std::string>> saved_;
};

// A shell script that writes its argument count and arguments, one a
// line, to a file beside it; started detached, so wait() polls for it.
class RecordingOpener {
 public:
  RecordingOpener() {
    path_ = dir_.write("opener", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n",
                       0755);
  }
  const char* path() const { return path_.c_str(); }
  // The recorded lines, or "<none>" when the opener has not run within
  // the time allowed.
  std::string wait(std::chrono::seconds limit = std::chrono::seconds(20)) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      std::string text = readFile(path_ + ".args");
      if (text != "<missing>") return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "<none>";
  }
  bool ran() const { return readFile(path_ + ".args") != "<missing>"; }

 private:
  TempDir dir_;
  std::string path_;
};

}  // namespace yarl_test
