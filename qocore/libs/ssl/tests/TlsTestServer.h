#pragma once
// Test helper: the server side of TLS over a yarl_test::ScriptedServer
// connection, run by mbedtls on the server's thread.  The session records
// the cipher suites the client offered in its hello and the handshake's
// result; the script then reads and writes plaintext.

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "testing/ScriptedServer.h"

namespace ssl_test {

struct TlsServerConfig {
  std::string chainPem;  // the leaf first, then the certificates that complete it
  std::string keyPem;
  // TLS minor versions: 1 for TLS 1.0, 2 for 1.1, 3 for 1.2.
  int minMinor = 3;
  int maxMinor = 3;
  // Empty: the library's defaults.
  std::vector<int> suites;
  // Set: a client certificate issued by these is required.
  std::string clientCaPem;
};

// What a session saw; read after the server thread has ended.
struct TlsServerRecord {
  std::vector<int> offered;   // the suites of the client hello, in order
  int handshake = 1;          // the handshake's result (1: not run)
  std::string suiteName;      // the negotiated suite's name
  std::string received;       // what a script collected
  std::string clientSubject;  // the subject of the client's certificate
};

class TlsSession {
 public:
  TlsSession(yarl_test::ScriptedServer::Conn& conn, const TlsServerConfig& config, TlsServerRecord& record)
      : conn_(conn), record_(record) {
    mbedtls_ssl_init(&ssl_);
    mbedtls_ssl_config_init(&conf_);
    mbedtls_x509_crt_init(&chain_);
    mbedtls_x509_crt_init(&clientCa_);
    mbedtls_pk_init(&key_);
    mbedtls_entropy_init(&entropy_);
    mbedtls_ctr_drbg_init(&drbg_);
    suites_ = config.suites;
    if (!suites_.empty()) suites_.push_back(0);
    ok_ = mbedtls_ctr_drbg_seed(&drbg_, mbedtls_entropy_func, &entropy_, nullptr, 0) == 0 &&
          mbedtls_x509_crt_parse(&chain_, reinterpret_cast<const unsigned char*>(config.chainPem.c_str()),
                                 config.chainPem.size() + 1) == 0 &&
          mbedtls_pk_parse_key(&key_, reinterpret_cast<const unsigned char*>(config.keyPem.c_str()),
                               config.keyPem.size() + 1, nullptr, 0) == 0 &&
          mbedtls_ssl_config_defaults(&conf_, MBEDTLS_SSL_IS_SERVER, MBEDTLS_SSL_TRANSPORT_STREAM,
                                      MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    if (!ok_) return;
    mbedtls_ssl_conf_rng(&conf_, mbedtls_ctr_drbg_random, &drbg_);
    mbedtls_ssl_conf_min_version(&conf_, MBEDTLS_SSL_MAJOR_VERSION_3, config.minMinor);
    mbedtls_ssl_conf_max_version(&conf_, MBEDTLS_SSL_MAJOR_VERSION_3, config.maxMinor);
    if (!suites_.empty()) mbedtls_ssl_conf_ciphersuites(&conf_, suites_.data());
    if (!config.clientCaPem.empty()) {
      ok_ = mbedtls_x509_crt_parse(&clientCa_, reinterpret_cast<const unsigned char*>(config.clientCaPem.c_str()),
                                   config.clientCaPem.size() + 1) == 0;
      mbedtls_ssl_conf_ca_chain(&conf_, &clientCa_, nullptr);
      mbedtls_ssl_conf_authmode(&conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
    }
    ok_ = ok_ && mbedtls_ssl_conf_own_cert(&conf_, &chain_, &key_) == 0 && mbedtls_ssl_setup(&ssl_, &conf_) == 0;
    mbedtls_ssl_set_bio(&ssl_, this, &TlsSession::send, &TlsSession::recv, nullptr);
  }
  ~TlsSession() {
    mbedtls_ssl_free(&ssl_);
    mbedtls_ssl_config_free(&conf_);
    mbedtls_x509_crt_free(&chain_);
    mbedtls_x509_crt_free(&clientCa_);
    mbedtls_pk_free(&key_);
    mbedtls_ctr_drbg_free(&drbg_);
    mbedtls_entropy_free(&entropy_);
  }
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Runs the handshake; true when it succeeded.
  bool handshake() {
    if (!ok_) return false;
    int ret;
    do {
      ret = mbedtls_ssl_handshake(&ssl_);
    } while (ret == MBEDTLS_ERR_SSL_WANT_READ || ret == MBEDTLS_ERR_SSL_WANT_WRITE);
    parseHello();
    record_.handshake = ret;
    if (ret == 0) record_.suiteName = mbedtls_ssl_get_ciphersuite(&ssl_);
    if (const mbedtls_x509_crt* peer = ret == 0 ? mbedtls_ssl_get_peer_cert(&ssl_) : nullptr) {
      char name[256];
      if (mbedtls_x509_dn_gets(name, sizeof name, &peer->subject) > 0) record_.clientSubject = name;
    }
    return ret == 0;
  }
  // Plaintext up to and including `end`, or what came before the peer
  // stopped.
  std::string readUntil(const std::string& end) {
    std::string out;
    while (out.size() < end.size() || out.compare(out.size() - end.size(), end.size(), end) != 0) {
      unsigned char c;
      if (mbedtls_ssl_read(&ssl_, &c, 1) != 1) break;
      out.push_back(static_cast<char>(c));
    }
    return out;
  }
  void write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const int n =
          mbedtls_ssl_write(&ssl_, reinterpret_cast<const unsigned char*>(bytes.data()) + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  void closeNotify() { (void)mbedtls_ssl_close_notify(&ssl_); }

 private:
  static int send(void* self, const unsigned char* buf, size_t len) {
    static_cast<TlsSession*>(self)->conn_.send(std::string(reinterpret_cast<const char*>(buf), len));
    return static_cast<int>(len);
  }
  static int recv(void* self, unsigned char* buf, size_t len) {
    auto* s = static_cast<TlsSession*>(self);
    // The library asks for exactly what the record in progress lacks.
    const std::string got = s->conn_.read(len);
    if (s->hello_.size() < 16384) s->hello_ += got;
    std::memcpy(buf, got.data(), got.size());
    return static_cast<int>(got.size());
  }
  // The cipher suites of the client hello, which starts the first record.
  void parseHello() {
    const std::string& h = hello_;
    auto byte = [&h](size_t i) { return i < h.size() ? static_cast<unsigned char>(h[i]) : 0u; };
    // Record header (5), handshake header (4), version (2), random (32).
    size_t p = 5 + 4 + 2 + 32;
    p += 1 + byte(p);  // session id
    const size_t len = (byte(p) << 8) | byte(p + 1);
    p += 2;
    for (size_t i = 0; i + 1 < len && p + i + 1 < h.size(); i += 2)
      record_.offered.push_back(static_cast<int>((byte(p + i) << 8) | byte(p + i + 1)));
  }

  yarl_test::ScriptedServer::Conn& conn_;
  TlsServerRecord& record_;
  std::string hello_;
  std::vector<int> suites_;
  bool ok_ = false;
  mbedtls_ssl_context ssl_;
  mbedtls_ssl_config conf_;
  mbedtls_x509_crt chain_;
  mbedtls_x509_crt clientCa_;
  mbedtls_pk_context key_;
  mbedtls_entropy_context entropy_;
  mbedtls_ctr_drbg_context drbg_;
};

// A script that runs the handshake and then, when it succeeded, `then`.
template <typename Fn>
yarl_test::ScriptedServer::Script tlsScript(const TlsServerConfig& config, TlsServerRecord& record, Fn then) {
  return [config, &record, then](yarl_test::ScriptedServer::Conn& conn) {
    TlsSession session(conn, config, record);
    if (session.handshake()) then(session);
  };
}

}  // namespace ssl_test
