#pragma once
// Test helper: a server program from the system's packages, run in the
// foreground on a free loopback port for one test and killed by its pid
// when the test is done.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/plat/UniqueFd.h"

namespace yarl_test {

// A port on 127.0.0.1 that was free a moment ago (bound and released).
inline int freeLoopbackPort() {
  const plat::UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (!probe || ::bind(probe.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return -1;
  return ntohs(addr.sin_port);
}

inline bool acceptsConnections(int port) {
  const plat::UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  return s && ::connect(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

class DaemonProcess {
 public:
  // Starts the program (args[0] is its path) and waits up to 5 s for it to
  // accept connections on 127.0.0.1:port.  running() tells whether it did.
  DaemonProcess(const std::vector<std::string>& args, int port) {
    if (::access(args[0].c_str(), X_OK) != 0) return;
    // Everything the child needs is made before the fork.
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (devNull >= 0) {
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (devNull >= 0) ::close(devNull);
    for (int i = 0; i < 500 && pid_ > 0; i++) {
      if (acceptsConnections(port)) {
        running_ = true;
        return;
      }
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~DaemonProcess() { stop(); }
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  bool running() const { return running_; }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    running_ = false;
  }

 private:
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace yarl_test
