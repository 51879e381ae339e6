#include <gtest/gtest.h>

#include <utility>

#include "qocore/base/plat/LinkedPtr.h"

namespace {

int alive = 0;

struct Base {
  Base() { ++alive; }
  virtual ~Base() { --alive; }
  int value = 0;
};

struct Other {
  virtual ~Other() = default;
  int other = 7;
};

// A second base puts Derived's Base part at a different address.
struct Derived : Other, Base {
  explicit Derived(bool* destroyed) : destroyed_(destroyed) {}
  ~Derived() override { *destroyed_ = true; }
  bool* destroyed_;
};

struct Node : Base {
  plat::LinkedPtr<Node> next;
};

class LinkedPtrTest : public testing::Test {
 protected:
  void SetUp() override { alive = 0; }
  void TearDown() override { EXPECT_EQ(alive, 0) << "objects leaked"; }
};

TEST_F(LinkedPtrTest, LastCopyDeletes) {
  plat::LinkedPtr<Base> a(new Base);
  EXPECT_TRUE(a.unique());
  {
    plat::LinkedPtr<Base> b(a);
    plat::LinkedPtr<Base> c;
    c = b;
    EXPECT_EQ(c.get(), a.get());
    EXPECT_FALSE(a.unique());
    a.reset();
    EXPECT_EQ(alive, 1);
    b.reset();
    EXPECT_TRUE(c.unique());
  }
  EXPECT_EQ(alive, 0);
  EXPECT_FALSE(a);
}

TEST_F(LinkedPtrTest, ResetAndAssignmentReleaseTheOldObject) {
  plat::LinkedPtr<Base> a(new Base);
  a.reset(new Base);
  EXPECT_EQ(alive, 1);
  plat::LinkedPtr<Base> b(new Base);
  a = b;
  EXPECT_EQ(alive, 1);
  plat::LinkedPtr<Base>& alias = a;
  a = alias;
  a = std::move(alias);
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_FALSE(a.unique());
}

TEST_F(LinkedPtrTest, MoveLeavesTheSourceEmpty) {
  plat::LinkedPtr<Base> a(new Base);
  Base* p = a.get();
  plat::LinkedPtr<Base> b(std::move(a));
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_TRUE(b.unique());
  plat::LinkedPtr<Base> c(new Base);
  c = std::move(b);
  EXPECT_EQ(c.get(), p);
  EXPECT_EQ(b.get(), nullptr);
  EXPECT_EQ(alive, 1);
}

TEST_F(LinkedPtrTest, DerivedAndBaseShareOneRing) {
  bool destroyed = false;
  plat::LinkedPtr<Derived> d(new Derived(&destroyed));
  plat::LinkedPtr<Base> b(d);
  EXPECT_EQ(b.get(), static_cast<Base*>(d.get()));
  d.reset();
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(b.unique());
  plat::LinkedPtr<Base> again;
  again = b;
  b.reset();
  again.reset();  // deleted through Base's virtual destructor
  EXPECT_TRUE(destroyed);
}

// Assigning from a pointer held inside the object being released.
TEST_F(LinkedPtrTest, AssignFromInsideTheReleasedObject) {
  plat::LinkedPtr<Node> head(new Node);
  head->next.reset(new Node);
  head->next->value = 2;
  head->next->next.reset(new Node);
  head->next->next->value = 3;

  head = head->next;
  EXPECT_EQ(head->value, 2);
  EXPECT_EQ(alive, 2);

  head = std::move(head->next);
  EXPECT_EQ(head->value, 3);
  EXPECT_TRUE(head.unique());
  EXPECT_EQ(alive, 1);
}

}  // namespace
