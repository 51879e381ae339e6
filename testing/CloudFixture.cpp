// cloud_fixture: writes test fixtures in the cloud client's encodings.
//
//   cloud_fixture bed <description.json> <out.bed>
//       a BED document from a JSON description (the conventions are in
//       testing/BedFixture.h)
//   cloud_fixture signed-bed <signed-data.json> <key.pem> <out.bed>
//       a bootstrap document: the described map under "any/signed-data",
//       first, and its RSASSA-PSS signature (SHA-256) by the key under
//       "any/signed-data-signature" (testing/BootstrapFixture.h)
//   cloud_fixture package <out.pkg> <name>=<file>...
//       a section package holding each file's bytes under its name
//   cloud_fixture mock-cloud <folder> <port> [plain]
//       the files of the mock cloud (testing/MockCloud.py) listening on
//       127.0.0.1:<port>: its TLS chain, signed bootstrap documents and
//       the CloudConfig.pkg pointing at it (testing/MockCloudFixture.h)

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/plat/NumberParse.h"
#include "testing/BedFixture.h"
#include "testing/BootstrapFixture.h"
#include "testing/MockCloudFixture.h"

namespace {

bool readFile(const char* path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeFile(const char* path, const plat::Buffer& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), bytes.count());
  out.close();
  return static_cast<bool>(out);
}

int usage() {
  std::fprintf(stderr,
               "usage: cloud_fixture bed <description.json> <out.bed>\n"
               "       cloud_fixture signed-bed <signed-data.json> <key.pem> <out.bed>\n"
               "       cloud_fixture package <out.pkg> <name>=<file>...\n"
               "       cloud_fixture mock-cloud <folder> <port> [plain]\n");
  return 2;
}

int run(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "bed") == 0) {
    std::string json;
    if (!readFile(argv[2], &json)) {
      std::fprintf(stderr, "cloud_fixture: cannot read %s\n", argv[2]);
      return 1;
    }
    if (!writeFile(argv[3], yarl_test::bedFromJsonText(json))) {
      std::fprintf(stderr, "cloud_fixture: cannot write %s\n", argv[3]);
      return 1;
    }
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "signed-bed") == 0) {
    std::string json, key;
    for (const char* path : {argv[2], argv[3]}) {
      if (!readFile(path, path == argv[2] ? &json : &key)) {
        std::fprintf(stderr, "cloud_fixture: cannot read %s\n", path);
        return 1;
      }
    }
    if (!writeFile(argv[4], yarl_test::signedBootstrapFromJson(json, key.c_str()))) {
      std::fprintf(stderr, "cloud_fixture: cannot write %s\n", argv[4]);
      return 1;
    }
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "package") == 0) {
    std::vector<std::pair<std::string, std::string>> sections;
    for (int i = 3; i < argc; ++i) {
      const char* eq = std::strchr(argv[i], '=');
      if (!eq || eq == argv[i]) return usage();
      std::string data;
      if (!readFile(eq + 1, &data)) {
        std::fprintf(stderr, "cloud_fixture: cannot read %s\n", eq + 1);
        return 1;
      }
      sections.emplace_back(std::string(argv[i], static_cast<size_t>(eq - argv[i])), std::move(data));
    }
    if (!writeFile(argv[2], yarl_test::packageOf(sections))) {
      std::fprintf(stderr, "cloud_fixture: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "mock-cloud") == 0) {
    const int32_t port = plat::parseIntRange(argv[3], 10, "bad port", 1, 65535);
    yarl_test::MockCloudLayout layout;
    if (argc == 5) {
      if (std::strcmp(argv[4], "plain") != 0) return usage();
      layout.plain = true;
    }
    yarl_test::writeMockCloud(argv[2], port, layout);
    return 0;
  }
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    std::fprintf(stderr, "cloud_fixture: %s\n", text);
    return 1;
  }
}
