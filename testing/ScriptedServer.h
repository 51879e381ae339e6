#pragma once
// Test helper: a TCP server on 127.0.0.1 that serves a fixed number of
// connections, one after the other, each with a script run on the server's
// own thread.  A script reads and writes real bytes; every wait is bounded,
// so a client that never comes or never sends cannot hang the test, and the
// server stops by itself after its last connection.  What the scripts
// record is read after wait() (or the destructor) has joined the thread.

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qocore/base/plat/UniqueFd.h"

namespace yarl_test {

class ScriptedServer {
 public:
  static constexpr int kWaitMs = 5000;

  // One accepted connection as a script sees it; closed when the script
  // ends, or earlier by close().
  class Conn {
   public:
    explicit Conn(plat::UniqueFd fd) : owned_(std::move(fd)), fd_(owned_.get()) {}
    // Exactly n bytes, or fewer when the peer closes or stays silent.
    std::string read(size_t n) {
      std::string out;
      while (out.size() < n && waitReadable()) {
        char buf[4096];
        const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
      }
      return out;
    }
    // Up to and including the text (an HTTP head's blank line, say).
    std::string readUntil(const std::string& end) {
      std::string out;
      while (out.size() < end.size() || out.compare(out.size() - end.size(), end.size(), end) != 0) {
        const std::string one = read(1);
        if (one.empty()) break;
        out += one;
      }
      return out;
    }
    void send(const std::string& bytes) {
      size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
      }
    }
    // When the connection closes, the peer sees a reset instead of an orderly
    // end.
    void resetOnClose() {
      const linger abort{1, 0};
      ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    // Waits (bounded) until the peer has acknowledged every byte sent: an
    // abortive close discards what has not left yet, data and all.
    void waitSent() {
      for (int i = 0; i < kWaitMs; i++) {
        int unsent = 0;
        if (::ioctl(fd_, SIOCOUTQ, &unsent) != 0 || unsent == 0) return;
        ::usleep(1000);
      }
    }
    // True when nothing arrives (not even the end) for the given time.
    bool quietFor(int ms) {
      pollfd p{fd_, POLLIN, 0};
      return ::poll(&p, 1, ms) == 0;
    }
    // True once the peer has closed (or stays silent for the wait).
    bool peerClosed() {
      char c;
      return !waitReadable() || ::recv(fd_, &c, 1, 0) <= 0;
    }
    // Closes the connection now (with a reset after resetOnClose), so that
    // the script can tell the test it has; nothing is read or sent after.
    void close() {
      owned_.reset();
      fd_ = -1;
    }

   private:
    bool waitReadable() {
      if (fd_ < 0) return false;
      pollfd p{fd_, POLLIN, 0};
      return ::poll(&p, 1, kWaitMs) == 1;
    }
    plat::UniqueFd owned_;
    int fd_;
  };

  using Script = std::function<void(Conn&)>;

  // Listens at once; each script serves one connection, in order.
  explicit ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
    fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (!fd_ || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_.get(), 8) != 0 || ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() { wait(); }

  int port() const { return port_; }
  std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }
  // Joins the server thread; afterwards accepted() may be read.
  void wait() {
    if (thread_.joinable()) thread_.join();
  }
  int accepted() const { return accepted_; }

 private:
  void serve() {
    for (const Script& script : scripts_) {
      pollfd p{fd_.get(), POLLIN, 0};
      if (::poll(&p, 1, kWaitMs) != 1) return;
      plat::UniqueFd conn(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!conn) return;
      accepted_++;
      Conn c(std::move(conn));
      script(c);
    }
  }

  std::vector<Script> scripts_;
  plat::UniqueFd fd_;
  int port_ = 0;
  int accepted_ = 0;
  std::thread thread_;
};

}  // namespace yarl_test
