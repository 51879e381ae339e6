#include <gtest/gtest.h>

#include <string>

#include "qocore/base/xml/Node.h"
#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/tests/TreeDump.h"

namespace xml {
namespace {

using testing::dump;
using testing::OptionsGuard;

class NodeTest : public ::testing::Test {
 protected:
  Node parse(const char* text) {
    ParseResults r;
    Node n = parseText(text, nullptr, &r);
    EXPECT_EQ(r.error, kNoError) << text;
    return n;
  }
  OptionsGuard guard_;
};

TEST_F(NodeTest, LookupsMatchNamesWithoutCaseAndWithRunningIndex) {
  Node top = parse("<r><Item k='1'/><other/><ITEM k='2'/><item/></r>");
  EXPECT_EQ(top.childCount(), 4);
  EXPECT_EQ(top.childCount("item"), 3);

  std::string seen;
  int index = 0;
  for (Node c = top.child("item", &index); !c.isEmpty(); c = top.child("item", &index)) {
    seen += c.attribute("K") ? c.attribute("K") : "-";
  }
  EXPECT_EQ(seen, "12-");
  EXPECT_EQ(index, 4);

  // A looked-up text matches when it goes on past the name with a
  // delimiter, but not with more name characters.
  EXPECT_FALSE(top.child("other thing").isEmpty());
  EXPECT_TRUE(top.child("othe").isEmpty());
  EXPECT_TRUE(top.child("others").isEmpty());
  EXPECT_STREQ(top.childAt(1).name(), "other");
  EXPECT_TRUE(top.childAt(4).isEmpty());
  EXPECT_TRUE(top.childAt(-1).isEmpty());
}

TEST_F(NodeTest, AttributesWithRunningIndexAndWithoutValues) {
  Node n = parse("<a x=1 flag X=2/>");
  int index = 0;
  EXPECT_STREQ(n.attribute("x", &index), "1");
  EXPECT_STREQ(n.attribute("x", &index), "2");
  EXPECT_EQ(index, 3);
  EXPECT_EQ(n.attribute("x", &index), nullptr);
  EXPECT_TRUE(n.hasAttribute("FLAG"));
  EXPECT_EQ(n.attribute("flag"), nullptr);
  EXPECT_FALSE(n.hasAttribute("missing"));
}

TEST_F(NodeTest, ChildrenByAttributeValueAndByPath) {
  Node top = parse("<r><s name='a'><t id='1'/></s><s name='b'><t id='2'><u/></t></s></r>");
  EXPECT_EQ(dump(top.childWithAttribute("s", "name", "b")), "s[name=b](t[id=2](u))");
  EXPECT_EQ(dump(top.childWithAttribute(nullptr, "NAME", "a")), "s[name=a](t[id=1])");
  EXPECT_TRUE(top.childWithAttribute("s", "name", "c").isEmpty());
  int index = 1;
  EXPECT_TRUE(top.childWithAttribute("s", "name", "a", &index).isEmpty());

  EXPECT_EQ(dump(top.childByPath("s/t")), "t[id=1]");
  EXPECT_EQ(dump(top.childByPath("s.t", '.')), "t[id=1]");
  EXPECT_TRUE(top.childByPath("s/u").isEmpty());
  EXPECT_TRUE(top.childByPath("x/t").isEmpty());
}

TEST_F(NodeTest, ItemsListAttributesThenDocumentOrder) {
  Node n = parse("<a k=v>one<b/><!--c-->two<d/></a>");
  ASSERT_EQ(n.itemCount(), 6);
  const ItemKind kinds[] = {kAttributeItem, kTextItem, kElementItem, kClearItem, kTextItem, kElementItem};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(n.item(i).kind, kinds[i]) << i;
  EXPECT_STREQ(n.item(0).attribute.value, "v");
  EXPECT_STREQ(n.item(4).text, "two");
  EXPECT_STREQ(n.item(3).clear.close, "-->");
  EXPECT_STREQ(n.item(5).element.name(), "d");
  EXPECT_EQ(n.item(6).kind, kNoItem);

  EXPECT_EQ(n.positionOf(kTextItem, 1), 3);
  EXPECT_EQ(n.positionOf(kElementItem, 0), 1);
  EXPECT_EQ(n.positionOf(kClearItem, 1), -1);
}

TEST_F(NodeTest, HandleOutlivesItsTree) {
  Node child;
  {
    Node top = parse("<r><c k='v'>x</c><d/></r>");
    child = top.child("c");
    EXPECT_EQ(child.parent(), top);
  }
  EXPECT_EQ(dump(child), "c[k=v](\"x\")");
  EXPECT_TRUE(child.parent().isEmpty());
}

// Handles on several parts of one tree, given up one after another: each
// part lives as long as its own handles.
TEST_F(NodeTest, HandlesOnSiblingsOutliveTheTreeOneByOne) {
  Node b;
  Node c;
  Node d;
  {
    Node top = parse("<r><b k='v'>x</b><c>y<e/></c><d/></r>");
    b = top.child("b");
    c = top.child("c");
    d = c.child("e");
  }
  b = Node();
  EXPECT_EQ(dump(c), "c(\"y\",e)");
  c = Node();
  EXPECT_EQ(dump(d), "e");
  EXPECT_TRUE(d.parent().isEmpty());
  const Node tagged = parseText("<r><x>1</x><y>2</y></r>", "y", nullptr);
  EXPECT_EQ(dump(tagged), "y(\"2\")");
}

TEST_F(NodeTest, ParsedTreeCanBeEditedAndOutlived) {
  Node kept;
  {
    Node top = parse("<r a='1'><c k='v'>x<!--n-->y</c><d/>t</r>");
    Node c = top.child("c");
    EXPECT_TRUE(c.updateText(0, "X"));
    EXPECT_TRUE(c.updateAttribute("k", "w"));
    EXPECT_TRUE(c.rename("C"));
    EXPECT_TRUE(top.removeChild("d"));
    EXPECT_TRUE(top.addChild("e", false, 0).addText("new"));
    EXPECT_EQ(dump(top), "r[a=1](e(\"new\"),C[k=w](\"X\"),\"t\")");
    kept = c;
  }
  EXPECT_TRUE(kept.addText("more"));
  EXPECT_EQ(dump(kept), "C[k=w](\"X\",\"more\")");
}

TEST_F(NodeTest, EditingKeepsDocumentOrder) {
  Node r = Node::createTop("r");
  Node a = r.addChild("a");
  EXPECT_TRUE(r.addText("t"));
  EXPECT_TRUE(r.addClear("c", ClearKind::Comment));
  r.addChild("b", false, 0);
  EXPECT_TRUE(r.addText("u", 1));
  EXPECT_TRUE(r.addAttribute("k", "1"));
  EXPECT_TRUE(r.addAttribute("flag", nullptr));
  EXPECT_EQ(dump(r), "r[k=1,flag](b,\"u\",a,\"t\",<!--c-->)");
  EXPECT_STREQ(r.textAt(0), "u");
  EXPECT_EQ(r.positionOf(kElementItem, 1), 2);

  EXPECT_TRUE(r.updateAttribute("K", "2"));
  EXPECT_TRUE(r.updateAttribute("new", "3"));
  EXPECT_TRUE(r.updateAttributeAt(1, "renamed", "v"));
  EXPECT_TRUE(r.updateText(1, "T"));
  EXPECT_TRUE(r.updateClear(0, "C"));
  EXPECT_TRUE(a.rename("A"));
  EXPECT_EQ(dump(r), "r[k=2,renamed=v,new=3](b,\"u\",A,\"T\",<!--C-->)");

  EXPECT_TRUE(r.removeChild("b"));
  EXPECT_TRUE(r.removeTextAt(0));
  EXPECT_TRUE(r.removeAttribute("RENAMED"));
  EXPECT_TRUE(r.removeAttributeAt(1));
  EXPECT_EQ(dump(r), "r[k=2](A,\"T\",<!--C-->)");
  EXPECT_EQ(r.positionOf(kTextItem, 0), 1);

  EXPECT_TRUE(r.removeClearAt(0));
  EXPECT_TRUE(r.removeChildAt(0));
  EXPECT_EQ(dump(r), "r[k=2](\"T\")");
  // The removed child lives on in its handle, without a parent.
  EXPECT_EQ(dump(a), "A");
  EXPECT_TRUE(a.parent().isEmpty());

  EXPECT_FALSE(r.removeChildAt(0));
  EXPECT_FALSE(r.removeTextAt(1));
  EXPECT_FALSE(r.updateAttributeAt(5, "x", "y"));
  EXPECT_FALSE(r.removeChild("none"));
}

TEST_F(NodeTest, MoveDetachAndDeepCopy) {
  Node top = parse("<r><a><x/></a><b/></r>");
  Node a = top.child("a");
  Node b = top.child("b");
  Node x = a.child("x");

  EXPECT_FALSE(a.moveTo(x));  // under its own descendant
  EXPECT_FALSE(a.moveTo(a));
  EXPECT_FALSE(a.moveTo(Node()));
  EXPECT_TRUE(a.moveTo(b));
  EXPECT_EQ(dump(top), "r(b(a(x)))");
  EXPECT_EQ(a.parent(), b);
  EXPECT_TRUE(x.moveTo(top, 0));
  EXPECT_EQ(dump(top), "r(x,b(a))");

  Node copy = top.deepCopy();
  EXPECT_TRUE(copy.parent().isEmpty());
  EXPECT_FALSE(copy == top);
  EXPECT_TRUE(b.detach());
  EXPECT_FALSE(b.detach());
  EXPECT_EQ(dump(top), "r(x)");
  EXPECT_EQ(dump(copy), "r(x,b(a))");
  EXPECT_EQ(dump(b), "b(a)");
}

TEST_F(NodeTest, EmptyNodeDoesNothing) {
  Node e;
  EXPECT_TRUE(e.isEmpty());
  EXPECT_EQ(e.name(), nullptr);
  EXPECT_EQ(e.itemCount(), 0);
  EXPECT_EQ(e.childCount(), 0);
  EXPECT_EQ(e.item(0).kind, kNoItem);
  EXPECT_TRUE(e.child("a").isEmpty());
  EXPECT_TRUE(e.childByPath("a/b").isEmpty());
  EXPECT_EQ(e.attribute("a"), nullptr);
  EXPECT_EQ(e.textAt(0), nullptr);
  EXPECT_EQ(e.clearAt(0).value, nullptr);
  EXPECT_TRUE(e.addChild("a").isEmpty());
  EXPECT_FALSE(e.addText("t"));
  EXPECT_FALSE(e.addAttribute("a", "b"));
  EXPECT_FALSE(e.detach());
  EXPECT_TRUE(e.deepCopy().isEmpty());
  EXPECT_EQ(e.createString().get(), nullptr);
  EXPECT_EQ(e.positionOf(kTextItem, 0), -1);
}

}  // namespace
}  // namespace xml
