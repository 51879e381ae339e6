#pragma once
// plat::Kicker and plat::Kickee: a wake-up from any thread.  kick() may be
// called on any thread; the kickee's kicked() then runs on the thread the
// kicker belongs to (the one whose event loop it was made on).  Kicks made
// before the kickee runs may be merged into one call.

namespace plat {

class Kickee {
 public:
  // Runs on the kicker's thread after one or more kicks.
  virtual void kicked() = 0;

 protected:
  ~Kickee() = default;
};

class Kicker {
 public:
  virtual ~Kicker() = default;
  // Safe from any thread.
  virtual void kick() = 0;
};

}  // namespace plat
