#pragma once
// plat::SharedLibrary: a shared library that the program opens itself
// (dlopen) instead of naming it to the linker.  A library the executable
// names is mapped, relocated and initialised at every start, with all it
// depends on, before main runs, whether or not that run calls it; one that
// only some runs need is opened here when first needed.
//
// The library is never closed: a thread may still run its code while the
// process exits.  Nothing here needs destroying either, so an instance may
// be a function's static.

namespace plat {

class SharedLibrary {
 public:
  // Opens `soname`, the runtime name ("libz.so.1"), now, its symbols kept
  // to itself; a failure is kept for error().
  explicit SharedLibrary(const char* soname) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Sets `function` to the library's function `name`, or to null when the
  // library or the function is missing (error() then says so).
  template <typename Function>
  void bind(Function& function, const char* name) noexcept {
    function = reinterpret_cast<Function>(symbol(name));
  }

  // Null while the library and every function bound so far were found;
  // otherwise the first failure, with the loader's reason.
  const char* error() const noexcept { return error_[0] ? error_ : nullptr; }

 private:
  void* symbol(const char* name) noexcept;

  void* handle_;
  char error_[512] = "";
};

}  // namespace plat
