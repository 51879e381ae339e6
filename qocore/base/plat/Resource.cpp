#include "qocore/base/plat/Resource.h"

#include <climits>
#include <map>
#include <utility>
#include <vector>

#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

namespace {

struct Cache {
  std::map<CharArray, Resource, StrLess> entries;
  // The files read, kept for the life of the process (also when their
  // entry is replaced).
  std::vector<MBuf<unsigned char>> loaded;
};

// Constructed on first use and never destroyed: resources are handed out
// as plain pointers that may be used until the very end.
Cache& cache() {
  static Cache* instance = new Cache;
  return *instance;
}

constinit resource_dir::DirFn dirFn = &resource_dir::besideExecutable;

}  // namespace

void registerResource(const char* name, uint32_t size, const void* data) {
  Cache& c = cache();
  Resource entry{size, static_cast<const unsigned char*>(data)};
  auto it = c.entries.find(name);
  if (it != c.entries.end())
    it->second = entry;
  else
    c.entries.emplace(CharArray(name), entry);
}

Resource getResource(const char* name) {
  Cache& c = cache();
  auto it = c.entries.find(name);
  if (it != c.entries.end()) return it->second;
  CharArray dir = resource_dir::get();
  if (!dir) return {};
  try {
    CharArray path = DString::format("%s/%s", dir.get(), name);
    FilePtr file;
    file.open(path.get(), FilePtr::kRead);
    MBuf<unsigned char> bytes = file.readAll(INT_MAX);
    Resource entry{static_cast<uint32_t>(bytes.count()), bytes.data()};
    c.loaded.push_back(std::move(bytes));
    registerResource(name, entry.size, entry.data);
    return entry;
  } catch (const Exception&) {
    return {};
  }
}

namespace resource_dir {

DirFn set(DirFn fn) noexcept {
  DirFn old = dirFn;
  dirFn = fn ? fn : &besideExecutable;
  return old;
}

CharArray get() { return dirFn(); }

CharArray besideExecutable() {
  CharArray dir = os::getExecutableDir();
  if (!dir) return dir;
  return DString::format("%s/Resources", dir.get());
}

}  // namespace resource_dir

}  // namespace plat
