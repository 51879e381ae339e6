// PAC evaluation against expected answers, each checked against Debian's
// pacparser (the evaluator the PAC format grew up with) where it is
// installed; the answer parsing; and the script download over file URLs.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/cfnetwork/PacExecution.h"
#include "platform/cfnetwork/PacScript.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/plat/Time.h"
#include "testing/FileFixtures.h"

namespace {

using cfnetwork::PacProxy;
using cfnetwork::ProxyType;

std::string evaluate(const std::string& script, const std::string& url, const std::string& host) {
  plat::CharArray answer;
  cfnetwork::CFError error;
  if (!cfnetwork::evaluatePacScript(script.data(), script.size(), url.c_str(), host.c_str(), answer, error))
    return std::string("error: ") + error.description.c_str();
  return answer.c_str();
}

// pacparser's answer, or "" when it is not installed.
std::string oracle(const yarl_test::TempDir& tmp, const std::string& script, const std::string& url,
                   const std::string& host) {
  std::string file = tmp.write("oracle.pac", script);
  std::string command =
      "/usr/bin/python3 -c 'import sys, pacparser; pacparser.init(); "
      "pacparser.parse_pac_file(sys.argv[1]); print(pacparser.find_proxy(sys.argv[2], sys.argv[3]))' " +
      file + " '" + url + "' '" + host + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "";
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), pipe)) out += buffer;
  ::pclose(pipe);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

struct Case {
  const char* body;  // the body of FindProxyForURL(url, host)
  const char* host;
  const char* expected;
  // False where the reference differs: it takes the regular-expression
  // characters of a shell expression as such, where "+" is an ordinary
  // character of a host name.
  bool reference = true;
};

// clang-format off
const Case kCases[] = {
  {"return 'DIRECT';", "a.example.com", "DIRECT"},
  {"return isPlainHostName(host) ? 'DIRECT' : 'PROXY proxy.corp:8080';", "intranet", "DIRECT"},
  {"return isPlainHostName(host) ? 'DIRECT' : 'PROXY proxy.corp:8080';", "www.example.org", "PROXY proxy.corp:8080"},
  {"return 'PROXY down.invalid:1; PROXY up.corp:3128; DIRECT';", "x.org", "PROXY down.invalid:1; PROXY up.corp:3128; DIRECT"},
  {"return 'SOCKS5 socks.corp:1080';", "x.org", "SOCKS5 socks.corp:1080"},
  {"return dnsDomainIs(host, '.example.com') ? 'A' : 'B';", "www.example.com", "A"},
  {"return dnsDomainIs(host, '.example.com') ? 'A' : 'B';", "example.com", "B"},
  {"return localHostOrDomainIs(host, 'www.example.com') ? 'A' : 'B';", "www", "A"},
  {"return localHostOrDomainIs(host, 'www.example.com') ? 'A' : 'B';", "www.example.com", "A"},
  {"return localHostOrDomainIs(host, 'www.example.com') ? 'A' : 'B';", "www.other.com", "B"},
  {"return isInNet(host, '10.0.0.0', '255.0.0.0') ? 'A' : 'B';", "10.20.30.40", "A"},
  {"return isInNet(host, '10.0.0.0', '255.255.0.0') ? 'A' : 'B';", "10.20.30.40", "B"},
  {"return isInNet(host, '127.0.0.0', '255.0.0.0') ? 'A' : 'B';", "localhost", "A"},
  {"return dnsResolve(host);", "localhost", "127.0.0.1"},
  {"return dnsResolve(host);", "192.0.2.7", "192.0.2.7"},
  {"return isResolvable(host) ? 'A' : 'B';", "127.0.0.1", "A"},
  {"return '' + dnsDomainLevels(host);", "a.b.example.com", "3"},
  {"return '' + dnsDomainLevels(host);", "plain", "0"},
  {"return shExpMatch(url, '*/private/*') ? 'A' : 'B';", "x.org", "A"},
  {"return shExpMatch(host, '*.example.?om') ? 'A' : 'B';", "w.example.com", "A"},
  {"return shExpMatch(host, '*.example.com') ? 'A' : 'B';", "example.com", "B"},
  {"return shExpMatch(host, 'a.b+c') ? 'A' : 'B';", "a.b+c", "A", false},
};
// clang-format on

TEST(PacScriptTest, StandardFunctionsAnswerAsTheReferenceEvaluator) {
  yarl_test::TempDir tmp;
  bool haveOracle = oracle(tmp, "function FindProxyForURL(u, h) { return 'DIRECT'; }", "http://a/", "a") == "DIRECT";
  for (const Case& c : kCases) {
    std::string script = std::string("function FindProxyForURL(url, host) { ") + c.body + " }";
    std::string url = std::string("https://") + c.host + "/private/index.html";
    EXPECT_EQ(evaluate(script, url, c.host), c.expected) << c.body << " host " << c.host;
    if (haveOracle && c.reference) {
      EXPECT_EQ(oracle(tmp, script, url, c.host), c.expected) << "reference: " << c.body;
    }
  }
}

TEST(PacScriptTest, MyIpAddressIsAnIpv4Address) {
  std::string address = evaluate("function FindProxyForURL(u, h) { return myIpAddress(); }", "http://a/", "a");
  EXPECT_TRUE(evaluate("function FindProxyForURL(u, h) { return __pacIp('" + address + "') === null ? 'no' : 'yes'; }",
                       "http://a/", "a") == "yes")
      << address;
}

// Sunday 2026-03-15 13:30:00 UTC.
plat::TimeValue fixedNow() { return plat::unixToTime(1773581400); }

TEST(PacScriptTest, DateAndTimeFunctionsReadTheWallClock) {
  plat::WallClockFn previous = plat::setWallClock(fixedNow);
  // clang-format off
  const std::pair<const char*, bool> cases[] = {
    {"weekdayRange('SUN', 'GMT')", true},
    {"weekdayRange('MON', 'GMT')", false},
    {"weekdayRange('FRI', 'MON', 'GMT')", true},
    {"weekdayRange('MON', 'FRI', 'GMT')", false},
    {"dateRange('MAR', 'GMT')", true},
    {"dateRange(1, 20, 'GMT')", true},
    {"dateRange(16, 31, 'GMT')", false},
    {"dateRange(2026, 'GMT')", true},
    {"dateRange('NOV', 'APR', 'GMT')", true},
    {"dateRange(10, 'MAR', 2026, 20, 'MAR', 2026, 'GMT')", true},
    {"dateRange(16, 'MAR', 2026, 20, 'MAR', 2026, 'GMT')", false},
    {"timeRange(13, 'GMT')", true},
    {"timeRange(12, 14, 'GMT')", true},
    {"timeRange(14, 15, 'GMT')", false},
    {"timeRange(13, 0, 13, 30, 'GMT')", false},
    {"timeRange(13, 30, 0, 13, 30, 0, 'GMT')", true},
    {"timeRange(22, 14, 'GMT')", true},
  };
  // clang-format on
  for (const auto& [call, expected] : cases) {
    std::string script = std::string("function FindProxyForURL(u, h) { return ") + call + " ? 'yes' : 'no'; }";
    EXPECT_EQ(evaluate(script, "http://a/", "a"), expected ? "yes" : "no") << call;
  }
  plat::setWallClock(previous);
}

TEST(PacScriptTest, BrokenScriptsAreErrors) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
    {"function FindProxyForURL(u, h) { return 'DIRECT'", "error: PAC script error: SyntaxError"},
    {"var x = 1;", "error: PAC script does not define FindProxyForURL"},
    {"function FindProxyForURL(u, h) { throw new Error('boom'); }", "error: PAC script error: Error: boom"},
    {"function FindProxyForURL(u, h) { return 42; }", "error: FindProxyForURL did not return a string"},
  };
  // clang-format on
  for (const auto& [script, expected] : cases)
    EXPECT_EQ(evaluate(script, "http://a/", "a").substr(0, std::string(expected).size()), expected) << script;
}

struct Entry {
  ProxyType type;
  const char* name;
  const char* host;
  int32_t port;
  int version;
};

TEST(PacScriptTest, AnswersSplitIntoEntries) {
  // clang-format off
  const std::pair<const char*, std::vector<Entry>> cases[] = {
    {"DIRECT", {{ProxyType::kNone, "kCFProxyTypeNone", nullptr, -1, 0}}},
    {"PROXY p:3128; DIRECT", {{ProxyType::kHttp, "kCFProxyTypeHTTP", "p", 3128, 0},
                              {ProxyType::kNone, "kCFProxyTypeNone", nullptr, -1, 0}}},
    {" http p ;;https q", {{ProxyType::kHttp, "kCFProxyTypeHTTP", "p", 80, 0},
                           {ProxyType::kHttps, "kCFProxyTypeHTTPS", "q", 443, 0}}},
    {"SOCKS s; SOCKS5 t:9; SOCKS4 u", {{ProxyType::kSocks, "kCFProxyTypeSOCKS", "s", 1080, 0},
                                       {ProxyType::kSocks, "kCFProxyTypeSOCKS", "t", 9, 5},
                                       {ProxyType::kSocks, "kCFProxyTypeSOCKS", "u", 1080, 4}}},
    {"PROXY [::1]:8080", {{ProxyType::kHttp, "kCFProxyTypeHTTP", "::1", 8080, 0}}},
    {"PROXY p:99999", {{ProxyType::kHttp, "kCFProxyTypeHTTP", "p", -1, 0}}},
    {"QUIC q:1", {{ProxyType::kUnknown, "QUIC", "q", 1, 0}}},
    {"", {}},
  };
  // clang-format on
  for (const auto& [answer, expected] : cases) {
    std::vector<PacProxy> got = cfnetwork::parsePacAnswer(answer);
    ASSERT_EQ(got.size(), expected.size()) << answer;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].type, expected[i].type) << answer;
      EXPECT_STREQ(cfnetwork::proxyTypeName(got[i]), expected[i].name) << answer;
      EXPECT_EQ(got[i].host.get() ? std::string(got[i].host.get()) : "(null)",
                expected[i].host ? expected[i].host : "(null)")
          << answer;
      EXPECT_EQ(got[i].port, expected[i].port) << answer;
      EXPECT_EQ(got[i].socksVersion, expected[i].version) << answer;
    }
  }
}

TEST(PacScriptTest, DownloadsKeepEveryByteUpToTheCap) {
  yarl_test::TempDir tmp;
  std::string exact(cfnetwork::kMaxScriptBytes, 'a');
  exact[10] = '\0';
  plat::CharArray body;
  size_t length = 0;
  plat::CharArray error;
  ASSERT_TRUE(cfnetwork::downloadUrl(("file://" + tmp.write("exact.pac", exact)).c_str(), body, length, error))
      << error.c_str();
  EXPECT_EQ(length, exact.size());
  EXPECT_EQ(std::string(body.get(), length), exact);

  EXPECT_FALSE(cfnetwork::downloadUrl(("file://" + tmp.write("big.pac", exact + "a")).c_str(), body, length, error));
  EXPECT_STREQ(error.c_str(), "PAC file too large");
  EXPECT_FALSE(cfnetwork::downloadUrl(("file://" + tmp / "missing.pac").c_str(), body, length, error));
  EXPECT_FALSE(cfnetwork::downloadUrl("ftp://127.0.0.1/x.pac", body, length, error));
}

TEST(PacScriptTest, AScriptThatNeverEndsIsGivenUp) {
  const std::string script = "function FindProxyForURL(u, h) { for (;;) {} }";
  cfnetwork::PacOutcome outcome;
  EXPECT_FALSE(cfnetwork::executePacScript(script.data(), script.size(), "http://a/", "a", 100, outcome));
  const std::string quick = "function FindProxyForURL(u, h) { return 'SOCKS s:1'; }";
  ASSERT_TRUE(cfnetwork::executePacScript(quick.data(), quick.size(), "http://a/", "a", 10000, outcome));
  ASSERT_TRUE(outcome.ok);
  ASSERT_EQ(outcome.proxies.size(), 1u);
  EXPECT_STREQ(outcome.proxies[0].host.c_str(), "s");
}

struct Receiver : cfnetwork::PacUrlExecution::Callback {
  void pacExecuted(cfnetwork::PacUrlExecution&, const cfnetwork::PacOutcome& got) override {
    outcome = got;
    ++calls;
  }
  cfnetwork::PacOutcome outcome;
  int calls = 0;
};

TEST(PacScriptTest, UrlExecutionAnswersOnTheLoopThread) {
  io::FdSelectManager loop(false);
  yarl_test::TempDir tmp;
  std::string url = "file://" + tmp.write("p.pac", "function FindProxyForURL(u, h) { return 'PROXY ' + h + ':1'; }");
  Receiver receiver;
  cfnetwork::PacUrlExecution execution(url.c_str(), "https://t.org:443/", "t.org", &receiver);
  for (int i = 0; i < 100 && receiver.calls == 0; ++i) loop.poll(100);
  ASSERT_EQ(receiver.calls, 1);
  ASSERT_TRUE(receiver.outcome.ok);
  EXPECT_STREQ(receiver.outcome.proxies[0].host.c_str(), "t.org");

  Receiver failed;
  cfnetwork::PacUrlExecution missing(("file://" + tmp / "missing.pac").c_str(), "https://t.org:443/", "t.org", &failed);
  for (int i = 0; i < 100 && failed.calls == 0; ++i) loop.poll(100);
  ASSERT_EQ(failed.calls, 1);
  EXPECT_FALSE(failed.outcome.ok);
}

}  // namespace
