#include "qocore/base/io/TcpConnectError.h"

#include <cerrno>

#include "qocore/base/loc/Localize.h"

namespace io {

const char* tcpConnectErrorKey(int error) noexcept {
  switch (error) {
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
      return "io_error_ip_nethostunreach";
    case ECONNABORTED:
      return "io_error_tcp_conndropped";
    case ETIMEDOUT:
      return "io_error_tcp_timedout";
    case ECONNREFUSED:
      return "io_error_tcp_connrefused";
    default:
      return nullptr;
  }
}

const char* tcpConnectErrorText(int error) {
  const char* key = tcpConnectErrorKey(error);
  return key ? loc::translate(key) : nullptr;
}

}  // namespace io
