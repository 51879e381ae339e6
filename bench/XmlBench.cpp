// Parsing and writing generated documents with xml::parseText and
// xml::Node::createString next to pugixml (a reference used here only).
//
// Both build a whole tree from the same text held in memory and decode
// entities; pugixml's default mode also drops white-space-only text, as our
// default options do.  Writing starts from each library's own tree of the
// same document and ends with the whole text in one block of memory:
// formatted with a tab per level, or raw on one line.  Each document has
// one line per library, named BM_Xml_<Document>_<Library> for parsing and
// BM_XmlWrite_<Document><Format>_<Library> for writing, so that a script
// can pair them; the ratio of the rates within one run is the figure to
// watch.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <pugixml.hpp>
#include <string>

#include "qocore/base/xml/Node.h"
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

void runOursWrite(benchmark::State& state, const std::string& doc, const char* top, bool formatted) {
  xml::setGlobalOptions(xml::kUtf8, true, true, true);
  xml::ParseResults r;
  const xml::Node n = xml::parseText(doc.c_str(), top, &r);
  if (r.error != xml::kNoError) state.SkipWithError(xml::errorText(r.error));
  const long faults = minorFaults();
  for (auto _ : state) {
    plat::CharArray text = n.createString(formatted);
    benchmark::DoNotOptimize(text.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
  countFaults(state, faults);
}

// Gathers what pugixml writes into one string, as createString does.
struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

void runPugixmlWrite(benchmark::State& state, const std::string& doc, bool formatted) {
  pugi::xml_document d;
  pugi::xml_parse_result r = d.load_buffer(doc.data(), doc.size());
  if (!r) state.SkipWithError(r.description());
  const long faults = minorFaults();
  for (auto _ : state) {
    StringWriter w;
    d.save(w, "\t", formatted ? pugi::format_default : pugi::format_raw);
    benchmark::DoNotOptimize(w.text.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
  countFaults(state, faults);
}

void BM_Xml_Nested6MB_Ours(benchmark::State& s) { runOurs(s, nested6MB(), "catalog"); }
void BM_Xml_Nested6MB_Pugixml(benchmark::State& s) { runPugixml(s, nested6MB()); }
void BM_Xml_Deep8MB_Ours(benchmark::State& s) { runOurs(s, deep8MB(), "root"); }
void BM_Xml_Deep8MB_Pugixml(benchmark::State& s) { runPugixml(s, deep8MB()); }

void BM_XmlWrite_Nested6MBFormatted_Ours(benchmark::State& s) { runOursWrite(s, nested6MB(), "catalog", true); }
void BM_XmlWrite_Nested6MBFormatted_Pugixml(benchmark::State& s) { runPugixmlWrite(s, nested6MB(), true); }
void BM_XmlWrite_Nested6MBRaw_Ours(benchmark::State& s) { runOursWrite(s, nested6MB(), "catalog", false); }
void BM_XmlWrite_Nested6MBRaw_Pugixml(benchmark::State& s) { runPugixmlWrite(s, nested6MB(), false); }
void BM_XmlWrite_Deep8MBRaw_Ours(benchmark::State& s) { runOursWrite(s, deep8MB(), "root", false); }
void BM_XmlWrite_Deep8MBRaw_Pugixml(benchmark::State& s) { runPugixmlWrite(s, deep8MB(), false); }

BENCHMARK(BM_Xml_Nested6MB_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xml_Nested6MB_Pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xml_Deep8MB_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xml_Deep8MB_Pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlWrite_Nested6MBFormatted_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlWrite_Nested6MBFormatted_Pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlWrite_Nested6MBRaw_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlWrite_Nested6MBRaw_Pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlWrite_Deep8MBRaw_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlWrite_Deep8MBRaw_Pugixml)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
