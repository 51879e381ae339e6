#pragma once
// What the toolkit's tests share: a dialog from the in-memory backend and
// an observer that writes down what it is told.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "testing/ui/MuTestBackend.h"

namespace mui_test {

// Where an element was put: its position and size.
struct Placement {
  int32_t x, y, w, h;
  bool operator==(const Placement&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Placement& p) {
  return os << "(" << p.x << "," << p.y << " " << p.w << "x" << p.h << ")";
}

inline Placement placement(mui::MuElement* e) {
  return {e->getPosition().x, e->getPosition().y, e->getSize().width, e->getSize().height};
}

inline std::string idOf(mui::MuElement* e) { return e && e->id() ? e->id() : "-"; }

// Writes "<name>:<element id>:<event>" for every notification, then runs
// the test's action (if any).
class Recorder : public mui::MuObserver {
 public:
  Recorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
  void notify(mui::MuElement* element, mui::MuEvent event) override {
    log_.push_back(name_ + ":" + idOf(element) + ":" + std::to_string(event));
    if (action) action();
  }
  std::function<void()> action;

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

class MuTest : public testing::Test {
 protected:
  std::unique_ptr<mui::MuDialog> makeDialog(const char* id, mui::Size size = {300, 400}, uint32_t flags = 0) {
    return std::unique_ptr<mui::MuDialog>(mui::MuDialog::create(id, "Title", size, flags, nullptr, nullptr));
  }

  yarl_test::MuTestBackend& backend = yarl_test::MuTestBackend::install();
};

// A shown dialog whose events (its own and its elements') are written to
// `log` as "r:<id>:<event>".
class MuShownDialogTest : public MuTest {
 protected:
  void SetUp() override {
    dialog->addObserver(&recorder);
    dialog->setVisible(true);
  }

  std::unique_ptr<mui::MuDialog> dialog = makeDialog("dlg");
  std::vector<std::string> log;
  Recorder recorder{log, "r"};
};

}  // namespace mui_test
