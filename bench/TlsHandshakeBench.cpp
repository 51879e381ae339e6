// TLS connection set-up: one TLS 1.2 handshake to `openssl s_server` on
// 127.0.0.1, then the close notification, per iteration.
//
//   Ours     the program's client as a new connection makes it: a trust
//            manager over the system store (a new one per connection, so
//            every lookup starts cold), an SslConnector over a TCP
//            connector, the host checked by the HTTPS verifier, all on the
//            event loop.
//   MbedTls  a bare mbedtls 2.28 client with its CA chain parsed once
//            before the loop, blocking on its socket: the work a
//            connection cannot avoid.
//
// The server presents the ssl tests' PKI (good.pem with inter.pem); the
// store's bundle (the override path) and the reference's CA chain are the
// test root followed by every certificate of the system's bundle, so the
// parse is as dear as the machine's own store.  Times are CPU times of this
// process, which leaves out the server's share.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <mbedtls/ssl_ciphersuites.h>
#include <mbedtls/x509_crt.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BareTlsClient.h"
#include "platform/security/SystemRoots.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/libs/ssl/SslIo.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/SystemCertStore.h"
#include "testing/ConnectionRecorder.h"
#include "testing/DaemonProcess.h"
#include "testing/RunUntil.h"

namespace {

constexpr char kOpenssl[] = "/usr/bin/openssl";
constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";
constexpr char kHost[] = "good.example.com";
constexpr char kSuite[] = "ECDHE-RSA-AES128-GCM-SHA256";

std::string pkiPath(const char* name) { return std::string(YARL_SSL_TEST_DATA) + "/" + name; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bundle both clients trust, in a folder of its own, removed at exit.
class Bundle {
 public:
  Bundle() {
    char folder[] = "/tmp/tls-handshake-bench.XXXXXX";
    if (!::mkdtemp(folder)) std::exit(1);
    folder_ = folder;
    path_ = folder_ + "/bundle.crt";
    std::ofstream out(path_, std::ios::binary);
    out << readFile(pkiPath("root.pem")) << readFile(kSystemBundle);
  }
  ~Bundle() {
    ::unlink(path_.c_str());
    ::rmdir(folder_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

// s_server on a free loopback port, serving one connection after another.
// It is killed at the end of the run, and dies with this process should
// the run itself be killed.
class Server {
 public:
  Server() : port_(yarl_test::freeLoopbackPort()) {
    const std::vector<std::string> args = {kOpenssl,      "s_server",
                                           "-quiet",      "-tls1_2",
                                           "-cipher",     kSuite,
                                           "-groups",     "P-256",
                                           "-accept",     "127.0.0.1:" + std::to_string(port_),
                                           "-cert",       pkiPath("good.pem"),
                                           "-key",        pkiPath("good.key"),
                                           "-cert_chain", pkiPath("inter.pem")};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(1);
      const int devNull = ::open("/dev/null", O_RDWR);
      ::dup2(devNull, 0);
      ::dup2(devNull, 1);
      ::dup2(devNull, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 500; i++) {
      if (yarl_test::acceptsConnections(port_)) return;
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "openssl s_server did not start\n");
    std::exit(1);
  }
  ~Server() {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  int port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
};

Bundle& bundle() {
  static Bundle b;
  return b;
}

Server& server() {
  static Server s;
  return s;
}

struct Closer : io::IoHandler {
  void readable(io::Io&) override {}
  void writable(io::Io&) override {}
  void shutdownDone(io::Io&) override { done = true; }
  bool done = false;
};

void BM_Tls_Handshake_Ours(benchmark::State& state) {
  plat::CharArray old = security::setBundlePath(bundle().path().c_str());
  io::IoRunLoopManager manager;
  const int port = server().port();
  for (auto _ : state) {
    auto trust = ssl::MbedTlsTrustManager::create(ssl::MacCertificateStore::create());
    yarl_test::ConnectionRecorder recorder;
    {
      auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", port), nullptr);
      ssl::SslConnector connector(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(), trust.get(), kHost);
      connector.start(&recorder);
      yarl_test::runUntil(
          manager.runLoop(), [&] { return recorder.done(); }, std::chrono::seconds(10));
    }
    if (recorder.outcome != "connected") {
      state.SkipWithError(("handshake failed: " + recorder.outcome).c_str());
      break;
    }
    // The connection deletes itself once its shutdown is done.
    Closer closer;
    io::Io* conn = recorder.io.release();
    conn->setHandler(&closer, false);
    conn->shutdown(true, true);
    yarl_test::runUntil(
        manager.runLoop(), [&] { return closer.done; }, std::chrono::seconds(10));
  }
  security::setBundlePath(old.get());
}
BENCHMARK(BM_Tls_Handshake_Ours)->Unit(benchmark::kMillisecond);

// The bare client: the CA chain, the configuration and the random
// generator made once; a new context, socket and handshake per iteration.
void BM_Tls_Handshake_MbedTls(benchmark::State& state) {
  const std::string port = std::to_string(server().port());
  const int suites[] = {mbedtls_ssl_get_ciphersuite_id("TLS-ECDHE-RSA-WITH-AES-128-GCM-SHA256"), 0};
  mbedtls_x509_crt ca;
  mbedtls_ssl_config conf;
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context drbg;
  mbedtls_x509_crt_init(&ca);
  mbedtls_ssl_config_init(&conf);
  mbedtls_entropy_init(&entropy);
  mbedtls_ctr_drbg_init(&drbg);
  int ret = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0);
  if (ret == 0) ret = mbedtls_x509_crt_parse_file(&ca, bundle().path().c_str());
  // Certificates mbedtls cannot parse are skipped (a positive count).
  if (ret > 0) ret = 0;
  if (ret == 0) ret = configureBareTlsClient(conf, ca, drbg, suites);
  for (auto _ : state) {
    if (ret != 0) break;
    mbedtls_net_context net;
    mbedtls_ssl_context ssl;
    mbedtls_net_init(&net);
    mbedtls_ssl_init(&ssl);
    ret = mbedtls_ssl_setup(&ssl, &conf);
    if (ret == 0) ret = mbedtls_ssl_set_hostname(&ssl, kHost);
    if (ret == 0) ret = mbedtls_net_connect(&net, "127.0.0.1", port.c_str(), MBEDTLS_NET_PROTO_TCP);
    if (ret == 0) {
      // As the program's connections do: no waiting on Nagle's algorithm.
      const int one = 1;
      (void)::setsockopt(net.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      mbedtls_ssl_set_bio(&ssl, &net, mbedtls_net_send, mbedtls_net_recv, nullptr);
      while ((ret = mbedtls_ssl_handshake(&ssl)) == MBEDTLS_ERR_SSL_WANT_READ) {
      }
    }
    if (ret == 0) (void)mbedtls_ssl_close_notify(&ssl);
    mbedtls_net_free(&net);
    mbedtls_ssl_free(&ssl);
  }
  if (ret != 0) state.SkipWithError(("mbedtls failed: " + std::to_string(ret)).c_str());
  mbedtls_x509_crt_free(&ca);
  mbedtls_ssl_config_free(&conf);
  mbedtls_ctr_drbg_free(&drbg);
  mbedtls_entropy_free(&entropy);
}
BENCHMARK(BM_Tls_Handshake_MbedTls)->Unit(benchmark::kMillisecond);

}  // namespace

// The repetitions of the two run interleaved in a random order, so that a
// change in the machine's load while they run weighs on both alike.
int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
