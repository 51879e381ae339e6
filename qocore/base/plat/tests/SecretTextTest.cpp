#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "qocore/base/plat/SecretText.h"

namespace {

using plat::SecretText;

// Every text a secret let go, as its length, with " unwiped" when a byte
// of it was still set when the memory went.
std::string released;

void recordRelease(const char* wiped, size_t length) {
  bool zero = true;
  for (size_t i = 0; i < length; ++i) zero = zero && wiped[i] == '\0';
  released += (released.empty() ? "" : " ") + std::to_string(length) + (zero ? "" : " unwiped");
}

// "null", or the text and its length.
std::string describe(const SecretText& s) {
  if (s.isNull()) return "null";
  return std::string(s.c_str()) + "(" + std::to_string(s.length()) + (s.empty() ? ",empty)" : ")");
}

class SecretTextTest : public testing::Test {
 protected:
  void SetUp() override {
    released.clear();
    plat::secret_text_hooks::setRelease(&recordRelease);
  }
  void TearDown() override { plat::secret_text_hooks::setRelease(nullptr); }
};

TEST_F(SecretTextTest, OwnsOneCopyAndWipesEveryTextItLetsGo) {
  struct Case {
    const char* name;
    // Works on secrets that go when it returns; answers what it saw.
    std::function<std::string()> run;
    const char* seen;
    const char* released;  // lengths, in the order the texts went
  };
  const Case cases[] = {
      {"destruction wipes", [] { return describe(SecretText("hunter2")); }, "hunter2(7)", "7"},
      {"assignment wipes the old text first",
       [] {
         SecretText s("old");
         s = "longer";
         return describe(s);
       },
       "longer(6)", "3 6"},
      {"assignment from inside the held text",
       [] {
         SecretText s("abcdef");
         s.assign(s.c_str() + 2);
         return describe(s);
       },
       "cdef(4)", "6 4"},
      {"a span stops at its length or a NUL",
       [] {
         SecretText s("x");
         s.assign("secretXYZ", 6);
         const SecretText cut("ab\0cd", 5);
         return describe(s) + " " + describe(cut);
       },
       "secret(6) ab(2)", "1 2 6"},
      {"move leaves the source null",
       [] {
         SecretText from("pw1");
         const SecretText to(std::move(from));
         return describe(from) + " " + describe(to);
       },
       "null pw1(3)", "3"},
      {"move assignment wipes the target's text",
       [] {
         SecretText from("one1");
         SecretText to("twotwo");
         to = std::move(from);
         return describe(from) + " " + describe(to);
       },
       "null one1(4)", "6 4"},
      {"clone copies into a buffer of its own",
       [] {
         const SecretText original("pw");
         const SecretText copy = original.clone();
         const char* shared = original.c_str() == copy.c_str() ? " shared" : "";
         return describe(original) + " " + describe(copy) + shared;
       },
       "pw(2) pw(2)", "2 2"},
      {"reset wipes at once",
       [] {
         SecretText s("abc");
         s.reset();
         const std::string seen = describe(s) + " after " + released;
         return seen;
       },
       "null after 3", "3"},
      {"null and empty differ",
       [] {
         const SecretText none;
         const SecretText fromNull(nullptr);
         const SecretText blank("");
         const char* text = none.c_str();
         return describe(none) + " " + describe(fromNull) + " " + describe(blank) + " '" + text + "'";
       },
       "null null (0,empty) ''", "0"},
      {"adopt keeps the buffer it is given",
       [] {
         plat::CharArray owned("token");
         const char* buffer = owned.get();
         const SecretText s = SecretText::adopt(std::move(owned));
         return describe(s) + (s.c_str() == buffer && owned.isNull() ? " same buffer" : " copied");
       },
       "token(5) same buffer", "5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    released.clear();
    EXPECT_EQ(c.run(), c.seen);
    EXPECT_EQ(released, c.released);
  }
}

}  // namespace
