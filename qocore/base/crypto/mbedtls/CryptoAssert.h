#pragma once
// An assertion that reports the given text as its expression, for checks
// whose text is fixed while the code spells them differently.

#include "qocore/base/plat/Exception.h"

#define CRYPTO_ASSERT(expr, text)                                               \
  do {                                                                          \
    if (!(expr)) [[unlikely]]                                                   \
      ::plat::assertionFailed(::plat::AssertionFail(text, __FILE__, __LINE__)); \
  } while (0)
