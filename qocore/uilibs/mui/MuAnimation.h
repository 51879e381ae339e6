#pragma once
// mui::MuAnimation: a timer-driven image sequence shown in an image
// element it creates; mui::MuSpinner is the busy spinner built on it.
//
// The animation advances one frame per timer run while its image is
// visible and enabled; starting and stopping the timer is its user's
// business (the spinner does it when shown and hidden).

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuImage;

class MuAnimation : public plat::Timer::Callback {
 public:
  // Creates the image element (owned by the parent) showing the first
  // image; there are no frames yet.
  MuAnimation(MuContainer* parent, const char* id, int32_t interval, const char* firstImage, Size size);
  ~MuAnimation() override;
  MuAnimation(const MuAnimation&) = delete;
  MuAnimation& operator=(const MuAnimation&) = delete;

  // The next frame (while the image is visible and enabled); repeats
  // while there are frames.
  bool timerExpired(plat::Timer* timer) override;
  void setFrame(int32_t index);

  MuImage* image() const noexcept { return image_; }
  int32_t frame() const noexcept { return index_; }
  int32_t interval() const noexcept { return interval_; }
  plat::Timer& timer() noexcept { return timer_; }

 protected:
  std::vector<plat::CharArray> frames_;

 private:
  MuImage* image_;
  Size size_;
  plat::Timer timer_;
  int32_t index_ = 0;
  int32_t interval_;
};

class MuSpinner : public MuAnimation {
 public:
  // Colour 1 is the black spinner, any other the default one; dark mode
  // swaps them for the frames.  Starts hidden.
  MuSpinner(MuContainer* parent, int32_t colour, Size size);

  // Showing starts the frames; hiding stops them and returns to frame 0.
  void setVisible(bool visible);
};

}  // namespace mui
