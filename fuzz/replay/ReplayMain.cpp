// Runs a fuzz target's entry once over every file of the folders (or files)
// named on the command line, in name order, so that a corpus is replayed as
// an ordinary test without libFuzzer.  Each input sits in a buffer of
// exactly its size, so the sanitizers catch a read past its end.  A failing
// input aborts the run (the targets trap or abort); the last "replay:" line
// names it.  A folder that holds no input is an error: a test that replays
// nothing proves nothing.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool readFile(const std::filesystem::path& path, std::vector<char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <corpus folder or file>...\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> found;
      for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
      }
      if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], ec.message().c_str());
        return 1;
      }
      if (found.empty()) {
        std::fprintf(stderr, "replay: %s holds no input\n", argv[i]);
        return 1;
      }
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else {
      inputs.push_back(arg);
    }
  }

  std::vector<char> bytes;
  for (const auto& path : inputs) {
    if (!readFile(path, &bytes)) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 1;
    }
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    std::fflush(stderr);
    const auto input = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs passed\n", inputs.size());
  return 0;
}
