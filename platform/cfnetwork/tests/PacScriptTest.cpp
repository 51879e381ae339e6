// PAC evaluation against expected answers, each checked against Debian's
// pacparser (the evaluator the PAC format grew up with, installed by
// scripts/deps.sh; a machine without it fails these tests); the answer
// parsing; and the script download over file URLs.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
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

// pacparser's answer, or "" when it has none (the module is missing, or
// the script fails in it).
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

// The reference evaluator must be there: without it the comparisons would
// compare nothing.
void expectOracle(const yarl_test::TempDir& tmp) {
  ASSERT_EQ(oracle(tmp, "function FindProxyForURL(u, h) { return 'DIRECT'; }", "http://a/", "a"), "DIRECT")
      << "the reference evaluator does not answer: /usr/bin/python3 needs the pacparser module "
         "(python3-pacparser, which scripts/deps.sh installs)";
}

TEST(PacScriptTest, StandardFunctionsAnswerAsTheReferenceEvaluator) {
  yarl_test::TempDir tmp;
  ASSERT_NO_FATAL_FAILURE(expectOracle(tmp));
  for (const Case& c : kCases) {
    std::string script = std::string("function FindProxyForURL(url, host) { ") + c.body + " }";
    std::string url = std::string("https://") + c.host + "/private/index.html";
    EXPECT_EQ(evaluate(script, url, c.host), c.expected) << c.body << " host " << c.host;
    if (c.reference) {
      EXPECT_EQ(oracle(tmp, script, url, c.host), c.expected) << "reference: " << c.body;
    }
  }
}

// Date and time calls for the UTC time `now`, each with its answer during
// that minute: the reference evaluator reads the real clock, so the calls
// are made around the current hour, minute and date.
std::vector<std::pair<std::string, bool>> clockCases(time_t now) {
  static const char* const kDays[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
  static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  tm t{};
  gmtime_r(&now, &t);
  const std::string h = std::to_string(t.tm_hour), m = std::to_string(t.tm_min);
  const std::string nextHour = std::to_string(t.tm_hour + 1), hourAfter = std::to_string(t.tm_hour + 2);
  const std::string nextMinute = std::to_string(t.tm_min + 1);
  const std::string day = std::to_string(t.tm_mday), year = std::to_string(t.tm_year + 1900);
  const std::string weekday = kDays[t.tm_wday], month = kMonths[t.tm_mon];
  // clang-format off
  return {
    {"timeRange(" + h + ", 'GMT')", true},
    {"timeRange('" + h + "', 'GMT')", true},
    {"timeRange(" + nextHour + ", 'GMT')", false},
    // The end hour and the end minute belong to the range.
    {"timeRange(0, " + h + ", 'GMT')", true},
    {"timeRange(0, 0, " + h + ", " + m + ", 'GMT')", true},
    {"timeRange('0', '0', '" + h + "', '" + m + "', 'GMT')", true},
    {"timeRange(" + h + ", " + m + ", 0, " + h + ", " + m + ", 59, 'GMT')", true},
    // A reversed range does not wrap round midnight.
    {"timeRange(" + hourAfter + ", " + nextHour + ", 'GMT')", false},
    {"timeRange(" + h + ", " + nextMinute + ", " + h + ", " + m + ", 'GMT')", false},
    {"weekdayRange('" + weekday + "', 'GMT')", true},
    {"weekdayRange('SUN', 'SAT', 'GMT')", true},
    {"dateRange(" + day + ", 'GMT')", true},
    {"dateRange('" + month + "', 'GMT')", true},
    {"dateRange(" + year + ", 'GMT')", true},
    {"dateRange(1, " + day + ", 'GMT')", true},
    {"dateRange('JAN', '" + month + "', 'GMT')", true},
    {"dateRange(1, 'JAN', " + year + ", " + day + ", '" + month + "', " + year + ", 'GMT')", true},
    {"dateRange(" + day + ", '" + month + "', " + year + ", 31, 'DEC', " + year + ", 'GMT')", true},
  };
  // clang-format on
}

TEST(PacScriptTest, DateAndTimeFunctionsAnswerAsTheReferenceEvaluatorNow) {
  yarl_test::TempDir tmp;
  ASSERT_NO_FATAL_FAILURE(expectOracle(tmp));
  // Both evaluators answer within one minute; when the minute turns
  // meanwhile, the cases are made again for the new one.
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 2) << "the minute turned twice";
    const time_t now = ::time(nullptr);
    const std::vector<std::pair<std::string, bool>> cases = clockCases(now);
    // One answer of "yes" and "no" words, a word for each case.
    std::string script = "function FindProxyForURL(u, h) { return ''";
    std::string expected;
    for (const auto& [call, answer] : cases) {
      script += " + (" + call + " ? 'yes ' : 'no ')";
      expected += answer ? "yes " : "no ";
    }
    script += "; }";
    const std::string ours = evaluate(script, "http://a/", "a");
    const std::string reference = oracle(tmp, script, "http://a/", "a");
    if (::time(nullptr) / 60 != now / 60) continue;
    // Word by word, so that a failure names its call.
    auto words = [](const std::string& text) {
      std::vector<std::string> out;
      for (size_t at = 0; at < text.size();) {
        const size_t blank = text.find(' ', at);
        out.push_back(text.substr(at, blank - at));
        at = blank == std::string::npos ? text.size() : blank + 1;
      }
      return out;
    };
    const std::vector<std::string> want = words(expected), got = words(ours), ref = words(reference);
    ASSERT_EQ(got.size(), want.size()) << ours;
    ASSERT_EQ(ref.size(), want.size()) << "reference: " << reference;
    for (size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(got[i], want[i]) << cases[i].first;
      EXPECT_EQ(ref[i], want[i]) << "reference: " << cases[i].first;
    }
    return;
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
    {"timeRange('13', 'GMT')", true},
    {"timeRange('x', 'GMT')", false},
    {"timeRange(12, 14, 'GMT')", true},
    {"timeRange(14, 15, 'GMT')", false},
    // The end hour and minute are part of the range.
    {"timeRange(12, 13, 'GMT')", true},
    {"timeRange('12', '13', 'GMT')", true},
    {"timeRange(13, 0, 13, 30, 'GMT')", true},
    {"timeRange(13, 0, 13, 29, 'GMT')", false},
    {"timeRange(13, 30, 0, 13, 30, 0, 'GMT')", true},
    // A reversed range holds no time.
    {"timeRange(22, 14, 'GMT')", false},
    {"timeRange(14, 13, 'GMT')", false},
    {"timeRange(13, 31, 13, 30, 'GMT')", false},
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

TEST(PacScriptTest, AnAllocatingScriptFailsWithinItsTime) {
  // At the top level and inside FindProxyForURL: a heap past its bound
  // ends the script as any error does (the error's text is the engine's).
  const std::string scripts[] = {
      "var a = []; for (var i = 0;; i++) a.push('x'.repeat(1 << 20) + i);",
      "function FindProxyForURL(u, h) { for (var a = [], i = 0;; i++) a.push('x'.repeat(1 << 20) + i); }",
  };
  for (const std::string& script : scripts) {
    cfnetwork::PacOutcome outcome;
    ASSERT_TRUE(cfnetwork::executePacScript(script.data(), script.size(), "http://a/", "a", 5000, outcome)) << script;
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.description.c_str()[0], '\0');
  }
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
