// Parsing generated documents with xml::parseText next to pugixml (a
// reference used here only).
//
// Both build a whole tree from the same text held in memory and decode
// entities; pugixml's default mode also drops white-space-only text, as our
// default options do.  Each document has one line per parser, named
// BM_Xml_<Document>_<Parser> so that a script can pair them; the ratio of
// the rates within one run is the figure to watch.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <pugixml.hpp>
#include <string>

#include "qocore/base/xml/Parser.h"

namespace {

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Pages the heap gave back and took again: a cost that depends on the
// machine more than on the parser.
void countFaults(benchmark::State& state, long before) {
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(minorFaults() - before), benchmark::Counter::kAvgIterations);
}

// Sections of records, each record with attributes, nested elements, texts
// with entities and now and then a comment or a CDATA section: 6 MB.
const std::string& nested6MB() {
  static const std::string doc = [] {
    std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<catalog version=\"2\">\n";
    char buf[512];
    int id = 0;
    for (int section = 0; section < 20; ++section) {
      std::snprintf(buf, sizeof buf, "  <section name=\"section %d\" kind='plain'>\n", section);
      s += buf;
      for (int r = 0; r < 900; ++r, ++id) {
        std::snprintf(buf, sizeof buf,
                      "    <record id=\"%d\" enabled=\"true\" priority=\"%d\" owner=\"user%d@example.org\">\n"
                      "      <title>Record %d &amp; friends</title>\n"
                      "      <value type=\"int\" min=\"0\" max=\"1000\">%d</value>\n"
                      "      <note>caf\xC3\xA9 &lt;%d&gt; &#233; item number %d in this list</note>\n"
                      "      <flags><flag name=\"a\"/><flag name=\"b\"/></flags>\n",
                      id, id % 7, id % 50, id, id * 13 % 1000, id, id);
        s += buf;
        if (r % 10 == 0) s += "      <!-- a comment on this record -->\n";
        if (r % 25 == 0) s += "      <![CDATA[raw <data> & more]]>\n";
        s += "    </record>\n";
      }
      s += "  </section>\n";
    }
    s += "</catalog>\n";
    return s;
  }();
  return doc;
}

// Chains of elements nested several hundred levels deep (within the
// parser's depth limit), each level with an attribute and a short text,
// one chain after another: about 8 MB.
const std::string& deep8MB() {
  static const std::string doc = [] {
    constexpr int kDepth = 400;
    std::string s = "<?xml version=\"1.0\"?>\n<root>\n";
    char buf[128];
    for (int chain = 0; s.size() < 8 * 1000 * 1000; ++chain) {
      for (int level = 0; level < kDepth; ++level) {
        std::snprintf(buf, sizeof buf, "<level n=\"%d\" chain=\"%d\">text %d &amp; more\n", level, chain, level);
        s += buf;
      }
      for (int level = 0; level < kDepth; ++level) s += "</level>\n";
    }
    s += "</root>\n";
    return s;
  }();
  return doc;
}

void runOurs(benchmark::State& state, const std::string& doc, const char* top) {
  xml::setGlobalOptions(xml::kUtf8, true, true, true);
  const long faults = minorFaults();
  for (auto _ : state) {
    xml::ParseResults r;
    xml::Node n = xml::parseText(doc.c_str(), top, &r);
    if (r.error != xml::kNoError) state.SkipWithError(xml::errorText(r.error));
    benchmark::DoNotOptimize(n.childCount());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
  countFaults(state, faults);
}

void runPugixml(benchmark::State& state, const std::string& doc) {
  const long faults = minorFaults();
  for (auto _ : state) {
    pugi::xml_document d;
    pugi::xml_parse_result r = d.load_buffer(doc.data(), doc.size());
    if (!r) state.SkipWithError(r.description());
    benchmark::DoNotOptimize(d.first_child());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
  countFaults(state, faults);
}

void BM_Xml_Nested6MB_Ours(benchmark::State& s) { runOurs(s, nested6MB(), "catalog"); }
void BM_Xml_Nested6MB_Pugixml(benchmark::State& s) { runPugixml(s, nested6MB()); }
void BM_Xml_Deep8MB_Ours(benchmark::State& s) { runOurs(s, deep8MB(), "root"); }
void BM_Xml_Deep8MB_Pugixml(benchmark::State& s) { runPugixml(s, deep8MB()); }

BENCHMARK(BM_Xml_Nested6MB_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xml_Nested6MB_Pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xml_Deep8MB_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xml_Deep8MB_Pugixml)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
