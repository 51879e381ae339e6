#include "qocore/base/xml/Node.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/xml/NodeRecord.h"

namespace xml {

using detail::NodeAccess;
using detail::NodeRecord;

namespace {

Node handleOn(NodeRecord* r) noexcept {
  if (!r) return Node();
  detail::retain(r);
  return NodeAccess::adopt(r);
}

bool validIndex(int index, int count) noexcept { return index >= 0 && index < count; }

// A record with src's name and attributes, and no content yet.
NodeRecord* copyHead(const NodeRecord* src) {
  NodeRecord* r = detail::newRecord(nullptr, 0, src->declaration);
  r->name = detail::copyText(src->name);
  for (int i = 0; i < src->attributeCount; ++i) {
    detail::addAttribute(r, detail::copyText(src->attributes[i].name), detail::copyText(src->attributes[i].value),
                         detail::kParseStep);
  }
  return r;
}

// Copies a tree in document order.  The elements being copied are kept in a
// list of their own rather than on the call stack, so that a tree built
// deeper than any parse allows cannot exhaust the stack.
NodeRecord* copyTree(const NodeRecord* top) {
  struct Copying {
    const NodeRecord* src;
    NodeRecord* copy;
    int next;  // src's next item in document order
  };
  NodeRecord* result = copyHead(top);
  // Only the list can throw (out of memory); the part copied goes then.
  plat::ScopeExit dropPartialCopy([result] { detail::release(result); });
  std::vector<Copying> open{{top, result, 0}};
  while (!open.empty()) {
    Copying& c = open.back();
    const NodeRecord* src = c.src;
    NodeRecord* r = c.copy;
    if (c.next == src->orderCount()) {
      detail::shrink(r);
      open.pop_back();
      continue;
    }
    const int entry = src->order[c.next++];
    const int index = entry >> 2;
    switch (entry & 3) {
      case kElementItem: {
        NodeRecord* child = copyHead(src->children[index]);
        detail::addChild(r, child, -1, detail::kParseStep);
        open.push_back({src->children[index], child, 0});
        break;
      }
      case kTextItem:
        detail::addText(r, detail::copyText(src->texts[index]), -1, detail::kParseStep);
        break;
      case kClearItem: {
        const detail::ClearItem& item = src->clears[index];
        detail::addClear(r, detail::copyText(item.value), item.open, item.close, -1, detail::kParseStep);
        break;
      }
    }
  }
  dropPartialCopy.dismiss();
  return result;
}

}  // namespace

Node::Node(const Node& other) noexcept : d_(other.d_) {
  if (d_) detail::retain(d_);
}

Node& Node::operator=(const Node& other) noexcept {
  if (other.d_) detail::retain(other.d_);
  if (d_) detail::release(d_);
  d_ = other.d_;
  return *this;
}

Node& Node::operator=(Node&& other) noexcept {
  if (this != &other) {
    if (d_) detail::release(d_);
    d_ = other.d_;
    other.d_ = nullptr;
  }
  return *this;
}

Node::~Node() {
  if (d_) detail::release(d_);
}

Node Node::createTop(const char* name, bool declaration) {
  return Node(detail::newRecord(name, name ? std::strlen(name) : 0, declaration));
}

const char* Node::name() const noexcept { return d_ ? d_->name : nullptr; }
bool Node::isDeclaration() const noexcept { return d_ && d_->declaration; }
Node Node::parent() const noexcept { return d_ ? handleOn(d_->parent) : Node(); }

int Node::childCount(const char* name) const noexcept {
  if (!d_) return 0;
  if (!name) return d_->childCount;
  int n = 0;
  for (int i = 0; i < d_->childCount; ++i) {
    if (detail::nameMatches(d_->children[i]->name, name)) ++n;
  }
  return n;
}

int Node::textCount() const noexcept { return d_ ? d_->textCount : 0; }
int Node::clearCount() const noexcept { return d_ ? d_->clearCount : 0; }
int Node::attributeCount() const noexcept { return d_ ? d_->attributeCount : 0; }
int Node::itemCount() const noexcept { return d_ ? d_->orderCount() + d_->attributeCount : 0; }

Node Node::child(const char* name, int* index) const noexcept {
  if (!d_) return Node();
  for (int i = index ? *index : 0; i < d_->childCount; ++i) {
    if (i >= 0 && detail::nameMatches(d_->children[i]->name, name)) {
      if (index) *index = i + 1;
      return handleOn(d_->children[i]);
    }
  }
  return Node();
}

Node Node::childAt(int position) const noexcept {
  if (!d_ || !validIndex(position, d_->childCount)) return Node();
  return handleOn(d_->children[position]);
}

Node Node::childWithAttribute(const char* name, const char* attrName, const char* attrValue,
                              int* index) const noexcept {
  if (!d_ || !attrValue) return Node();
  for (int i = index ? *index : 0; i < d_->childCount; ++i) {
    if (i < 0) continue;
    NodeRecord* c = d_->children[i];
    if (name && !detail::nameMatches(c->name, name)) continue;
    for (int a = 0; a < c->attributeCount; ++a) {
      const detail::AttributeItem& at = c->attributes[a];
      if (at.value && detail::nameMatches(at.name, attrName) && std::strcmp(at.value, attrValue) == 0) {
        if (index) *index = i + 1;
        return handleOn(c);
      }
    }
  }
  return Node();
}

Node Node::childByPath(const char* path, char separator) const {
  if (!d_ || !path) return Node();
  Node cur = *this;
  const char* p = path;
  while (*p && !cur.isEmpty()) {
    const char* end = std::strchr(p, separator);
    if (!end) end = p + std::strlen(p);
    if (end > p) {
      plat::CharArray step(p, static_cast<int>(end - p));
      cur = cur.child(step.get());
    }
    p = *end ? end + 1 : end;
  }
  return cur;
}

const char* Node::attribute(const char* name, int* index) const noexcept {
  if (!d_) return nullptr;
  for (int i = index ? *index : 0; i < d_->attributeCount; ++i) {
    if (i >= 0 && detail::nameMatches(d_->attributes[i].name, name)) {
      if (index) *index = i + 1;
      return d_->attributes[i].value;
    }
  }
  return nullptr;
}

bool Node::hasAttribute(const char* name) const noexcept {
  if (!d_) return false;
  for (int i = 0; i < d_->attributeCount; ++i) {
    if (detail::nameMatches(d_->attributes[i].name, name)) return true;
  }
  return false;
}

Attribute Node::attributeAt(int index) const noexcept {
  if (!d_ || !validIndex(index, d_->attributeCount)) return {};
  return {d_->attributes[index].name, d_->attributes[index].value};
}

const char* Node::textAt(int index) const noexcept {
  if (!d_ || !validIndex(index, d_->textCount)) return nullptr;
  return d_->texts[index];
}

Clear Node::clearAt(int index) const noexcept {
  if (!d_ || !validIndex(index, d_->clearCount)) return {};
  const detail::ClearItem& c = d_->clears[index];
  return {c.value, c.open, c.close};
}

Item Node::item(int position) const noexcept {
  Item it;
  if (!d_ || !validIndex(position, itemCount())) return it;
  if (position < d_->attributeCount) {
    it.kind = kAttributeItem;
    it.attribute = attributeAt(position);
    return it;
  }
  int entry = d_->order[position - d_->attributeCount];
  int index = entry >> 2;
  it.kind = static_cast<ItemKind>(entry & 3);
  switch (it.kind) {
    case kElementItem:
      it.element = handleOn(d_->children[index]);
      break;
    case kTextItem:
      it.text = d_->texts[index];
      break;
    case kClearItem:
      it.clear = clearAt(index);
      break;
    default:
      break;
  }
  return it;
}

int Node::positionOf(ItemKind kind, int index) const noexcept {
  if (!d_ || index < 0 || (kind != kElementItem && kind != kTextItem && kind != kClearItem)) return -1;
  const int entry = index * 4 + kind;
  for (int i = 0; i < d_->orderCount(); ++i) {
    if (d_->order[i] == entry) return i;
  }
  return -1;
}

Node Node::addChild(const char* name, bool declaration, int position) {
  if (!d_) return Node();
  NodeRecord* c = detail::newRecord(name, name ? std::strlen(name) : 0, declaration);
  detail::addChild(d_, c, position, detail::kEditStep);
  return handleOn(c);
}

bool Node::addAttribute(const char* name, const char* value) {
  if (!d_ || !name) return false;
  detail::addAttribute(d_, detail::copyText(name), detail::copyText(value), detail::kEditStep);
  return true;
}

bool Node::addText(const char* text, int position) {
  if (!d_ || !text) return false;
  detail::addText(d_, detail::copyText(text), position, detail::kEditStep);
  return true;
}

bool Node::addClear(const char* value, ClearKind kind, int position) {
  if (!d_ || !value) return false;
  const detail::ClearMarkers& m = detail::kClearTable[static_cast<int>(kind) & 3];
  detail::addClear(d_, detail::copyText(value), m.open, m.close, position, detail::kEditStep);
  return true;
}

bool Node::rename(const char* name) {
  if (!d_ || !name) return false;
  detail::own(d_);
  std::free(d_->name);
  d_->name = detail::copyText(name);
  return true;
}

bool Node::updateAttribute(const char* name, const char* value) {
  if (!d_ || !name) return false;
  for (int i = 0; i < d_->attributeCount; ++i) {
    if (detail::nameMatches(d_->attributes[i].name, name)) return updateAttributeAt(i, nullptr, value);
  }
  return addAttribute(name, value);
}

bool Node::updateAttributeAt(int index, const char* name, const char* value) {
  if (!d_ || !validIndex(index, d_->attributeCount)) return false;
  detail::own(d_);
  detail::AttributeItem& a = d_->attributes[index];
  if (name) {
    char* n = detail::copyText(name);
    std::free(a.name);
    a.name = n;
  }
  char* v = detail::copyText(value);
  detail::freeText(a.value);
  a.value = v;
  return true;
}

bool Node::updateText(int index, const char* text) {
  if (!d_ || !text || !validIndex(index, d_->textCount)) return false;
  detail::own(d_);
  char* t = detail::copyText(text);
  detail::freeText(d_->texts[index]);
  d_->texts[index] = t;
  return true;
}

bool Node::updateClear(int index, const char* value) {
  if (!d_ || !value || !validIndex(index, d_->clearCount)) return false;
  detail::own(d_);
  char* v = detail::copyText(value);
  detail::freeText(d_->clears[index].value);
  d_->clears[index].value = v;
  return true;
}

bool Node::removeChildAt(int index) {
  if (!d_ || !validIndex(index, d_->childCount)) return false;
  detail::release(detail::takeChild(d_, index));
  return true;
}

bool Node::removeChild(const char* name) {
  int index = 0;
  if (child(name, &index).isEmpty()) return false;
  return removeChildAt(index - 1);
}

bool Node::removeAttributeAt(int index) {
  if (!d_ || !validIndex(index, d_->attributeCount)) return false;
  detail::removeAttribute(d_, index);
  return true;
}

bool Node::removeAttribute(const char* name) {
  if (!d_) return false;
  for (int i = 0; i < d_->attributeCount; ++i) {
    if (detail::nameMatches(d_->attributes[i].name, name)) return removeAttributeAt(i);
  }
  return false;
}

bool Node::removeTextAt(int index) {
  if (!d_ || !validIndex(index, d_->textCount)) return false;
  detail::removeText(d_, index);
  return true;
}

bool Node::removeClearAt(int index) {
  if (!d_ || !validIndex(index, d_->clearCount)) return false;
  detail::removeClear(d_, index);
  return true;
}

bool Node::detach() {
  if (!d_ || !d_->parent) return false;
  NodeRecord* p = d_->parent;
  for (int i = 0; i < p->childCount; ++i) {
    if (p->children[i] == d_) {
      detail::release(detail::takeChild(p, i));  // the parent's reference
      return true;
    }
  }
  return false;
}

bool Node::moveTo(const Node& newParent, int position) {
  NodeRecord* target = newParent.d_;
  if (!d_ || !target) return false;
  for (NodeRecord* a = target; a; a = a->parent) {
    if (a == d_) return false;
  }
  detail::retain(d_);  // the new parent's reference
  (void)detach();      // a node without a parent has nothing to leave
  detail::addChild(target, d_, position, detail::kEditStep);
  return true;
}

Node Node::deepCopy() const {
  if (!d_) return Node();
  return Node(copyTree(d_));
}

}  // namespace xml
