#include <gtest/gtest.h>

#include <string>

#include "qocore/base/loc/Localize.h"
#include "qocore/uilibs/ui/UiStrings.h"

namespace {

TEST(UiStrings, EveryKeyHasItsTextInEveryLanguage) {
  ui::registerMessages();
  ui::registerMessages();
  loc::Localize& localize = loc::Localize::instance();
  const char* keys[] = {"ui_button_apply",
                        "ui_button_back",
                        "ui_button_cancel",
                        "ui_button_continue",
                        "ui_button_next",
                        "ui_button_no",
                        "ui_button_ok",
                        "ui_button_open",
                        "ui_button_save",
                        "ui_button_yes",
                        "ui_getfileorfolderdialog_all_files_filter",
                        "ui_getfileorfolderdialog_cannot_copy",
                        "ui_getfileorfolderdialog_entire_folder",
                        "ui_getfileorfolderdialog_no_selection",
                        "ui_getfileorfolderdialog_non_filesystem",
                        "ui_getfileorfolderdialog_send_confirm",
                        "ui_menu_about",
                        "ui_menu_edit",
                        "ui_menu_file",
                        "ui_menu_help",
                        "ui_menu_view",
                        "ui_menu_window",
                        "ui_wfiledialog_cancel",
                        "ui_wfiledialog_ok",
                        "ui_wfiledialog_path",
                        "ui_wfiledialog_show_hidden"};
  for (const char* language : {"en", "de", "es", "fr", "pt"}) {
    auto* table = localize.table(language);
    ASSERT_NE(table, nullptr) << language;
    for (const char* key : keys) EXPECT_TRUE(table->count(key)) << language << " " << key;
  }
  // The toolkit's button bar shows these labels too, so its English is the
  // library's, arrows included.
  auto* en = localize.table("en");
  EXPECT_EQ(std::string(en->at("ui_button_back").text.c_str()), "< Back");
  EXPECT_EQ(std::string(en->at("ui_button_next").text.c_str()), "Next >");
  EXPECT_EQ(std::string(en->at("ui_menu_window").text.c_str()), "&Window");
}

}  // namespace
