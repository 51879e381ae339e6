#pragma once
// plat::processId(): the calling process's id without a system call per
// use.  Code that stamps every log line with the id would otherwise pay
// one getpid() (a kernel entry: the C library no longer caches it) per
// line.
//
// The id is read once and kept; a fork handler forgets it in the child, so
// a forked child reads its own on first use.  Children made by clone() or
// vfork() without the fork handlers run no code of ours before they exec.

#include <sys/types.h>

namespace plat {

// The id of the calling process, correct in a forked child too.  Safe from
// static initialisers, from any thread and during exit.
pid_t processId() noexcept;

}  // namespace plat
