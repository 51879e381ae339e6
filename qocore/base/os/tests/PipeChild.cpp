#include "qocore/base/os/tests/PipeChild.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/os/LaunchedProcessPipe.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace os_test {

namespace {

constexpr int kFailed = 3;

struct Echo : io::MsgIpc::Callback, io::MsgIpc::Reader {
  void closed(io::MsgIpc&) override { done = true; }
  bool readMsg(const char*, rdr::InStream& in, io::MsgIpc& ipc) override {
    std::string text = in.readStdString(1 << 16);
    rdr::OutStream& out = ipc.writeMsg("pong");
    out.writeString32(text.c_str());
    out.writeS64(::getpid());
    out.writeS64(::getppid());
    ipc.out().endMsg(true);
    return true;
  }
  bool done = false;
};

void write(io::Io& io, const std::string& text) {
  io.out().writeBytes(text.data(), static_cast<int32_t>(text.size()));
  io.out().flush();
}

int run(const char* mode, char** argv) {
  io::FdSelectManager loop(false);
  os::LaunchedIo io = os::connectParentPipe(argv);
  if (std::strcmp(mode, "echo") == 0) {
    Echo echo;
    io::MsgIpc ipc(&echo, "child", false, false);
    ipc.setReader("ping", &echo);
    ipc.attach(io.release());
    while (!echo.done) loop.poll(1000);
    return 0;
  }
  if (std::strcmp(mode, "lines") == 0) {
    write(*io.get(), "one\ntwo\n");
    return 0;
  }
  if (std::strcmp(mode, "args") == 0) {
    std::string text;
    for (char** a = argv; *a; ++a) text += std::string(*a) + "\n";
    write(*io.get(), text + std::to_string(::getpid()) + "\n");
    return 0;
  }
  if (std::strcmp(mode, "save") == 0) {
    rdr::MemOutStream got;
    (void)os::LaunchWithPipe::writeAll(io->in(), got, true);
    FILE* file = std::fopen(argv[0], "we");
    if (!file) return kFailed;
    std::fwrite(got.data(), 1, static_cast<size_t>(got.length()), file);
    return std::fclose(file) == 0 ? 0 : kFailed;
  }
  std::fprintf(stderr, "unknown mode %s\n", mode);
  return kFailed;
}

}  // namespace

bool runPipeChildIfAsked(int argc, char** argv, int& code) {
  if (argc < 3 || std::strcmp(argv[1], "-pipeChild") != 0) return false;
  try {
    code = run(argv[2], argv + 3);
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "pipe child: %s\n", e.str());
    code = kFailed;
  }
  return true;
}

}  // namespace os_test
