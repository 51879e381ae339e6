#pragma once
// The user-facing texts for the ways a TCP connect can fail.

namespace io {

// The io message key for an errno from connect, or null when the error
// has no text of its own: unreachable network or host, a connection
// dropped while being set up, a time-out, a refusal.
const char* tcpConnectErrorKey(int error) noexcept;
// The translated text of that key, or null.
const char* tcpConnectErrorText(int error);

}  // namespace io
