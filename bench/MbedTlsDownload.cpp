// The reference of the HTTPS download benchmark: a bare mbedtls 2.28
// client loop that sends one GET, reads the response to its end and
// reports "<body bytes> <seconds>", as http_download does.  TLS 1.2 only,
// one cipher suite, the server's chain checked against a CA file; nothing
// else of the program is involved.  With "store" the body is decrypted
// straight into one buffer of the Content-Length's size, the job the
// program's client does; otherwise into a 16 KiB buffer that is reused.
//
// Usage: mbedtls_download HOST PORT PATH CA_FILE SUITE_NAME [store]

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <mbedtls/ssl_ciphersuites.h>
#include <mbedtls/x509_crt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/BareTlsClient.h"

int main(int argc, char** argv) {
  if (argc != 6 && !(argc == 7 && std::strcmp(argv[6], "store") == 0)) {
    std::fprintf(stderr, "usage: %s HOST PORT PATH CA_FILE SUITE_NAME [store]\n", argv[0]);
    return 2;
  }
  const bool store = argc == 7;
  const int suites[] = {mbedtls_ssl_get_ciphersuite_id(argv[5]), 0};
  if (suites[0] == 0) {
    std::fprintf(stderr, "unknown suite %s\n", argv[5]);
    return 2;
  }
  mbedtls_net_context net;
  mbedtls_ssl_context ssl;
  mbedtls_ssl_config conf;
  mbedtls_x509_crt ca;
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context drbg;
  mbedtls_net_init(&net);
  mbedtls_ssl_init(&ssl);
  mbedtls_ssl_config_init(&conf);
  mbedtls_x509_crt_init(&ca);
  mbedtls_entropy_init(&entropy);
  mbedtls_ctr_drbg_init(&drbg);

  int ret = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0);
  if (ret == 0) ret = mbedtls_x509_crt_parse_file(&ca, argv[4]);
  const auto start = std::chrono::steady_clock::now();
  if (ret == 0) ret = configureBareTlsClient(conf, ca, drbg, suites);
  if (ret == 0) ret = mbedtls_ssl_setup(&ssl, &conf);
  if (ret == 0) ret = mbedtls_net_connect(&net, argv[1], argv[2], MBEDTLS_NET_PROTO_TCP);
  if (ret == 0) {
    mbedtls_ssl_set_bio(&ssl, &net, mbedtls_net_send, mbedtls_net_recv, nullptr);
    while ((ret = mbedtls_ssl_handshake(&ssl)) == MBEDTLS_ERR_SSL_WANT_READ) {
    }
  }
  long long total = 0;
  long long headEnd = -1;
  if (ret == 0) {
    const std::string get = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: " + argv[1] + "\r\n\r\n";
    ret = mbedtls_ssl_write(&ssl, reinterpret_cast<const unsigned char*>(get.data()), get.size());
    ret = ret == static_cast<int>(get.size()) ? 0 : -1;
  }
  if (ret == 0) {
    static unsigned char buf[16384];
    std::string head;
    // The body's buffer (store), its size and how much of it is filled.
    std::unique_ptr<unsigned char[]> body;
    long long bodySize = 0, filled = 0;
    for (;;) {
      unsigned char* into = buf;
      size_t room = sizeof buf;
      if (body) {
        if (filled == bodySize) break;
        into = body.get() + filled;
        room = static_cast<size_t>(std::min<long long>(bodySize - filled, 1 << 20));
      }
      const int n = mbedtls_ssl_read(&ssl, into, room);
      if (n == MBEDTLS_ERR_SSL_WANT_READ) continue;
      if (n <= 0) break;  // close notification or end of connection
      total += n;
      if (body) {
        filled += n;
        continue;
      }
      if (headEnd < 0 && head.size() < 65536) {
        // head holds the stream from its start until the blank line.
        head.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
        const size_t blank = head.find("\r\n\r\n");
        if (blank == std::string::npos) continue;
        headEnd = static_cast<long long>(blank + 4);
        const size_t field = head.find("Content-Length: ");
        if (store && field != std::string::npos && field < blank) {
          bodySize = std::atoll(head.c_str() + field + 16);
          body.reset(new unsigned char[static_cast<size_t>(bodySize)]);
          filled = static_cast<long long>(head.size()) - headEnd;
          std::memcpy(body.get(), head.data() + headEnd, static_cast<size_t>(filled));
        }
      }
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  mbedtls_net_free(&net);
  mbedtls_ssl_free(&ssl);
  mbedtls_ssl_config_free(&conf);
  mbedtls_x509_crt_free(&ca);
  mbedtls_ctr_drbg_free(&drbg);
  mbedtls_entropy_free(&entropy);
  if (ret != 0 || headEnd < 0) {
    std::fprintf(stderr, "download failed (%d)\n", ret);
    return 1;
  }
  std::printf("%lld %.3f\n", total - headEnd, seconds);
  return 0;
}
