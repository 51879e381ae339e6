#pragma once
// Small helpers shared by the crypto tests.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/InStream.h"

namespace crypto_test {

inline std::string toHex(const void* data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  const uint8_t* p = static_cast<const uint8_t*>(data);
  std::string hex;
  for (size_t i = 0; i < len; ++i) {
    hex += kDigits[p[i] >> 4];
    hex += kDigits[p[i] & 15];
  }
  return hex;
}
inline std::string toHex(const plat::Buffer& b) { return toHex(b.data(), static_cast<size_t>(b.count())); }
inline std::string toHex(const std::string& s) { return toHex(s.data(), s.size()); }

inline std::string fromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The tests' data folder: YARL_TEST_DATA (set by ctest), else ./data.
inline std::string dataDir() {
  const char* dir = std::getenv("YARL_TEST_DATA");
  return dir && *dir ? dir : "data";
}

// A vector file of lines "name hex" made by data/crypto_oracle.py.
inline std::map<std::string, std::string> loadVectors(const std::string& name) {
  std::ifstream f(dataDir() + "/" + name);
  if (!f) throw std::runtime_error("cannot open " + dataDir() + "/" + name);
  std::map<std::string, std::string> vectors;
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string key, hex;
    words >> key >> hex;
    vectors[key] = fromHex(hex);
  }
  return vectors;
}

// Asks the python-cryptography oracle (data/crypto_oracle.py check) about
// each request line; one answer line per request.
inline std::vector<std::string> askOracle(const std::vector<std::string>& requests) {
  char path[] = "/tmp/crypto-oracle-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp");
  close(fd);
  {
    std::ofstream f(path);
    for (const std::string& r : requests) f << r << "\n";
  }
  // Debian's interpreter is the one that has python3-cryptography.
  const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::string command = std::string(python) + " " + dataDir() + "/crypto_oracle.py check " + path;
  std::vector<std::string> answers;
  if (FILE* p = popen(command.c_str(), "r")) {
    char line[8192];
    while (fgets(line, sizeof line, p)) {
      std::string s(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      answers.push_back(s);
    }
    pclose(p);
  }
  unlink(path);
  return answers;
}

// Everything the stream can hand out without waiting, consumed.
inline std::string readAvailable(rdr::InStream& in) {
  std::string out;
  while (in.check(false, 1)) {
    out.append(reinterpret_cast<const char*>(in.getPtr()), static_cast<size_t>(in.nUnread()));
    in.advance(in.nUnread());
  }
  return out;
}

// An input stream that hands out its bytes `chunk` at a time and then
// ends in one of four ways (kForeignFailure: an exception that is not a
// plat::Exception).
class ChunkedInStream : public rdr::InStream {
 public:
  enum class Ending { kEndOfStream, kWouldBlock, kFailure, kForeignFailure };

  ChunkedInStream(std::string bytes, int chunk, Ending ending)
      : bytes_(std::move(bytes)), chunk_(chunk), ending_(ending) {
    ptr_ = end_ = checkpointPtr_ = start();
  }
  int32_t pos() override { return static_cast<int32_t>(ptr_ - start()); }

 protected:
  bool overrun(int32_t) override {
    const uint8_t* last = start() + bytes_.size();
    if (end_ < last) {
      end_ = std::min(end_ + chunk_, last);
      return true;
    }
    switch (ending_) {
      case Ending::kEndOfStream:
        throw rdr::EndOfStream();
      case Ending::kWouldBlock:
        return false;
      case Ending::kFailure:
        break;
      case Ending::kForeignFailure:
        throw std::runtime_error("connection reset");
    }
    throw plat::Exception("connection reset");
  }

 private:
  const uint8_t* start() const { return reinterpret_cast<const uint8_t*>(bytes_.data()); }

  std::string bytes_;
  int chunk_;
  Ending ending_;
};

}  // namespace crypto_test
