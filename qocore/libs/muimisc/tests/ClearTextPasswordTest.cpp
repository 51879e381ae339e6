#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "qocore/base/loc/Localize.h"
#include "qocore/libs/muimisc/ClearTextPassword.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using muimisc::ClearTextPassword;
using yarl_test::MuTestBackend;
using yarl_test::MuTestEdit;

class ClearTextPasswordTest : public testing::Test {
 protected:
  yarl_test::MuTestBackend& backend = MuTestBackend::install();
  std::unique_ptr<mui::MuDialog> dialog{mui::MuDialog::create("dlg", "", {300, 100}, 0, nullptr, nullptr)};

  static MuTestEdit* edit(mui::MuEdit* e) { return static_cast<MuTestEdit*>(e); }
  static std::string image(mui::MuButton* b) { return b->image() ? b->image() : ""; }
};

TEST_F(ClearTextPasswordTest, StartsHiddenAndShowsTheSameText) {
  ClearTextPassword field(dialog.get(), "pwd", nullptr, true);
  EXPECT_EQ(dialog->findElement("pwd.hidden"), field.hiddenEdit());
  EXPECT_EQ(dialog->findElement("pwd.clear"), field.clearEdit());
  EXPECT_EQ(field.hiddenEdit()->type(), static_cast<uint32_t>(mui::MuEdit::kPassword));
  EXPECT_TRUE(field.hiddenEdit()->isVisible());
  EXPECT_FALSE(field.clearEdit()->isVisible());
  EXPECT_EQ(image(field.eyeButton()), "eyeClosed");
  EXPECT_EQ(image(field.copyButton()), "copyToClipboard");
  EXPECT_EQ(field.eyeButton()->type(), static_cast<uint32_t>(mui::MuButton::kCustom));
  EXPECT_FALSE(MuTestBackend::peerOf(field.copyButton())->toolTip.empty());
  uint32_t mode = 0;
  int32_t size = 0;
  ASSERT_TRUE(field.row()->childLayout(field.clearEdit(), mode, size));
  EXPECT_EQ(mode, static_cast<uint32_t>(mui::MuLayout::kWeighted));

  // The text moves: the edit left behind keeps no copy.
  field.hiddenEdit()->setText("s3cret");
  field.setTextShown(true);
  EXPECT_EQ(field.currentEdit(), field.clearEdit());
  EXPECT_STREQ(field.clearEdit()->getText(), "s3cret");
  EXPECT_STREQ(field.hiddenEdit()->getText(), "");
  EXPECT_EQ(image(field.eyeButton()), "eyeOpen");
  field.clearEdit()->setText("changed");
  field.setTextShown(false);
  EXPECT_STREQ(field.hiddenEdit()->getText(), "changed");
  EXPECT_STREQ(field.clearEdit()->getText(), "");
  EXPECT_EQ(image(field.eyeButton()), "eyeClosed");
}

TEST_F(ClearTextPasswordTest, EyeButtonKeepsTextSelectionAndFocus) {
  ClearTextPassword field(dialog.get(), "pwd", "Password", false);
  edit(field.hiddenEdit())->type("abcdef");
  field.hiddenEdit()->setFocus();
  field.hiddenEdit()->setSelection(2, 3);
  EXPECT_TRUE(field.eyeButton()->performAction("click", nullptr));
  MuTestEdit* shown = edit(field.clearEdit());
  EXPECT_TRUE(shown->isVisible());
  EXPECT_EQ(shown->text, "abcdef");
  EXPECT_TRUE(shown->hasFocus());
  EXPECT_EQ(shown->selectionStart, 2);
  EXPECT_EQ(shown->selectionLength, 3);
  EXPECT_EQ(edit(field.hiddenEdit())->text, "");
  EXPECT_TRUE(field.eyeButton()->performAction("click", nullptr));
  EXPECT_TRUE(field.hiddenEdit()->hasFocus());
  EXPECT_EQ(edit(field.hiddenEdit())->text, "abcdef");
  EXPECT_EQ(shown->text, "");
  EXPECT_EQ(image(field.eyeButton()), "eyeClosed");
}

TEST_F(ClearTextPasswordTest, CopyButtonCopiesTheVisibleTextThroughTheDialog) {
  ClearTextPassword field(dialog.get(), "pwd", nullptr, true);
  auto* d = static_cast<yarl_test::MuTestDialog*>(dialog.get());
  field.hiddenEdit()->setText("hidden-text");
  EXPECT_TRUE(field.copyButton()->performAction("click", nullptr));
  EXPECT_EQ(d->pasteboard, "hidden-text");
  EXPECT_EQ(image(field.copyButton()), "copiedToClipboard");
  field.setTextShown(true);
  field.clearEdit()->setText("clear-text");
  EXPECT_TRUE(field.copyButton()->performAction("click", nullptr));
  EXPECT_EQ(d->pasteboard, "clear-text");
  // It stays so, whatever happens to the field.
  field.setTextShown(false);
  EXPECT_EQ(image(field.copyButton()), "copiedToClipboard");
}

TEST_F(ClearTextPasswordTest, EnablingLeavesTheCopyButtonAlone) {
  ClearTextPassword field(dialog.get(), "pwd", nullptr, true);
  field.setEnabled(false);
  EXPECT_FALSE(MuTestBackend::peerOf(field.hiddenEdit())->enabled);
  EXPECT_FALSE(MuTestBackend::peerOf(field.clearEdit())->enabled);
  EXPECT_FALSE(MuTestBackend::peerOf(field.eyeButton())->enabled);
  EXPECT_TRUE(MuTestBackend::peerOf(field.copyButton())->enabled);
  field.setPlaceholder("Password");
  EXPECT_EQ(edit(field.hiddenEdit())->placeholder, "Password");
  EXPECT_EQ(edit(field.clearEdit())->placeholder, "Password");
}

TEST_F(ClearTextPasswordTest, WithoutCopyButtonOtherClicksDoNothing) {
  ClearTextPassword field(dialog.get(), "pwd", nullptr, false);
  EXPECT_EQ(field.copyButton(), nullptr);
  EXPECT_EQ(dialog->findElement("pwd.clipboardBtn"), nullptr);
  field.hiddenEdit()->setText("x");
  auto* other = mui::MuButton::create(field.row(), "other", "Other", 0, 0, 0);
  EXPECT_TRUE(other->performAction("click", nullptr));
  field.row()->notifyObservers(field.hiddenEdit(), mui::kEventClicked);
  EXPECT_TRUE(field.hiddenEdit()->isVisible());
  EXPECT_EQ(static_cast<yarl_test::MuTestDialog*>(dialog.get())->pasteboard, "");
}

TEST_F(ClearTextPasswordTest, TheFieldOutlivedByItsRowStopsObserving) {
  auto field = std::make_unique<ClearTextPassword>(dialog.get(), "pwd", nullptr, true);
  mui::MuButton* eye = field->eyeButton();
  field.reset();
  // No observer left to call.
  EXPECT_TRUE(eye->performAction("click", nullptr));
}

TEST(MuimiscTexts, RegisteredOnceWithEveryLanguage) {
  ClearTextPassword::registerTexts();
  loc::Localize& localize = loc::Localize::instance();
  const size_t before = localize.table("en")->size();
  ClearTextPassword::registerTexts();
  EXPECT_EQ(localize.table("en")->size(), before);
  for (const char* language : {"en", "de", "es", "fr", "pt"}) {
    auto* table = localize.table(language);
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(table->count("muimisc_cleartextpassword_clipboard_tip")) << language;
    EXPECT_TRUE(table->count("muimisc_proxysection_validate_proxyserver")) << language;
  }
}

}  // namespace
