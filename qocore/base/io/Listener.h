#pragma once
// io::Listener: the least a listener offers, so that callers can start and
// stop accepting without knowing the kind of channel.

namespace io {

class IoAcceptor;

class Listener {
 public:
  virtual ~Listener();
  // Starts handing new connections to acceptor; null stops accepting.
  virtual void setAcceptor(IoAcceptor* acceptor) = 0;

 protected:
  Listener() = default;
};

}  // namespace io
