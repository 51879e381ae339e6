#include "qocore/uilibs/mui/MuiComms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "qocore/base/io/Listener.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/qoutil/TestFeatures.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/mui/MuStrings.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/ui/Menu.h"

namespace mui {

namespace {

PLAT_LOG_SOURCE(vlog, "MuiComms");

MuiComms* g_instance = nullptr;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Splits a command line into words in place of a cursor: a run of blanks
// separates two words, and the rest of the line starts right after the
// blank that ended the previous word.
class Words {
 public:
  explicit Words(std::string_view line) : line_(line) {}

  // The next word; empty at the end of the line.
  std::string next() {
    while (pos_ < line_.size() && isBlank(line_[pos_])) ++pos_;
    const size_t start = pos_;
    while (pos_ < line_.size() && !isBlank(line_[pos_])) ++pos_;
    std::string word(line_.substr(start, pos_ - start));
    if (pos_ < line_.size())
      ++pos_;  // the blank that ends the word
    else
      atEnd_ = true;
    return word;
  }

  // What follows the last word's ending blank; false when the last word
  // ended the line.
  bool rest(std::string& out) const {
    if (atEnd_) return false;
    out = std::string(line_.substr(pos_));
    return true;
  }

 private:
  std::string_view line_;
  size_t pos_ = 0;
  bool atEnd_ = false;
};

// The one reading of a whole-number argument: text the platform's integer
// parser reads completely in base 10.  A number outside int32 is no number,
// so its command fails rather than act on a wrapped value.
std::optional<int32_t> wholeNumber(const std::string& text) {
  int32_t value = 0;
  const char* cursor = text.c_str();
  if (!plat::parseInt(value, cursor, 10) || *cursor != '\0') return std::nullopt;
  return value;
}

// An element's list or description as reply lines.  Some texts lack the
// final line feed (a progress bar's percentage), one ends in an empty line
// of its own (a splitter's description), and a label may hold empty lines
// or end in a line feed (a command's output shown in a box); each would
// break the reply's framing, whose only empty line is the one that ends
// it.  So every empty line is dropped and the text ends in a line feed.
// An empty text stays empty.
plat::DString asLines(const plat::DString& text) {
  plat::DString lines;
  const char* chars = text.c_str();
  const int length = text.length();
  for (int start = 0; start < length;) {
    int end = start;
    while (end < length && chars[end] != '\n') ++end;
    if (end > start) {
      lines.append(chars + start, end - start);
      lines.append("\n");
    }
    start = end + 1;
  }
  return lines;
}

bool allDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The dialog selector (a serial number or an id), then a path inside it.
MuElement* resolve(const std::string& address) {
  Mui* toolkit = Mui::instance();
  if (!toolkit || address.empty()) return nullptr;
  const size_t dot = address.find('.');
  const std::string selector = address.substr(0, dot);
  MuElement* dialog = nullptr;
  const auto& registry = toolkit->registry();
  if (allDigits(selector)) {
    // A number never names a dialog by id, even one whose id is digits.
    const unsigned long long serial = std::strtoull(selector.c_str(), nullptr, 10);
    if (serial <= UINT32_MAX) {
      auto it = registry.find(static_cast<uint32_t>(serial));
      if (it != registry.end()) dialog = it->second;
    }
  } else {
    for (const auto& [serial, element] : registry) {
      if (element->id() && selector == element->id()) {
        dialog = element;
        break;
      }
    }
  }
  if (!dialog) return nullptr;
  if (dot == std::string::npos) return dialog;
  const std::string rest = address.substr(dot + 1);
  return dialog->findElement(rest.c_str());
}

void listDescendants(MuElement* element, plat::DString& out) {
  auto* container = dynamic_cast<MuContainer*>(element);
  if (!container) return;
  const int32_t count = container->childCount();
  for (int32_t i = 0; i < count; ++i) {
    MuElement* child = container->childAt(i);
    if (!child) continue;
    if (child->id()) out.appendf("%s (%s)\n", MuElement::path(child).get(), child->typeName());
    listDescendants(child, out);
  }
}

bool containsIgnoringCase(const char* text, const std::string& part) {
  if (part.empty()) return true;
  if (!text) return false;
  const std::string_view haystack(text);
  auto it = std::search(haystack.begin(), haystack.end(), part.begin(), part.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
  return it != haystack.end();
}

// The first item whose position is the name read as a whole number, or
// whose label contains the name ignoring case.
ui::Menu::Item* findMenuItem(const std::vector<ui::Menu::Item*>& items, const std::string& name) {
  const std::optional<int32_t> position = wholeNumber(name);
  for (size_t i = 0; i < items.size(); ++i) {
    if ((position && *position >= 0 && static_cast<size_t>(*position) == i) ||
        containsIgnoringCase(items[i]->title(), name))
      return items[i];
  }
  return nullptr;
}

class LayoutChecker : public MuLayoutCheckObserver {
 public:
  explicit LayoutChecker(plat::DString& out) : out_(out) {}
  void report(MuElement* element, const char* message) override {
    ++findings;
    out_.appendf("%s: %s\n", MuElement::path(element).get(), message);
  }
  int32_t findings = 0;

 private:
  plat::DString& out_;
};

// What a command's handler is given: its first word, the words after the
// path (after the first word for a command without one), the element the
// path names (null without one) and the reply it builds.  A handler
// answers false for failure.
struct Call {
  const std::string& command;
  Words& words;
  MuElement* element;
  plat::DString& reply;
};

using Handler = bool (*)(Call& call);

// Whether a command's second word is a path that must name an element
// before its handler runs; when it names none the command fails.
enum class Target : bool { kNone, kElement };

struct Command {
  std::string_view name;
  Target target;
  Handler handler;
};

bool onVersion(Call& call) {
  call.reply.append("1\n");
  return true;
}

bool onDialogs(Call& call) {
  if (Mui* toolkit = Mui::instance()) {
    for (const auto& [serial, element] : toolkit->registry())
      call.reply.appendf("%u %s\n", serial, element->id() ? element->id() : "");
  }
  if (call.reply.length() == 0) call.reply.append("\n");
  return true;
}

// `name` null: the application menu bar; otherwise the popup menu
// registered under it ("popupmenu" without one lists the names).
bool menuCommand(const std::string* name, Words& words, plat::DString& reply) {
  std::vector<ui::Menu::Item*> items;
  if (!name) {
    ui::MenuBar* bar = ui::MenuBar::instance();
    if (!bar) return false;
    items = bar->collectItems();
  } else if (name->empty()) {
    for (const auto& [registered, menu] : popupMenus()) reply.appendf("%s\n", registered.c_str());
    return true;
  } else {
    auto it = popupMenus().find(*name);
    if (it == popupMenus().end() || !it->second) return false;
    items = it->second->collectItems();
  }

  const std::string sub = words.next();
  if (sub == "listitems") {
    for (ui::Menu::Item* item : items) reply.appendf("%s\n", item->title() ? item->title() : "");
    return true;
  }
  // "state" and "invoke" take the rest of the line as the item's name;
  // any other word is itself the name of an item to invoke.
  std::string itemName = sub;
  if (sub == "state" || sub == "invoke") {
    if (!words.rest(itemName)) itemName.clear();
  }
  ui::Menu::Item* item = findMenuItem(items, itemName);
  if (!item) return false;
  if (sub == "state") {
    reply.appendf("%d %d\n", item->isEnabled() ? 1 : 0, item->isChecked() ? 1 : 0);
    return true;
  }
  if (item->isEnabled()) {
    if (ui::Menu::ActionCallback* callback = ui::Menu::callbackFor(item)) callback->menuAction(item);
  }
  reply.append("1\n");
  return true;
}

bool onMenuBar(Call& call) { return menuCommand(nullptr, call.words, call.reply); }

bool onPopupMenu(Call& call) {
  const std::string name = call.words.next();
  return menuCommand(&name, call.words, call.reply);
}

// Part of the protocol, and always fails.
bool onInspect(Call&) { return false; }

bool onLists(Call& call) {
  listDescendants(call.element, call.reply);
  return true;
}

bool onListItems(Call& call) {
  call.reply = asLines(call.element->listItems());
  if (call.reply.length() == 0) call.reply.append("\n");
  return true;
}

bool onState(Call& call) {
  call.reply = asLines(call.element->describe());
  return true;
}

bool onShow(Call& call) {
  const std::optional<int32_t> number = wholeNumber(call.words.next());
  if (!number) return false;
  const bool visible = *number != 0;
  if (visible == call.element->isVisible()) return false;
  call.element->setVisible(visible);
  call.reply.append("1\n");
  return true;
}

// The command word is the action; its argument the optional number, as
// the text given.
bool onNumberAction(Call& call) {
  const std::string number = call.words.next();
  if (!number.empty() && !wholeNumber(number)) return false;
  if (!call.element->performAction(call.command.c_str(), number.empty() ? nullptr : number.c_str())) return false;
  call.reply.append("1\n");
  return true;
}

// The command word is the action; its argument the rest of the line,
// blanks included.
bool onTextAction(Call& call) {
  std::string rest;
  const bool hasRest = call.words.rest(rest);
  if (!call.element->performAction(call.command.c_str(), hasRest ? rest.c_str() : nullptr)) return false;
  call.reply.append("1\n");
  return true;
}

bool onClose(Call& call) {
  auto* dialog = dynamic_cast<MuDialog*>(call.element);
  if (!dialog || !dialog->close()) return false;
  call.reply.append("1\n");
  return true;
}

bool onFocus(Call& call) {
  const std::optional<int32_t> number = wholeNumber(call.words.next());
  if (!number) return false;
  call.element->notifyObservers(call.element, *number != 0 ? kEventDialogActivated : kEventDialogDeactivated);
  call.reply.append("1\n");
  return true;
}

bool onCheckLayout(Call& call) {
  LayoutChecker checker(call.reply);
  call.element->checkLayout(&checker);
  if (checker.findings == 0) call.reply.append("\n");
  return true;
}

// Every command of the protocol.  A new command is one more row; its
// handler reads its arguments from the words.
// clang-format off
constexpr Command kCommands[] = {
    {"version",     Target::kNone,    onVersion},
    {"dialogs",     Target::kNone,    onDialogs},
    {"menubar",     Target::kNone,    onMenuBar},
    {"popupmenu",   Target::kNone,    onPopupMenu},
    {"menu",        Target::kNone,    onPopupMenu},
    {"inspect",     Target::kNone,    onInspect},
    {"lists",       Target::kElement, onLists},
    {"listitems",   Target::kElement, onListItems},
    {"state",       Target::kElement, onState},
    {"show",        Target::kElement, onShow},
    {"click",       Target::kElement, onNumberAction},
    {"dblclick",    Target::kElement, onNumberAction},
    {"rightclick",  Target::kElement, onNumberAction},
    {"select",      Target::kElement, onNumberAction},
    {"pressenter",  Target::kElement, onTextAction},
    {"settext",     Target::kElement, onTextAction},
    {"close",       Target::kElement, onClose},
    {"focus",       Target::kElement, onFocus},
    {"checklayout", Target::kElement, onCheckLayout},
};
// clang-format on

// False answers failure, as does a command not in the table; otherwise
// `reply` holds the reply lines.
bool runCommand(const std::string& command, Words& words, plat::DString& reply) {
  const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                   [&](const Command& entry) { return entry.name == command; });
  if (found == std::end(kCommands)) return false;
  MuElement* element = nullptr;
  if (found->target == Target::kElement) {
    element = resolve(words.next());
    if (!element) return false;
  }
  Call call{command, words, element, reply};
  return found->handler(call);
}

}  // namespace

// One client connection; it deletes itself when its socket closes.
//
// A command may run a nested event loop (a click that opens a modal box),
// and that loop serves this connection's socket too.  While a command runs
// the connection therefore handles no further line of its own, so replies
// keep the order of the commands, and it stops watching its input until the
// command returns.  A connection whose socket closes, or whose server goes,
// while a command runs stays alive until that command returns, since the
// command's frame still uses it; it then goes without a reply.
class MuiCommsConn : public io::IoHandler {
 public:
  MuiCommsConn(MuiComms* server, io::Io* io) : server_(server), io_(io) {
    server_->connections_.push_back(this);
    io_->setHandler(this, true);
  }

  ~MuiCommsConn() override {
    if (server_) {
      auto& list = server_->connections_;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    releaseIo();
  }

  // The server is being destroyed.
  void serverGone() {
    server_ = nullptr;
    if (!busy_) {
      delete this;
      return;
    }
    releaseIo();
  }

  void readable(io::Io&) override {
    if (busy_) {
      // The lines wait in the socket until the command returns.
      if (!paused_ && io_) {
        paused_ = true;
        io_->setHandler(this, false);
      }
      return;
    }
    serveLines();
  }

  void shutdownDone(io::Io&) override {
    // The socket frees itself after this call.
    io_ = nullptr;
    if (!busy_) delete this;
  }

 private:
  // Handles every complete line the input holds.  False when the
  // connection has been deleted.
  bool serveLines() {
    try {
      while (io_->in().check(false, 1)) {
        rdr::InStream& in = io_->in();
        const uint8_t* start = in.getPtr();
        const int32_t available = in.nUnread();
        const auto* newline = static_cast<const uint8_t*>(std::memchr(start, '\n', static_cast<size_t>(available)));
        const int32_t take = newline ? static_cast<int32_t>(newline - start) : available;
        append(reinterpret_cast<const char*>(start), take);
        in.advance(newline ? take + 1 : take);
        in.setCheckpoint();
        if (newline && !endOfLine()) return false;
      }
    } catch (const rdr::EndOfStream&) {
      close();
    } catch (const plat::Exception& e) {
      vlog().error("Connection failed: %s", e.str());
      close();
    }
    return true;
  }

  // Lets go of the socket without hearing of it again; it frees itself.
  void releaseIo() {
    if (!io_) return;
    io::Io* io = io_;
    io_ = nullptr;
    io->setHandler(nullptr, false);
    io->shutdown(false, false);
  }

  // Keeps at most one line's worth; past that the line is only skipped.
  void append(const char* bytes, int32_t n) {
    if (overlong_) return;
    if (static_cast<int64_t>(line_.size()) + n > MuiComms::kMaxLine) {
      overlong_ = true;
      line_.clear();
      return;
    }
    line_.append(bytes, static_cast<size_t>(n));
  }

  // Answers the line just completed.  False when the connection closed
  // while the command ran, and has been deleted.
  bool endOfLine() {
    std::string line;
    line.swap(line_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    plat::DString reply;
    if (overlong_) {
      overlong_ = false;
      vlog().debug("Got an over-long command line");
      reply.append("0\n");
    } else {
      busy_ = true;
      reply = handle(line);
      busy_ = false;
      if (!io_) {
        delete this;
        return false;
      }
      if (paused_) {
        paused_ = false;
        io_->setHandler(this, true);
      }
    }
    reply.append("\n");
    rdr::OutStream& out = io_->out();
    out.writeBytes(reply.c_str(), reply.length());
    out.flush();
    return true;
  }

  void close() { io_->shutdown(false, true); }

  plat::DString handle(const std::string& line) {
    Words words(line);
    const std::string command = words.next();
    if (command == "settext" || command == "pressenter") {
      // The text may be a password: only the command and its path reach
      // the log.
      Words head(line);
      const std::string word = head.next();
      vlog().debug("Got command %s %s", word.c_str(), head.next().c_str());
    } else {
      vlog().debug("Got command %s", line.c_str());
    }
    plat::DString reply;
    try {
      if (!runCommand(command, words, reply)) reply = plat::DString("0\n");
    } catch (const plat::Exception& e) {
      vlog().error("Command %s failed: %s", command.c_str(), e.str());
      reply = plat::DString("0\n");
    } catch (const std::exception& e) {
      // Nothing may escape into the event loop, and the connection must
      // not stay marked busy: any failure of an element answers "0".
      vlog().error("Command %s failed: %s", command.c_str(), e.what());
      reply = plat::DString("0\n");
    } catch (...) {
      vlog().error("Command %s failed", command.c_str());
      reply = plat::DString("0\n");
    }
    return reply;
  }

  MuiComms* server_;
  io::Io* io_;
  std::string line_;
  bool overlong_ = false;
  // A command of this connection is running.
  bool busy_ = false;
  // Input is not watched until the running command returns.
  bool paused_ = false;
};

MuiComms::MuiComms(const char* prefix, int64_t pid, int32_t)
    : socketName_(os::makeUniqueName("MuiComms", nullptr, prefix, pid, -1)) {}

MuiComms::~MuiComms() {
  // A connection amid a command (one that runs a nested loop, from which
  // this server may be destroyed) goes once that command returns.
  while (!connections_.empty()) {
    MuiCommsConn* connection = connections_.back();
    connections_.pop_back();
    connection->serverGone();
  }
  if (g_instance == this) g_instance = nullptr;
}

void MuiComms::start(const char* prefix, int64_t pid, int32_t counter) {
  const MuiComms* instance = g_instance;
  PLAT_ASSERT(!instance);
  g_instance = new MuiComms(prefix, pid, counter);
  g_instance->setListening(qoutil::testFeaturesEnabled());
}

MuiComms* MuiComms::instance() { return g_instance; }

void MuiComms::setListening(bool on) {
  if (on == (listener_ != nullptr)) return;
  if (!on) {
    listener_.reset();
    return;
  }
  try {
    os::NamedPipeListener::Options options;
    options.createDirectory = true;
    options.makePrivate = true;
    auto listener = std::make_unique<os::NamedPipeListener>(socketName_.get(), options);
    listener->setAcceptor(this);
    listener_ = std::move(listener);
  } catch (const plat::Exception& e) {
    vlog().error("MuiComms failed: %s", e.str());
  }
}

void MuiComms::acceptIo(io::Io* io) { new MuiCommsConn(this, io); }

}  // namespace mui
