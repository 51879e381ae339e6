#pragma once
// xml::Node: a handle on one element of a document tree.
//
// A handle holds one reference-counted node record, or none (the empty
// node).  Parents hold their children the same way, so a handle on an
// element stays valid after the tree it came from has been released: the
// element then simply has no parent.  Every lookup that finds nothing
// returns the empty node, and every operation on the empty node does
// nothing and returns zero, null or the empty node.
//
// Names of elements and attributes are compared without regard to ASCII
// letter case.  A name matches a looked-up text when the text begins with
// the name (ignoring case) and goes on with white space, "/", "<", "=",
// ">" or its end.  Items keep their document order: the attributes, then
// children, texts and special sections ("clears") interleaved as they
// appeared, which the writer reproduces.
//
// Reference counts are plain integers: a tree belongs to one thread.

#include "qocore/base/plat/CharArray.h"

namespace xml {

namespace detail {
struct NodeRecord;
struct NodeAccess;
}  // namespace detail

enum ItemKind : int {
  kElementItem = 0,
  kAttributeItem = 1,
  kTextItem = 2,
  kClearItem = 3,
  kNoItem = 4,  // what the empty node and a bad position give
};

// The special sections, with their markers.
enum class ClearKind : int {
  CData,    // "<![CDATA[" ... "]]>"
  DocType,  // "<!DOCTYPE" ... ">"
  Comment,  // "<!--" ... "-->"
  Pre,      // "<PRE>" ... "</PRE>"
};

struct Attribute {
  const char* name = nullptr;
  const char* value = nullptr;  // null when written without "="
};

struct Clear {
  const char* value = nullptr;
  const char* open = nullptr;  // the markers are static text
  const char* close = nullptr;
};

struct Item;

class Node {
 public:
  constexpr Node() noexcept = default;
  Node(const Node& other) noexcept;
  Node(Node&& other) noexcept : d_(other.d_) { other.d_ = nullptr; }
  Node& operator=(const Node& other) noexcept;
  Node& operator=(Node&& other) noexcept;
  ~Node();

  // A new element without a parent.
  static Node createTop(const char* name, bool declaration = false);

  bool isEmpty() const noexcept { return d_ == nullptr; }
  // The same record.
  bool operator==(const Node& other) const noexcept { return d_ == other.d_; }

  // Null for the empty node and for the unnamed root of a parse that held
  // more than one top-level item.
  const char* name() const noexcept;
  // Opened by "<?" and closed by "?>".
  bool isDeclaration() const noexcept;
  Node parent() const noexcept;

  // Counts.  childCount with a name counts the matching children only.
  int childCount(const char* name = nullptr) const noexcept;
  int textCount() const noexcept;
  int clearCount() const noexcept;
  int attributeCount() const noexcept;
  // Children, texts, clears and attributes together.
  int itemCount() const noexcept;

  // The first child at or after *index (0 without one) whose name matches;
  // *index is then set one past it.
  Node child(const char* name, int* index = nullptr) const noexcept;
  Node childAt(int position) const noexcept;
  // The first child at or after *index, named `name` (any name when null),
  // whose attribute attrName holds exactly attrValue.
  Node childWithAttribute(const char* name, const char* attrName, const char* attrValue,
                          int* index = nullptr) const noexcept;
  // Follows the names of a path, e.g. "a/b/c", from this node down.
  Node childByPath(const char* path, char separator = '/') const;

  // The value of the first matching attribute at or after *index (the
  // index is then set one past it); null when none matches or when the
  // attribute has no value.
  const char* attribute(const char* name, int* index = nullptr) const noexcept;
  bool hasAttribute(const char* name) const noexcept;
  Attribute attributeAt(int index) const noexcept;
  const char* textAt(int index) const noexcept;
  Clear clearAt(int index) const noexcept;

  // Item `position` of itemCount(): the attributes first, then children,
  // texts and clears in document order.
  Item item(int position) const noexcept;
  // Where the index-th child, text or clear stands in document order
  // (attributes excluded); -1 when there is no such item.
  int positionOf(ItemKind kind, int index) const noexcept;

  // Editing.  A position is a place in document order among children,
  // texts and clears; -1 (or any position past the end) appends.  Texts
  // are stored as given (escaping happens on writing).  Each edit answers
  // false when refused (the empty node, a bad index, a missing name).
  Node addChild(const char* name, bool declaration = false, int position = -1);
  [[nodiscard]] bool addAttribute(const char* name, const char* value);
  [[nodiscard]] bool addText(const char* text, int position = -1);
  [[nodiscard]] bool addClear(const char* value, ClearKind kind = ClearKind::CData, int position = -1);
  [[nodiscard]] bool rename(const char* name);
  // Sets the first attribute of that name; adds it when missing.
  [[nodiscard]] bool updateAttribute(const char* name, const char* value);
  [[nodiscard]] bool updateAttributeAt(int index, const char* name, const char* value);
  [[nodiscard]] bool updateText(int index, const char* text);
  [[nodiscard]] bool updateClear(int index, const char* value);
  [[nodiscard]] bool removeChildAt(int index);
  // The first child whose name matches.
  [[nodiscard]] bool removeChild(const char* name);
  [[nodiscard]] bool removeAttributeAt(int index);
  [[nodiscard]] bool removeAttribute(const char* name);
  [[nodiscard]] bool removeTextAt(int index);
  [[nodiscard]] bool removeClearAt(int index);
  // Takes this node out of its parent; the handle keeps it alive.
  [[nodiscard]] bool detach();
  // Moves this node under another parent.  Refused (false) when the new
  // parent is empty, this node itself or one of its descendants.
  [[nodiscard]] bool moveTo(const Node& newParent, int position = -1);
  // A copy of this node and everything below it, without a parent.
  Node deepCopy() const;

  // The tree as text: formatted with line feeds and one tab per level, or
  // all on one line.  The empty node gives null.
  plat::CharArray createString(bool formatted = true) const;
  // Writes the tree to a file, behind an XML header unless the tree begins
  // with a declaration.  The header names "utf-8" (after a byte-order
  // mark) in the UTF-8 encoding, "SHIFT-JIS" in Shift-JIS, otherwise
  // encodingName or "ISO-8859-1".  Returns 0, 15 when the file does not
  // open or 16 when writing fails.
  [[nodiscard]] int writeToFile(const char* path, bool formatted = true, const char* encodingName = nullptr) const;

 private:
  friend struct detail::NodeAccess;
  explicit Node(detail::NodeRecord* adopted) noexcept : d_(adopted) {}

  detail::NodeRecord* d_ = nullptr;
};

struct Item {
  ItemKind kind = kNoItem;
  Node element;                // kElementItem
  Attribute attribute;         // kAttributeItem
  const char* text = nullptr;  // kTextItem
  Clear clear;                 // kClearItem
};

}  // namespace xml
