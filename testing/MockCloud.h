#pragma once
// Test helper: the mock cloud (testing/MockCloud.py) as a child process for
// one test.  It listens on a port of 127.0.0.1 it chooses itself; once the
// port is known its files (testing/MockCloudFixture.h) are written into a
// temporary folder, which also holds the test "CloudConfig.pkg".  The
// child stops by itself after its requests or its lifetime, and is killed
// and reaped when the helper goes in any case.  requests() reads what it
// recorded: every request it read, before its answer went out.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Json.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/UniqueFd.h"
#include "testing/FileFixtures.h"
#include "testing/MockCloudFixture.h"

namespace yarl_test {

struct MockCloudRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  int status = 0;

  // The first value of the header (names compared without regard to
  // case), or null.
  const char* header(const char* name) const {
    for (const auto& [n, v] : headers)
      if (::strcasecmp(n.c_str(), name) == 0) return v.c_str();
    return nullptr;
  }
};

// What a mock cloud serves and how long it lives.
struct MockCloudOptions {
  // The scripted answers, JSON text as MockCloud.py describes it.
  std::string script = "{}";
  // What the documents say; `plain` also makes the mock speak plain HTTP.
  MockCloudLayout layout;
  int maxRequests = 100;
  int lifetimeSecs = 30;
};

class MockCloud {
 public:
  using Options = MockCloudOptions;

  explicit MockCloud(const Options& options = {}) : plain_(options.layout.plain) {
    const std::string script = folder_.write("script.json", options.script);
    const std::string python = findProgram("python3");
    std::vector<std::string> args = {python,           sourceRoot() + "/testing/MockCloud.py",
                                     "--dir",          folder_.path(),
                                     "--script",       script,
                                     "--record",       folder_ / "record.jsonl",
                                     "--max-requests", std::to_string(options.maxRequests),
                                     "--lifetime",     std::to_string(options.lifetimeSecs)};
    if (plain_) args.push_back("--plain");
    start(args);
    plat::ScopeExit kill([this] { stop(); });
    writeMockCloud(folder_.path(), port_, options.layout);
    kill.dismiss();
  }
  ~MockCloud() { stop(); }
  MockCloud(const MockCloud&) = delete;
  MockCloud& operator=(const MockCloud&) = delete;

  int port() const { return port_; }
  // "https://127.0.0.1:<port>" ("http://" when plain).
  std::string base() const { return mockBase(port_, plain_); }
  // Holds CloudConfig.pkg: the data folder a test points the program at.
  const std::string& folder() const { return folder_.path(); }

  // What the child wrote to its standard error (its failures).
  std::string log() const { return readFile(folder_ / "mock.log"); }

  // Every request recorded so far, in order.
  std::vector<MockCloudRequest> requests() const {
    std::vector<MockCloudRequest> out;
    std::ifstream in(folder_ / "record.jsonl");
    for (std::string line; std::getline(in, line);) {
      plat::JsonReader reader(line.data(), static_cast<int32_t>(line.size()));
      plat::JsonRef entry = plat::Json::parseHttpBody(nullptr, reader);
      plat::JsonObject& object = entry->asObject();
      MockCloudRequest request;
      request.method = object.find("method")->asString().get();
      request.path = object.find("path")->asString().get();
      request.status = static_cast<int>(object.find("status")->asNumber().value());
      plat::JsonArray& headers = object.find("headers")->asArray();
      for (int i = 0; i < headers.count(); ++i) {
        plat::JsonArray& pair = headers.get(i)->asArray();
        request.headers.emplace_back(pair.get(0)->asString().get(), pair.get(1)->asString().get());
      }
      plat::MBuf<unsigned char> body;
      if (!plat::base64Decode(object.find("body")->asString().get(), body))
        throw std::runtime_error("bad body in the mock's record");
      request.body.assign(reinterpret_cast<const char*>(body.data()), static_cast<size_t>(body.count()));
      out.push_back(std::move(request));
    }
    return out;
  }

  // Kills the child (when it has not stopped by itself) and reaps it.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  // The system's own first: a wrapper found on the PATH (a version
  // manager's shim) may take seconds to start.
  static std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = std::string("/usr/bin:") + (path ? path : "/bin");
    for (size_t begin = 0; begin <= dirs.size();) {
      size_t end = dirs.find(':', begin);
      if (end == std::string::npos) end = dirs.size();
      const std::string candidate = dirs.substr(begin, end - begin) + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
      begin = end + 1;
    }
    throw std::runtime_error(std::string("no ") + name + " on the PATH");
  }

  // Starts the child and reads "PORT <n>" from its standard output.
  void start(const std::vector<std::string>& args) {
    // Everything the child needs is made before the fork.
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    plat::UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    plat::UniqueFd log(::open((folder_ / "mock.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::dup2(writeEnd.get(), 1);
      if (log) ::dup2(log.get(), 2);
      ::close_range(3, ~0U, 0);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    writeEnd.reset();
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{readEnd.get(), POLLIN, 0};
      char buf[64];
      if (::poll(&p, 1, 10000) != 1) break;
      const ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    if (line.rfind("PORT ", 0) != 0 || line.find('\n') == std::string::npos) {
      stop();
      throw std::runtime_error("the mock cloud did not start: " + readFile(folder_ / "mock.log"));
    }
    port_ = std::atoi(line.c_str() + 5);
  }

  TempDir folder_;
  bool plain_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace yarl_test
