#pragma once
// Named resources: files the application ships in its resource folder
// ("strings.<locale>.po", "cacerts.pem", images), loaded once and kept for
// the life of the process, and built-in fallbacks that their owners
// register.  The cache has no lock: resources are loaded on the main
// thread.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"

namespace plat {

struct Resource {
  uint32_t size = 0;
  const unsigned char* data = nullptr;  // null when there is none
};

// Adds or replaces the entry for name.  The data is not copied: it must
// live as long as the process.
void registerResource(const char* name, uint32_t size, const void* data);
// The cached entry, else the file of that name in the resource folder read
// whole, cached and returned; an empty Resource when neither exists or the
// file cannot be read.
Resource getResource(const char* name);

namespace resource_dir {
// Answers the application's resource folder, or null when it has none.
using DirFn = CharArray (*)();
// Installs a provider (null restores the default) and returns the previous
// one.
DirFn set(DirFn fn) noexcept;
CharArray get();
// The folder "Resources" beside the running executable.
CharArray besideExecutable();
}  // namespace resource_dir

}  // namespace plat
