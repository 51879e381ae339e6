// The cost of logging once set-up is done.
//
// A disabled debug message must cost one comparison: no call and no
// formatting.  An enabled line to the log file is measured next to what
// the same line costs written by hand (snprintf of the full line format,
// fwrite and a flush, as the file destination flushes every line), in the
// same run and folder, so the ratio is the price of the log machinery.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogSrc.h"

namespace {

PLAT_LOG_SOURCE(benchLog, "LogBench");

// A temporary folder for the log file and the hand-written file, bound and
// set up once; removed at exit.
class LogSetup {
 public:
  LogSetup() {
    char pattern[] = "/tmp/yarl-logbench-XXXXXX";
    if (!mkdtemp(pattern)) {
      perror("mkdtemp");
      exit(1);
    }
    dir_ = pattern;
    plat::Configuration& conf = plat::Configuration::global();
    if (!conf.setParam("LogDir", dir_.c_str(), 10) || !conf.setParam("LogFile", "bench.log", 10)) exit(1);
    plat::LogDestFile::fileDest("log_bench", true);
    if (!conf.setParam("Log", "LogBench:file:30", 10)) exit(1);
    plat::finishLogSetup();
  }
  ~LogSetup() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

LogSetup& setup() {
  static LogSetup instance;
  return instance;
}

void BM_DisabledDebug(benchmark::State& state) {
  setup();
  int i = 0;
  for (auto _ : state) {
    benchLog().debug("value %d of %s", i++, "bench");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DisabledDebug);

void BM_Log_LineToFile_Ours(benchmark::State& state) {
  setup();
  int i = 0;
  for (auto _ : state) benchLog().info("value %d of %s", i++, "bench");
}
BENCHMARK(BM_Log_LineToFile_Ours);

void BM_Log_LineToFile_SnprintfFwrite(benchmark::State& state) {
  std::string path = setup().dir() + "/by-hand.log";
  FILE* out = fopen(path.c_str(), "w");
  char message[4096];
  char line[4200];
  int i = 0;
  for (auto _ : state) {
    snprintf(message, sizeof message, "value %d of %s", i++, "bench");
    int n = snprintf(line, sizeof line, "<%d> %s %s %s[%lld]: %s: %s\n", 14, "2024-01-02T03:04:05.678Z", "host",
                     "log_bench", static_cast<long long>(getpid()), "LogBench", message);
    fwrite(line, 1, static_cast<size_t>(n), out);
    fflush(out);
  }
  fclose(out);
}
BENCHMARK(BM_Log_LineToFile_SnprintfFwrite);

}  // namespace

BENCHMARK_MAIN();
