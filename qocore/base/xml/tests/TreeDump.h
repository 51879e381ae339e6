#pragma once
// A one-line picture of a tree, so a test can state a whole expected tree
// in one string: name[attr=value,flag](child,"text",<!--clear-->), "?" before
// a declaration's name, "#root" for an unnamed root, "<empty>" for the
// empty node.  Also an options guard that restores the process-wide parse
// options after a test.

#include <string>

#include "qocore/base/xml/CharEncoding.h"
#include "qocore/base/xml/Node.h"

namespace xml::testing {

inline std::string dump(const Node& n) {
  if (n.isEmpty()) return "<empty>";
  std::string s = n.isDeclaration() ? "?" : "";
  s += n.name() ? n.name() : "#root";
  if (n.attributeCount() > 0) {
    s += '[';
    for (int i = 0; i < n.attributeCount(); ++i) {
      Attribute a = n.attributeAt(i);
      if (i) s += ',';
      s += a.name;
      if (a.value) s += std::string("=") + a.value;
    }
    s += ']';
  }
  const int content = n.itemCount() - n.attributeCount();
  if (content > 0) {
    s += '(';
    for (int i = 0; i < content; ++i) {
      Item it = n.item(n.attributeCount() + i);
      if (i) s += ',';
      if (it.kind == kElementItem)
        s += dump(it.element);
      else if (it.kind == kTextItem)
        s += std::string("\"") + it.text + "\"";
      else if (it.kind == kClearItem)
        s += std::string(it.clear.open) + it.clear.value + it.clear.close;
    }
    s += ')';
  }
  return s;
}

// Puts the default options in place and restores the previous ones.
class OptionsGuard {
 public:
  OptionsGuard() : saved_(globalOptions()) { setGlobalOptions(kUtf8, true, true, true); }
  ~OptionsGuard() {
    setGlobalOptions(saved_.encoding, saved_.guessWideChars, saved_.dropWhiteSpace, saved_.removeComments);
  }
  OptionsGuard(const OptionsGuard&) = delete;
  OptionsGuard& operator=(const OptionsGuard&) = delete;

 private:
  Options saved_;
};

}  // namespace xml::testing
