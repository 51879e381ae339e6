#pragma once
// mui::Mui: the toolkit singleton that a backend installs once at start-up.
//
// The platform-neutral toolkit never makes a native object itself: the
// backend fills one creator hook per element class (the hooks are declared
// beside their classes), and every `create` calls its hook and adds the new
// element to its parent.  The singleton holds the toolkit metrics (spacings
// and margins scaled for the display) and the live registry of dialogs and
// other registered objects, which gives each its automation number.
//
// Sizes "scaled for the display" are multiplied by S / 8, S being the
// largest entry of the display scale-factor set (in eighths), rounded to
// nearest with halves away from zero.  The set is {8} until the backend
// sets it.

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace mui {

class MuElement;
class MuObserver;

class Mui {
 public:
  static constexpr int kMetricCount = 8;
  using Metrics = std::array<int32_t, kMetricCount>;
  // Indices of the metric table.
  enum Metric : int {
    kLayoutSpacing = 0,    // new layouts; the gap after a button bar's back and next buttons
    kLabelGap = 1,         // between a control's label and the control
    kDialogMargin = 2,     // around dialog content panels; about-box row spacing
    kFrameMargin = 3,      // frames, on both axes
    kButtonMinHeight = 4,  // push buttons
    kButtonMinWidth = 5,   // push buttons
    kListRow = 6,          // list rows
    kSpacerSize = 7,       // addSpacer (plus the layout's spacing); check box minimum height
  };

  // Registers itself nowhere: setInstance installs it.  Computes the scaled
  // metrics from the current raw table.
  Mui();
  virtual ~Mui();
  Mui(const Mui&) = delete;
  Mui& operator=(const Mui&) = delete;

  // Installs the singleton for the process.
  static void setInstance(Mui* mui_);
  static Mui* instance();

  // Stores the raw table and recomputes the scaled one.
  void setMetrics(const Metrics& raw);
  const Metrics& rawMetrics() const noexcept { return raw_; }
  // The scaled entry.
  int32_t metric(Metric index) const noexcept { return scaled_[index]; }

  // value x S / 8, rounded to nearest, halves away from zero.
  static int32_t scaled(int32_t value) noexcept;
  // The display scale factors, in eighths.  Entries below 1 are ignored;
  // nothing left gives {8}.  The metrics are not recomputed: install the
  // table again.
  static void setDisplayScales(const std::vector<int32_t>& scales);
  // S: the largest entry of the set.
  static int32_t displayScale() noexcept;

  // Toolkit length units to points: (units x m + 4) / 8, halves away from
  // zero, m being the value in force of the `ppmm` configuration parameter
  // (4 when it is not declared).
  static int32_t unitsToPoints(int32_t units);

  // With add: gives the element the next serial number and attaches the
  // global observers; returns the number.  Without: forgets the element and
  // detaches them (never throws); returns 0.
  uint32_t registerElement(MuElement* element, bool add);
  // Attaches the observer to (or detaches it from) every registered element
  // and every one registered later.
  void addGlobalObserver(MuObserver* observer, bool add);
  // The registered live objects by serial number, in registration order.
  const std::map<uint32_t, MuElement*>& registry() const noexcept { return registry_; }

  // A member that keeps its element registered while it lives.
  class Registration {
   public:
    explicit Registration(MuElement* element);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    uint32_t serial() const noexcept { return serial_; }

   private:
    Mui* owner_;
    MuElement* element_;
    uint32_t serial_;
  };

 private:
  std::map<uint32_t, MuElement*> registry_;
  std::vector<MuObserver*> globalObservers_;
  Metrics raw_;
  Metrics scaled_{};
};

}  // namespace mui
