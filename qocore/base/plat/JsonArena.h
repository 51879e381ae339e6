#pragma once
// The blocks the parser places the values of one document in, shared by
// the parser and the values (not for other users): the parser takes room
// from the current chunk inline, one value after another.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "qocore/base/plat/JsonValue.h"

namespace plat {

struct JsonArenaChunk {
  JsonArenaChunk* next;
  size_t room;  // the bytes after this header
  size_t used;  // of those, written to (known once the chunk is left)
};

// Every value's block begins with the arena it lives in (null for the
// heap) in the word just before the object.
struct JsonValue::Arena {
  static constexpr size_t kHeader = sizeof(void*);
  static constexpr size_t kFirstChunk = 1024;
  // Chunks double up to this.
  static constexpr size_t kLargestChunk = 16 * 1024 * 1024;

  // Chunks taken one after another.
  struct Region {
    JsonArenaChunk* chunks = nullptr;
    unsigned char* next = nullptr;
    unsigned char* end = nullptr;
    size_t chunkSize = kFirstChunk;

    // Continues in a new chunk of `room` bytes or a little more; the next
    // one doubles, up to the largest size.
    void openChunk(size_t room);
    // The bytes the current chunk has given out, noted before it is left
    // or given up.
    void noteUsed() noexcept {
      if (chunks) chunks->used = static_cast<size_t>(next - reinterpret_cast<unsigned char*>(chunks + 1));
    }
  };

  // The values in it, plus the parse while it runs.  Only the parsing
  // thread counts up, before any value is handed out; values may then be
  // deleted on any thread, so the count goes down atomically.
  std::atomic<size_t> live{1};
  // Most values, the containers' storage and the members' names.
  Region values;
  // The strings with their texts, apart so that these bytes alone are
  // wiped when the arena goes.
  Region strings;
  // The top value of the document, set when the parse succeeds.
  JsonValue* root = nullptr;
  // Whether a value other than the root has been handed out in a handle
  // of its own, or a container changed: until then the tree holds every
  // value alone and deleting the root gives up the whole arena at once.
  std::atomic<bool> shared{false};

  // Room for a value of `size` bytes, which the caller constructs at once;
  // it counts as a value of the arena from then on.  Values need no more
  // than pointer alignment.
  void* allocValue(size_t size) { return allocIn(values, size); }
  // The same for a string's value, whose text follows it in the block.
  void* allocString(size_t size) { return allocIn(strings, size); }

  void* allocIn(Region& r, size_t size) {
    if (size > SIZE_MAX / 2) throw std::bad_alloc();
    const size_t need = kHeader + ((size + alignof(void*) - 1) & ~(alignof(void*) - 1));
    if (static_cast<size_t>(r.end - r.next) < need) r.openChunk(std::max(r.chunkSize, need));
    unsigned char* object = r.next + kHeader;
    reinterpret_cast<Arena**>(object)[-1] = this;
    r.next += need;
    // No other thread can see the arena yet: a plain increment suffices.
    live.store(live.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return object;
  }

  // Room for n bytes of text, which live as long as the arena.
  char* allocText(size_t n) {
    if (n > SIZE_MAX / 2) throw std::bad_alloc();
    Region& r = values;
    // A text never opens a chunk of its own: values follow it.
    if (static_cast<size_t>(r.end - r.next) < n) r.openChunk(std::max(r.chunkSize, n + alignof(void*)));
    char* text = reinterpret_cast<char*>(r.next);
    // The next value stays aligned (or the chunk is full).
    const size_t taken = (n + alignof(void*) - 1) & ~(alignof(void*) - 1);
    r.next = taken < static_cast<size_t>(r.end - r.next) ? r.next + taken : r.end;
    return text;
  }

  // The arena of a value, or null for one from the heap.
  static Arena* of(const void* value) noexcept { return static_cast<Arena* const*>(value)[-1]; }

  // A parsed array's slot (JsonArray::slots_): a value's address (aligned
  // to pointers, so its low bits are clear), an integer of 63 bits shifted
  // up by one with the low bit set, or a literal shifted up by three above
  // the pattern 010.
  enum Literal : uintptr_t { kNull = 0, kFalse = 1, kTrue = 2 };
  static constexpr int64_t kSlotIntMin = -(int64_t{1} << 62);
  static constexpr int64_t kSlotIntMax = (int64_t{1} << 62) - 1;
  static bool slotHoldsValue(uintptr_t slot) noexcept { return (slot & 7) == 0; }
  static bool slotHoldsInt(uintptr_t slot) noexcept { return (slot & 1) != 0; }
  static uintptr_t intSlot(int64_t v) noexcept { return static_cast<uintptr_t>(v) << 1 | 1; }
  static int64_t slotInt(uintptr_t slot) noexcept { return static_cast<int64_t>(slot) >> 1; }
  static uintptr_t literalSlot(Literal l) noexcept { return l << 3 | 2; }
  static Literal slotLiteral(uintptr_t slot) noexcept { return static_cast<Literal>(slot >> 3); }

  // Notes that the tree no longer holds all of its values alone.
  void share() noexcept {
    if (!shared.load(std::memory_order_relaxed)) shared.store(true, std::memory_order_relaxed);
  }
};

}  // namespace plat
