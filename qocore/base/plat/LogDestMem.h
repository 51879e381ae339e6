#pragma once
// plat::LogDestMem: the memory store that keeps messages no destination
// took (everything before logging is set up), to be replayed once the
// bindings are known.  One per process, made on first use and never
// destroyed.

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LogDest.h"
#include "qocore/base/plat/Mutex.h"

namespace plat {

class LogDestMem : public LogDest {
 public:
  // Messages kept before the store gives up; one warning follows them.
  static constexpr int kMaxMessages = 500;

  static LogDestMem& instance();

  // Keeps the message; ignored while replaying.  After kMaxMessages
  // messages one warning is kept and later messages are dropped.
  void write(int level, const char* source, const char* text) override;

  // Writes every kept message whose level is at most `level` to the
  // destination in order, between a start and a finish line at that
  // level; nothing when none qualifies.
  void replay(LogDest& to, int level);
  // Forgets the kept messages whose level is at most `level`.
  void removeUpTo(int level);
  void clear();
  int count();

 private:
  struct Entry {
    int32_t level;
    CharArray source;
    CharArray text;
  };

  LogDestMem() noexcept : LogDest(nullptr) {}

  Mutex mutex_;
  std::vector<Entry> entries_ PLAT_GUARDED_BY(mutex_);
  bool full_ PLAT_GUARDED_BY(mutex_) = false;
  bool replaying_ PLAT_GUARDED_BY(mutex_) = false;
};

}  // namespace plat
