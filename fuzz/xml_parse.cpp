// xml::parseText over arbitrary bytes.  The first byte picks the options
// (encoding, white-space and comment handling, an expected tag, formatted
// writing); the rest is the document, which ends at its first NUL as a
// C string does.  Whatever parses is walked, copied, written and parsed
// again, so the tree operations and the writer see every shape the parser
// can build.

#include <cstddef>
#include <cstdint>
#include <string>

#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/TextBuffer.h"

namespace {

size_t walk(const xml::Node& n) {
  size_t seen = 0;
  for (int i = 0; i < n.itemCount(); ++i) {
    xml::Item it = n.item(i);
    if (it.kind == xml::kElementItem) seen += walk(it.element);
    ++seen;
  }
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  xml::setGlobalOptions(1 + flags % 6, true, (flags & 8) != 0, (flags & 16) != 0);
  xml::ParseResults r;
  xml::Node top = xml::parseText(text.c_str(), (flags & 32) ? "a" : nullptr, &r);
  if (r.error < 0 || r.error > xml::kCharCodeTooLarge) __builtin_trap();
  if (top.isEmpty() != (r.error > xml::kNoTagFound)) __builtin_trap();

  if (!top.isEmpty()) {
    walk(top);
    xml::Node copy = top.deepCopy();
    plat::CharArray written = copy.createString((flags & 64) != 0);
    xml::Node again = xml::parseText(written.get());
    walk(again);
    // A child kept past its tree.
    xml::Node first = top.childAt(0);
    top = xml::Node();
    walk(first);
  }

  xml::guessCharEncoding(data + 1, static_cast<int>(size - 1), true);
  xml::TextBuffer escaped;
  escaped.setEscaped(text.c_str());
  xml::setGlobalOptions(xml::kUtf8, true, true, true);
  return 0;
}
