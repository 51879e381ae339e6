// The PAC resolver child against real children (this executable started
// with "-pacHelper") evaluating scripts from temporary files, and the
// in-process PAC fetcher's reading of answers.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/http/MacPacFetcher.h"
#include "qocore/base/http/PacHelper.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

// What a fetcher told; destroys the fetcher inside the call when asked, as
// an owner may.
struct Answer : io::ProxyFetcherCallback {
  void onProxy(io::ProxyFetcher&, const char* url, const io::ProxyCredentials& credentials) override {
    proxy = url;
    user = credentials.user.c_str();
    password = credentials.password.c_str();
    ++calls;
    if (owner) owner->reset();
  }
  void onProxyError(io::ProxyFetcher&, const plat::Exception& e) override {
    error = e.str();
    type = e.typeName();
    ++calls;
    if (owner) owner->reset();
  }
  std::string proxy, user, password, error, type;
  int calls = 0;
  std::unique_ptr<io::ProxyFetcher>* owner = nullptr;
};

// Shortened time limits for one test.
class Limits {
 public:
  explicit Limits(const http::PacTimeLimits& limits) : previous_(http::pacTimeLimits()) {
    http::setPacTimeLimits(limits);
  }
  ~Limits() { http::setPacTimeLimits(previous_); }

 private:
  http::PacTimeLimits previous_;
};

bool processGone(pid_t pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

class PacHelperTest : public testing::Test {
 protected:
  std::string script(const std::string& body) {
    return "file://" + tmp_.write("proxy.pac", "function FindProxyForURL(url, host) { " + body + " }");
  }
  std::unique_ptr<io::ProxyFetcher> client(const std::string& pacUrl, const char* host = "target.example") {
    return std::make_unique<http::PacHelperClient>(host, 443, io::ProxyCredentials(nullptr, "user", "secret"),
                                                   pacUrl.c_str());
  }
  // Turns the loop until the answer or about 20 s.
  void waitFor(const Answer& answer) {
    for (int i = 0; i < 400 && answer.calls == 0; ++i) loop_.poll(50);
  }

  io::FdSelectManager loop_{false};
  yarl_test::TempDir tmp_;
};

TEST_F(PacHelperTest, ChildAnswersWithTheFirstUsableEntry) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
    {"return 'DIRECT';", "direct://"},
    {"return 'PROXY proxy.corp:3128';", "http://proxy.corp:3128"},
    {"return 'HTTPS secure.corp';", "http://secure.corp:443"},
    {"return 'SOCKS5 socks.corp:1081';", "socks://socks.corp:1081"},
    {"return 'SOCKS socks.corp';", "socks://socks.corp:1080"},
    // The first entry wins even when that proxy is down: there is no
    // failing over, so the connection then fails through it.
    {"return 'PROXY 127.0.0.1:1; PROXY up.corp:3128';", "http://127.0.0.1:1"},
    {"return 'SOCKS4 old.corp:1080; PROXY p.corp:8080';", "http://p.corp:8080"},
    {"return dnsDomainIs(host, '.example') ? 'PROXY ' + host + ':1' : 'DIRECT';", "http://target.example:1"},
    // Failures end in "direct" after the script fallback.
    {"return 'QUIC q:1';", "direct://"},
    {"throw new Error('broken');", "direct://"},
    {"return (;", "direct://"},
  };
  // clang-format on
  for (const auto& [body, expected] : cases) {
    Answer answer;
    std::unique_ptr<io::ProxyFetcher> fetcher = client(script(body));
    answer.owner = &fetcher;
    fetcher->fetch(&answer);
    waitFor(answer);
    EXPECT_EQ(answer.calls, 1) << body;
    EXPECT_EQ(answer.proxy, expected) << body << " " << answer.error;
    EXPECT_EQ(answer.user, "user");
    EXPECT_EQ(answer.password, "secret");
  }
}

TEST_F(PacHelperTest, ScriptWithoutFindProxyForUrlGoesDirect) {
  std::string url = "file://" + tmp_.write("none.pac", "var notTheFunction = 1;");
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher = client(url);
  fetcher->fetch(&answer);
  waitFor(answer);
  EXPECT_EQ(answer.proxy, "direct://");
}

TEST_F(PacHelperTest, LoopingScriptTimesOutToDirect) {
  Limits limits({20000, 300, 300});
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher = client(script("for (;;) {}"));
  fetcher->fetch(&answer);
  waitFor(answer);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_EQ(answer.proxy, "direct://");
}

TEST_F(PacHelperTest, ChildThatDoesNotAnswerIsKilled) {
  Limits limits({300, 60000, 30000});
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher = client(script("for (;;) {}"));
  fetcher->fetch(&answer);
  pid_t pid = static_cast<http::PacHelperClient&>(*fetcher).childPid();
  ASSERT_GT(pid, 0);
  waitFor(answer);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_EQ(answer.error, "PAC helper timed out");
  EXPECT_EQ(answer.type, "TimedOut");
  EXPECT_TRUE(processGone(pid));
  // Nothing more arrives later.
  for (int i = 0; i < 5; ++i) loop_.poll(20);
  EXPECT_EQ(answer.calls, 1);
}

// The most memory the process has held so far (kB), or -1 once it has
// gone.
long peakKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Children started meanwhile run without AddressSanitizer's quarantine,
// which keeps every freed block (up to 256 MiB) and so would count the
// script's garbage as memory the child still holds.  Other builds ignore
// the setting.
class NoQuarantineForChildren {
 public:
  NoQuarantineForChildren() {
    const char* options = std::getenv("ASAN_OPTIONS");
    if (options) previous_ = options;
    had_ = options != nullptr;
    ::setenv("ASAN_OPTIONS", (previous_ + (had_ ? ":" : "") + "quarantine_size_mb=0").c_str(), 1);
  }
  ~NoQuarantineForChildren() {
    if (had_)
      ::setenv("ASAN_OPTIONS", previous_.c_str(), 1);
    else
      ::unsetenv("ASAN_OPTIONS");
  }

 private:
  std::string previous_;
  bool had_ = false;
};

TEST_F(PacHelperTest, AllocatingScriptEndsWithinItsMemory) {
  constexpr long kFarBelowKb = 256 * 1024;
  constexpr int kScriptMs = 10000;
  Limits limits({20000, kScriptMs, kScriptMs});
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher =
      client(script("for (var a = [], i = 0;; i++) a.push('x'.repeat(1 << 20) + i);"));
  const auto start = std::chrono::steady_clock::now();
  {
    NoQuarantineForChildren noQuarantine;
    fetcher->fetch(&answer);
  }
  auto& helper = static_cast<http::PacHelperClient&>(*fetcher);
  const pid_t pid = helper.childPid();
  ASSERT_GT(pid, 0);
  // Watched as it runs, so that a child without a bound is stopped (by the
  // client's destruction) before it takes the machine's memory.
  long seen = 0;
  for (int i = 0; i < 400 && answer.calls == 0 && seen < kFarBelowKb; ++i) {
    loop_.poll(20);
    seen = std::max(seen, peakKb(pid));
  }
  ASSERT_LT(seen, kFarBelowKb) << "the child kept allocating";
  ASSERT_EQ(answer.calls, 1);
  // The script failed, as any failing script does, within its time.
  EXPECT_EQ(answer.proxy, "direct://");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kScriptMs));
  // Once the child has ended, the peak of its whole life is known.
  for (int i = 0; i < 400 && helper.childPid() > 0; ++i) loop_.poll(20);
  ASSERT_EQ(helper.childPid(), -1);
  rusage children{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &children), 0);
  EXPECT_LT(children.ru_maxrss, kFarBelowKb);
}

TEST_F(PacHelperTest, DestroyingTheClientKillsTheChild) {
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher = client(script("for (;;) {}"));
  fetcher->fetch(&answer);
  pid_t pid = static_cast<http::PacHelperClient&>(*fetcher).childPid();
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 5; ++i) loop_.poll(20);
  fetcher.reset();
  EXPECT_TRUE(processGone(pid));
  EXPECT_EQ(answer.calls, 0);
}

TEST_F(PacHelperTest, OverlongHostIsRefusedByTheChild) {
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher = client(script("return 'DIRECT';"), std::string(1025, 'h').c_str());
  fetcher->fetch(&answer);
  waitFor(answer);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_EQ(answer.error, "PAC helper process died");
  EXPECT_EQ(answer.type, "PacError");

  Answer fits;
  std::string host(1024, 'h');
  fetcher = client(script("return 'PROXY p:' + host.length;"), host.c_str());
  fetcher->fetch(&fits);
  waitFor(fits);
  EXPECT_EQ(fits.proxy, "http://p:1024");
}

TEST_F(PacHelperTest, AnswersUpTo4096BytesAreTaken) {
  // "http://" + host + ":1": 4096 bytes with a host of 4087, one more past.
  for (const auto& [length, expected] : {std::pair<int, bool>{4087, true}, {4088, false}}) {
    Answer answer;
    std::unique_ptr<io::ProxyFetcher> fetcher =
        client(script("return 'PROXY ' + 'h'.repeat(" + std::to_string(length) + ") + ':1';"));
    fetcher->fetch(&answer);
    waitFor(answer);
    EXPECT_EQ(answer.calls, 1);
    if (expected) {
      EXPECT_EQ(answer.proxy.size(), 4096u);
    } else {
      EXPECT_EQ(answer.error, "PAC helper process died") << length;
    }
  }
}

TEST_F(PacHelperTest, ChildLogLinesLandInTheParentLog) {
  yarl_test::LogCapture log("*:capture:100");
  Answer answer;
  std::unique_ptr<io::ProxyFetcher> fetcher = client(script("return 'DIRECT';"));
  fetcher->fetch(&answer);
  waitFor(answer);
  ASSERT_EQ(answer.proxy, "direct://");
  bool seen = false;
  for (const yarl_test::LogRecord& record : log.from("PacHelper"))
    seen = seen || record.text.find("PAC resolved: direct://") != std::string::npos;
  EXPECT_TRUE(seen) << testing::PrintToString(log.records());
}

TEST(MacPacFetcherTest, EntriesGiveTheFirstUsableProxy) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
    {"DIRECT; PROXY p:1", "direct://"},
    {"PROXY p:99999; PROXY q:2", "http://q:2"},
    {"SOCKS4 s:1; SOCKS5 t:2", "socks://t:2"},
    {"PROXY [2001:db8::1]:8080", "http://[2001:db8::1]:8080"},
    {"QUIC q:1; DIRECT", "direct://"},
  };
  // clang-format on
  for (const auto& [answer, expected] : cases)
    EXPECT_STREQ(http::MacPacFetcher::proxyUrlFromEntries(cfnetwork::parsePacAnswer(answer)).c_str(), expected)
        << answer;
  EXPECT_THROW(http::MacPacFetcher::proxyUrlFromEntries(cfnetwork::parsePacAnswer("QUIC q:1; SOCKS4 s")),
               plat::Exception);
  EXPECT_STREQ(http::MacPacFetcher::targetUrl("::1", 8443).c_str(), "https://[::1]:8443/");
}

// The parent's side spoken directly: each "ResolvePac" on one channel is
// answered by its own "PacResult", the error fields empty on success.
struct Results : io::MsgIpc::Callback, io::MsgIpc::Reader {
  void closed(io::MsgIpc&) override { done = true; }
  bool readMsg(const char*, rdr::InStream& in, io::MsgIpc&) override {
    std::string proxies = in.readStdString(4096);
    std::string message = in.readString8().c_str();
    std::string type = in.readString8().c_str();
    got.push_back(proxies + "|" + message + "|" + type);
    return true;
  }
  std::vector<std::string> got;
  bool done = false;
};

TEST_F(PacHelperTest, ChildServesEachRequestOnItsPipe) {
  os::LaunchConfig cfg;
  cfg.args.emplace_back(os::getExecutablePath());
  cfg.args.emplace_back("-pacHelper");
  cfg.childDescriptors = {3};
  os::LaunchWithPipe launch(cfg);
  os::LaunchedIo io = launch.launchChild();
  Results results;
  io::MsgIpc ipc(&results, "test", false, false);
  ipc.setReader("PacResult", &results);
  ipc.attach(io.release());
  const std::pair<std::string, uint32_t> requests[] = {{script("return 'PROXY ' + host + ':1';"), 1},
                                                       {"file:///nonexistent/proxy.pac", 2}};
  for (const auto& [url, n] : requests) {
    rdr::OutStream& out = ipc.writeMsg("ResolvePac");
    out.writeString32("a.example");
    out.writeU32(443);
    out.writeString32(url.c_str());
    ipc.out().endMsg(true);
    for (int i = 0; i < 400 && results.got.size() < n; ++i) loop_.poll(50);
  }
  // A script that cannot be had ends in "direct" too.
  EXPECT_EQ(results.got, (std::vector<std::string>{"http://a.example:1||", "direct://||"}));
  // The child ends when its pipe does.
  ipc.detach(false);
}

}  // namespace
