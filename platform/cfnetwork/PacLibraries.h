#pragma once
// The two libraries behind PAC, opened on first use (plat::SharedLibrary):
// duktape, which evaluates the scripts, and libcurl, which downloads them.
// Only the resolver child that evaluates a script needs them; linked to
// the executable, they and the thirty-odd libraries libcurl depends on
// were mapped and relocated at every start of the program, most of its
// start-up time.  Each is opened once per process, on whichever thread
// asks first, by the runtime name found at configure time.
//
// The tables hold the functions PacScript.cpp calls, named as in the
// library less its prefix; the libraries' macros (duk_peval_string...)
// stand for calls of these and are written out where they are used.

#include <curl/curl.h>
#include <duktape.h>

#include "qocore/base/plat/CharArray.h"

namespace cfnetwork {

struct Duktape {
  decltype(&::duk_create_heap) create_heap;
  decltype(&::duk_destroy_heap) destroy_heap;
  decltype(&::duk_eval_raw) eval_raw;
  decltype(&::duk_pcall) pcall;
  decltype(&::duk_pop) pop;
  decltype(&::duk_push_array) push_array;
  decltype(&::duk_push_c_function) push_c_function;
  decltype(&::duk_push_int) push_int;
  decltype(&::duk_push_null) push_null;
  decltype(&::duk_push_string) push_string;
  decltype(&::duk_put_global_string) put_global_string;
  decltype(&::duk_put_prop_index) put_prop_index;
  decltype(&::duk_get_global_string) get_global_string;
  decltype(&::duk_get_lstring) get_lstring;
  decltype(&::duk_is_function) is_function;
  decltype(&::duk_is_string) is_string;
  decltype(&::duk_safe_to_lstring) safe_to_lstring;
  decltype(&::duk_to_boolean) to_boolean;

  // duk_peval_lstring: evaluates length bytes of source; 0 on success,
  // with the result (else the error) on the stack.
  duk_int_t peval(duk_context* ctx, const char* source, duk_size_t length) const {
    return eval_raw(ctx, source, length,
                    DUK_COMPILE_EVAL | DUK_COMPILE_SAFE | DUK_COMPILE_NOSOURCE | DUK_COMPILE_NOFILENAME);
  }
  // duk_safe_to_string.
  const char* safe_to_string(duk_context* ctx, duk_idx_t index) const { return safe_to_lstring(ctx, index, nullptr); }
};

struct Curl {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_perform) easy_perform;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_easy_strerror) easy_strerror;
};

// The library's functions, the library opened on the first call; null,
// with `error` saying what is missing, when it or one of them is not
// there (the same answer on every later call).
const Duktape* duktape(plat::CharArray& error) noexcept;
const Curl* curl(plat::CharArray& error) noexcept;

// The engine's functions where duktape(error) has already answered them:
// for the natives a running script calls.
const Duktape& openedDuktape() noexcept;

}  // namespace cfnetwork
