#pragma once
// A log destination for tests: while it lives, the `Log` parameter (at a
// priority above any a test sets) binds sources to it, and it records
// every message it receives (or hands it to a function of the test's).

#include <gtest/gtest.h>

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/LogDest.h"
#include "qocore/base/plat/LogSrc.h"

namespace yarl_test {

struct LogRecord {
  std::string source;
  int level;
  std::string text;
  bool operator==(const LogRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const LogRecord& r) {
  return os << "{" << r.source << ", " << r.level << ", \"" << r.text << "\"}";
}

class LogCapture : public plat::LogDest {
 public:
  static constexpr int kPriority = 1000;

  using ForwardFn = void (*)(const char* source, int level, const char* text);

  // `setting` is a `Log` value whose entries name the target "capture".
  // With `forward`, messages go to it instead of the records.
  explicit LogCapture(const char* setting = "*:capture:110", ForwardFn forward = nullptr) : plat::LogDest("capture") {
    EXPECT_TRUE(plat::Configuration::global().setParam("Log", setting, kPriority)) << setting;
    // Applying the value replayed the memory store here: not the test's.
    clear();
    forward_ = forward;
  }
  ~LogCapture() override { plat::Configuration::global().findParam("Log")->unsetParam(kPriority); }

  void write(int level, const char* source, const char* text) override {
    std::lock_guard lock(mutex_);
    if (forward_) {
      forward_(source, level, text);
    } else {
      records_.push_back({source, level, text});
    }
  }

  std::vector<LogRecord> records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  // The records of one source.
  std::vector<LogRecord> from(const std::string& source) {
    std::lock_guard lock(mutex_);
    std::vector<LogRecord> out;
    for (const LogRecord& r : records_) {
      if (r.source == source) out.push_back(r);
    }
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<LogRecord> records_;
  ForwardFn forward_ = nullptr;
};

}  // namespace yarl_test
