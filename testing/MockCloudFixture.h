#pragma once
// The files the mock cloud (testing/MockCloud.py) serves, written once its
// port is known: its TLS chain, the signed bootstrap documents and the
// test "CloudConfig.pkg" that points the program at it.  Python's standard
// library cannot sign RSA-PSS, so the C++ side makes them, both for the
// fixture tool (`cloud_fixture mock-cloud`) and for tests in-process.
//
// The test PKI (qocore/libs/ssl/tests/data) gives the certificates: its
// root is the package's only trusted certificate; its leaf "good" (RSA
// 2048, SHA-256, server authentication, IP address 127.0.0.1, issued by
// "inter") serves the mock's TLS and signs the bootstrap documents.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "testing/BootstrapFixture.h"

namespace yarl_test {

// What the mock's bootstrap documents say.  "{base}" in a text stands for
// the mock's base URL ("https://127.0.0.1:<port>", "http://..." when plain).
struct MockCloudLayout {
  // Plain HTTP: the package's bootstrap URI is "http://"; the service
  // URIs follow the same base.
  bool plain = false;
  // "btp/config-count": documents "<base>/bootstrap/0" .. count-1.
  int configCount = 2;
  // "enterprise/auth-uris": these bases joined with ";".
  std::vector<std::string> authUris = {"{base}/node1", "{base}/node2"};
  // More parameters of every signed document (name, value).
  std::vector<std::pair<std::string, std::string>> parameters;
  int maxAgeSecs = 3600;
  int maxBackoffSecs = 60;
};

inline std::string mockBase(int port, bool plain) {
  return std::string(plain ? "http" : "https") + "://127.0.0.1:" + std::to_string(port);
}

inline std::string expandBase(std::string text, const std::string& base) {
  for (size_t at = text.find("{base}"); at != std::string::npos; at = text.find("{base}", at + base.size()))
    text.replace(at, 6, base);
  return text;
}

// The signed data of the mock's documents (and, unsigned, of the
// package's initial configuration).
inline plat::LinkedPtr<hosted::BedMap> mockSignedData(const MockCloudLayout& layout, int port, bool withSigner) {
  const std::string base = mockBase(port, layout.plain);
  plat::LinkedPtr<hosted::BedMap> data(new hosted::BedMap);
  plat::LinkedPtr<hosted::BedSeq> params(new hosted::BedSeq);
  if (withSigner) {
    addParameter(*params, "certificates", signerChain().c_str());
    addParameter(*params, "algorithm", "yarl/rsapss-sha256");
  }
  std::string auth;
  for (const std::string& uri : layout.authUris) auth += (auth.empty() ? "" : ";") + expandBase(uri, base);
  addParameter(*params, "enterprise/auth-uris", auth.c_str());
  addParameter(*params, "enterprise/portal-uri", (base + "/portal").c_str());
  for (const auto& [name, value] : layout.parameters)
    addParameter(*params, name.c_str(), expandBase(value, base).c_str());
  data->set("any/parameters", params);
  data->setTime("any/valid-from", plat::getTime() / plat::kTicksPerMs * plat::kTicksPerMs);
  plat::LinkedPtr<hosted::BedSeq> uris(new hosted::BedSeq);
  uris->append(hosted::BedRef(new hosted::BedString((base + "/bootstrap").c_str())));
  data->set("btp/bootstrap-uris", uris);
  data->setInt("btp/config-count", layout.configCount);
  // Never fetched; discovery URIs must be https.
  data->setString("btp/initial-discovery-uri", (mockBase(port, false) + "/discovery").c_str());
  data->setInt("btp/max-age-secs", layout.maxAgeSecs);
  data->setInt("btp/max-backoff-secs", layout.maxBackoffSecs);
  return data;
}

inline void writeBytes(const std::string& path, const void* data, size_t count) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
  out.close();
  if (!out) throw plat::Exception("cannot write %s", path.c_str());
}

// Writes into folder: server-chain.pem and server.key (the mock's TLS),
// www/bootstrap/<i> (signed documents, "any/signed-data" first) and
// CloudConfig.pkg (the root as the only trusted certificate, and the
// unsigned initial configuration naming "<base>/bootstrap").
inline void writeMockCloud(const std::string& folder, int port, const MockCloudLayout& layout = {}) {
  const std::string base = mockBase(port, layout.plain);
  const std::string chain = signerChain();
  const std::string key = signerKey();
  writeBytes(folder + "/server-chain.pem", chain.data(), chain.size());
  writeBytes(folder + "/server.key", key.data(), key.size());
  std::filesystem::create_directories(folder + "/www/bootstrap");
  for (int i = 0; i < layout.configCount; ++i) {
    plat::Buffer document = signedBootstrap(mockSignedData(layout, port, true), key.c_str());
    writeBytes(folder + "/www/bootstrap/" + std::to_string(i), document.data(), static_cast<size_t>(document.count()));
  }
  plat::Buffer initial = unsignedBootstrap(mockSignedData(layout, port, false));
  plat::Buffer package = vendorPackage({testPkiFile("root.pem")}, initial);
  writeBytes(folder + "/CloudConfig.pkg", package.data(), static_cast<size_t>(package.count()));
}

}  // namespace yarl_test
