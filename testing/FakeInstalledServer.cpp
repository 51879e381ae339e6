// fake_installed_server: stands in for the installed remote-access server
// wherever the admin helper runs it or talks to it: in the helper's tests
// and in whole-program runs.  It takes the two command lines the setup
// application gives the server, writes the credentials record the helper
// reads, and serves the server's control channel.
//
// Its folder is $YARL_FAKE_SERVER_DIR, which it refuses to run without: run
// as root it would otherwise work in root's own home.  The folder is the
// server's configuration base, so the credentials go where the helper looks
// for them ("<dir>/yarlserver.d/CloudCredentials.bed"), and it holds the
// records the tests read.  The control channel's socket folder lies under
// $YARL_FAKE_SERVER_TMP when that is set, else under the system's
// temporary folder.
//
//   -service -joincloud <token file>
//       copies the token file's bytes to "<dir>/joincloud.token" and writes
//       the credentials record with the capability features listed in
//       $YARL_FAKE_SERVER_FEATURES (comma-separated; "SYSTEM_AUTH" when
//       unset).  A token file that is missing or empty ends it with 1 and
//       nothing written.
//   -service -showexistingstatus
//       appends the line "showexistingstatus" to "<dir>/showexistingstatus"
//       (a FIFO made there in advance lets a test wait for it).
//   -service
//       listens on the service-mode control channel "CtrlComms" and prints
//       "ready" once it listens.  It answers
//       "verifyChannel" with "channelCreds" (the client then checks that the
//       server runs as root) and records the name of every message it reads
//       as a line of "<dir>/ctrlcomms" and of its standard output.  It ends
//       on "stop" or when its standard input ends.
//
// Any failure is written to stderr and ends it with 2.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "libs/hostedremoteaccess/CredentialsFile.h"
#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/InStream.h"

namespace {

constexpr const char kProgram[] = "yarlserver";

std::string dir;

// Appends text to the file, made when missing.
void appendTo(const std::string& path, const std::string& text) {
  plat::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd) throw plat::SystemExceptionFmt("open(%s)", errno, path.c_str());
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd.get(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw plat::SystemExceptionFmt("write(%s)", errno, path.c_str());
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// The whole file, or false when it cannot be read.
bool readFile(const char* path, std::string& out) {
  plat::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

int joinCloud(const char* tokenFile) {
  std::string token;
  if (!readFile(tokenFile, token) || token.empty()) {
    std::fprintf(stderr, "fake_installed_server: no join token in %s\n", tokenFile);
    return 1;
  }
  plat::UniqueFd copy(::open((dir + "/joincloud.token").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!copy || ::write(copy.get(), token.data(), token.size()) != static_cast<ssize_t>(token.size()))
    throw plat::SystemException("joincloud.token", errno);

  hostedremoteaccess::SCredentialsData creds;
  creds.serverId = plat::CharArray("fake-server-id");
  creds.serverName = plat::CharArray("Fake server");
  creds.serverSecret = plat::CharArray("fake-server-secret");
  creds.team.id = plat::CharArray("fake-team-id");
  creds.team.name = plat::CharArray("Fake team");
  creds.principal = plat::CharArray("fake-principal");
  creds.principalPassword = plat::CharArray("fake-principal-password");
  creds.renewFrom = 0;
  const char* features = std::getenv("YARL_FAKE_SERVER_FEATURES");
  if (!features) features = "SYSTEM_AUTH";
  if (*features) creds.team.capsFeatures = plat::splitToSet(features, ',');
  hostedremoteaccess::CredentialsFile file(&hostedremoteaccess::getProgramStore(kProgram), false);
  file.save(*creds.toBed());
  return 0;
}

// The control channel.  Every client keeps its own channel until the
// server ends, so that what one sent before it went is read even when the
// next has connected.
class CtrlComms : public io::IoAcceptor, public io::IoHandler {
 public:
  ~CtrlComms() override {
    if (!input_) return;
    // Without a handler the shutdown completes at once.
    input_->setHandler(nullptr, false);
    input_->shutdown(false, false);
  }

  // Ends the server when standard input ends.
  void watchInput() {
    input_ = new io::FdIo(0, false, false, -1, -1, true);
    input_->setHandler(this, true);
  }
  bool done() const noexcept { return done_; }

  void acceptIo(io::Io* io) override { clients_.push_back(std::make_unique<Client>(*this, io)); }

  void readable(io::Io& io) override {
    try {
      for (;;) {
        int32_t n = 4096;
        // Whatever arrives is consumed and dropped.
        if (!io.in().getItems(1, &n, false)) return;
        io.in().setCheckpoint();
      }
    } catch (const rdr::EndOfStream&) {
      done_ = true;
    }
  }
  // A failed read shut the input down; it deletes itself.
  void shutdownDone(io::Io&) override {
    input_ = nullptr;
    done_ = true;
  }

 private:
  class Client : public io::MsgIpc::Callback, public io::MsgIpc::Reader {
   public:
    Client(CtrlComms& server, io::Io* io) : server_(server), channel_(this, "FakeCtrlComms", false, false) {
      for (const char* name : {"verifyChannel", "showStatus", "showStatusDialog", "reload", "stop", "disconnClient",
                               "getConfig", "setConfig", "getConnections"})
        channel_.setReader(name, this);
      channel_.attach(io);
    }
    bool readMsg(const char* name, rdr::InStream&, io::MsgIpc& ipc) override {
      server_.record(name, ipc);
      return true;
    }
    void closed(io::MsgIpc&) override {}

   private:
    CtrlComms& server_;
    io::MsgIpc channel_;
  };

  void record(const char* name, io::MsgIpc& ipc) {
    appendTo(dir + "/ctrlcomms", std::string(name) + "\n");
    std::printf("%s\n", name);
    std::fflush(stdout);
    if (std::strcmp(name, "verifyChannel") == 0) {
      ipc.writeMsg("channelCreds");
      ipc.out().endMsg(true);
    } else if (std::strcmp(name, "stop") == 0) {
      done_ = true;
    }
  }

  std::vector<std::unique_ptr<Client>> clients_;
  io::Io* input_ = nullptr;
  bool done_ = false;
};

int serveCtrlComms() {
  io::FdSelectManager loop(false);
  plat::CharArray path = os::makeUniqueName("CtrlComms", "yarlservice", kProgram, 0, -1);
  os::NamedPipeListener::Options options;
  options.createDirectory = true;
  os::NamedPipeListener listener(path.c_str(), options);
  CtrlComms server;
  listener.setAcceptor(&server);
  server.watchInput();
  std::printf("ready\n");
  std::fflush(stdout);
  while (!server.done()) loop.poll(-1);
  listener.setAcceptor(nullptr);
  return 0;
}

int run(int argc, char** argv) {
  const char* base = std::getenv("YARL_FAKE_SERVER_DIR");
  if (!base || !*base) {
    std::fprintf(stderr, "fake_installed_server: YARL_FAKE_SERVER_DIR is not set\n");
    return 2;
  }
  dir = base;
  os::init(kProgram, "Corvane", "yarl", nullptr, nullptr);
  os::setConfigBase(base);
  // Read once and kept: the temporary-folder seam does not copy.
  static const std::string tmp = std::getenv("YARL_FAKE_SERVER_TMP") ? std::getenv("YARL_FAKE_SERVER_TMP") : "";
  if (!tmp.empty()) os::setTempDir(tmp.c_str());

  if (argc == 4 && std::strcmp(argv[1], "-service") == 0 && std::strcmp(argv[2], "-joincloud") == 0)
    return joinCloud(argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "-service") == 0 && std::strcmp(argv[2], "-showexistingstatus") == 0) {
    appendTo(dir + "/showexistingstatus", "showexistingstatus\n");
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "-service") == 0) return serveCtrlComms();
  std::fprintf(stderr, "usage: fake_installed_server -service [-joincloud <token file> | -showexistingstatus]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "fake_installed_server: %s\n", e.str());
    return 2;
  }
}
