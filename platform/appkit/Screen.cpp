#include "platform/appkit/Screen.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Metrics.h"

namespace appkit {

namespace {
// Made on first use and never destroyed; replaced screens are kept so that
// pointers handed out earlier stay valid.
struct Displays {
  std::vector<Screen*> current;
  std::vector<Screen*> retired;
};
}  // namespace

static Displays& displays();

const std::vector<Screen*>& Screen::screens() {
  Displays& d = displays();
  if (d.current.empty()) configure({DisplaySpec{makeRect(0, 0, 1440, 900), 1}});
  return d.current;
}

Screen* Screen::mainScreen() {
  Window* key = Application::shared().keyWindow();
  if (key)
    if (Screen* s = key->screen()) return s;
  return screens().front();
}

void Screen::configure(const std::vector<DisplaySpec>& specs) {
  Displays& d = displays();
  d.retired.insert(d.retired.end(), d.current.begin(), d.current.end());
  d.current.clear();
  uint32_t number = 1;
  for (const DisplaySpec& spec : specs) {
    Rect frame = spec.frame;
    if (d.current.empty()) frame.origin = {0, 0};
    d.current.push_back(new Screen(frame, spec.backingScale == 2 ? 2 : 1, number++, d.current.empty()));
  }
  if (d.current.empty()) d.current.push_back(new Screen(makeRect(0, 0, 1440, 900), 1, 1, true));
}

Rect Screen::visibleFrame() const noexcept {
  Rect r = frame_;
  if (main_) r.size.height -= kMenuBarHeight;
  return r;
}

static Displays& displays() {
  static Displays* d = new Displays;
  return *d;
}

DisplayId mainDisplayId() { return Screen::screens().front()->screenNumber(); }

Rect displayBounds(DisplayId display) {
  const std::vector<Screen*>& all = Screen::screens();
  double mainHeight = all.front()->frame().size.height;
  for (Screen* s : all) {
    if (s->screenNumber() != display) continue;
    Rect f = s->frame();
    return makeRect(f.origin.x, mainHeight - f.maxY(), f.size.width, f.size.height);
  }
  return {};
}

}  // namespace appkit
