#include "qocore/uilibs/mui/Mui.h"

#include <algorithm>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

namespace {

Mui* mui = nullptr;

// Process-wide, so that a backend's changes outlive the singleton that
// made them and a later singleton starts from them.
Mui::Metrics rawTable = {16, 8, 16, 16, 48, 136, 32, 40};

int32_t largestScale = 8;

// Serial numbers are never reused, whichever singleton registers.
uint32_t nextSerial = 0;

// n / 8 rounded to nearest, halves away from zero, kept inside 32 bits.
int32_t eighths(int64_t n) noexcept {
  const int64_t r = n >= 0 ? (n + 4) / 8 : (n - 4) / 8;
  return static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX));
}

}  // namespace

Mui::Mui() : raw_(rawTable) { setMetrics(rawTable); }

Mui::~Mui() {
  globalObservers_.clear();
  registry_.clear();
}

void Mui::setInstance(Mui* mui_) {
  PLAT_ASSERT(mui_);
  mui = mui_;
}

Mui* Mui::instance() {
  PLAT_ASSERT(mui);
  return mui;
}

void Mui::setMetrics(const Metrics& raw) {
  rawTable = raw;
  raw_ = raw;
  for (int i = 0; i < kMetricCount; ++i) scaled_[i] = scaled(raw[i]);
}

int32_t Mui::scaled(int32_t value) noexcept { return eighths(int64_t{value} * largestScale); }

void Mui::setDisplayScales(const std::vector<int32_t>& scales) {
  int32_t largest = 0;
  for (int32_t s : scales) largest = std::max(largest, s);
  largestScale = largest > 0 ? largest : 8;
}

int32_t Mui::displayScale() noexcept { return largestScale; }

int32_t Mui::unitsToPoints(int32_t units) {
  const plat::ConfigParameter* ppmm = plat::Configuration::global().findParam("ppmm");
  const int32_t m = ppmm ? ppmm->getIntValue() : 4;
  return eighths(int64_t{units} * m);
}

uint32_t Mui::registerElement(MuElement* element, bool add) {
  if (!add) {
    auto i = std::find_if(registry_.begin(), registry_.end(), [element](const auto& e) { return e.second == element; });
    if (i != registry_.end()) registry_.erase(i);
    for (MuObserver* observer : globalObservers_) element->addObserverNoexcept(observer);
    return 0;
  }
  const uint32_t serial = nextSerial++;
  registry_.emplace(serial, element);
  for (MuObserver* observer : globalObservers_) element->addObserver(observer, true);
  return serial;
}

void Mui::addGlobalObserver(MuObserver* observer, bool add) {
  for (const auto& [serial, element] : registry_) element->addObserver(observer, add);
  if (add) {
    globalObservers_.push_back(observer);
  } else {
    std::erase(globalObservers_, observer);
  }
}

Mui::Registration::Registration(MuElement* element)
    : owner_(instance()), element_(element), serial_(owner_->registerElement(element, true)) {}

Mui::Registration::~Registration() { owner_->registerElement(element_, false); }

}  // namespace mui
