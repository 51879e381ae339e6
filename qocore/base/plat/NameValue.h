#pragma once
// Name=Value lines: the text format of configuration files, policy files
// and several small stores, one setting per LF-terminated UTF-8 line.
//
// A line is a name, "=" and a value; a line without "=" is a name without
// a value (null).  The name runs to the first "=", so further "=" belong to
// the value.  White space at both ends of the line (the C library's space
// class) is dropped before the split, white space around "=" is kept.
// Inside a line "\n" stands for LF, "\r" for CR and "\\" for a backslash;
// a backslash before anything else is kept together with that character.
// Writers escape values only: names are written as they stand.  Comments
// are not part of the format ("#x" is a name like any other).

#include <functional>
#include <map>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace plat {

class Configuration;
class DString;

// Reads one line (at most rdr::InStream::kDefaultMaxLine bytes, else
// StringTooLongException) and unescapes it into buffer, which then holds
// the name.  Returns the value, pointing into buffer, or null when the line
// has no "=".  The end of the stream or message is thrown as the stream
// throws it.
const char* readNameValueLine(rdr::InStream& is, DString& buffer);

// Sets every line's name to its value in conf at the priority, until the
// end of the stream or message (which ends reading normally).  Values that
// a parameter refuses and names that no parameter has are passed over.
void readNameValueConfig(rdr::InStream& is, Configuration& conf, int priority);

// Called for a line whose name has a handler, instead of storing the value.
using NameValueHandler = std::function<void(const char* name, const char* value, CaseMap& map)>;
// Handlers by name, ignoring case.  The names are borrowed (static text).
using NameValueHandlers = std::map<const char*, NameValueHandler, CaseLess>;

// Reads lines until the end of the stream or message into map: a name with
// a handler goes to the handler; otherwise the map's entry for the name is
// set to a copy of the value (left alone when it holds an equal value).
void readNameValueLines(rdr::InStream& is, const NameValueHandlers& handlers, CaseMap& map);

// One line: the name, and when value is not null "=" and the escaped value;
// then LF.
void writeNameValueLine(rdr::OutStream& os, const char* name, const char* value);
// Every entry in map order.
void writeNameValueLines(rdr::OutStream& os, const CaseMap& map);

// A new copy of text with LF, CR and backslash escaped; null gives null.
CharArray escapeValue(const char* text);

// For every parameter of conf and of its child configurations that the
// reference configuration also has (by name), stores conf's value text in
// map when the two texts differ (or only one is null).  True when anything
// was stored.
bool collectChangedParams(const Configuration& conf, const Configuration& reference, CaseMap& map);

}  // namespace plat
