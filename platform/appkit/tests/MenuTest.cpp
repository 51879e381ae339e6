#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/StatusBar.h"
#include "platform/objc/NotificationCenter.h"
#include "qocore/base/plat/Exception.h"

namespace appkit {
namespace {

// Hears notifications and writes their names to a log.
class Listener : public objc::Object {
 public:
  explicit Listener(std::vector<std::string>* log) : log_(log) {}
  void perform(const char*, objc::Object* argument) override {
    auto* n = static_cast<objc::Notification*>(argument);
    log_->push_back(std::string("notice ") + n->name() +
                    (n->object() == Application::shared().mainMenu() ? " main" : " other"));
  }

 private:
  std::vector<std::string>* log_;
};

// A responder that answers the actions it is given and logs them.
class Answering : public View {
 public:
  Answering(std::vector<std::string>* log, std::initializer_list<const char*> actions) {
    for (const char* a : actions)
      setActionHandler(selector(a), [log, a](objc::Object*) { log->push_back(std::string("action ") + a); });
  }
  bool acceptsFirstResponder() override { return true; }
};

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::reset();
    inject::mainDisplay(1440, 900, 1);
    listener_ = new Listener(&log_);
    objc::NotificationCenter::defaultCenter().addObserver(
        listener_, "menuDidBeginTracking:", kMenuDidBeginTrackingNotification, nullptr);
  }
  void TearDown() override {
    objc::NotificationCenter::defaultCenter().removeObserver(listener_);
    listener_->release();
    for (objc::Object* o : owned_) o->release();
    Application::reset();
  }
  template <class T>
  T* own(T* object) {
    owned_.push_back(object);
    return object;
  }
  // A key window whose first responder answers the actions.
  Answering* keyWindowAnswering(std::initializer_list<const char*> actions, uint64_t style = kWindowStyleTitled) {
    auto* w = own(new Window(makeRect(100, 100, 300, 200), style));
    w->setReleasedWhenClosed(false);
    auto* view = own(new Answering(&log_, actions));
    w->contentView()->addSubview(view);
    w->makeKeyAndOrderFront(nullptr);
    w->makeFirstResponder(view);
    return view;
  }
  // An item added to the menu (the menu keeps its own reference).
  static MenuItem* add(Menu* menu, const char* title, const char* action, const char* key = "") {
    auto* item = new MenuItem(title, selector(action), key);
    menu->addItem(item);
    item->release();
    return item;
  }

  objc::AutoreleasePool pool_;
  std::vector<objc::Object*> owned_;
  std::vector<std::string> log_;
  Listener* listener_ = nullptr;
};

TEST_F(MenuTest, ItemsInsertRemoveAndKnowTheirMenus) {
  Menu* menu = own(new Menu("Edit"));
  MenuItem* cut = add(menu, "Cut", "cut:", "x");
  MenuItem* paste = add(menu, "Paste", "paste:", "v");
  auto* copy = new MenuItem("Copy", selector("copy:"), "c");
  menu->insertItem(copy, 1);
  copy->release();
  menu->insertItem(MenuItem::separatorItem(), 0);
  ASSERT_EQ(menu->numberOfItems(), 4);
  EXPECT_TRUE(menu->itemAtIndex(0)->isSeparatorItem());
  EXPECT_EQ(menu->indexOfItem(cut), 1);
  EXPECT_EQ(menu->indexOfItem(copy), 2);
  EXPECT_EQ(menu->indexOfItem(paste), 3);
  EXPECT_EQ(cut->menu(), menu);
  EXPECT_EQ(cut->keyEquivalentModifierMask(), uint64_t{kModifierCommand});
  EXPECT_EQ(menu->itemAtIndex(4), nullptr);

  // An item belongs to one menu; indexes past the end are refused.
  Menu* other = own(new Menu);
  EXPECT_THROW(other->insertItem(cut, 0), plat::Exception);
  auto* loose = own(new MenuItem("Loose", nullptr, ""));
  EXPECT_THROW(other->insertItem(loose, 1), plat::Exception);

  // A submenu learns its supermenu from the item's menu.
  Menu* sub = own(new Menu("Sub"));
  MenuItem* parent = add(menu, "More", nullptr);
  parent->setSubmenu(sub);
  EXPECT_EQ(sub->supermenu(), menu);

  cut->retain();
  menu->removeItem(cut);
  EXPECT_EQ(cut->menu(), nullptr);
  EXPECT_EQ(menu->indexOfItem(cut), -1);
  cut->release();
  menu->removeItem(parent);
  EXPECT_EQ(sub->supermenu(), nullptr);
  menu->removeAllItems();
  EXPECT_EQ(menu->numberOfItems(), 0);
}

TEST_F(MenuTest, AutoEnablingFollowsTheTargetsAndTheResponderChain) {
  keyWindowAnswering({"copy:"});
  Menu* menu = own(new Menu);
  MenuItem* copy = add(menu, "Copy", "copy:");
  MenuItem* paste = add(menu, "Paste", "paste:");
  MenuItem* quit = add(menu, "Quit", "terminate:");
  MenuItem* none = add(menu, "Nothing", nullptr);
  MenuItem* targeted = add(menu, "Targeted", "copy:");
  auto* refusing = own(new Answering(&log_, {}));
  targeted->setTarget(refusing);
  MenuItem* more = add(menu, "More", nullptr);
  more->setSubmenu(own(new Menu));

  menu->update();
  EXPECT_TRUE(copy->isEnabled());
  EXPECT_FALSE(paste->isEnabled());
  EXPECT_TRUE(quit->isEnabled());  // the application answers
  EXPECT_FALSE(none->isEnabled());
  EXPECT_FALSE(targeted->isEnabled());  // its own target does not answer
  EXPECT_TRUE(more->isEnabled());

  // Without auto-enabling the program's settings stay.
  menu->setAutoenablesItems(false);
  paste->setEnabled(true);
  copy->setEnabled(false);
  menu->update();
  EXPECT_TRUE(paste->isEnabled());
  EXPECT_FALSE(copy->isEnabled());
}

TEST_F(MenuTest, KeyEquivalentsReachTheMainMenuAfterTheWindowsViews) {
  keyWindowAnswering({"undo:", "redo:", "copy:"});
  Menu* main = own(new Menu);
  Application::shared().setMainMenu(main);
  Menu* edit = own(new Menu("Edit"));
  add(main, "Edit", nullptr)->setSubmenu(edit);
  add(edit, "Undo", "undo:", "z");
  add(edit, "Redo", "redo:", "z")->setKeyEquivalentModifierMask(kModifierCommand | kModifierShift);
  add(edit, "Copy", "copy:", "C");                                              // upper case: Shift too
  add(edit, "Paste", "paste:", "v");                                            // no one answers it
  add(edit, "Help", "copy:", "\xEF\x9C\x84")->setKeyEquivalentModifierMask(0);  // F1, no modifier
  MenuItem* manual = add(edit, "Manual", "copy:", "m");
  edit->setAutoenablesItems(false);
  manual->setEnabled(false);

  struct Case {
    const char* chars;
    uint64_t flags;
    const char* heard;  // null: no menu action
  };
  const Case cases[] = {
      {"z", kModifierCommand, "action undo:"},
      {"Z", kModifierCommand | kModifierShift, "action redo:"},
      {"c", kModifierCommand, nullptr},
      {"C", kModifierCommand | kModifierShift, "action copy:"},
      {"\xEF\x9C\x84", 0, "action copy:"},
      {"z", 0, nullptr},
      {"z", kModifierCommand | kModifierOption, nullptr},
      {"v", kModifierCommand, nullptr},
      {"m", kModifierCommand, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chars);
    log_.clear();
    inject::keyDown(0, c.chars, c.flags);
    inject::handleQueued();
    if (c.heard) {
      ASSERT_EQ(log_.size(), 1u);
      EXPECT_EQ(log_[0], c.heard);
    } else {
      EXPECT_TRUE(log_.empty()) << log_[0];
    }
  }
  // A key equivalent taken by the menu sends no notice of tracking.
  log_.clear();
  edit->setAutoenablesItems(true);
  inject::keyDown(6, "z", kModifierCommand);
  inject::handleQueued();
  EXPECT_EQ(log_, std::vector<std::string>{"action undo:"});

  // A button of the key window with the same key equivalent comes first.
  Window* key = Application::shared().keyWindow();
  auto* button = own(new Button(makeRect(0, 0, 50, 20)));
  button->setKeyEquivalent("z");
  button->setTarget(nullptr);
  button->setAction(selector("copy:"));
  key->contentView()->addSubview(button);
  log_.clear();
  inject::keyDown(6, "z", kModifierCommand);
  inject::handleQueued();
  EXPECT_EQ(log_, std::vector<std::string>{"action copy:"});
}

TEST_F(MenuTest, WithoutAKeyWindowTheMainMenuStillAnswersItsKeys) {
  Menu* main = own(new Menu);
  Application::shared().setMainMenu(main);
  Menu* app = own(new Menu("App"));
  add(main, "App", nullptr)->setSubmenu(app);
  add(app, "Quit", "terminate:", "q");
  inject::keyDown(12, "x", kModifierCommand);
  inject::handleQueued();
  EXPECT_EQ(Application::shared().beeps(), 1);
  inject::keyDown(12, "q", kModifierCommand);
  inject::handleQueued();
  EXPECT_TRUE(Application::shared().terminated());
  EXPECT_EQ(Application::shared().beeps(), 1);
}

TEST_F(MenuTest, PopUpsAreRecordedAndNeverBlock) {
  Application::shared().setMainMenu(own(new Menu));
  Answering* view = keyWindowAnswering({"copy:"});
  view->setFrame(makeRect(10, 20, 100, 50));
  Menu* context = own(new Menu);
  MenuItem* copy = add(context, "Copy", "copy:");
  MenuItem* paste = add(context, "Paste", "paste:");

  EXPECT_FALSE(context->popUpMenuPositioningItem(nullptr, Point{300, 400}, nullptr));
  EXPECT_EQ(context->popUpCount(), 1);
  EXPECT_EQ(context->lastPopUp().screenLocation, (Point{300, 400}));
  EXPECT_EQ(Menu::lastPoppedUpMenu(), context);
  EXPECT_EQ(log_, std::vector<std::string>{"notice NSMenuDidBeginTrackingNotification main"});

  // In a view: the point is the view's; the record has it on the screen
  // too (window at 100,100, view at 10,20, not flipped).
  context->popUpMenuPositioningItem(copy, Point{5, 6}, view);
  EXPECT_EQ(context->popUpCount(), 2);
  EXPECT_EQ(context->lastPopUp().positioningItem, copy);
  EXPECT_EQ(context->lastPopUp().view, view);
  EXPECT_EQ(context->lastPopUp().screenLocation, (Point{115, 126}));
  // Popping up updates the items.
  EXPECT_TRUE(copy->isEnabled());
  EXPECT_FALSE(paste->isEnabled());

  // Picking: the notice comes first, then the action; a disabled item or a
  // separator sends nothing.
  log_.clear();
  EXPECT_TRUE(inject::pickItem(copy));
  EXPECT_FALSE(inject::pickItem(paste));
  auto* separator = MenuItem::separatorItem();
  context->addItem(separator);
  EXPECT_FALSE(inject::pickItem(separator));
  EXPECT_EQ(log_, (std::vector<std::string>{"notice NSMenuDidBeginTrackingNotification main",
                                            "action copy:", "notice NSMenuDidBeginTrackingNotification main",
                                            "notice NSMenuDidBeginTrackingNotification main"}));

  Menu* gone = new Menu;
  gone->popUpMenuPositioningItem(nullptr, Point{}, nullptr);
  gone->release();
  EXPECT_EQ(Menu::lastPoppedUpMenu(), nullptr);
}

TEST_F(MenuTest, SizeFollowsTheDocumentedRule) {
  Menu* menu = own(new Menu);
  EXPECT_EQ(menu->size(), (Size{kMenuLeftMargin + kMenuRightMargin, 2 * kMenuVerticalInset}));
  add(menu, "Open", "open:", "o");           // 4 chars, key with Command
  menu->addItem(MenuItem::separatorItem());  // separator
  add(menu, "Redo", "redo:", "Z");           // Shift implied: 2 modifiers
  add(menu,
      "\xC3\x9C"
      "ber",
      "about:", "");                                        // 4 UTF-16 units, no key
  add(menu, "Recent", nullptr)->setSubmenu(own(new Menu));  // 6 chars and the arrow
  double open = 4 * kCharacterWidth + kMenuKeyGap + 2 * kCharacterWidth;
  double redo = 4 * kCharacterWidth + kMenuKeyGap + 3 * kCharacterWidth;
  double recent = 6 * kCharacterWidth + kMenuKeyGap;
  double widest = std::max({open, redo, recent});
  EXPECT_EQ(menu->size(), (Size{kMenuLeftMargin + widest + kMenuRightMargin,
                                2 * kMenuVerticalInset + 4 * kMenuItemHeight + kMenuSeparatorHeight}));
}

TEST_F(MenuTest, WindowAndApplicationActionsOfTheStandardMenus) {
  Window* plain = own(new Window(makeRect(100, 100, 300, 200), kWindowStyleTitled));
  Window* full = own(new Window(makeRect(100, 100, 300, 200), kWindowStyleTitled | kWindowStyleClosable |
                                                                  kWindowStyleMiniaturizable | kWindowStyleResizable));
  for (Window* w : {plain, full}) w->setReleasedWhenClosed(false);
  for (const char* action : {"performClose:", "performMiniaturize:", "performZoom:"}) {
    EXPECT_FALSE(plain->respondsToAction(selector(action))) << action;
    EXPECT_TRUE(full->respondsToAction(selector(action))) << action;
  }
  Rect before = full->frame();
  full->performAction(selector("performZoom:"), nullptr);
  EXPECT_TRUE(full->isZoomed());
  EXPECT_EQ(full->frame(), Screen::mainScreen()->visibleFrame());
  full->performAction(selector("performZoom:"), nullptr);
  EXPECT_EQ(full->frame(), before);
  full->makeKeyAndOrderFront(nullptr);
  full->performAction(selector("performMiniaturize:"), nullptr);
  EXPECT_TRUE(full->isMiniaturized());

  Application& app = Application::shared();
  app.activateIgnoringOtherApps(true);
  for (const char* action : {"hide:", "unhideAllApplications:", "hideOtherApplications:", "arrangeInFront:"})
    EXPECT_TRUE(app.respondsToAction(selector(action))) << action;
  app.sendAction(selector("hide:"), nullptr, nullptr);
  EXPECT_TRUE(app.isHidden());
  EXPECT_FALSE(app.isActive());
  app.sendAction(selector("unhideAllApplications:"), nullptr, nullptr);
  EXPECT_FALSE(app.isHidden());
  app.sendAction(selector("hideOtherApplications:"), nullptr, nullptr);
  EXPECT_EQ(app.otherApplicationsHidden(), 1);

  plain->orderFront(nullptr);
  Window* back = own(new Window(makeRect(0, 0, 10, 10), kWindowStyleTitled));
  back->setReleasedWhenClosed(false);
  back->orderFront(nullptr);
  plain->orderFront(nullptr);
  std::vector<Window*> order = app.orderedWindows();
  app.sendAction(selector("arrangeInFront:"), nullptr, nullptr);
  EXPECT_EQ(app.orderedWindows(), order);
}

TEST_F(MenuTest, StatusItemsAndTheDockBadgeAreRecorded) {
  StatusBar& bar = StatusBar::systemStatusBar();
  size_t before = bar.items().size();
  StatusItem* item = bar.statusItemWithLength(kSquareStatusItemLength);
  item->retain();
  Menu* menu = own(new Menu);
  item->setMenu(menu);
  EXPECT_EQ(item->menu(), menu);
  EXPECT_EQ(item->width(), bar.thickness());
  EXPECT_EQ(item->statusBar(), &bar);
  ASSERT_EQ(bar.items().size(), before + 1);
  EXPECT_EQ(bar.items().back(), item);
  bar.removeStatusItem(item);
  bar.removeStatusItem(item);  // once only
  EXPECT_EQ(bar.items().size(), before);
  EXPECT_EQ(item->statusBar(), nullptr);
  item->release();

  DockTile* tile = Application::shared().dockTile();
  EXPECT_STREQ(tile->badgeLabel(), "");
  tile->setBadgeLabel("3");
  EXPECT_STREQ(Application::shared().dockTile()->badgeLabel(), "3");
  tile->setBadgeLabel(nullptr);
  EXPECT_STREQ(tile->badgeLabel(), "");
}

}  // namespace
}  // namespace appkit
