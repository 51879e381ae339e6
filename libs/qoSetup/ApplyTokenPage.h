#pragma once
// qoSetup::ApplyTokenPage ("applyToken"): shown once the browser's sign-in
// callback has arrived.  Its constructor checks the callback URI (and
// throws when it refuses it, before any package is touched); the page then
// walks the packages through ticket redemption and token application and
// reports once to the wizard dialog (tokenApplied).

#include <cstdint>

#include "libs/qoSetup/Page.h"
#include "libs/qoSetup/Pkg.h"
#include "qocore/base/plat/Timer.h"

namespace qoSetup {

class ApplyTokenPage : public Page, public Pkg::ApplyTokenCallback, public plat::Timer::Callback {
 public:
  ApplyTokenPage(SetupDlg* dlg, const char* uri);
  ~ApplyTokenPage() override;

  void deactivate() noexcept override;
  void tokenApplied(Pkg* pkg, const plat::Exception& error) override;
  bool timerExpired(plat::Timer* timer) override;

 protected:
  int32_t pkgIdx_ = -1;
  plat::Timer timer_;
};

}  // namespace qoSetup
