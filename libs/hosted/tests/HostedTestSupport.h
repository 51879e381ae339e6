#pragma once
// The loop, endpoints and plain-HTTP answers the hosted request and
// bootstrap tests share.  Requests go to ScriptedServer on 127.0.0.1 over
// plain HTTP through a hosted client whose HTTP client is told to serve
// "http" too; the documents such a server hands out are signed by the test
// PKI's leaf for 127.0.0.1, so they verify for the server's URL.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "libs/hosted/Bed.h"
#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/libs/ssl/tests/TlsTestSupport.h"
#include "testing/BootstrapFixture.h"
#include "testing/ScriptedServer.h"

namespace hosted_test {

using yarl_test::ScriptedServer;

// A response with its "Content-Length".
inline std::string httpResponse(int status, const std::string& reason, const std::string& body,
                                const std::string& contentType = "", const std::string& extra = "") {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  if (!contentType.empty()) out += "Content-Type: " + contentType + "\r\n";
  out += extra + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  return out;
}

inline std::string text(const plat::Buffer& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.count()));
}

inline std::string bedResponse(const plat::Buffer& document) {
  return httpResponse(200, "OK", text(document), hosted::kBedContentType);
}

// Serves one connection: reads the request head and the body its
// "Content-Length" announces, records both, sends the answer.
inline ScriptedServer::Script answer(std::string response, std::string* request = nullptr) {
  return [response, request](ScriptedServer::Conn& c) {
    std::string head = c.readUntil("\r\n\r\n");
    const size_t at = head.find("Content-Length: ");
    if (at != std::string::npos) head += c.read(std::stoul(head.substr(at + 16)));
    if (request) *request = head;
    c.send(response);
  };
}

// The same over TLS, the server presenting the test PKI's leaf for
// 127.0.0.1 (through its intermediate).  `record` must outlive the server.
inline ScriptedServer::Script tlsAnswer(std::string response, ssl_test::TlsServerRecord& record,
                                        std::string* request = nullptr) {
  ssl_test::TlsServerConfig config;
  config.chainPem = yarl_test::signerChain();
  config.keyPem = yarl_test::signerKey();
  return ssl_test::tlsScript(config, record, [response, request](ssl_test::TlsSession& s) {
    std::string head = s.readUntil("\r\n\r\n");
    if (request) *request = head;
    s.write(response);
    s.closeNotify();
  });
}

// The value of a header in a recorded request head, or "<none>".
inline std::string headerOf(const std::string& head, const std::string& name) {
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "<none>";
  const size_t from = at + 4 + name.size();
  return head.substr(from, head.find("\r\n", from) - from);
}

// Signed data for a bootstrap document: the signer's chain, the
// parameters given, and the bootstrap URIs and count.
inline plat::LinkedPtr<hosted::BedMap> bootstrapData(const std::vector<std::pair<std::string, std::string>>& params,
                                                     const std::vector<std::string>& uris = {"https://127.0.0.1/b"},
                                                     int configCount = 1) {
  plat::LinkedPtr<hosted::BedMap> data = yarl_test::signedData();
  for (const auto& [name, value] : params)
    yarl_test::addParameter(data->getSeqOrEmpty("any/parameters"), name.c_str(), value.c_str());
  plat::LinkedPtr<hosted::BedSeq> list(new hosted::BedSeq);
  for (const std::string& uri : uris) list->append(hosted::BedRef(new hosted::BedString(uri.c_str())));
  data->set("btp/bootstrap-uris", list);
  data->setInt("btp/config-count", configCount);
  return data;
}

inline plat::Buffer signedDoc(const std::vector<std::pair<std::string, std::string>>& params = {}) {
  return yarl_test::signedDocument(bootstrapData(params));
}

struct EndpointOptions {
  const char* name = nullptr;
  const char* password = nullptr;
  const char* token = nullptr;
  const char* businessId = nullptr;
  int configCount = 1;
};

// An endpoint trusting the test PKI's root (or another certificate of
// it), whose initial bootstrap
// configuration names the given bootstrap URIs.
inline plat::LinkedPtr<hosted::HostedEndpoint> makeEndpoint(
    const std::vector<std::string>& bootstrapUris = {}, const EndpointOptions& o = {},
    const std::string& trusted = "root.pem", std::vector<std::pair<std::string, std::string>> extra = {}) {
  plat::Buffer initial = yarl_test::unsignedBootstrap(bootstrapData({}, bootstrapUris, o.configCount));
  plat::Buffer package = yarl_test::vendorPackage({yarl_test::testPkiFile(trusted)}, initial, std::move(extra));
  return plat::LinkedPtr<hosted::HostedEndpoint>(
      new hosted::HostedEndpoint(o.name, package.count(), package.data(), nullptr, o.password, o.token, o.businessId));
}

// The hosted client of an endpoint, serving plain "http" too.
inline std::unique_ptr<hosted::HostedClient> plainClient(const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint,
                                                         hosted::HostedFormatCallback* format = nullptr) {
  auto client = std::make_unique<hosted::HostedClient>(endpoint, format);
  dynamic_cast<http::NativeHttpClient&>(client->httpClient()).setAllowPlainHttp(true);
  return client;
}

// The TLS tests' loop, whose name resolution thread ends with each test.
class LoopTest : public ssl_test::LoopTest {
 protected:
  void TearDown() override {
    io::IpResolverMgr::shutdown();
    manager_.reset();
  }
};

}  // namespace hosted_test
