#include "platform/cfnetwork/PacLibraries.h"

#include <cstdio>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/SharedLibrary.h"

namespace cfnetwork {

namespace {

// One library's table, or what was missing.  Made once, on the first
// call, and never destroyed (it holds nothing to free), so a worker
// thread still running a script during exit finds it intact.
template <typename Table>
struct Opened {
  Table table{};
  char error[512] = "";

  void keep(const plat::SharedLibrary& library) noexcept {
    if (library.error()) std::snprintf(error, sizeof error, "%s", library.error());
  }
  const Table* answer(plat::CharArray& failure) const noexcept {
    if (!error[0]) return &table;
    failure = plat::CharArray(error);
    return nullptr;
  }
};

const Opened<Duktape>& openedDuktapeTable() noexcept {
  static const Opened<Duktape> opened = [] {
    Opened<Duktape> o;
    plat::SharedLibrary library(YARL_DUKTAPE_SONAME);
    Duktape& t = o.table;
    library.bind(t.create_heap, "duk_create_heap");
    library.bind(t.destroy_heap, "duk_destroy_heap");
    library.bind(t.eval_raw, "duk_eval_raw");
    library.bind(t.pcall, "duk_pcall");
    library.bind(t.pop, "duk_pop");
    library.bind(t.push_array, "duk_push_array");
    library.bind(t.push_c_function, "duk_push_c_function");
    library.bind(t.push_int, "duk_push_int");
    library.bind(t.push_null, "duk_push_null");
    library.bind(t.push_string, "duk_push_string");
    library.bind(t.put_global_string, "duk_put_global_string");
    library.bind(t.put_prop_index, "duk_put_prop_index");
    library.bind(t.get_global_string, "duk_get_global_string");
    library.bind(t.get_lstring, "duk_get_lstring");
    library.bind(t.is_function, "duk_is_function");
    library.bind(t.is_string, "duk_is_string");
    library.bind(t.safe_to_lstring, "duk_safe_to_lstring");
    library.bind(t.to_boolean, "duk_to_boolean");
    o.keep(library);
    return o;
  }();
  return opened;
}

}  // namespace

const Duktape* duktape(plat::CharArray& error) noexcept { return openedDuktapeTable().answer(error); }

const Duktape& openedDuktape() noexcept {
  const Opened<Duktape>& opened = openedDuktapeTable();
  PLAT_ASSERT(!opened.error[0]);
  return opened.table;
}

const Curl* curl(plat::CharArray& error) noexcept {
  static const Opened<Curl> opened = [] {
    Opened<Curl> o;
    plat::SharedLibrary library(YARL_CURL_SONAME);
    Curl& t = o.table;
    library.bind(t.global_init, "curl_global_init");
    library.bind(t.easy_init, "curl_easy_init");
    library.bind(t.easy_setopt, "curl_easy_setopt");
    library.bind(t.easy_perform, "curl_easy_perform");
    library.bind(t.easy_cleanup, "curl_easy_cleanup");
    library.bind(t.easy_strerror, "curl_easy_strerror");
    o.keep(library);
    // Once per process, before any transfer (it is not safe beside one);
    // should it fail, the first transfer's own set-up tries again.
    if (!o.error[0]) (void)t.global_init(CURL_GLOBAL_DEFAULT);
    return o;
  }();
  return opened.answer(error);
}

}  // namespace cfnetwork
