#pragma once
// qoutil::DragDropData: one item carried by a drag, as typed bytes.  The
// drag source fills the outgoing item; a drop target reads the incoming
// one.

#include <cstdint>

#include "qocore/base/plat/MBuf.h"

namespace qoutil {

class DragDropData {
 public:
  virtual ~DragDropData();
  // Replaces the buffer's contents with the item's bytes when it has them
  // (a secure buffer's old contents are zeroed); otherwise leaves it.
  virtual void getData(plat::MBuf<unsigned char>& buffer) = 0;
  // Gives the item the bytes; a negative length gives nothing.
  virtual void setData(int32_t length, const unsigned char* bytes) = 0;
  virtual bool hasData() = 0;
};

}  // namespace qoutil
