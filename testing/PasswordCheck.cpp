// password_check: whether a password is the one a server settings file
// stores, as the server itself decides it.
//
//   password_check <settings file>
//
// The candidate is the first line of standard input (without its line
// feed), so that it appears on no command line.  The file is a Name=Value
// file; its `Password` value is the stored form in hexadecimal.  Exits 0
// when the stored password accepts the candidate, 1 when it does not (or
// the file holds no Password), 2 on a usage or read failure.

#include <cstdio>
#include <iostream>
#include <string>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FileConfig.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/libs/svr/YarlAuthUtil.h"

namespace {

int run(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: password_check <settings file> < password\n");
    return 2;
  }
  plat::CaseMap settings;
  plat::readConfigFile(argv[1], settings);
  auto it = settings.find(plat::CharArray("Password"));
  if (it == settings.end()) {
    std::fprintf(stderr, "password_check: no Password in %s\n", argv[1]);
    return 1;
  }
  plat::Buffer stored;
  if (!plat::hexToBuffer(it->second.c_str(), stored)) {
    std::fprintf(stderr, "password_check: the Password of %s is not hexadecimal\n", argv[1]);
    return 1;
  }
  std::string line;
  if (!std::getline(std::cin, line)) {
    std::fprintf(stderr, "password_check: no password on standard input\n");
    return 2;
  }
  const plat::SecretText candidate(line.c_str(), line.size());
  plat::secureZero(line.data(), line.size());
  return svr::checkPassword(candidate.c_str(), stored, nullptr) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    std::fprintf(stderr, "password_check: %s\n", text);
    return 2;
  }
}
