// A bare plain-HTTP GET over one blocking socket, for bench/http_download.py:
// the least any client can do that, like ours, keeps the body.  It reads the
// head, takes Content-Length and, with "store", reads the body into one
// buffer of that size; without it, into one reused 16 KiB buffer (what
// `curl -o /dev/null` does).  Prints "<body bytes> <seconds>".
//
// Usage: plain_download HOST PORT PATH [store]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"

namespace {

int fail(const char* what) {
  std::perror(what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s HOST PORT PATH [store]\n", argv[0]);
    return 2;
  }
  const bool store = argc > 4 && std::strcmp(argv[4], "store") == 0;
  const plat::TimeValue start = plat::getMonotonicTime();
  plat::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
  if (::inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) return fail("inet_pton");
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return fail("connect");
  const std::string request = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: " + argv[1] + "\r\n\r\n";
  if (::write(fd.get(), request.data(), request.size()) != static_cast<ssize_t>(request.size())) return fail("write");

  // The head, and whatever body bytes came with it.
  std::string head;
  char chunk[16384];
  size_t headEnd = std::string::npos;
  while (headEnd == std::string::npos) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof(chunk));
    if (n <= 0) return fail("read head");
    head.append(chunk, static_cast<size_t>(n));
    headEnd = head.find("\r\n\r\n");
    if (head.size() > 65536) return fail("head too long");
  }
  const char* length = ::strcasestr(head.c_str(), "\r\nContent-Length:");
  if (!length || std::strstr(head.c_str(), "\r\n\r\n") < length) return fail("no Content-Length");
  const long long total = std::atoll(length + 17);
  if (total <= 0 || total > (1ll << 40)) return fail("Content-Length");

  std::unique_ptr<char[]> body;
  if (store) body.reset(new char[static_cast<size_t>(total)]);
  long long got = static_cast<long long>(head.size() - headEnd - 4);
  if (store) std::memcpy(body.get(), head.data() + headEnd + 4, static_cast<size_t>(got));
  while (got < total) {
    char* into = store ? body.get() + got : chunk;
    const size_t room = store ? static_cast<size_t>(total - got) : sizeof(chunk);
    const ssize_t n = ::read(fd.get(), into, room);
    if (n <= 0) return fail("read body");
    got += n;
  }
  const double seconds = double(plat::getMonotonicTime() - start) / plat::kTicksPerSecond;
  std::printf("%lld %.3f\n", got, seconds);
  return 0;
}
