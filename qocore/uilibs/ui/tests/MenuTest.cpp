#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/StatusBar.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/qoutil/mac/MacKeyboard.h"
#include "qocore/uilibs/ui/Menu.h"
#include "qocore/uilibs/ui/mac/AppMenuBar.h"
#include "qocore/uilibs/ui/mac/MenuMac.h"
#include "qocore/uilibs/ui/mac/StatusItem.h"
#include "testing/LogCapture.h"

namespace ui {
namespace {

// Hears the chosen items; may throw.
class Recorder : public Menu::ActionCallback {
 public:
  explicit Recorder(const char* name) : name_(name) {}
  void menuAction(Menu::Item* item) override {
    heard.push_back(name_ + ":" + (item->title() ? item->title() : "?"));
    if (throws) throw plat::Exception("refused %s", item->title());
  }
  std::vector<std::string> heard;
  bool throws = false;

 private:
  std::string name_;
};

// The menu as its native titles read: "-" for a separator.
std::string nativeText(const appkit::Menu* menu) {
  std::string out;
  for (appkit::MenuItem* item : menu->itemArray()) {
    if (!out.empty()) out += " ";
    out += item->isSeparatorItem() ? "-" : item->title();
  }
  return out;
}

// The list's titles, which must agree with the native menu's.
std::string listText(MenuMac& menu) {
  std::string out;
  for (Menu::Item* item : menu.items()) {
    if (!out.empty()) out += " ";
    out += item->isSeparator() ? "-" : item->title();
  }
  EXPECT_EQ(out, nativeText(menu.nsMenu()));
  return out;
}

class UiMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override { appkit::Application::reset(); }
  objc::AutoreleasePool pool_;
};

TEST_F(UiMenuTest, GroupsStayInOrderWithOneSeparatorBetweenThem) {
  struct Case {
    std::vector<int> steps;
    const char* reads;
  };
  // A step adds an item to its group, titled with the group and the step
  // ("g.s"); a negative step -n removes the item made at step n-1.
  const Case cases[] = {
      {{2, 0}, "0.1 - 2.0"},
      {{1, 3, 2}, "1.0 - 2.2 - 3.1"},
      {{1, 2, 1}, "1.0 1.2 - 2.1"},
      {{0, 2, 2, 1}, "0.0 - 1.3 - 2.1 2.2"},
      // Removing the only item of a later group takes its separator.
      {{0, 2, -2}, "0.0"},
      {{0, 1, 2, -2}, "0.0 - 2.2"},
      // Removing the only item of the first group takes the next group's
      // separator; the next group then leads.
      {{0, 2, -1}, "2.1"},
      {{0, 2, -1, 1}, "1.3 - 2.1"},
      // Removing the first group's first item leaves its second leading.
      {{0, 0, 2, -1, 1}, "0.1 - 1.4 - 2.2"},
      // A later group keeps its separator while it has items.
      {{0, 2, 2, -2, 3}, "0.0 - 2.2 - 3.4"},
      {{3, -1, 1, 3}, "1.2 - 3.3"},
  };
  for (const Case& c : cases) {
    std::string name;
    for (int s : c.steps) name += std::to_string(s) + " ";
    SCOPED_TRACE(name);
    MenuMac menu(nullptr, false);
    GroupedMenu grouped{&menu, {}};
    std::vector<Menu::Item*> made;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      int s = c.steps[i];
      if (s >= 0) {
        std::string title = std::to_string(s) + "." + std::to_string(i);
        made.push_back(insertInGroup(grouped, s, title.c_str(), nullptr, nullptr, 0));
      } else {
        Menu::Item*& item = made[static_cast<size_t>(-s - 1)];
        removeFromGroup(grouped, item);
        EXPECT_EQ(item, nullptr);
        made.push_back(nullptr);
      }
    }
    EXPECT_EQ(listText(menu), c.reads);
  }
}

TEST_F(UiMenuTest, ItemsListsAndNativeItemsAgree) {
  Recorder callback("menu");
  MenuMac menu(&callback, false);
  Menu::Item* a = menu.addItem("a", nullptr, nullptr, nullptr, 0);
  Menu::Item* c = menu.addItem("c", nullptr, nullptr, nullptr, 0);
  Menu::Item* b = menu.addItem("b", nullptr, c, nullptr, 0);
  menu.addItem(nullptr, nullptr, a, nullptr, 0);
  EXPECT_EQ(listText(menu), "- a b c");
  EXPECT_EQ(menu.findItem(b), 2u);
  EXPECT_EQ(menu.findItem(nullptr), menu.count());

  // A position from another menu means the end, in the list and natively.
  MenuMac other(nullptr, false);
  Menu::Item* stranger = other.addItem("x", nullptr, nullptr, nullptr, 0);
  menu.addItem("d", nullptr, stranger, nullptr, 0);
  EXPECT_EQ(listText(menu), "- a b c d");
  Menu::Item* keep = stranger;
  menu.removeItem(stranger);  // not ours: left alone
  EXPECT_EQ(stranger, keep);
  EXPECT_EQ(other.count(), 1u);

  // Submenus: the leaves stand in their item's place, separators are left
  // out; the submenu knows its parent.
  Menu::Item* more = menu.addItem("more", nullptr, c, nullptr, Menu::kSubmenu);
  ASSERT_NE(more->submenu(), nullptr);
  EXPECT_EQ(more->submenu()->parentMenu(), &menu);
  EXPECT_EQ(MenuMac::nativeItem(more)->submenu(), static_cast<MenuMac*>(more->submenu())->nsMenu());
  Menu::Item* inner = more->submenu()->addItem("inner", nullptr, nullptr, nullptr, 0);
  std::vector<Menu::Item*> leaves = menu.collectItems();
  std::vector<std::string> titles;
  for (Menu::Item* item : leaves) titles.push_back(item->title());
  EXPECT_EQ(titles, (std::vector<std::string>{"a", "b", "inner", "c", "d"}));
  EXPECT_EQ(Menu::callbackFor(inner), &callback);

  menu.setRememberedItem(b);
  menu.removeItem(b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(menu.rememberedItem(), nullptr);
  menu.removeAll();
  EXPECT_EQ(menu.count(), 0u);
  EXPECT_EQ(menu.nsMenu()->numberOfItems(), 0);
}

TEST_F(UiMenuTest, TitlesMnemonicsKeysAndStates) {
  MenuMac plain(nullptr, false);
  MenuMac mnemonic(nullptr, true);
  Menu::Item* open = mnemonic.addItem("&Open", nullptr, nullptr, nullptr, 0);
  EXPECT_STREQ(MenuMac::nativeItem(open)->title(), "Open");
  EXPECT_STREQ(MenuMac::nativeItem(open)->keyEquivalent(), "o");
  EXPECT_EQ(MenuMac::nativeItem(open)->keyEquivalentModifierMask(), 0u);
  EXPECT_STREQ(open->title(), "&Open");
  Menu::Item* umlaut = mnemonic.addItem(
      "&\xC3\x9C"
      "ber",
      nullptr, nullptr, nullptr, 0);
  EXPECT_STREQ(MenuMac::nativeItem(umlaut)->keyEquivalent(), "\xC3\xBC");
  Menu::Item* same = plain.addItem("&Open && close", nullptr, nullptr, nullptr, 0);
  EXPECT_STREQ(MenuMac::nativeItem(same)->title(), "Open & close");
  EXPECT_STREQ(MenuMac::nativeItem(same)->keyEquivalent(), "");

  // F1 with the toolkit's Control bit: the function-key character and
  // Command.
  same->setKey(0xFFBE, 0x4000000);
  EXPECT_STREQ(MenuMac::nativeItem(same)->keyEquivalent(), "\xEF\x9C\x84");
  EXPECT_EQ(MenuMac::nativeItem(same)->keyEquivalentModifierMask(), uint64_t{appkit::kModifierCommand});
  same->setKey(0, 0);
  EXPECT_STREQ(MenuMac::nativeItem(same)->keyEquivalent(), "");

  same->setEnabled(false);
  EXPECT_FALSE(same->isEnabled());
  EXPECT_FALSE(MenuMac::nativeItem(same)->isEnabled());
  same->setChecked(true);
  EXPECT_TRUE(same->isChecked());
  EXPECT_EQ(MenuMac::nativeItem(same)->state(), appkit::kStateOn);
  same->setChecked(false);
  EXPECT_FALSE(same->isChecked());

  // An image name gives the native item an image at creation.
  Menu::Item* pictured = plain.addItem("Pictured", "statusInfo", nullptr, nullptr, 0);
  ASSERT_NE(MenuMac::nativeItem(pictured)->image(), nullptr);
  EXPECT_EQ(MenuMac::nativeItem(same)->image(), nullptr);

  Menu::Item* separator = plain.addItem(nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(separator->isSeparator());
  EXPECT_TRUE(MenuMac::nativeItem(separator)->isSeparatorItem());
  EXPECT_EQ(MenuMac::nativeItem(separator)->target(), nullptr);
  EXPECT_FALSE(same->isSeparator());
  EXPECT_FALSE(plain.nsMenu()->autoenablesItems());
}

TEST_F(UiMenuTest, ClicksReachTheNearestCallback) {
  Recorder top("top"), own("own");
  MenuMac menu(&top, false);
  Menu::Item* mine = menu.addItem("mine", nullptr, nullptr, &own, 0);
  Menu::Item* more = menu.addItem("more", nullptr, nullptr, nullptr, Menu::kSubmenu);
  Menu::Item* inner = more->submenu()->addItem("inner", nullptr, nullptr, nullptr, 0);
  Menu::Item* off = menu.addItem("off", nullptr, nullptr, nullptr, 0);
  off->setEnabled(false);

  appkit::Application::shared().deactivate();
  EXPECT_TRUE(appkit::inject::pickItem(MenuMac::nativeItem(mine)));
  EXPECT_TRUE(appkit::Application::shared().isActive());
  appkit::inject::pickItem(MenuMac::nativeItem(inner));
  appkit::inject::pickItem(MenuMac::nativeItem(off));
  EXPECT_EQ(own.heard, std::vector<std::string>{"own:mine"});
  EXPECT_EQ(top.heard, std::vector<std::string>{"top:inner"});

  // No callback anywhere: nothing.  A throwing callback is logged.
  MenuMac orphan(nullptr, false);
  appkit::inject::pickItem(MenuMac::nativeItem(orphan.addItem("lost", nullptr, nullptr, nullptr, 0)));
  yarl_test::LogCapture log;
  top.throws = true;
  appkit::inject::pickItem(MenuMac::nativeItem(inner));
  std::vector<yarl_test::LogRecord> records = log.from("MenuMac");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "Unhandled exception: refused inner");

  // A late click of a target whose item is gone does nothing.
  appkit::MenuItem* native = MenuMac::nativeItem(mine);
  auto* target = dynamic_cast<MenuItemOC*>(native->target());
  ASSERT_NE(target, nullptr);
  target->retain();
  menu.removeItem(mine);
  target->performAction(appkit::selector("itemClicked:"), nullptr);
  target->release();
  EXPECT_EQ(own.heard.size(), 1u);
}

TEST_F(UiMenuTest, PopUpsAtThePointerAndAtAPointAndTheWidth) {
  MenuMac menu(nullptr, false);
  menu.addItem("Open", nullptr, nullptr, nullptr, 0);
  appkit::inject::movePointer(appkit::Point{200, 300});
  menu.popUpAtMouse();
  EXPECT_EQ(menu.nsMenu()->lastPopUp().screenLocation, (appkit::Point{200, 300}));
  menu.popUpAt(10, 20);
  EXPECT_EQ(menu.nsMenu()->popUpCount(), 2);
  EXPECT_EQ(menu.nsMenu()->lastPopUp().location, (appkit::Point{10, 20}));
  EXPECT_EQ(menu.nsMenu()->lastPopUp().view, nullptr);
  EXPECT_EQ(menu.width(), static_cast<int32_t>(menu.nsMenu()->size().width));
  EXPECT_GT(menu.width(), 0);
}

// The platform-neutral menu bar over a plain native menu.
class PlainMenuBar : public MenuBar {
 public:
  Menu::Item* createMenu(const char* title, Menu::Item* position) override {
    return main.addItem(title, nullptr, position, nullptr, Menu::kSubmenu);
  }
  std::vector<Menu::Item*> collectItems() override { return main.collectItems(); }
  MenuMac main{nullptr, false};
};

TEST_F(UiMenuTest, TheNeutralMenuBarPutsItsItemsInFileAndHelp) {
  PlainMenuBar bar;
  Recorder callback("file");
  Menu::Item* about = bar.aboutItem(2);
  EXPECT_EQ(bar.aboutItem(0), about);
  Menu::Item* prefs = bar.preferencesItem("Settings", 1);
  Menu::Item* second = bar.secondAppItem("Account", 3);
  Menu::Item* added = bar.addAppItem("Extra", 1, 9, &callback);
  EXPECT_EQ(bar.secondAppItem("again", 0), second);
  EXPECT_EQ(about->menu(), bar.helpMenu()->submenu());
  EXPECT_EQ(added->menu(), bar.fileMenu()->submenu());
  EXPECT_EQ(nativeText(bar.main.nsMenu()), "Help File");
  EXPECT_EQ(listText(*static_cast<MenuMac*>(bar.fileMenu()->submenu())), "Settings Extra - Account");
  EXPECT_STREQ(about->title(), "&About...");
  EXPECT_EQ(Menu::callbackFor(added), &callback);
  EXPECT_EQ(Menu::callbackFor(prefs), nullptr);
  EXPECT_EQ(bar.collectItems().size(), 4u);
  EXPECT_EQ(&bar.fileGroups(), &bar.fileGroups());
  EXPECT_EQ(bar.fileGroups().menu, bar.fileMenu()->submenu());
}

// The application menu bar of a process named "Yarl && Co".
class AppMenuBarTest : public UiMenuTest {
 protected:
  void SetUp() override {
    UiMenuTest::SetUp();
    os::setAppName("yarltest");
    os::setAppTitle("Yarl && Co");
  }
  // The native item of a menu of the bar by its title.
  static appkit::MenuItem* find(appkit::Menu* menu, const char* title) {
    for (appkit::MenuItem* item : menu->itemArray())
      if (std::string(item->title()) == title) return item;
    ADD_FAILURE() << "no item " << title << " in " << nativeText(menu);
    return nullptr;
  }
  static appkit::Menu* nsOf(Menu::Item* top) { return static_cast<MenuMac*>(top->submenu())->nsMenu(); }
  Recorder callback_{"bar"};
};

TEST_F(AppMenuBarTest, StandardMenusItemsAndKeyEquivalents) {
  AppMenuBar bar(&callback_, AppMenuBar::kShowAbout | AppMenuBar::kShowPreferences | AppMenuBar::kShowHide);
  appkit::Application& app = appkit::Application::shared();
  ASSERT_EQ(app.mainMenu(), bar.mainMenu()->nsMenu());
  EXPECT_EQ(app.appleMenu(), nsOf(bar.appMenu()));
  EXPECT_EQ(app.windowsMenu(), nsOf(bar.windowMenu()));
  EXPECT_EQ(nativeText(app.mainMenu()), "Yarl & Co Edit Window");
  EXPECT_STREQ(nsOf(bar.appMenu())->title(), "Yarl & Co");
  EXPECT_STREQ(nsOf(bar.editMenu())->title(), "Edit");
  EXPECT_TRUE(nsOf(bar.editMenu())->autoenablesItems());
  EXPECT_EQ(nativeText(nsOf(bar.appMenu())),
            "About Yarl & Co - Preferences... - Hide Yarl & Co Hide Others Show All - Quit Yarl & Co");
  EXPECT_EQ(nativeText(nsOf(bar.editMenu())), "Undo Redo - Cut Copy Paste Delete Select All");
  EXPECT_EQ(nativeText(nsOf(bar.windowMenu())), "Close Minimize Zoom - Bring All to Front");

  struct Expect {
    appkit::Menu* menu;
    const char* title;
    const char* action;  // null: none (the callback answers)
    const char* key;
    uint64_t mask;
  };
  constexpr uint64_t cmd = appkit::kModifierCommand;
  const Expect table[] = {
      {nsOf(bar.appMenu()), "About Yarl & Co", nullptr, "", 0},
      {nsOf(bar.appMenu()), "Preferences...", nullptr, ",", cmd},
      {nsOf(bar.appMenu()), "Hide Yarl & Co", "hide:", "h", cmd},
      {nsOf(bar.appMenu()), "Hide Others", "hideOtherApplications:", "h", 0x180000},
      {nsOf(bar.appMenu()), "Show All", "unhideAllApplications:", "", 0},
      {nsOf(bar.appMenu()), "Quit Yarl & Co", "terminate:", "q", cmd},
      {nsOf(bar.editMenu()), "Undo", "undo:", "z", cmd},
      {nsOf(bar.editMenu()), "Redo", "redo:", "z", 0x120000},
      {nsOf(bar.editMenu()), "Cut", "cut:", "x", cmd},
      {nsOf(bar.editMenu()), "Copy", "copy:", "c", cmd},
      {nsOf(bar.editMenu()), "Paste", "paste:", "v", cmd},
      {nsOf(bar.editMenu()), "Delete", "delete:", "", 0},
      {nsOf(bar.editMenu()), "Select All", "selectAll:", "a", cmd},
      {nsOf(bar.windowMenu()), "Close", "performClose:", "w", cmd},
      {nsOf(bar.windowMenu()), "Minimize", "performMiniaturize:", "m", cmd},
      {nsOf(bar.windowMenu()), "Zoom", "performZoom:", "", 0},
      {nsOf(bar.windowMenu()), "Bring All to Front", "arrangeInFront:", "", 0},
  };
  for (const Expect& e : table) {
    SCOPED_TRACE(e.title);
    appkit::MenuItem* item = find(e.menu, e.title);
    ASSERT_NE(item, nullptr);
    if (e.action) {
      EXPECT_EQ(item->action(), appkit::selector(e.action));
      EXPECT_EQ(item->target(), nullptr);
    } else {
      EXPECT_EQ(item->action(), appkit::selector("itemClicked:"));
      EXPECT_NE(dynamic_cast<MenuItemOC*>(item->target()), nullptr);
    }
    EXPECT_STREQ(item->keyEquivalent(), e.key);
    EXPECT_EQ(item->keyEquivalentModifierMask(), e.mask);
  }

  // The optional menus take their places; cached items come back.
  bar.helpMenu();
  bar.fileMenu();
  bar.viewMenu();
  EXPECT_EQ(nativeText(app.mainMenu()), "Yarl & Co File Edit View Window Help");
  EXPECT_FALSE(nsOf(bar.fileMenu())->autoenablesItems());
  EXPECT_TRUE(nsOf(bar.viewMenu())->autoenablesItems());
  EXPECT_EQ(bar.aboutItem(3), bar.aboutItem(0));
  EXPECT_EQ(bar.preferencesItem("x", 5), bar.preferencesItem(nullptr, 0));
  EXPECT_EQ(bar.secondAppItem("x", 1), nullptr);
  Menu::Item* tools = bar.createMenu("&Tools", nullptr);
  EXPECT_EQ(nativeText(app.mainMenu()), "Yarl & Co File Edit View Tools Window Help");
  EXPECT_STREQ(nsOf(tools)->title(), "Tools");
  EXPECT_EQ(bar.collectItems().size(), 17u);
}

TEST_F(AppMenuBarTest, ChoosingItemsAndTypingTheirKeys) {
  AppMenuBar bar(&callback_, AppMenuBar::kShowAbout | AppMenuBar::kShowHide);
  appkit::Application& app = appkit::Application::shared();
  app.activateIgnoringOtherApps(true);
  appkit::Menu* appMenu = nsOf(bar.appMenu());
  EXPECT_EQ(nativeText(appMenu), "About Yarl & Co - Hide Yarl & Co Hide Others Show All - Quit Yarl & Co");

  // About reports through the callback with its item (whose text keeps
  // the markers).
  EXPECT_TRUE(appkit::inject::pickItem(find(appMenu, "About Yarl & Co")));
  EXPECT_EQ(callback_.heard, std::vector<std::string>{"bar:About Yarl && Co"});
  Menu::Item* own = bar.addAppItem("Check for Updates", 1, 1, nullptr);
  appkit::inject::pickItem(MenuMac::nativeItem(own));
  EXPECT_EQ(callback_.heard.back(), "bar:Check for Updates");

  // An item without an action answers its key through the callback too.
  bar.preferencesItem(nullptr, 0);
  appkit::inject::key(43, ",", appkit::kModifierCommand);
  appkit::inject::handleQueued();
  EXPECT_EQ(callback_.heard.back(), "bar:Preferences...");

  // Hide goes to the application.
  appkit::inject::pickItem(find(appMenu, "Hide Yarl & Co"));
  EXPECT_TRUE(app.isHidden());

  // Window items follow the key window: Close is enabled only with one.
  appkit::Menu* windowMenu = nsOf(bar.windowMenu());
  windowMenu->update();
  EXPECT_FALSE(find(windowMenu, "Close")->isEnabled());
  auto* window = new appkit::Window(appkit::makeRect(100, 100, 200, 100),
                                    appkit::kWindowStyleTitled | appkit::kWindowStyleClosable);
  window->setReleasedWhenClosed(false);
  app.activateIgnoringOtherApps(true);
  window->makeKeyAndOrderFront(nullptr);
  windowMenu->update();
  EXPECT_TRUE(find(windowMenu, "Close")->isEnabled());
  EXPECT_FALSE(find(windowMenu, "Minimize")->isEnabled());
  appkit::inject::key(13, "w", appkit::kModifierCommand);
  appkit::inject::handleQueued();
  EXPECT_FALSE(window->isVisible());
  window->release();

  // Command-Q quits.
  appkit::inject::key(12, "q", appkit::kModifierCommand);
  appkit::inject::handleQueued();
  EXPECT_TRUE(app.terminated());
}

TEST_F(AppMenuBarTest, OneMenuBarAtATime) {
  AppMenuBar bar(&callback_, 0);
  EXPECT_EQ(MenuBar::instance(), &bar);
  EXPECT_DEATH(AppMenuBar second(&callback_, 0), "!inst_");
}

TEST(AppMenuTextsTest, EveryKeyInEveryLanguage) {
  registerAppMenuTexts();
  registerAppMenuTexts();
  loc::Localize& texts = loc::Localize::instance();
  const char* keys[] = {"ui_appmenubar_appmenu_about", "ui_appmenubar_appmenu_quit",
                        "ui_appmenubar_windowmenu_bringalltofront", "ui_appmenubar_editmenu_undo"};
  for (const char* language : {"de", "en", "es", "fr", "pt"})
    for (const char* key : keys) {
      auto* table = texts.table(language);
      ASSERT_NE(table, nullptr) << language;
      ASSERT_TRUE(table->count(key)) << language << " " << key;
      EXPECT_STRNE(table->at(key).text.get(), "") << language << " " << key;
    }
  EXPECT_STREQ(texts.table("de")->at("ui_appmenubar_appmenu_quit").text.get(), "%S beenden");
}

TEST_F(UiMenuTest, StatusItemAndDockBadge) {
  appkit::StatusBar& bar = appkit::StatusBar::systemStatusBar();
  size_t before = bar.items().size();
  MenuMac menu(nullptr, false);
  appkit::StatusItem* item = makeStatusItem(menu.nsMenu());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->length(), appkit::kSquareStatusItemLength);
  EXPECT_EQ(item->menu(), menu.nsMenu());
  EXPECT_EQ(bar.items().size(), before + 1);
  auto* image = new appkit::Image(appkit::Size{18, 18});
  setStatusItemImage(item, image);
  image->release();
  EXPECT_EQ(item->image(), image);
  removeStatusItem(item);
  EXPECT_EQ(bar.items().size(), before);

  setDockBadge("2");
  EXPECT_STREQ(appkit::Application::shared().dockTile()->badgeLabel(), "2");
  setDockBadge(nullptr);
  EXPECT_STREQ(appkit::Application::shared().dockTile()->badgeLabel(), "");
}

}  // namespace
}  // namespace ui
