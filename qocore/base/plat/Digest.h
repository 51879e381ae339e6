#pragma once
// One-shot digests for the platform core (the test-feature key file, launch
// secrets).  The work is crypto::digestOneShot's; this only makes it
// available under the core's own name.

#include "qocore/base/crypto/Sha.h"

namespace plat {

using crypto::digestOneShot;

}  // namespace plat
