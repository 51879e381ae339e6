#pragma once
// muimisc::ProgressBar: a flat horizontal bar whose left part is filled in
// proportion to a 16-bit value (0 empty, 65535 full).  Everything but the
// drawing is here; the backend's subclass fills filledRect with the fill
// colour and trackRect with the track colour.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace muimisc {

class ProgressBar : public mui::MuElement {
 public:
  static constexpr uint32_t kFull = 65535;

  // Made through the backend's progressBarFactory and added to the parent.
  static ProgressBar* create(mui::MuContainer* parent, const char* id);

  ProgressBar(mui::MuContainer* parent, const char* id);

  // Then the fill for the new width (the new size redraws by itself).
  void setSize(mui::Size size) override;
  // One millimetre (`ppmm`) whatever the argument.
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  const char* typeName() override { return "progressBar"; }
  // The percentage, "n%".
  plat::DString listItems() override;
  bool performAction(const char*, const char*) override { return false; }

  // Redraws only when the fill edge moves by a whole unit.
  void setValue(uint16_t value);

  mui::Rect filledRect();
  mui::Rect trackRect();

  uint16_t value() const noexcept { return value_; }
  int32_t filled() const noexcept { return filled_; }
  const char* fillColour() const noexcept { return fillColour_.get(); }
  const char* trackColour() const noexcept { return trackColour_.get(); }

  // The fill length of a value at a width: value x width / 65535.
  static int32_t fillFor(uint16_t value, int32_t width) noexcept;

 protected:
  // Colour texts ("#rrggbb" or a colour name) for a subclass that paints
  // the bar differently.
  void setColours(const char* fill, const char* track);

 private:
  int32_t filled_ = 0;
  uint16_t value_ = 0;
  plat::CharArray fillColour_{"#288cf4"};
  plat::CharArray trackColour_{"#d0d0d0"};
};

// The backend's creator of progress bars; null until the backend fills it.
extern ProgressBar* (*progressBarFactory)(mui::MuContainer* parent, const char* id);

}  // namespace muimisc
