#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuStrings.h"
#include "qocore/uilibs/mui/MuiComms.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuEditMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/mac/MuListMac.h"
#include "qocore/uilibs/mui/mac/MuPagerMac.h"
#include "qocore/uilibs/mui/mac/MuScrollSliderMac.h"
#include "qocore/uilibs/mui/mac/MuStaticMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "qocore/uilibs/ui/Menu.h"
#include "qocore/uilibs/ui/mac/AppMenuBar.h"
#include "qocore/uilibs/ui/mac/MenuMac.h"
#include "testing/FileFixtures.h"
#include "testing/MuControlTree.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::Recorder;
using testing::ElementsAre;
using testing::HasSubstr;
using yarl_test::MuTestBackend;

// A client of the server on a real socket; the test's thread runs the
// server's loop while it waits for a reply.
class Client {
 public:
  Client(io::IoRunLoopManager& loop, const char* path) : loop_(loop) {
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof(address.sun_path) - 1);
    connected_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }

  bool connected() const { return connected_; }

  void send(const std::string& bytes) {
    ASSERT_EQ(::write(fd_.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }

  // Sends one line and answers its reply, up to and with the empty line
  // that ends it.
  std::string ask(const std::string& line) {
    send(line + "\n");
    return reply();
  }

  // The next reply: everything up to an empty line.  A reply of only the
  // empty line is told from the first line of a longer one by waiting a
  // little more.
  std::string reply() {
    for (int round = 0; round < 400; ++round) {
      loop_.runLoop().runOnce(round < 200 ? 10 : 25);
      pull();
      const size_t end = pending_.find("\n\n");
      if (end != std::string::npos || (pending_ == "\n" && round > 5)) {
        const size_t length = end != std::string::npos ? end + 2 : 1;
        std::string answer = pending_.substr(0, length);
        pending_.erase(0, length);
        return answer;
      }
    }
    return "<no reply>" + pending_;
  }

  // Whether the server closed the connection.
  bool closedByServer() {
    for (int round = 0; round < 100; ++round) {
      loop_.runLoop().runOnce(10);
      char byte;
      const ssize_t n = ::recv(fd_.get(), &byte, 1, MSG_DONTWAIT);
      if (n == 0) return true;
    }
    return false;
  }

  // Everything the server sends until it closes the connection.
  std::string untilClosed() {
    for (int round = 0; round < 200; ++round) {
      loop_.runLoop().runOnce(10);
      char buffer[256];
      ssize_t n;
      while ((n = ::recv(fd_.get(), buffer, sizeof(buffer), MSG_DONTWAIT)) > 0)
        pending_.append(buffer, static_cast<size_t>(n));
      if (n == 0) return std::exchange(pending_, std::string());
    }
    return "<still open>" + pending_;
  }

  void close() { fd_.reset(); }

 private:
  void pull() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
      if (n <= 0) return;
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }

  io::IoRunLoopManager& loop_;
  plat::UniqueFd fd_;
  bool connected_ = false;
  std::string pending_;
};

// An element whose actions fail the way element code can: with the
// project's exception, a standard one, or anything else.
class Failing : public mui::MuElement {
 public:
  Failing(mui::MuContainer* parent, const char* id, std::function<void()> fail)
      : mui::MuElement(parent, id, nullptr), fail_(std::move(fail)) {}
  bool performAction(const char*, const char*) override {
    fail_();
    return true;
  }

 private:
  std::function<void()> fail_;
};

class Refusing : public mui::MuDialog::CloseCallback {
 public:
  bool queryClose(mui::MuDialog*) override { return false; }
};

class MuiCommsTest : public mui_test::MuTest {
 protected:
  void SetUp() override {
    os::init("muicommstest", "maker", "yarl", nullptr, nullptr);
    ASSERT_EQ(::chmod(tmp.c_str(), 01777), 0);
    os::setTempDir(tmp.c_str());
    // The dialog tree is made of the macOS peers on the windowing stand-in.
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    mui::muDialogFactory = mui::MuDialogMac::create;
    mui::muLayoutFactory = mui::MuLayoutMac::create;
    mui::muButtonFactory = mui::MuButtonMac::create;
    mui::muEditFactory = mui::MuEditMac::create;
    mui::muCheckFactory = mui::MuCheckMac::create;
    mui::muChoiceFactory = mui::MuChoiceMac::create;
    mui::muListFactory = mui::MuListMac::create;
    mui::muPagerFactory = mui::MuPagerMac::create;
    mui::muSliderFactory = mui::MuSliderMac::create;
    mui::muStaticFactory = mui::MuStaticMac::create;
    comms = std::make_unique<mui::MuiComms>(nullptr, -1, -1);
    comms->setListening(true);
    ASSERT_TRUE(comms->isListening());
    client = std::make_unique<Client>(loop, comms->socketName());
    ASSERT_TRUE(client->connected()) << std::strerror(errno);

    dialog = makeDialog("wizard");
    layout = mui::MuLayout::create(dialog.get(), "body", 1);
    button = mui::MuButton::create(layout, "next", "Next", mui::MuButton::kNormal, 0, 0);
    mui::MuLayout* unnamed = mui::MuLayout::create(layout, nullptr, 0);
    edit = mui::MuEdit::create(unnamed, "name", "Name", mui::MuEdit::kText, 0);
    dialog->setVisible(true);
    dialog->addObserver(&recorder);
  }

  void TearDown() override {
    dialog.reset();
    MuTestBackend::fillHooks();
    appkit::Application::reset();
    os::setTempDir(nullptr);
  }

  yarl_test::TempDir tmp;
  io::IoRunLoopManager loop;
  std::unique_ptr<mui::MuiComms> comms;
  std::unique_ptr<Client> client;
  std::unique_ptr<mui::MuDialog> dialog;
  mui::MuLayout* layout = nullptr;
  mui::MuButton* button = nullptr;
  mui::MuEdit* edit = nullptr;
  std::vector<std::string> log;
  Recorder recorder{log, "r"};
};

TEST_F(MuiCommsTest, SimpleCommandsAndFailures) {
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case cases[] = {
      {"version", "1\n\n"},
      {"inspect", "0\n\n"},
      {"", "0\n\n"},
      {"frobnicate wizard", "0\n\n"},
      {"state nosuch", "0\n\n"},
      {"state wizard.nosuch", "0\n\n"},
      // A number selects by serial, never a dialog whose id is that text.
      {"state 4294967296", "0\n\n"},
      {"lists wizard.body.next", "\n"},
      {"listitems wizard.body.next", "\n\n"},
      {"checklayout wizard.body.next", "\n\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(client->ask(c.line), c.reply) << c.line;
}

TEST_F(MuiCommsTest, DialogsListsAndState) {
  const uint32_t serial = dialog->serial();
  const std::string dialogs = client->ask("dialogs");
  EXPECT_THAT(dialogs, HasSubstr(std::to_string(serial) + " wizard\n"));
  EXPECT_EQ(dialogs.substr(dialogs.size() - 2), "\n\n");

  // Unnamed containers are walked through but not listed.
  EXPECT_EQ(client->ask("lists wizard"), "body (layout)\nbody.next (button)\nbody.name (edit)\n\n");
  EXPECT_EQ(client->ask("lists " + std::to_string(serial) + ".body"), "body.next (button)\nbody.name (edit)\n\n");

  const std::string state = client->ask("state wizard.body.next");
  EXPECT_THAT(state, HasSubstr("label Next\n"));
  EXPECT_EQ(state.substr(state.size() - 2), "\n\n");
}

TEST_F(MuiCommsTest, ATextWithEmptyLinesKeepsTheReplyFraming) {
  // A command's output as a box shows it: an empty line inside, a line
  // feed at its end.  The reply's only empty line is still its last.
  mui::MuStatic::create(layout, "output", "first\n\nsecond\n\n\nthird\n", 0);
  const std::string state = client->ask("state wizard.body.output");
  EXPECT_THAT(state, HasSubstr("label first\nsecond\nthird\nelement Static\n"));
  EXPECT_EQ(state.find("\n\n"), state.size() - 2) << state;
  EXPECT_EQ(client->ask("version"), "1\n\n");
}

TEST_F(MuiCommsTest, DialogsWhenNoneIsRegistered) {
  dialog.reset();
  EXPECT_EQ(client->ask("dialogs"), "\n\n");
}

TEST_F(MuiCommsTest, ActionsReachTheElements) {
  EXPECT_EQ(client->ask("click wizard.body.next"), "1\n\n");
  // A third word that is not a whole number: nothing is called.
  EXPECT_EQ(client->ask("click wizard.body.next x"), "0\n\n");
  EXPECT_EQ(client->ask("click wizard.body.next 1x"), "0\n\n");
  EXPECT_THAT(log, ElementsAre("r:next:1"));

  // The whole rest of the line, blanks included, is the text.
  EXPECT_EQ(client->ask("settext wizard.body.name   two  words "), "1\n\n");
  EXPECT_STREQ(edit->getText(), "  two  words ");
  // A refused action fails.
  EXPECT_EQ(client->ask("select wizard.body.name 1"), "0\n\n");
}

TEST_F(MuiCommsTest, ControlsOfEveryKindListAndAct) {
  yarl_test::addControlTree(layout);

  struct Case {
    const char* line;
    const char* reply;
    const char* state;  // then the element's state holds this text
  };
  // clang-format off
  const Case cases[] = {
      {"listitems wizard.body.color", "1:Red\n-1:Green\n2:Blue\n\n", nullptr},
      {"select wizard.body.color 2", "1\n\n", "element Choice\nvalue 2\nvaluestr Blue\n"},
      {"select wizard.body.color x", "0\n\n", "value 2\n"},
      {"listitems wizard.body.files", "0:\"a.txt\"|\"1 KB\"\n1:\"b c\"|\"\"\n\n", nullptr},
      {"select wizard.body.files 1", "1\n\n", "element List\nvalue 1\n"},
      {"select wizard.body.files", "0\n\n", "value 1\n"},
      {"click wizard.body.agree 1", "1\n\n", "element Check\ntype Normal\nvalue 1\n"},
      {"click wizard.body.agree 0", "1\n\n", "value 0\n"},
      {"click wizard.body.agree", "0\n\n", "value 0\n"},
      {"listitems wizard.body.pages", "0:One\n1:Two\n\n", "element Pager\npage 0\n"},
      {"select wizard.body.pages 1", "1\n\n", "page 1\n"},
      // Out of range: no page changes, yet the pager answers that it acted.
      {"select wizard.body.pages 9", "1\n\n", "page 1\n"},
      {"click wizard.body.pages 0", "0\n\n", "page 1\n"},
      {"state wizard.body.note", nullptr, "label Ready\nelement Static\ntype Text\nbold 0\n"},
      {"click wizard.body.note", "0\n\n", nullptr},
      {"listitems wizard.body.note", "\n\n", nullptr},
      {"click wizard.body.volume 7", "1\n\n", "element Slider\nvalue 7\nmin 0\nmax 10\n"},
      {"click wizard.body.volume", "0\n\n", "value 7\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    const std::string reply = client->ask(c.line);
    if (c.reply) {
      EXPECT_EQ(reply, c.reply) << c.line;
    }
    if (!c.state) continue;
    std::string line(c.line);
    const size_t start = line.find(' ') + 1;
    const std::string path = line.substr(start, line.find(' ', start) - start);
    EXPECT_THAT(client->ask("state " + path), HasSubstr(c.state)) << c.line;
  }
  EXPECT_THAT(log,
              ElementsAre("r:color:0", "r:files:0", "r:agree:0", "r:agree:0", "r:pages:0", "r:pages:0", "r:volume:0"));
}

TEST_F(MuiCommsTest, ANumberSelectsBySerialNeverById) {
  std::unique_ptr<mui::MuDialog> named = makeDialog("0", {123, 45});
  ASSERT_NE(named->serial(), 0u);
  const auto& registry = mui::Mui::instance()->registry();
  auto zero = registry.find(0);
  // Serial 0 is this process's first dialog, or gone.
  EXPECT_EQ(client->ask("state 0"),
            zero == registry.end() ? "0\n\n" : zero->second->describe().c_str() + std::string("\n"));
  EXPECT_EQ(client->ask("lists " + std::to_string(named->serial())), "\n");
  EXPECT_THAT(client->ask("state " + std::to_string(named->serial())), HasSubstr("size 123,45\n"));
}

TEST_F(MuiCommsTest, ShowFocusAndClose) {
  // Already visible: nothing changes.
  EXPECT_EQ(client->ask("show wizard.body.next 1"), "0\n\n");
  EXPECT_EQ(client->ask("show wizard.body.next"), "0\n\n");
  EXPECT_EQ(client->ask("show wizard.body.next 0"), "1\n\n");
  EXPECT_FALSE(button->isVisible());

  EXPECT_EQ(client->ask("focus wizard 1"), "1\n\n");
  EXPECT_EQ(client->ask("focus wizard 0"), "1\n\n");
  EXPECT_EQ(client->ask("focus wizard x"), "0\n\n");
  EXPECT_THAT(log, ElementsAre("r:wizard:4", "r:wizard:5"));

  EXPECT_EQ(client->ask("close wizard.body"), "0\n\n");
  Refusing refusing;
  dialog->setCloseCallback(&refusing);
  EXPECT_EQ(client->ask("close wizard"), "0\n\n");
  dialog->setCloseCallback(nullptr);
  EXPECT_EQ(client->ask("close wizard"), "1\n\n");
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MuiCommsTest, NumberArgumentsAreWholeInt32Numbers) {
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case cases[] = {
      {"focus wizard 2147483647", "1\n\n"},
      {"focus wizard -2147483648", "1\n\n"},
      {"focus wizard +0", "1\n\n"},
      // Outside int32 fails, although the C library would read
      // 4294967296 as 0.
      {"focus wizard 2147483648", "0\n\n"},
      {"focus wizard -2147483649", "0\n\n"},
      {"focus wizard 4294967296", "0\n\n"},
      {"show wizard.body.next 4294967296", "0\n\n"},
      {"click wizard.body.next 4294967296", "0\n\n"},
      // Not a number.
      {"focus wizard x", "0\n\n"},
      {"focus wizard 0x10", "0\n\n"},
      {"focus wizard", "0\n\n"},
      {"show wizard.body.next 1.0", "0\n\n"},
      {"click wizard.body.next -", "0\n\n"},
      // The click's number is optional, and any whole number passes.
      {"click wizard.body.next -1", "1\n\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(client->ask(c.line), c.reply) << c.line;
  EXPECT_TRUE(button->isVisible());
  EXPECT_THAT(log, ElementsAre("r:wizard:4", "r:wizard:4", "r:wizard:5", "r:next:1"));
}

TEST_F(MuiCommsTest, CheckLayoutReportsOverflow) {
  dialog->setSize({10, 1});
  const std::string reply = client->ask("checklayout wizard");
  EXPECT_EQ(reply,
            "body.next: Overflowing H layout by 136 units\n"
            "body: Overflowing H layout by 162 units\n"
            "body.next: Overflowing by 40 units\n"
            // The edit's field gives up its width first: its label keeps
            // one line.
            "body.name: Overflowing V layout by 22 units\n\n");
}

TEST_F(MuiCommsTest, LinesArriveInPiecesAndTogether) {
  client->send("vers");
  client->send("ion\r\nversion\nbogus\n");
  EXPECT_EQ(client->reply(), "1\n\n");
  EXPECT_EQ(client->reply(), "1\n\n");
  EXPECT_EQ(client->reply(), "0\n\n");
}

TEST_F(MuiCommsTest, AFailingActionAnswersZeroAndTheConnectionGoesOn) {
  const std::function<void()> failures[] = {
      [] { throw plat::Exception("element gave up"); },
      [] { throw std::runtime_error("out of something"); },
      [] { throw 42; },
  };
  for (const auto& fail : failures) {
    auto* failing = new Failing(layout, "failing", fail);
    layout->addChild(failing);
    EXPECT_EQ(client->ask("click wizard.body.failing"), "0\n\n");
    EXPECT_EQ(client->ask("version"), "1\n\n");
    layout->remove(failing);
  }
}

TEST_F(MuiCommsTest, AnOverlongLineFailsAndTheConnectionGoesOn) {
  client->send(std::string(mui::MuiComms::kMaxLine + 500, 'a'));
  client->send(std::string(3000, 'b') + "\nversion\n");
  EXPECT_EQ(client->reply(), "0\n\n");
  EXPECT_EQ(client->reply(), "1\n\n");
  // A line of exactly the limit is still read; one byte more is not.
  const std::string padded = "version" + std::string(mui::MuiComms::kMaxLine - 7, ' ');
  EXPECT_EQ(client->ask(padded), "1\n\n");
  EXPECT_EQ(client->ask(padded + " "), "0\n\n");
}

TEST_F(MuiCommsTest, ConnectionsEndWithTheirClientOrTheServer) {
  Client second(loop, comms->socketName());
  ASSERT_TRUE(second.connected());
  EXPECT_EQ(second.ask("version"), "1\n\n");
  second.close();
  EXPECT_EQ(client->ask("version"), "1\n\n");

  // Not listening: no new connections, the open one stays.
  comms->setListening(false);
  Client refused(loop, comms->socketName());
  EXPECT_FALSE(refused.connected());
  EXPECT_EQ(client->ask("version"), "1\n\n");

  comms.reset();
  EXPECT_TRUE(client->closedByServer());
}

class OnClick : public mui::MuObserver {
 public:
  explicit OnClick(std::function<void()> fn) : fn_(std::move(fn)) {}
  void onClicked(mui::MuElement*) override { fn_(); }

 private:
  std::function<void()> fn_;
};

// A click on "ask" asks in an application-modal Yes/No box whose loop runs
// inside the click, as a user's click runs it; that loop serves the server
// meanwhile.  A second client stands by to answer the box.
class MuiCommsModalTest : public MuiCommsTest {
 protected:
  void SetUp() override {
    MuiCommsTest::SetUp();
    mui::MuButton* ask = mui::MuButton::create(layout, "ask", "Ask", mui::MuButton::kNormal, 0, 0);
    ask->addObserver(&asking);
    second = std::make_unique<Client>(loop, comms->socketName());
    ASSERT_EQ(second->ask("version"), "1\n\n");
  }

  // Run inside the click just before the box shows, and on a click inside
  // the box.
  std::function<void()> beforeBox, inBox;
  std::vector<bool> answers;
  OnClick insideBox{[this] {
    if (inBox) inBox();
  }};
  OnClick asking{[this] {
    mui::MuMessageBox box("Go on?", mui::MuMessageBox::kYesNo, nullptr, nullptr, true, nullptr);
    box.dialog()->addObserver(&insideBox);
    if (beforeBox) beforeBox();
    answers.push_back(box.show());
  }};
  std::unique_ptr<Client> second;
};

TEST_F(MuiCommsModalTest, RepliesKeepTheOrderOfTheCommands) {
  // Lines sent with the click and while its box runs wait for its reply.
  beforeBox = [this] {
    client->send("version\n");
    second->send("click messagebox.main.buttons.yes\n");
  };
  client->send("click wizard.body.ask\nbogus\n");
  EXPECT_EQ(second->reply(), "1\n\n");
  EXPECT_EQ(client->reply(), "1\n\n");
  EXPECT_EQ(client->reply(), "0\n\n");
  EXPECT_EQ(client->reply(), "1\n\n");
  EXPECT_THAT(answers, ElementsAre(true));
  EXPECT_EQ(client->ask("bogus"), "0\n\n");
}

TEST_F(MuiCommsModalTest, AClientLeavingDuringItsClickLeavesTheOthersServed) {
  beforeBox = [this] {
    client->close();
    second->send("click messagebox.main.buttons.yes\n");
  };
  client->send("click wizard.body.ask\n");
  EXPECT_EQ(second->reply(), "1\n\n");
  EXPECT_THAT(answers, ElementsAre(true));
  EXPECT_EQ(second->ask("version"), "1\n\n");
  EXPECT_EQ(second->ask("dialogs"), std::to_string(dialog->serial()) + " wizard\n\n");
}

TEST_F(MuiCommsModalTest, TheServerGoingDuringAModalClickClosesWithoutReplies) {
  // The second client's click ends the box and destroys the server while
  // both clients' clicks are still running.
  beforeBox = [this] { second->send("click messagebox.main.buttons.yes\n"); };
  inBox = [this] { comms.reset(); };
  client->send("click wizard.body.ask\n");
  EXPECT_EQ(client->untilClosed(), "");
  EXPECT_EQ(second->untilClosed(), "");
  EXPECT_THAT(answers, ElementsAre(true));
}

// Writes down the title of every item it is told of.
class Chosen : public ui::Menu::ActionCallback {
 public:
  void menuAction(ui::Menu::Item* item) override { titles.push_back(item->title() ? item->title() : "-"); }
  std::vector<std::string> titles;
};

TEST_F(MuiCommsTest, PopupMenus) {
  EXPECT_EQ(client->ask("popupmenu"), "\n");
  Chosen chosen;
  ui::MenuMac menu(&chosen, false);
  menu.addItem("Open", nullptr, nullptr, nullptr, 0);
  menu.addItem(nullptr, nullptr, nullptr, nullptr, 0);  // a separator is no item
  ui::Menu::Item* remove = menu.addItem("Remove all", nullptr, nullptr, nullptr, 0);
  ui::Menu::Item* check = menu.addItem("Show hidden", nullptr, nullptr, nullptr, 0);
  remove->setEnabled(false);
  check->setChecked(true);
  mui::popupMenus()["context"] = &menu;
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case cases[] = {
      {"popupmenu", "context\n\n"},
      {"popupmenu context listitems", "Open\nRemove all\nShow hidden\n\n"},
      {"menu context state 2", "1 1\n\n"},
      {"popupmenu context state remove ALL", "0 0\n\n"},
      // An empty name matches the first item.
      {"popupmenu context state", "1 0\n\n"},
      {"popupmenu context state nothing like it", "0\n\n"},
      {"popupmenu other listitems", "0\n\n"},
      // A disabled item is invoked without a call, and still answers 1.
      {"popupmenu context invoke Remove", "1\n\n"},
      {"popupmenu context invoke hidden", "1\n\n"},
      {"popupmenu context 0", "1\n\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(client->ask(c.line), c.reply) << c.line;
  mui::popupMenus().erase("context");
  EXPECT_THAT(chosen.titles, ElementsAre("Show hidden", "Open"));
}

TEST_F(MuiCommsTest, TheApplicationMenuBar) {
  EXPECT_EQ(client->ask("menubar listitems"), "0\n\n");
  Chosen chosen;
  ui::AppMenuBar bar(&chosen, ui::AppMenuBar::kShowAbout);
  ui::Menu::Item* about = bar.aboutItem(0);
  const std::string items = client->ask("menubar listitems");
  EXPECT_THAT(items, HasSubstr(std::string(about->title()) + "\n"));
  EXPECT_THAT(items, HasSubstr("Quit "));

  about->setEnabled(false);
  EXPECT_EQ(client->ask(std::string("menubar state ") + about->title()), "0 0\n\n");
  EXPECT_EQ(client->ask(std::string("menubar invoke ") + about->title()), "1\n\n");
  EXPECT_TRUE(chosen.titles.empty());
  about->setEnabled(true);
  EXPECT_EQ(client->ask(std::string("menubar invoke ") + about->title()), "1\n\n");
  EXPECT_THAT(chosen.titles, ElementsAre(about->title()));
}

}  // namespace
