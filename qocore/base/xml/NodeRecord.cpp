#include "qocore/base/xml/NodeRecord.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"

namespace xml::detail {

struct ArenaChunk {
  ArenaChunk* next;
  size_t size;  // bytes after the header
};

struct TextBlock {
  TextBlock* prev;
  size_t size;  // bytes after the header
  size_t used;  // once a newer block has taken over
};

const ClearMarkers kClearTable[4] = {{"<![CDATA[", "]]>"}, {"<!DOCTYPE", ">"}, {"<!--", "-->"}, {"<PRE>", "</PRE>"}};
const char* const kDocTypeLongClose = "]>";

namespace {

template <typename T>
void growFor(T*& array, int count, int& cap, int step) {
  if (count < cap) return;
  int newCap = cap + std::max(step, cap / 2);
  array = static_cast<T*>(reallocOrDie(array, sizeof(T) * static_cast<size_t>(newCap)));
  cap = newCap;
}

template <typename T>
void shrinkArray(T*& array, int count, int& cap) noexcept {
  if (count == cap) return;
  if (count == 0) {
    std::free(array);
    array = nullptr;
  } else {
    // Shrinking in place cannot fail in practice; keep the block if it does.
    void* p = std::realloc(array, sizeof(T) * static_cast<size_t>(count));
    if (!p) return;
    array = static_cast<T*>(p);
  }
  cap = count;
}

template <typename T>
void insertAt(T* array, int count, int index, const T& value) noexcept {
  std::memmove(array + index + 1, array + index, sizeof(T) * static_cast<size_t>(count - index));
  array[index] = value;
}

template <typename T>
void eraseAt(T* array, int count, int index) noexcept {
  std::memmove(array + index, array + index + 1, sizeof(T) * static_cast<size_t>(count - index - 1));
}

char foldAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Adds the order entry of a new item of `kind` at `position` (called before
// the kind's count grows); returns the item's index among its kind.
int insertOrder(NodeRecord* r, int kind, int kindCount, int position, int step) {
  const int n = r->orderCount();
  growFor(r->order, n, r->orderCap, step);
  if (position < 0 || position >= n) {
    r->order[n] = kindCount * 4 + kind;
    return kindCount;
  }
  int index = 0;
  for (int i = 0; i < position; ++i) {
    if ((r->order[i] & 3) == kind) ++index;
  }
  for (int i = position; i < n; ++i) {
    if ((r->order[i] & 3) == kind) r->order[i] += 4;
  }
  insertAt(r->order, n, position, index * 4 + kind);
  return index;
}

// Removes the order entry of an item (called before the kind's count
// shrinks).
void removeOrder(NodeRecord* r, int kind, int index) noexcept {
  const int n = r->orderCount();
  const int entry = index * 4 + kind;
  int at = -1;
  for (int i = 0; i < n; ++i) {
    if (r->order[i] == entry)
      at = i;
    else if ((r->order[i] & 3) == kind && r->order[i] > entry)
      r->order[i] -= 4;
  }
  if (at >= 0) eraseAt(r->order, n, at);
}

void releaseArena(Arena* a) noexcept {
  if (--a->records == 0) dropArena(a);
}

template <typename T>
T* ownedCopy(const T* array, int count) {
  if (count == 0) return nullptr;
  T* p = static_cast<T*>(reallocOrDie(nullptr, sizeof(T) * static_cast<size_t>(count)));
  std::memcpy(static_cast<void*>(p), array, sizeof(T) * static_cast<size_t>(count));
  return p;
}

void freeContents(NodeRecord* r) noexcept {
  if (r->packed) {
    releaseArena(r->arena);
    return;
  }
  std::free(r->name);
  for (int i = 0; i < r->textCount; ++i) freeText(r->texts[i]);
  for (int i = 0; i < r->clearCount; ++i) freeText(r->clears[i].value);
  for (int i = 0; i < r->attributeCount; ++i) {
    std::free(r->attributes[i].name);
    freeText(r->attributes[i].value);
  }
  std::free(r->children);
  std::free(r->texts);
  std::free(r->clears);
  std::free(r->attributes);
  std::free(r->order);
  if (r->arena)
    releaseArena(r->arena);
  else
    std::free(r);
}

}  // namespace

void* reallocOrDie(void* old, size_t bytes) {
  void* p = std::realloc(old, bytes ? bytes : 1);
  PLAT_ASSERT(p);
  return p;
}

char* copyText(const char* text, size_t n) {
  char* p = static_cast<char*>(reallocOrDie(nullptr, n + 1));
  if (n) std::memcpy(p, text, n);
  p[n] = '\0';
  return p;
}

char* copyText(const char* text) { return text ? copyText(text, std::strlen(text)) : nullptr; }

void freeText(char* text) noexcept {
  if (!text) return;
  plat::secureZero(text, std::strlen(text));
  std::free(text);
}

NodeRecord* newRecord(const char* name, size_t nameLen, bool declaration) {
  auto* r = static_cast<NodeRecord*>(reallocOrDie(nullptr, sizeof(NodeRecord)));
  std::memset(static_cast<void*>(r), 0, sizeof(NodeRecord));
  r->name = name ? copyText(name, nameLen) : nullptr;
  r->declaration = declaration;
  r->refCount = 1;
  return r;
}

void release(NodeRecord* r) noexcept {
  Arena* a = r->arena;
  if (a) --a->handles;
  if (--r->refCount > 0) return;
  if (a && a->intact && a->handles == 0) {
    // No handle is left on any record of the arena, and every record left
    // has a parent: all of them hang below r.
    dropArena(a);
    return;
  }
  // Iterative, so that a deep tree cannot exhaust the stack.  Records to
  // free are chained through their parent fields: a record whose count
  // fell to 0 has no parent left (a parent holds a reference).
  r->parent = nullptr;
  NodeRecord* pending = r;
  while (pending) {
    NodeRecord* cur = pending;
    pending = cur->parent;
    for (int i = 0; i < cur->childCount; ++i) {
      NodeRecord* c = cur->children[i];
      if (--c->refCount == 0) {
        c->parent = pending;
        pending = c;
      } else {
        c->parent = nullptr;
      }
    }
    freeContents(cur);
  }
}

namespace {
// Each chunk is two and a half times the last, up to a limit: a small
// document costs one small block, a large one a few large blocks.  Blocks
// that large come from mappings of their own at first; once one has been
// given back, the heap serves blocks up to that size and keeps up to twice
// that much freed room for the next document, so parsing large documents
// one after another does not take every page afresh from the system.  The
// factor keeps all chunks of an arena together well below twice the
// largest (a factor of two would come to just about that, and the pages
// would go back and forth); the limit stays within the 32 MB up to which
// the C library learns block sizes, so only arenas beyond about 40 MB take
// mappings each time.
constexpr size_t kFirstChunk = 16 * 1024;
constexpr size_t kMaxChunk = 32 * 1024 * 1024 - 4096;
unsigned char* chunkData(ArenaChunk* c) noexcept { return reinterpret_cast<unsigned char*>(c + 1); }
// Text blocks double up to a limit: small enough that a block left behind
// wastes little.
constexpr size_t kFirstTextBlock = 4 * 1024;
constexpr size_t kMaxTextBlock = 256 * 1024;
char* blockData(TextBlock* b) noexcept { return reinterpret_cast<char*>(b + 1); }
// A size beyond any block comes out as one that no allocation can give, so
// that the allocation fails as any other.
size_t withHeader(size_t header, size_t size) noexcept { return size > SIZE_MAX - header ? SIZE_MAX : header + size; }
}  // namespace

Arena* newArena() {
  auto* a = static_cast<Arena*>(reallocOrDie(nullptr, sizeof(Arena)));
  a->records = 0;
  a->intact = true;
  a->handles = 0;
  a->chunks = nullptr;
  a->next = a->end = nullptr;
  a->textBlocks = nullptr;
  a->textNext = a->textEnd = nullptr;
  return a;
}

void* arenaAllocInNewChunk(Arena* a, size_t bytes) {
  size_t size = a->chunks ? std::min(a->chunks->size / 2 * 5, kMaxChunk) : kFirstChunk;
  if (size < bytes) size = bytes;
  auto* c = static_cast<ArenaChunk*>(reallocOrDie(nullptr, withHeader(sizeof(ArenaChunk), size)));
  c->size = size;
  c->next = a->chunks;
  a->chunks = c;
  a->next = chunkData(c) + bytes;
  a->end = chunkData(c) + size;
  return chunkData(c);
}

char* arenaAllocTextInNewBlock(Arena* a, size_t bytes) {
  size_t size = a->textBlocks ? std::min(a->textBlocks->size * 2, kMaxTextBlock) : kFirstTextBlock;
  if (size < bytes) size = bytes;
  auto* b = static_cast<TextBlock*>(arenaAlloc(a, withHeader(sizeof(TextBlock), size)));
  b->size = size;
  b->used = 0;
  if (a->textBlocks) a->textBlocks->used = static_cast<size_t>(a->textNext - blockData(a->textBlocks));
  b->prev = a->textBlocks;
  a->textBlocks = b;
  a->textNext = blockData(b) + bytes;
  a->textEnd = blockData(b) + size;
  return blockData(b);
}

char* arenaCopy(Arena* a, const char* text, size_t n) {
  char* p = arenaAllocText(a, n + 1);
  if (n) std::memcpy(p, text, n);
  p[n] = '\0';
  return p;
}

void dropArena(Arena* a) noexcept {
  // Each text block is wiped as far as it was used; the rest holds records
  // and arrays of pointers.
  for (TextBlock* b = a->textBlocks; b; b = b->prev) {
    const size_t used = b == a->textBlocks ? static_cast<size_t>(a->textNext - blockData(b)) : b->used;
    plat::secureZero(blockData(b), used);
  }
  for (ArenaChunk* c = a->chunks; c;) {
    ArenaChunk* next = c->next;
    std::free(c);
    c = next;
  }
  std::free(a);
}

void own(NodeRecord* r) {
  if (r->arena) r->arena->intact = false;
  if (!r->packed) return;
  r->name = copyText(r->name);
  for (int i = 0; i < r->textCount; ++i) r->texts[i] = copyText(r->texts[i]);
  for (int i = 0; i < r->clearCount; ++i) r->clears[i].value = copyText(r->clears[i].value);
  for (int i = 0; i < r->attributeCount; ++i) {
    r->attributes[i].name = copyText(r->attributes[i].name);
    r->attributes[i].value = copyText(r->attributes[i].value);
  }
  r->children = ownedCopy(r->children, r->childCount);
  r->texts = ownedCopy(r->texts, r->textCount);
  r->clears = ownedCopy(r->clears, r->clearCount);
  r->attributes = ownedCopy(r->attributes, r->attributeCount);
  r->order = ownedCopy(r->order, r->orderCount());
  r->childCap = r->childCount;
  r->textCap = r->textCount;
  r->clearCap = r->clearCount;
  r->attributeCap = r->attributeCount;
  r->orderCap = r->orderCount();
  r->packed = false;
}

int addChild(NodeRecord* r, NodeRecord* child, int position, int step) {
  own(r);
  // The child may come from another arena and now has a parent outside it.
  if (child->arena) child->arena->intact = false;
  int index = insertOrder(r, kElementItem, r->childCount, position, step);
  growFor(r->children, r->childCount, r->childCap, step);
  insertAt(r->children, r->childCount, index, child);
  ++r->childCount;
  child->parent = r;
  return index;
}

int addText(NodeRecord* r, char* text, int position, int step) {
  own(r);
  int index = insertOrder(r, kTextItem, r->textCount, position, step);
  growFor(r->texts, r->textCount, r->textCap, step);
  insertAt(r->texts, r->textCount, index, text);
  ++r->textCount;
  return index;
}

int addClear(NodeRecord* r, char* value, const char* open, const char* close, int position, int step) {
  own(r);
  int index = insertOrder(r, kClearItem, r->clearCount, position, step);
  growFor(r->clears, r->clearCount, r->clearCap, step);
  insertAt(r->clears, r->clearCount, index, ClearItem{value, open, close});
  ++r->clearCount;
  return index;
}

int addAttribute(NodeRecord* r, char* name, char* value, int step) {
  own(r);
  growFor(r->attributes, r->attributeCount, r->attributeCap, step);
  r->attributes[r->attributeCount] = AttributeItem{name, value};
  return r->attributeCount++;
}

NodeRecord* takeChild(NodeRecord* r, int index) {
  own(r);
  NodeRecord* c = r->children[index];
  removeOrder(r, kElementItem, index);
  eraseAt(r->children, r->childCount, index);
  --r->childCount;
  c->parent = nullptr;
  return c;
}

void removeText(NodeRecord* r, int index) {
  own(r);
  freeText(r->texts[index]);
  removeOrder(r, kTextItem, index);
  eraseAt(r->texts, r->textCount, index);
  --r->textCount;
}

void removeClear(NodeRecord* r, int index) {
  own(r);
  freeText(r->clears[index].value);
  removeOrder(r, kClearItem, index);
  eraseAt(r->clears, r->clearCount, index);
  --r->clearCount;
}

void removeAttribute(NodeRecord* r, int index) {
  own(r);
  std::free(r->attributes[index].name);
  freeText(r->attributes[index].value);
  eraseAt(r->attributes, r->attributeCount, index);
  --r->attributeCount;
}

void shrink(NodeRecord* r) {
  own(r);
  shrinkArray(r->children, r->childCount, r->childCap);
  shrinkArray(r->texts, r->textCount, r->textCap);
  shrinkArray(r->clears, r->clearCount, r->clearCap);
  shrinkArray(r->attributes, r->attributeCount, r->attributeCap);
  shrinkArray(r->order, r->orderCount(), r->orderCap);
}

bool isNameEnd(char c) noexcept {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '/':
    case '<':
    case '=':
    case '>':
    case '\0':
      return true;
    default:
      return false;
  }
}

bool nameMatches(const char* name, const char* text) noexcept {
  if (!name || !text) return false;
  size_t i = 0;
  for (; name[i]; ++i) {
    if (name[i] != text[i] && foldAscii(name[i]) != foldAscii(text[i])) return false;
  }
  return isNameEnd(text[i]);
}

}  // namespace xml::detail
