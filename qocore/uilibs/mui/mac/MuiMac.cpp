#include "qocore/uilibs/mui/mac/MuiMac.h"

namespace mui {

MuiMac::MuiMac() {
  // Points, not device pixels: no display scaling on top.
  setDisplayScales({8});
  Metrics table = rawMetrics();
  table[kLayoutSpacing] = 20;
  table[kDialogMargin] = 32;
  table[kFrameMargin] = 24;
  table[kSpacerSize] = 38;
  setMetrics(table);
}

MuiMac::~MuiMac() = default;

}  // namespace mui
