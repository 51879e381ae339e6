// The PAC libraries are opened on first use: a fresh process maps neither
// until it evaluates a script (the engine) or downloads one (the download
// library), and each use brings in only its own.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/cfnetwork/PacScript.h"
#include "testing/FileFixtures.h"

namespace {

// Which of the two libraries this process has mapped, as "duktape curl"
// with "-" for one that is not.
std::string mappedLibraries() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  bool duktape = false, curl = false;
  while (std::getline(maps, line)) {
    duktape |= line.find("/libduktape.so") != std::string::npos;
    curl |= line.find("/libcurl.so") != std::string::npos;
  }
  return std::string(duktape ? "duktape" : "-") + " " + (curl ? "curl" : "-");
}

// Evaluates a script and downloads one, noting what is mapped at the
// start and after each, then ends the process with the notes on stderr.
[[noreturn]] void useEachInTurn() {
  std::string steps = "start: " + mappedLibraries();
  {
    const std::string script = "function FindProxyForURL(url, host) { return 'DIRECT'; }";
    plat::CharArray answer;
    cfnetwork::CFError error;
    const bool evaluated = cfnetwork::evaluatePacScript(script.data(), script.size(), "http://a/", "a", answer, error);
    steps += std::string(", evaluated ") + (evaluated ? answer.c_str() : error.description.c_str()) + ": " +
             mappedLibraries();
    yarl_test::TempDir tmp;
    plat::CharArray body;
    plat::CharArray failure;
    size_t length = 0;
    const bool downloaded =
        cfnetwork::downloadUrl(("file://" + tmp.write("proxy.pac", script)).c_str(), body, length, failure);
    steps += std::string(", downloaded ") + (downloaded ? std::to_string(length) : failure.c_str()) + ": " +
             mappedLibraries();
  }
  std::fprintf(stderr, "%s\n", steps.c_str());
  std::fflush(stderr);
  std::_Exit(0);
}

TEST(PacLibrariesTest, EachIsMappedOnlyOnceFirstUsed) {
  // A fresh run of this executable, so that no earlier test has opened
  // either library.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(useEachInTurn(), testing::ExitedWithCode(0),
              "start: - -, evaluated DIRECT: duktape -, downloaded 56: duktape curl");
}

}  // namespace
