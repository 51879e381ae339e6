#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Pasteboard.h"
#include "platform/objc/Object.h"

namespace appkit {
namespace {

TEST(PasteboardTest, ItemsKeepBytesByTypeAndThePasteboardListsTheirTypesOnce) {
  objc::AutoreleasePool pool;
  Pasteboard* board = Pasteboard::generalPasteboard();
  long before = board->changeCount();
  EXPECT_EQ(board->clearContents(), before + 1);
  EXPECT_TRUE(board->types().empty());
  EXPECT_EQ(board->dataForType("a"), nullptr);

  auto* first = new PasteboardItem;
  auto* second = new PasteboardItem;
  first->setString("one", "a");
  first->setString("uno", "a");  // replaces, keeps its place
  first->setString("two", "b");
  second->setString("three", "c");
  second->setString("dos", "a");
  EXPECT_FALSE(first->setData(nullptr, 3, "d"));
  EXPECT_TRUE(board->writeObjects({first, second}));
  first->release();
  second->release();

  EXPECT_EQ(board->types(), (std::vector<std::string>{"a", "b", "c"}));
  // The first item that has the type answers.
  EXPECT_EQ(board->stringForType("a"), "uno");
  EXPECT_EQ(board->stringForType("c"), "three");
  EXPECT_EQ(board->stringForType("z"), "");

  // Plain text, as copying puts it.
  board->clearContents();
  board->setString("copied", kPasteboardTypeString);
  EXPECT_EQ(board->stringForType(kPasteboardTypeString), "copied");
  EXPECT_NE(Pasteboard::dragPasteboard(), board);
  board->clearContents();
}

}  // namespace
}  // namespace appkit
