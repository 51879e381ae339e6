#pragma once
// The XML form of a parameter set: every parameter with its type, its
// description, flags, range, options and its values at every priority.
// The usage text prints it, and read() rebuilds a parameter set from it.
//
//   <?xml version="1.0"?>
//   <config>
//   <int    name="Port"
//           description="Port to listen on"
//           advanced="false"
//           min="1"
//           max="65535">
//       <value data="5900" priority="0"/>
//   </int>
//   </config>
//
// One element per parameter, named by its type ("string", "bool", "int",
// "enum", "binary", "s64"); "locDesc" (a localisation key) may stand in
// for "description", "flags" is a comma-separated list, "min" and "max"
// appear on "int" only, and an "enum" lists its names as "opt" children.

#include <functional>

#include "qocore/base/plat/CharArray.h"

namespace rdr {
class OutStream;
}

namespace plat {

class ConfigParameter;
class Configuration;

class XmlConfig {
 public:
  // Asked about each parameter; false leaves it out.  `advanced` is the
  // hidden flag.
  using Filter = std::function<bool(const char* name, const char* typeName, bool advanced)>;

  // The whole document for conf and its child configurations, parameters
  // sorted by name ignoring case.  Names beginning with "_" are left out
  // unless includeHidden.  With useKeys a parameter that has a
  // localisation key is written with "locDesc" instead of its text.
  static CharArray write(const Configuration& conf, bool includeHidden, const Filter& filter = nullptr,
                         bool useKeys = false);
  // For writers that add parameters one by one.
  static void writeHeader(rdr::OutStream& os);
  static void writeParam(rdr::OutStream& os, const ConfigParameter& param, bool useKeys = false);
  static void writeFooter(rdr::OutStream& os);

  // Creates in conf (owned by it) each parameter the document describes
  // and the filter accepts, and sets its values.  Throws Exception "XML
  // error <line>:<column> <message>" when the text does not parse, and
  // "Incompatible XML config" for an element that does not describe a
  // parameter; parameters made before the failure stay.
  static void read(Configuration& conf, const char* xmlText, const Filter& filter = nullptr);
};

}  // namespace plat
