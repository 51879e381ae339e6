#pragma once
// The node record behind xml::Node, shared by the tree operations, the
// parser and the writer.  Not part of the library's interface.
//
// Memory comes from malloc; a failed allocation is a fatal assertion on
// "p".  Arrays grow in steps of a given number of entries.
//
// A parse puts its records and everything they hold into one arena, which
// lives until the last of those records is released and is then freed, its
// texts wiped first: a document of many small elements costs a few large
// allocations instead of several per element.  Such a record is "packed"; the first
// edit of a packed record moves its contents (name, texts, arrays) into
// ordinary malloc'd blocks (own()), and only the record itself stays in the
// arena.  The order array holds one entry per child, text and clear
// in document order: the item's index among its kind times 4 plus its kind.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qocore/base/xml/Node.h"

namespace xml::detail {

struct ClearItem {
  char* value;
  const char* open;
  const char* close;
};

struct AttributeItem {
  char* name;
  char* value;  // null when written without "="
};

struct ArenaChunk;
struct TextBlock;
// The arena of one parse: chunks, newest first, and the free room of the
// newest.
struct Arena {
  int records;  // records living in it
  // While intact, no record in it has been edited, moved or taken out of
  // its parent (any of which clears it), so each record's count is its
  // parent's reference (when it has one) plus its handles; handles counts
  // those over all records.  Releasing the last handle on an intact arena
  // frees everything in it at once: every record left hangs below that one.
  bool intact;
  long handles;
  ArenaChunk* chunks;
  unsigned char* next;
  unsigned char* end;
  // Texts, attributes and special sections, which may hold secrets, lie
  // apart in blocks taken from the chunks, newest first, so that only they
  // need wiping (records, their names and arrays of pointers do not): the
  // free room of the newest.
  TextBlock* textBlocks;
  char* textNext;
  char* textEnd;
};

// The fields are ordered so that no padding falls between them.
struct NodeRecord {
  char* name;  // null for the root of a parse
  int childCount;
  int textCount;
  int clearCount;
  int attributeCount;
  NodeRecord* parent;
  NodeRecord** children;
  char** texts;
  ClearItem* clears;
  AttributeItem* attributes;
  int* order;
  Arena* arena;  // where the record lives; null when malloc'd
  int refCount;  // handles and the parent holding the record
  int childCap;
  int textCap;
  int clearCap;
  int attributeCap;
  int orderCap;
  bool declaration;
  bool packed;  // its contents live in the arena too

  int orderCount() const noexcept { return childCount + textCount + clearCount; }
};

// Steps of array growth: for whole copies (shrunk when complete), and for
// edits through Node.
inline constexpr int kParseStep = 50;
inline constexpr int kEditStep = 4;

struct ClearMarkers {
  const char* open;
  const char* close;
};
// The table of special sections, in the order the parser tries them.
// DOCTYPE ends at its first ">" unless a "<" comes first, and then at
// "]>" (kDocTypeLongClose).  Stored markers point into this table, so a
// marker is recognised by its address.
extern const ClearMarkers kClearTable[4];
extern const char* const kDocTypeLongClose;
inline constexpr int kCommentClear = 2;

// realloc that never returns null.
void* reallocOrDie(void* old, size_t bytes);
// A malloc'd NUL-terminated copy of n bytes (which must hold no NUL).
char* copyText(const char* text, size_t n);
// A malloc'd copy of a NUL-terminated text; null gives null.
char* copyText(const char* text);
// Wipes and frees a text from copyText (documents may carry secrets).
void freeText(char* text) noexcept;

// A new record with count 1, held by the caller.
NodeRecord* newRecord(const char* name, size_t nameLen, bool declaration);

// The arena of one parse.
Arena* newArena();
// Bump allocation, 8-byte aligned; never fails (a failed allocation is a
// fatal assertion).  The arena grows by chunks of its own and never moves
// what it gave out.
inline void* arenaAlloc(Arena* a, size_t bytes);
// Room for texts, unaligned; wiped when the arena goes.
inline char* arenaAllocText(Arena* a, size_t bytes);
// arenaAllocText when the newest text block has no room left.
char* arenaAllocTextInNewBlock(Arena* a, size_t bytes);
// arenaAlloc when the newest chunk has no room left.
void* arenaAllocInNewChunk(Arena* a, size_t bytes);
inline void* arenaAlloc(Arena* a, size_t bytes) {
  const size_t pad = (0 - reinterpret_cast<uintptr_t>(a->next)) & 7;
  const size_t room = static_cast<size_t>(a->end - a->next);
  if (room < pad || room - pad < bytes) return arenaAllocInNewChunk(a, bytes);
  void* p = a->next + pad;
  a->next += pad + bytes;
  return p;
}
inline char* arenaAllocText(Arena* a, size_t bytes) {
  if (static_cast<size_t>(a->textEnd - a->textNext) < bytes) return arenaAllocTextInNewBlock(a, bytes);
  char* p = a->textNext;
  a->textNext += bytes;
  return p;
}
// Gives back the end of the latest text allocation, which was `bytes` long
// and now needs only `used`.
inline void arenaTrimText(Arena* a, char* latest, size_t bytes, size_t used) noexcept {
  if (latest + bytes == a->textNext) a->textNext -= bytes - used;
}
// A NUL-terminated copy of n bytes among the texts.
char* arenaCopy(Arena* a, const char* text, size_t n);
// Wipes and frees an arena once no record lives in it.
void dropArena(Arena* a) noexcept;
// memcpy for the short texts of names and values, without a call: each
// size range is covered by two copies of a fixed size that may overlap.
inline void copyBytes(char* out, const char* in, size_t n) noexcept {
  if (n >= 8) {
    if (n > 16) {
      std::memcpy(out, in, n);
      return;
    }
    uint64_t a;
    uint64_t b;
    std::memcpy(&a, in, 8);
    std::memcpy(&b, in + n - 8, 8);
    std::memcpy(out, &a, 8);
    std::memcpy(out + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a;
    uint32_t b;
    std::memcpy(&a, in, 4);
    std::memcpy(&b, in + n - 4, 4);
    std::memcpy(out, &a, 4);
    std::memcpy(out + n - 4, &b, 4);
  } else if (n > 0) {
    out[0] = in[0];
    out[n / 2] = in[n / 2];
    out[n - 1] = in[n - 1];
  }
}

// A packed record in the arena, with count 1; its name is stored right
// behind it.
inline NodeRecord* newArenaRecord(Arena* a, const char* name, size_t nameLen, bool declaration) {
  const size_t nameBytes = name ? nameLen + 1 : 0;
  auto* r = static_cast<NodeRecord*>(arenaAlloc(a, sizeof(NodeRecord) + nameBytes));
  *r = NodeRecord{};
  if (name) {
    char* n = reinterpret_cast<char*>(r + 1);
    copyBytes(n, name, nameLen);
    n[nameLen] = '\0';
    r->name = n;
  }
  r->declaration = declaration;
  r->refCount = 1;
  r->arena = a;
  r->packed = true;
  ++a->records;
  return r;
}
// Moves a packed record's contents into malloc'd blocks; every operation that
// changes a record's contents calls it first.
void own(NodeRecord* r);
inline void retain(NodeRecord* r) noexcept {
  ++r->refCount;
  if (r->arena) ++r->arena->handles;
}
// Frees the record and everything below it that nothing else holds.  In
// an intact arena every call to retain and release is a handle's.
void release(NodeRecord* r) noexcept;

// Each adds an item at a position in document order (-1 for the end) and
// returns its index among its kind.  addChild takes over the caller's
// reference to the child and sets its parent.
int addChild(NodeRecord* r, NodeRecord* child, int position, int step);
// Takes ownership of the malloc'd text.
int addText(NodeRecord* r, char* text, int position, int step);
int addClear(NodeRecord* r, char* value, const char* open, const char* close, int position, int step);
// Takes ownership of both malloc'd texts.
int addAttribute(NodeRecord* r, char* name, char* value, int step);

// Each removes an item; the texts are freed.  takeChild hands the parent's
// reference to the caller and clears the child's parent.
NodeRecord* takeChild(NodeRecord* r, int index);
void removeText(NodeRecord* r, int index);
void removeClear(NodeRecord* r, int index);
void removeAttribute(NodeRecord* r, int index);

// Shrinks every array to its exact size.
void shrink(NodeRecord* r);

// The name-matching rule (see Node.h); a null name matches nothing.
bool nameMatches(const char* name, const char* text) noexcept;
bool isNameEnd(char c) noexcept;

// Lets the library's parts build handles around records.
struct NodeAccess {
  static Node adopt(NodeRecord* r) noexcept { return Node(r); }
  static NodeRecord* record(const Node& n) noexcept { return n.d_; }
};

}  // namespace xml::detail
