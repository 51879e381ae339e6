// Downloads one URL over HTTP or HTTPS with the program's client and
// reports the body size and the time taken ("<bytes> <seconds>"), for
// bench/http_download.py, which compares it with curl on the same file, and
// bench/https_download.py, which compares it with a bare TLS client loop.
//
// Usage: http_download URL MAX_BODY_BYTES [CA_PEM_FILE]
//   With a CA file the client is the HTTPS one, trusting that file only.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslConnFactory.h"

namespace {

struct Owner : http::HttpCallback {
  bool acceptStatus(http::HttpRequest&, int32_t status) override { return status == 200; }
  void onSucceeded(http::HttpRequest& r) override {
    if (http::SharedBody body = r.responseBody()) bytes = body->count();
    done = true;
  }
  void onFailed(http::HttpRequest&, const plat::Exception& e) override {
    error = e.str();
    done = true;
  }
  bool done = false;
  long long bytes = 0;
  std::string error;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s URL MAX_BODY_BYTES [CA_PEM_FILE]\n", argv[0]);
    return 2;
  }
  int exitCode = 0;
  {
    io::IoRunLoopManager manager;
    std::unique_ptr<http::NativeHttpClient> https;
    if (argc == 4) {
      std::ifstream file(argv[3], std::ios::binary);
      const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
      for (const auto& cert : ssl::SslCertificate::loadPemFile(pem.data(), pem.size())) lookup->addCertificate(cert);
      https.reset(http::createHttpClient(std::move(lookup)));
    }
    http::NativeHttpClient plain(nullptr);
    http::NativeHttpClient& client = https ? *https : plain;
    Owner owner;
    std::unique_ptr<http::HttpRequest> request = client.createRequest("GET", argv[1]);
    request->setTimeout(-1);
    request->setMaxBodySize(static_cast<int32_t>(std::strtol(argv[2], nullptr, 10)));
    const plat::TimeValue start = plat::getMonotonicTime();
    request->start(&owner);
    while (!owner.done) manager.runLoop().runOnce(1000);
    const double seconds = double(plat::getMonotonicTime() - start) / plat::kTicksPerSecond;
    if (owner.error.empty()) {
      std::printf("%lld %.3f\n", owner.bytes, seconds);
    } else {
      std::fprintf(stderr, "download failed: %s\n", owner.error.c_str());
      exitCode = 1;
    }
    request.reset();
    client.closeConnections();
    io::IpResolverMgr::shutdown();
  }
  return exitCode;
}
