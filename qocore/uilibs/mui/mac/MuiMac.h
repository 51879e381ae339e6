#pragma once
// mui::MuiMac: the macOS backend's toolkit singleton.  It differs from the
// core only in the metric table it installs: wider layout spacing and
// dialog margins, larger frame margins and a slightly smaller spacer, as
// the platform's layout guides want.  Element coordinates on this
// platform are points, so the display scale-factor set stays {8}.

#include "qocore/uilibs/mui/Mui.h"

namespace mui {

class MuiMac : public Mui {
 public:
  // Overwrites the macOS entries of the table in force and installs it.
  MuiMac();
  ~MuiMac() override;
};

}  // namespace mui
