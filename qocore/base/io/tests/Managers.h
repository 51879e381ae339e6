#pragma once
// Test helper for the io tests: the two descriptor managers, so that one
// table of cases runs on the poll manager and on the run-loop manager the
// program itself uses.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "qocore/base/io/FdManager.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"

namespace io_test {

enum class Kind { kRunLoop, kSelect };

inline std::unique_ptr<io::FdManager> makeManager(Kind kind) {
  if (kind == Kind::kRunLoop) return std::make_unique<io::IoRunLoopManager>();
  return std::make_unique<io::FdSelectManager>(false);
}

// One round of the manager's loop, waiting at most `ms` (0: not at all).
// True when a descriptor was served (or, for the poll manager, a timer was
// due).
inline bool turn(io::FdManager& m, int ms) {
  if (auto* select = dynamic_cast<io::FdSelectManager*>(&m)) return select->poll(ms);
  auto& loop = static_cast<io::IoRunLoopManager&>(m).runLoop();
  return loop.runOnce(ms) == runloop::RunLoop::Result::kHandledSource;
}

// Runs the manager's loop until nothing happens for a short while.
inline void settle(io::FdManager& m) {
  while (turn(m, 30)) {
  }
}

inline std::string kindName(const testing::TestParamInfo<Kind>& info) {
  return info.param == Kind::kRunLoop ? "RunLoop" : "Select";
}

}  // namespace io_test
