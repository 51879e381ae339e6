// JSON parse and write next to RapidJSON (its DOM) and nlohmann-json, both
// references used here only, on the same generated texts held in memory.
//
// Each document has one line per parser, named BM_Json_<Document>_<Parser>
// so that a script can pair them; the ratio of the rates within one run is
// the figure to watch.  Every parse line also reports peak_MB: the growth of
// the resident set while one parse builds its tree and drops it, and
// tree_bytes_per_byte: the growth of the resident set from before the parse
// to the moment its tree stands whole, per byte of input.  Both are
// measured in a child forked before any parse ran (so that no parser's kept
// or freed memory from an earlier line can hide the parse's own).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <rapidjson/document.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "qocore/base/plat/Json.h"

namespace {

struct Lcg {
  uint32_t state = 12345;
  uint32_t operator()() {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  }
};

// An array of records like a service's listing: integers, short and
// escaped strings, text beyond ASCII and above U+FFFF, nested objects and
// arrays; about 4 MB.
const std::string& objects4MB() {
  static const std::string text = [] {
    std::string s = "[";
    Lcg next;
    for (int i = 0; i < 12000; ++i) {
      if (i) s += ",";
      const std::string id = std::to_string(i);
      s += "\n {\"id\": " + id + ", \"name\": \"user-" + id + "\", \"email\": \"user" + id +
           "@example.com\", \"active\": " + (next() % 2 ? "true" : "false") +
           ", \"score\": " + std::to_string(static_cast<int64_t>(next()) - (1 << 23)) +
           ", \"created\": \"2024-03-05T10:20:30Z\", \"tags\": [\"alpha\", \"beta\", \"gamma\"]" +
           ", \"address\": {\"street\": \"" + std::to_string(next() % 1000) +
           " Caf\xC3\xA9 Street\", \"city\": \"M\xC3\xBCnchen\", \"zip\": \"80331\", \"geo\": [" +
           std::to_string(next() % 180) + ", -" + std::to_string(1 + next() % 89) + "]}" +
           ", \"note\": \"Line one\\nline \\\"two\\\" \\u00e9\\ud83d\\ude00 and a \\/slash\\t.\"" +
           ", \"history\": [{\"at\": " + std::to_string(next()) +
           ", \"event\": \"login\"}, {\"at\": " + std::to_string(next()) +
           ", \"event\": \"logout\", \"extra\": null}]}";
    }
    return s + "\n]";
  }();
  return text;
}

// About 12 MB of everything at once: objects of varying shape nested a few
// levels, long and short strings, arrays of numbers and of literals.
const std::string& mixed12MB() {
  static const std::string text = [] {
    std::string s = "{\"version\": 3, \"items\": [";
    Lcg next;
    for (int i = 0; s.size() < 12 * 1000 * 1000; ++i) {
      if (i) s += ", ";
      const std::string id = std::to_string(i);
      s += "{\"key\": \"item/" + id + "\", \"size\": " + std::to_string(next()) +
           ", \"labels\": {\"lang\": \"de\", \"title\": \"Gr\xC3\xBC\xC3\x9F\x65 " + id +
           "\", \"summary\": \"A longer text that goes on for a while, with \\\"quotes\\\", a tab\\t and "
           "a line\\nbreak, repeated now and then to make the strings of this document a little longer.\"}" +
           ", \"flags\": [true, false, null, true]" + ", \"matrix\": [[" + std::to_string(next() % 1000) + ", " +
           std::to_string(next() % 1000) + "], [-" + std::to_string(1 + next() % 1000) + ", 0]]" +
           ", \"owner\": {\"id\": " + std::to_string(next() % 100000) +
           ", \"name\": \"owner\", \"groups\": [\"a\", \"b\"], \"meta\": {\"deep\": {\"deeper\": {\"value\": " +
           std::to_string(next() % 7) + "}}}}, \"empty\": {}, \"none\": []}";
    }
    return s + "]}";
  }();
  return text;
}

// About 10 MB of integers in rows of twenty.
const std::string& numeric10MB() {
  static const std::string text = [] {
    std::string s = "[";
    Lcg next;
    for (int row = 0; s.size() < 10 * 1000 * 1000; ++row) {
      s += row ? ",\n[" : "\n[";
      for (int i = 0; i < 20; ++i) {
        if (i) s += ",";
        const int64_t v = static_cast<int64_t>(next()) * (i % 3 == 0 ? 100003 : 1) - (1 << 22);
        s += std::to_string(v);
      }
      s += "]";
    }
    return s + "\n]";
  }();
  return text;
}

// About 20 MB of what a parser finds hardest at once: integers only, a
// fifth of them using all 64 bits, long strings with escapes and text
// beyond ASCII, and containers nested up to 31 deep.
const std::string& deep20MB() {
  static const std::string text = [] {
    std::string s = "[";
    Lcg next;
    const auto integer = [&next](int i) {
      const uint64_t wide = static_cast<uint64_t>(next()) << 40 ^ static_cast<uint64_t>(next()) << 16 ^ next();
      if (i % 5 == 0) return std::to_string(static_cast<int64_t>(wide | 1ull << 62) * (i % 2 ? -1 : 1));
      return std::to_string(static_cast<int64_t>(next() % 100000) - 50000);
    };
    const auto text = [&next](int i) {
      std::string t =
          "\"Entr\xC3\xA9"
          "e " +
          std::to_string(i) + ": \\\"quoted\\\" \xE2\x80\x94 ";
      const int words = 4 + static_cast<int>(next() % 12);
      for (int w = 0; w < words; ++w) {
        t += w % 4 == 3 ? "na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC " : "text ";
        if (w % 5 == 4) t += "\\n\\t\\u00e9 ";
      }
      return t + "\xF0\x9F\x98\x80\"";
    };
    for (int i = 0; s.size() < 20 * 1000 * 1000; ++i) {
      if (i) s += ",";
      // A chain of objects and arrays down to a depth of up to 31 (the
      // record itself is at depth 1).
      const int depth = 2 + static_cast<int>(next() % 30);
      std::string close;
      s += "\n{\"id\": " + integer(i) + ", \"title\": " + text(i) + ", \"child\": ";
      close = "}";
      for (int d = 2; d < depth; ++d) {
        if (d % 2) {
          s += "[" + integer(i + d) + ", ";
          close = "]" + close;
        } else {
          s += "{\"n\": " + integer(i + d) + ", \"s\": \"level " + std::to_string(d) + "\", \"v\": ";
          close = "}" + close;
        }
      }
      s += "[" + integer(i + 1) + ", " + integer(i + 2) + ", " + text(i + 3) + "]" + close;
    }
    return s + "\n]";
  }();
  return text;
}

// A figure of /proc/self/status in kB ("VmRSS", "VmHWM"), or -1.
long statusKB(const char* key) {
  long kb = -1;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
        kb = std::strtol(line + n + 1, nullptr, 10);
        break;
      }
    }
    std::fclose(f);
  }
  return kb;
}

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// A parse, which calls `whole` (unless null) while its tree stands whole.
using Parse = void (*)(const std::string& text, void (*whole)());

struct Growth {
  double peakMB = -1;
  double treeBytesPerByte = -1;
};

long gTreeKB = -1;
void noteTree() { gTreeKB = statusKB("VmRSS"); }

// The growth of the resident set while `parse` runs once in a forked
// child, or -1 where it cannot be measured.
Growth growthInChild(const std::string& text, Parse parse) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    malloc_trim(0);
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", f);
      std::fclose(f);
    }
    const long before = statusKB("VmRSS");
    parse(text, noteTree);
    const long peak = statusKB("VmHWM");
    const long growth[2] = {before < 0 || peak < 0 ? -1 : peak - before,
                            before < 0 || gTreeKB < 0 ? -1 : gTreeKB - before};
    const ssize_t n = write(fds[1], growth, sizeof growth);
    _exit(n == sizeof growth ? 0 : 1);
  }
  close(fds[1]);
  long growth[2] = {-1, -1};
  if (pid < 0 || read(fds[0], growth, sizeof growth) != sizeof growth) growth[0] = growth[1] = -1;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  Growth g;
  if (growth[0] >= 0) g.peakMB = static_cast<double>(growth[0]) / 1000.0;
  if (growth[1] >= 0) g.treeBytesPerByte = static_cast<double>(growth[1]) * 1024.0 / static_cast<double>(text.size());
  return g;
}

// Growths by document and parser, measured at start-up (see main).
std::map<std::pair<const std::string*, Parse>, Growth>& growths() {
  static std::map<std::pair<const std::string*, Parse>, Growth> table;
  return table;
}

void parseOurs(const std::string& text, void (*whole)()) {
  plat::JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  plat::JsonRef value = plat::Json::parseHttpBody(nullptr, reader);
  benchmark::DoNotOptimize(value.get());
  if (whole) whole();
}

void parseRapidJson(const std::string& text, void (*whole)()) {
  rapidjson::Document d;
  d.Parse(text.data(), text.size());
  if (d.HasParseError()) std::abort();
  benchmark::DoNotOptimize(&d);
  if (whole) whole();
}

void parseNlohmann(const std::string& text, void (*whole)()) {
  nlohmann::json value = nlohmann::json::parse(text);
  benchmark::DoNotOptimize(value);
  if (whole) whole();
}

void runParse(benchmark::State& state, const std::string& (*document)(), Parse parse) {
  const std::string& text = document();
  const auto found = growths().find({&text, parse});
  const Growth growth = found == growths().end() ? Growth() : found->second;
  const long faults = minorFaults();
  for (auto _ : state) parse(text, nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["peak_MB"] = growth.peakMB;
  state.counters["tree_bytes_per_byte"] = growth.treeBytesPerByte;
  // Pages the heap gave back and took again: a cost that depends on the
  // machine more than on the parser.
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(minorFaults() - faults), benchmark::Counter::kAvgIterations);
}

#define JSON_PARSE_LINES(Document, generator)                                                          \
  void BM_Json_##Document##_Ours(benchmark::State& s) { runParse(s, generator, parseOurs); }           \
  void BM_Json_##Document##_RapidJson(benchmark::State& s) { runParse(s, generator, parseRapidJson); } \
  void BM_Json_##Document##_Nlohmann(benchmark::State& s) { runParse(s, generator, parseNlohmann); }   \
  BENCHMARK(BM_Json_##Document##_Ours)->Unit(benchmark::kMillisecond);                                 \
  BENCHMARK(BM_Json_##Document##_RapidJson)->Unit(benchmark::kMillisecond);                            \
  BENCHMARK(BM_Json_##Document##_Nlohmann)->Unit(benchmark::kMillisecond)

JSON_PARSE_LINES(Objects4MB, objects4MB);
JSON_PARSE_LINES(Mixed12MB, mixed12MB);
JSON_PARSE_LINES(Numeric10MB, numeric10MB);
JSON_PARSE_LINES(Deep20MB, deep20MB);

// Writing: both writers indent by two blanks.
void BM_Json_Write4MB_Ours(benchmark::State& state) {
  const std::string& text = objects4MB();
  plat::JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  const plat::JsonRef value = plat::Json::parseHttpBody(nullptr, reader);
  size_t written = 0;
  for (auto _ : state) {
    plat::CharArray out = value->toText();
    written = std::strlen(out.get());
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
  state.counters["output_bytes"] = static_cast<double>(written);
}
BENCHMARK(BM_Json_Write4MB_Ours)->Unit(benchmark::kMillisecond);

void BM_Json_Write4MB_Nlohmann(benchmark::State& state) {
  const nlohmann::json value = nlohmann::json::parse(objects4MB());
  size_t written = 0;
  for (auto _ : state) {
    std::string out = value.dump(2);
    written = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
  state.counters["output_bytes"] = static_cast<double>(written);
}
BENCHMARK(BM_Json_Write4MB_Nlohmann)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const std::string* text : {&objects4MB(), &mixed12MB(), &numeric10MB(), &deep20MB()}) {
    for (Parse parse : {parseOurs, parseRapidJson, parseNlohmann})
      growths()[{text, parse}] = growthInChild(*text, parse);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
