#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "libs/score/ConnectionInfo.h"
#include "libs/score/Mode.h"
#include "libs/smisc/CtrlCommsClientHelper.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/rdr/OutStream.h"
#include "testing/Descriptors.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using smisc::CtrlCommsClientHelper;

// One message: its name and the bytes of its body.
struct Message {
  std::string name;
  std::string body;
  bool operator==(const Message&) const = default;
};

}  // namespace

namespace score {
void PrintTo(const ConnectionInfo& info, std::ostream* os) {
  *os << "{";
  for (const plat::CharArray& field : info.fields)
    *os << (field.isNull() ? "null" : "\"" + std::string(field.get()) + "\"") << " ";
  *os << "}";
}
}  // namespace score

namespace {

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

void PrintTo(const Message& m, std::ostream* os) { *os << m.name << " " << toHex(m.body); }

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

using yarl_test::writeAll;

std::string readAll(int fd) { return yarl_test::readToEnd(fd); }

// The wire form of a list of connection records.
std::string connectionsBody(const std::vector<score::ConnectionInfo>& records) {
  rdr::MemOutStream out;
  out.writeU16(static_cast<uint16_t>(records.size()));
  for (const score::ConnectionInfo& record : records) record.write(out);
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

// A server of the control channel in a forked child: it listens at the
// path (as root, or as an unprivileged user), takes one client, records
// every message it reads and answers the ones its script names.  It ends
// when the client goes, or after ten seconds without one.
class FakeServer {
 public:
  // On reading a message named `on`, the server sends `answers`; each step
  // is used once, in order.
  struct Step {
    std::string on;
    std::vector<Message> answers;
  };
  enum As { kRoot, kNobody };

  FakeServer(const std::string& path, std::vector<Step> script, As as) {
    int ready[2], report[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0) {
      startup_ = "pipe failed";
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(report[0]);
      std::string log;
      int readyFd = ready[1];
      try {
        log = serve(path, script, as, readyFd);
      } catch (const plat::Exception& e) {
        log = std::string("error ") + e.str();
      } catch (const std::exception& e) {
        log = std::string("error ") + e.what();
      }
      if (readyFd >= 0) writeAll(readyFd, "failed to start: " + log);
      writeAll(report[1], log);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(report[1]);
    report_.reset(report[0]);
    plat::UniqueFd readyFd(ready[0]);
    startup_ = readAll(readyFd.get());
  }

  ~FakeServer() {
    report_.reset();
    if (pid_ > 0) {
      int status;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }

  // "ready" once the server listens, else what went wrong.
  const std::string& startup() const { return startup_; }

  // Everything the server read, once the client has gone.
  std::vector<Message> seen() {
    std::vector<Message> messages;
    std::string log = readAll(report_.get());
    size_t start = 0;
    while (start < log.size()) {
      size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      std::string line = log.substr(start, end - start);
      size_t space = line.find(' ');
      if (line.rfind("error ", 0) == 0 || space == std::string::npos) {
        messages.push_back({line, ""});
      } else {
        messages.push_back({line.substr(0, space), fromHex(line.substr(space + 1))});
      }
      start = end + 1;
    }
    return messages;
  }

 private:
  // Records each message and sends the answers of its step.
  class Recorder : public io::MsgIpc::Reader {
   public:
    explicit Recorder(std::vector<Step> script) : script_(std::move(script)) {}
    bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override {
      std::string body;
      while (!in.atEnd()) body += static_cast<char>(in.readU8());
      log += std::string(name) + " " + toHex(body) + "\n";
      for (Step& step : script_) {
        if (step.on != name) continue;
        for (const Message& answer : step.answers) {
          rdr::OutStream& out = ipc.writeMsg(answer.name.c_str());
          out.writeBytes(answer.body.data(), static_cast<int32_t>(answer.body.size()));
          ipc.out().endMsg(true);
        }
        step.on.clear();
        break;
      }
      return true;
    }
    std::string log;

   private:
    std::vector<Step> script_;
  };

  // Closes `ready` (and sets it to -1) once the server listens.
  static std::string serve(const std::string& path, const std::vector<Step>& script, As as, int& ready) {
    if (as == kNobody) yarl_test::becomeUser(yarl_test::nobody());
    io::FdSelectManager loop(true);
    os::NamedPipeListener::Options options;
    options.createDirectory = true;
    options.makePrivate = true;
    os::NamedPipeListener listener(path.c_str(), options);
    writeAll(ready, "ready");
    ::close(ready);
    ready = -1;
    io::Io* connection = listener.acceptWaiting(10000);
    if (!connection) return "error no client";
    connection->setTimeout(10000);
    io::MsgIpc channel(nullptr, "FakeCtrlComms", true, false);
    Recorder recorder(script);
    for (const char* name : {"verifyChannel", "showStatus", "showStatusDialog", "reload", "stop", "disconnClient",
                             "getConfig", "setConfig", "getConnections"})
      channel.setReader(name, &recorder);
    channel.attach(connection);
    try {
      for (;;) channel.readMessage(nullptr);
    } catch (const rdr::EndOfStream&) {
      // The client has gone.
    } catch (const plat::Exception& e) {
      recorder.log += std::string("error ") + e.str() + "\n";
    }
    return recorder.log;
  }

  pid_t pid_ = -1;
  std::string startup_;
  plat::UniqueFd report_;
};

class CtrlCommsClientHelperTest : public testing::Test {
 protected:
  void SetUp() override {
    os::init("vuzovu", "maker", "yarl", nullptr, nullptr);
    // Writable by all, like /tmp, so that an unprivileged server can make
    // its folder.
    ASSERT_EQ(::chmod(tmp_.c_str(), 01777), 0);
    os::setTempDir(tmp_.c_str());
  }
  void TearDown() override {
    score::setCurrentMode(score::kUser);
    os::setTempDir(nullptr);
  }

  yarl_test::TempDir tmp_;
};

TEST_F(CtrlCommsClientHelperTest, TheSocketAndThePeerFollowTheServerMode) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to ask as an unprivileged user";
  // Asked as an ordinary user, so that the effective user is not root.
  const yarl_test::User nobody = yarl_test::nobody();
  std::string answers = yarl_test::inChild([&] {
    yarl_test::becomeUser(nobody);
    std::string out;
    for (score::Mode mode : {score::kService, score::kUser, score::kVirtual}) {
      score::setCurrentMode(mode);
      out += std::string(score::currentModeName()) + " " + CtrlCommsClientHelper::socketPath("yarlserver").c_str() +
             " " + CtrlCommsClientHelper::socketPath(nullptr).c_str() + " " +
             std::to_string(CtrlCommsClientHelper::expectedPeerUid()) + "\n";
    }
    return out;
  });
  const std::string user = tmp_ / (".yarl-" + std::to_string(nobody.uid));
  const std::string service = tmp_ / ".yarl-yarlservice";
  const std::string uid = std::to_string(nobody.uid);
  EXPECT_EQ(answers, "service " + service + "/yarlserver.CtrlComms " + service + "/vuzovu.CtrlComms 0\n" + "user " +
                         user + "/yarlserver.CtrlComms " + user + "/vuzovu.CtrlComms " + uid + "\n" + "virtual " +
                         user + "/yarlserver.CtrlComms " + user + "/vuzovu.CtrlComms " + uid + "\n");
  // The user's own folder is made private; the service's is not made.
  struct stat info {};
  ASSERT_EQ(::lstat(user.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  EXPECT_EQ(info.st_uid, nobody.uid);
  EXPECT_NE(::access(service.c_str(), F_OK), 0);
}

TEST_F(CtrlCommsClientHelperTest, CommandsGoOutAsWrittenAndRepliesReplaceWhatWasHeld) {
  score::setCurrentMode(score::kService);
  const std::string path = CtrlCommsClientHelper::socketPath("yarlserver").c_str();
  ASSERT_EQ(path, tmp_ / ".yarl-yarlservice/yarlserver.CtrlComms");

  const std::vector<score::ConnectionInfo> first = {{"1", "alice", "u1", "h1", "Standard user", ""},
                                                    {"2", "bob", "u2", "h2", "View-only user", nullptr},
                                                    {"3", "", "u3", "h3", "", "x"}};
  const std::vector<score::ConnectionInfo> second = {
      {"4", "carol", "u4", "h4", "a", "b"}, {"5", "dave", "u5", "h5", "c", "d"}, {"6", "erin", "u6", "h6", "e", "f"}};
  FakeServer server(path,
                    {{"verifyChannel", {{"channelCreds", "ignored"}}},
                     {"getConfig", {{"getConfigReply", "Authentication=SystemAuth\nNote=two\\nlines\n"}}},
                     {"getConnections", {{"getConnectionsReply", connectionsBody(first)}}},
                     {"getConfig", {{"getConfigReply", ""}}},
                     {"getConnections", {{"getConnectionsReply", connectionsBody(second)}}},
                     {"getConnections", {{"getConnectionsReply", connectionsBody({})}}}},
                    FakeServer::kRoot);
  ASSERT_EQ(server.startup(), "ready");

  plat::CaseMap settings;
  settings.findOrInsert("Password")->second = plat::CharArray("a\nb\\c\r");
  settings.findOrInsert("authentication")->second = plat::CharArray("SystemAuth");
  const std::string longText(300, 'u');
  {
    CtrlCommsClientHelper client(path.c_str(), CtrlCommsClientHelper::expectedPeerUid());
    client.showStatus();
    client.showStatusDialog();
    client.reload();
    client.stop();
    client.disconnClient(longText.c_str(), "all");
    client.setConfig(settings);

    client.getConfig("Authentication");
    client.waitForReply("getConfigReply");
    ASSERT_EQ(client.config().size(), 2u);
    EXPECT_STREQ(client.config().at(plat::CharArray("authentication")).get(), "SystemAuth");
    EXPECT_STREQ(client.config().at(plat::CharArray("Note")).get(), "two\nlines");
    client.getConnections();
    client.waitForReply("getConnectionsReply");
    // A missing text went as an empty one.
    std::vector<score::ConnectionInfo> firstRead = first;
    firstRead[1].fields[5] = plat::CharArray("");
    EXPECT_EQ(client.connections(), firstRead);

    client.getConfig("");
    client.waitForReply("getConfigReply");
    EXPECT_TRUE(client.config().empty());
    client.getConnections();
    client.waitForReply("getConnectionsReply");
    EXPECT_EQ(client.connections(), second);
    client.getConnections();
    client.waitForReply("getConnectionsReply");
    EXPECT_TRUE(client.connections().empty());
  }

  const std::vector<Message> expected = {
      {"verifyChannel", ""},
      {"showStatus", ""},
      {"showStatusDialog", ""},
      {"reload", ""},
      {"stop", ""},
      {"disconnClient", "\xff" + std::string(255, 'u') +
                            "\x03"
                            "all"},
      {"setConfig", "authentication=SystemAuth\nPassword=a\\nb\\\\c\\r\n"},
      {"getConfig",
       "\x0e"
       "Authentication"},
      {"getConnections", ""},
      {"getConfig", std::string(1, '\0')},
      {"getConnections", ""},
      {"getConnections", ""},
  };
  EXPECT_EQ(server.seen(), expected);
}

TEST_F(CtrlCommsClientHelperTest, APeerThatIsNotTheExpectedOneIsRefusedBeforeAnyCommand) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to run the server as another user";
  score::setCurrentMode(score::kService);
  struct Case {
    const char* name;
    bool defaultConstructor;
    FakeServer::As as;
    std::vector<Message> answers;
    std::string failure;
  };
  const Case cases[] = {
      {"another user", false, FakeServer::kNobody, {{"channelCreds", ""}}, "namedPipeCredCheck: uid mismatch"},
      {"another user, path from the mode",
       true,
       FakeServer::kNobody,
       {{"channelCreds", ""}},
       "namedPipeCredCheck: uid mismatch"},
      {"another message first",
       false,
       FakeServer::kRoot,
       {{"getConfigReply", ""}},
       "MsgIpc: expected message channelCreds, got getConfigReply"},
      {"no answer", false, FakeServer::kRoot, {}, "[TimedOut] Timed out waiting for response from Corvane Server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = CtrlCommsClientHelper::socketPath(c.defaultConstructor ? nullptr : "yarlserver").c_str();
    {
      FakeServer server(path, {{"verifyChannel", c.answers}}, c.as);
      ASSERT_EQ(server.startup(), "ready");
      std::string failure = "(nothing thrown)";
      try {
        auto client = c.defaultConstructor ? std::make_unique<CtrlCommsClientHelper>()
                                           : std::make_unique<CtrlCommsClientHelper>(path.c_str(), 0);
        client->reload();
      } catch (const plat::Exception& e) {
        char text[plat::Exception::kMsgSize];
        e.format(text);
        failure = text;
      }
      EXPECT_EQ(failure, c.failure);
      EXPECT_EQ(server.seen(), (std::vector<Message>{{"verifyChannel", ""}}));
    }
    // The next server makes the folder afresh, for its own user.
    std::filesystem::remove_all(tmp_ / ".yarl-yarlservice");
  }
}

TEST_F(CtrlCommsClientHelperTest, WithoutAServerTheSocketLayerFails) {
  const std::string own = tmp_ / (".yarl-" + std::to_string(::geteuid()));
  EXPECT_EQ(yarl_test::failureOf<plat::SystemException>(
                [&] { CtrlCommsClientHelper client((own + "/yarlserver.CtrlComms").c_str(), 0); }),
            "connect: No such file or directory (2)");
  // The constructor that finds the socket itself says what it was doing.
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([] { CtrlCommsClientHelper client; }),
            "Contacting Corvane Server failed: connect: No such file or directory (2)");
  ASSERT_EQ(::rmdir(own.c_str()), 0);
  ASSERT_EQ(::symlink(tmp_.c_str(), own.c_str()), 0);
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([] { CtrlCommsClientHelper client; }),
            "Contacting Corvane Server failed: Unsafe channel folder " + own + ": Not a directory (20)");
}

}  // namespace
