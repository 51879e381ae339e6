// A library opened by its runtime name: its functions are found and
// called; a missing library or function is an error that names it, and
// nothing bound from it is callable.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "qocore/base/plat/SharedLibrary.h"

namespace {

using testing::HasSubstr;

using Strlen = size_t (*)(const char*);

size_t unbound(const char*) { return 0; }

TEST(SharedLibraryTest, FunctionsOfAnOpenedLibraryAreCalled) {
  plat::SharedLibrary library("libc.so.6");
  Strlen length = nullptr;
  library.bind(length, "strlen");
  ASSERT_EQ(library.error(), nullptr);
  ASSERT_NE(length, nullptr);
  EXPECT_EQ(length("four"), 4u);
}

TEST(SharedLibraryTest, WhatIsMissingIsNamedAndBindsToNull) {
  struct Case {
    const char* soname;
    const char* function;
    const char* error;
  };
  // clang-format off
  const Case cases[] = {
    {"libyarl-absent.so.1", "strlen", "Cannot load libyarl-absent.so.1: "},
    {"libc.so.6", "yarl_absent_function", "Cannot find yarl_absent_function: "},
  };
  // clang-format on
  for (const Case& c : cases) {
    plat::SharedLibrary library(c.soname);
    Strlen function = unbound;
    library.bind(function, c.function);
    EXPECT_EQ(function, nullptr) << c.soname;
    ASSERT_NE(library.error(), nullptr) << c.soname;
    EXPECT_THAT(library.error(), HasSubstr(c.error));
    // The loader's reason follows.
    EXPECT_GT(std::string(library.error()).size(), std::string(c.error).size()) << library.error();
    // The first failure stays: a function found later does not clear it.
    Strlen found = nullptr;
    library.bind(found, "strlen");
    EXPECT_THAT(library.error(), HasSubstr(c.error));
  }
}

}  // namespace
