#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;
using yarl_test::MuTestBackend;
using yarl_test::MuTestPager;

class MuPagerTest : public mui_test::MuShownDialogTest {
 protected:
  MuTestPager* makePager(int pages) {
    auto* pager = static_cast<MuTestPager*>(mui::MuPager::create(dialog.get(), "pager", 0));
    for (int i = 0; i < pages; ++i) MuTestBackend::element(pager, ("p" + std::to_string(i)).c_str());
    return pager;
  }

  static std::vector<bool> visibility(mui::MuPager* pager) {
    std::vector<bool> v;
    for (int32_t i = 0; i < pager->childCount(); ++i) v.push_back(pager->childAt(i)->isVisible());
    return v;
  }
};

TEST_F(MuPagerTest, ChildAtCountsFromEitherEnd) {
  MuTestPager* pager = makePager(3);
  EXPECT_EQ(pager->childAt(-1), pager->childAt(2));
  EXPECT_EQ(mui_test::idOf(pager->childAt(-1)), "p2");
  EXPECT_EQ(pager->childAt(-4), nullptr);
  EXPECT_EQ(pager->childAt(3), nullptr);
}

TEST_F(MuPagerTest, RemovingPagesMovesTheCurrentIndex) {
  struct Case {
    int32_t current, removed, after;
  };
  const Case cases[] = {{2, 1, 1}, {2, 2, 1}, {2, 3, 2}, {0, 0, 0}};
  for (const Case& c : cases) {
    MuTestPager* pager = makePager(4);
    pager->setPage(c.current);
    pager->remove(pager->childAt(c.removed));
    EXPECT_EQ(pager->current(), c.after) << c.current << " " << c.removed;
    EXPECT_EQ(pager->childCount(), 3);
    dialog->remove(pager);
  }
}

TEST_F(MuPagerTest, ProgramAndUserChangesAndVisibility) {
  MuTestPager* pager = makePager(3);
  pager->setSize({100, 100});
  EXPECT_EQ(visibility(pager), (std::vector<bool>{true, false, false}));
  pager->setPage(2);
  pager->setPage(5);
  pager->setPage(-1);
  EXPECT_EQ(visibility(pager), (std::vector<bool>{false, false, true}));
  EXPECT_THAT(pager->calls, ElementsAre("show 2"));
  EXPECT_TRUE(log.empty());
  pager->onPageSelected(1);
  EXPECT_EQ(visibility(pager), (std::vector<bool>{false, true, false}));
  EXPECT_THAT(pager->calls, ElementsAre("show 2"));
  EXPECT_THAT(log, ElementsAre("r:pager:0"));
  // Removal does not recompute visibility until the next relayout.
  pager->remove(pager->childAt(1));
  EXPECT_EQ(pager->current(), 0);
  EXPECT_EQ(visibility(pager), (std::vector<bool>{false, false}));
  pager->setSize({100, 100});
  EXPECT_EQ(visibility(pager), (std::vector<bool>{true, false}));
  EXPECT_THAT(pager->describe().c_str(), EndsWith("element Pager\npage 0\n"));
}

TEST_F(MuPagerTest, SelectAction) {
  MuTestPager* pager = makePager(3);
  EXPECT_TRUE(pager->performAction("select", "2"));
  EXPECT_EQ(pager->current(), 2);
  EXPECT_TRUE(pager->performAction("select", "7"));
  EXPECT_TRUE(pager->performAction("select", nullptr));
  EXPECT_EQ(pager->current(), 2);
  EXPECT_THAT(pager->calls, ElementsAre("show 2"));
  EXPECT_THAT(log, ElementsAre("r:pager:0", "r:pager:0", "r:pager:0"));
  EXPECT_FALSE(pager->performAction("click", "1"));
  pager->setEnabled(false);
  EXPECT_FALSE(pager->performAction("select", "1"));
  EXPECT_EQ(log.size(), 3u);
}

TEST_F(MuPagerTest, LabelsAndItems) {
  MuTestPager* pager = makePager(3);
  // Never labelled: an empty label on every line.
  EXPECT_STREQ(pager->listItems().c_str(), "0:\n1:\n2:\n");
  pager->setPageLabel(pager->childAt(1), "Second");
  pager->setPageLabel(pager->childAt(1), "Second");
  pager->setPageLabel(pager->childAt(0), nullptr);
  pager->setPageLabel(dialog.get(), "not a page");
  EXPECT_THAT(pager->calls, ElementsAre("label 1", "label 1", "label 0"));
  EXPECT_STREQ(pager->listItems().c_str(), "0:\n1:Second\n2:\n");
  pager->removeAll();
  EXPECT_EQ(pager->childCount(), 0);
  EXPECT_EQ(pager->current(), 0);
}

// ---- Marked-up text ----

class Opened : public plat::Markup::LinkCallback {
 public:
  void openLink(const char* link) override { links.push_back(link); }
  std::vector<std::string> links;
};

class MuTextTest : public mui_test::MuTest {
 protected:
  std::unique_ptr<mui::MuDialog> dialog = makeDialog("dlg");
  Opened opened;
};

TEST_F(MuTextTest, LinksAreRebuiltAndClickedByIndex) {
  mui::MuText* text = mui::MuText::create(dialog.get(), "t", nullptr, &opened, 0);
  const char* markup = "See <a href=\"app://one\">one</a> and <a href=\"app://two\">two</a>.";
  EXPECT_TRUE(text->setText(markup));
  EXPECT_TRUE(text->setText(markup));
  ASSERT_EQ(text->links().size(), 2u);
  EXPECT_THAT(text->describe().c_str(), EndsWith("element Text\n0 app://one\n1 app://two\n"));
  struct Case {
    const char* argument;
    bool opens;
  };
  const Case cases[] = {{"1", true}, {"0", true}, {"2", false}, {"-1", false}, {nullptr, false}};
  for (const Case& c : cases) EXPECT_EQ(text->performAction("click", c.argument), c.opens) << c.argument;
  EXPECT_THAT(opened.links, ElementsAre("app://two", "app://one"));
  EXPECT_FALSE(text->performAction("open", "0"));
  // Neither disabled nor hidden refuses the action.
  text->setEnabled(false);
  text->setVisible(false);
  EXPECT_TRUE(text->performAction("click", "0"));
}

TEST_F(MuTextTest, WithoutLinkCallbackEveryClickIsRefused) {
  mui::MuText* text = mui::MuText::create(dialog.get(), "t", nullptr, nullptr, 0);
  EXPECT_TRUE(text->setText("<a href=\"x\">x</a>"));
  EXPECT_FALSE(text->performAction("click", "0"));
  text->setText("plain");
  EXPECT_THAT(text->describe().c_str(), EndsWith("element Text\n"));
}

TEST_F(MuTextTest, InvalidMarkupKeepsTheSource) {
  mui::MuText* text = mui::MuText::create(dialog.get(), "t", nullptr, &opened, 0);
  EXPECT_FALSE(text->setText("<a href=\"x\">unclosed"));
  EXPECT_STREQ(text->text(), "<a href=\"x\">unclosed");
}

TEST_F(MuTextTest, PlainTextIsShownLiterally) {
  mui::MuText* created = mui::MuText::create(dialog.get(), "c", "a <b> & c", &opened, 0);
  mui::MuText* bold = mui::MuText::createBold(dialog.get(), "b", "x < y & z");
  mui::MuText* right = mui::MuText::createRightAligned(dialog.get(), "r", "<a href=\"x\">no</a>");
  EXPECT_STREQ(created->text(), "a &lt;b&gt; &amp; c");
  EXPECT_STREQ(bold->text(), "<b>x &lt; y &amp; z</b>");
  EXPECT_THAT(right->text(), HasSubstr("&lt;a href=&quot;x&quot;&gt;no&lt;/a&gt;</div>"));
  EXPECT_TRUE(right->links().empty());
  EXPECT_EQ(bold->selectable(), 1u);
  {
    plat::Markup::Stripper stripped(bold->text());
    EXPECT_STREQ(stripped.c_str(), "x < y & z");
  }
}

}  // namespace
