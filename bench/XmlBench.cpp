// Parsing a generated 6 MB document: xml::parseText next to pugixml.
//
// Both build a whole tree from the same text held in memory and decode
// entities; pugixml's default mode also drops white-space-only text, as our
// default options do.  The ratio of the two rates is the figure to watch.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <pugixml.hpp>
#include <string>

#include "qocore/base/xml/Parser.h"

namespace {

// Sections of records, each record with attributes, nested elements, texts
// with entities and now and then a comment or a CDATA section: 6 MB.
const std::string& document() {
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

void BM_XmlParse(benchmark::State& state) {
  const std::string& doc = document();
  xml::setGlobalOptions(xml::kUtf8, true, true, true);
  for (auto _ : state) {
    xml::ParseResults r;
    xml::Node n = xml::parseText(doc.c_str(), "catalog", &r);
    if (r.error != xml::kNoError) state.SkipWithError(xml::errorText(r.error));
    benchmark::DoNotOptimize(n.childCount());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
}

void BM_PugixmlParse(benchmark::State& state) {
  const std::string& doc = document();
  for (auto _ : state) {
    pugi::xml_document d;
    pugi::xml_parse_result r = d.load_buffer(doc.data(), doc.size());
    if (!r) state.SkipWithError(r.description());
    benchmark::DoNotOptimize(d.first_child());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
}

BENCHMARK(BM_XmlParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
