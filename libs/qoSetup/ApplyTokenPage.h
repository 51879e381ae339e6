#pragma once
// qoSetup::ApplyTokenPage ("applyToken"): shown once the browser's sign-in
// callback has arrived.  Its constructor checks the callback URI and
// throws when it refuses it, before any package is touched: a path other
// than "install" ("Bad URI endpoint"), a query the URI parser refuses, a
// "state" other than the one this run sent to the portal ("Bad
// signingInState"; both absent is equal), no "server" ("Missing server
// param").  The page then walks the packages through ticket redemption and
// token application, showing a wait text and a spinner, and reports once
// to the wizard dialog (tokenApplied).  A package's end is only stored; a
// 0 ms timer then goes on with the next package, never from inside the
// package's call.
//
// A page that stands has accepted the callback: it stops the signing-in
// page's time-out, which would otherwise send the user back to the
// sign-in choice during the join.

#include <cstdint>
#include <memory>

#include "libs/qoSetup/Page.h"
#include "libs/qoSetup/Pkg.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Timer.h"

namespace mui {
class MuSpinner;
class MuText;
}  // namespace mui

namespace qoSetup {

class ApplyTokenPage : public Page, public Pkg::ApplyTokenCallback, public plat::Timer::Callback {
 public:
  ApplyTokenPage(SetupDlg* dlg, const char* uri);
  ~ApplyTokenPage() override;

  // Stops the timer and the spinner and forgets the packages.
  void deactivate() noexcept override;
  void tokenApplied(Pkg* pkg, const plat::Exception& error) override;
  bool timerExpired(plat::Timer* timer) override;

  const io::UriParams& query() const noexcept { return query_; }
  mui::MuSpinner* spinner() const noexcept { return spinner_.get(); }

 protected:
  int32_t pkgIdx_ = -1;
  plat::Timer timer_;

 private:
  void nextPackage();

  mui::MuText* text_ = nullptr;
  std::unique_ptr<mui::MuSpinner> spinner_;
  plat::Exception result_;
  io::UriParams query_;
};

}  // namespace qoSetup
