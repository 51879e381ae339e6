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
};

// Every value's block begins with the arena it lives in (null for the
// heap) in the word just before the object.
struct JsonValue::Arena {
  static constexpr size_t kHeader = sizeof(void*);
  static constexpr size_t kFirstChunk = 1024;
  // Chunks double up to this.
  static constexpr size_t kLargestChunk = 16 * 1024 * 1024;

  // The values in it, plus the parse while it runs.  Only the parsing
  // thread counts up, before any value is handed out; values may then be
  // deleted on any thread, so the count goes down atomically.
  std::atomic<size_t> live{1};
  JsonArenaChunk* chunks = nullptr;
  unsigned char* next = nullptr;
  unsigned char* end = nullptr;
  size_t chunkSize = kFirstChunk;

  // Continues in a new chunk of `room` bytes or a little more; the next
  // one doubles, up to the largest size.
  void openChunk(size_t room);

  // Room for a value of `size` bytes, which the caller constructs at once;
  // it counts as a value of the arena from then on.  Values need no more
  // than pointer alignment.
  void* allocValue(size_t size) {
    if (size > SIZE_MAX / 2) throw std::bad_alloc();
    const size_t need = kHeader + ((size + alignof(void*) - 1) & ~(alignof(void*) - 1));
    if (static_cast<size_t>(end - next) < need) openChunk(std::max(chunkSize, need));
    unsigned char* object = next + kHeader;
    reinterpret_cast<Arena**>(object)[-1] = this;
    next += need;
    // No other thread can see the arena yet: a plain increment suffices.
    live.store(live.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return object;
  }

  // Room for n bytes of text, which live as long as the arena.
  char* allocText(size_t n) {
    if (n > SIZE_MAX / 2) throw std::bad_alloc();
    // A text never opens a chunk of its own: values follow it.
    if (static_cast<size_t>(end - next) < n) openChunk(std::max(chunkSize, n + alignof(void*)));
    char* text = reinterpret_cast<char*>(next);
    // The next value stays aligned (or the chunk is full).
    const size_t taken = (n + alignof(void*) - 1) & ~(alignof(void*) - 1);
    next = taken < static_cast<size_t>(end - next) ? next + taken : end;
    return text;
  }
};

}  // namespace plat
