#include "qocore/base/plat/XmlConfig.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/xml/ErrorCode.h"
#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/TextBuffer.h"
#include "qocore/base/xml/Values.h"

namespace plat {

namespace {

constexpr char kHeader[] = "<?xml version=\"1.0\"?>\n<config>\n";
constexpr char kFooter[] = "</config>\n";
constexpr char kIncompatible[] = "Incompatible XML config";

bool isWarning(int code) noexcept {
  return code == xml::kUnmatchedEndTagWarning || code == xml::kNoTagFound || code == xml::kBase64BadLength ||
         code == xml::kBase64Truncated;
}

// Writes text escaped for an attribute value.
void writeAttr(rdr::OutStream& os, xml::TextBuffer& escaped, const char* text) {
  os.writeText(escaped.setEscaped(text));
}

}  // namespace

void XmlConfig::writeHeader(rdr::OutStream& os) { os.writeText(kHeader); }

void XmlConfig::writeFooter(rdr::OutStream& os) { os.writeText(kFooter); }

void XmlConfig::writeParam(rdr::OutStream& os, const ConfigParameter& param, bool useKeys) {
  xml::TextBuffer escaped;
  const char* type = param.typeName();
  const char* key = param.getDescriptionKey();
  const bool asKey = useKeys && key;

  os.printf("<%-6s name=\"", type);
  writeAttr(os, escaped, param.getName());
  os.printf("\"\n        %s=\"", asKey ? "locDesc" : "description");
  writeAttr(os, escaped, asKey ? key : param.getDescription());
  os.printf("\"\n        advanced=\"%s\"", param.isHidden() ? "true" : "false");
  if (!param.getFlags().empty()) {
    DString flags;
    joinStrings(flags, param.getFlags().begin(), param.getFlags().end(), ",");
    os.writeText("\n        flags=\"");
    writeAttr(os, escaped, flags.c_str());
    os.writeText("\"");
  }
  if (std::strcmp(type, "int") == 0) {
    const auto& range = static_cast<const IntParameter&>(param);
    os.printf("\n        min=\"%i\"\n        max=\"%i\"", range.getMin(), range.getMax());
  }
  os.writeText(">\n");
  ConfigParameter::TextValues values = param.getAllValues();
  for (auto& [priority, text] : values) {
    os.writeText("    <value data=\"");
    writeAttr(os, escaped, text.get());
    os.printf("\" priority=\"%i\"/>\n", priority);
    // Binary values may be keys.
    secureFreeStr(text);
  }
  if (std::strcmp(type, "enum") == 0) {
    for (const char* const* name = static_cast<const EnumParameter&>(param).getNames(); name && *name; ++name) {
      os.writeText("    <opt data=\"");
      writeAttr(os, escaped, *name);
      os.writeText("\"/>\n");
    }
  }
  os.printf("</%s>\n", type);
}

CharArray XmlConfig::write(const Configuration& conf, bool includeHidden, const Filter& filter, bool useKeys) {
  std::vector<const ConfigParameter*> params;
  for (Configuration::ParamIterator it(conf, true); it; it.next()) {
    const ConfigParameter* p = it.param();
    if (!includeHidden && p->getName()[0] == '_') continue;
    if (filter && !filter(p->getName(), p->typeName(), p->isHidden())) continue;
    params.push_back(p);
  }
  std::stable_sort(params.begin(), params.end(), [](const ConfigParameter* a, const ConfigParameter* b) {
    return strcasecmp(a->getName(), b->getName()) < 0;
  });
  rdr::MemOutStream os;
  writeHeader(os);
  for (const ConfigParameter* p : params) writeParam(os, *p, useKeys);
  writeFooter(os);
  return os.takeString();
}

void XmlConfig::read(Configuration& conf, const char* xmlText, const Filter& filter) {
  xml::ParseResults results;
  xml::Node root = xml::parseText(xmlText, "config", &results);
  if (root.isEmpty() || (results.error != xml::kNoError && !isWarning(results.error)))
    throw Exception("XML error %i:%i %s", results.line, results.column, xml::errorText(results.error));

  for (int i = 0; i < root.childCount(); ++i) {
    xml::Node el = root.childAt(i);
    const char* type = el.name();
    const char* name = el.attribute("name");
    const char* text = el.attribute("description");
    const char* key = el.attribute("locDesc");
    const char* advancedText = el.attribute("advanced");
    const bool advanced = advancedText && strcasecmp(advancedText, "true") == 0;
    const char* flags = el.attribute("flags");
    if (!type || !name || (!text && !key) || el.childCount("value") == 0) throw Exception(kIncompatible);
    if (filter && !filter(name, type, advanced)) continue;

    // A key is kept as the key, so the description follows the language.
    ParamDescription desc = key ? ParamDescription(LocDesc{key}) : ParamDescription(text);
    ConfigParameter* param = nullptr;
    if (strcasecmp(type, "string") == 0) {
      param = conf.addString(name, desc, "", advanced, flags);
    } else if (strcasecmp(type, "bool") == 0) {
      param = conf.addBool(name, desc, false, advanced, flags);
    } else if (strcasecmp(type, "int") == 0) {
      const int minValue = xml::textToInt(el.attribute("min"), INT_MIN);
      const int maxValue = xml::textToInt(el.attribute("max"), INT_MAX);
      param = conf.addInt(name, desc, 0, minValue, maxValue, advanced, flags);
    } else if (strcasecmp(type, "enum") == 0) {
      std::vector<const char*> names;
      int index = 0;
      for (xml::Node opt = el.child("opt", &index); !opt.isEmpty(); opt = el.child("opt", &index)) {
        const char* option = opt.attribute("data");
        if (option) names.push_back(option);
      }
      // Without names, index 0 would name the list's terminator.
      if (names.empty()) throw Exception(kIncompatible);
      names.push_back(nullptr);
      param = conf.addEnum(name, desc, nullptr, names.data(), advanced, flags);
    } else if (strcasecmp(type, "binary") == 0) {
      param = conf.addBinary(name, desc, 0, nullptr, advanced, flags);
    } else if (strcasecmp(type, "s64") == 0) {
      param = conf.addS64(name, desc, 0, advanced, flags);
    } else {
      throw Exception(kIncompatible);
    }

    int index = 0;
    for (xml::Node value = el.child("value", &index); !value.isEmpty(); value = el.child("value", &index)) {
      const char* data = value.attribute("data");
      const char* priority = value.attribute("priority");
      if (!data || !priority) throw Exception(kIncompatible);
      // A value the parameter's type refuses is left out, as a Name=Value
      // file's would be; the rest of the file still applies.
      (void)param->setParam(data, xml::textToInt(priority, 0));
    }
  }
}

}  // namespace plat
