#include "platform/appkit/Workspace.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>

#include "platform/appkit/Color.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Screen.h"
#include "platform/objc/Ref.h"

namespace appkit {

namespace {

// A generic icon: a folder (a blue tab and body) or a document (a white
// page with a grey outline), drawn at the main screen's scale.
Image* makeIcon(bool folder) {
  const double scale = Screen::screens().front()->backingScaleFactor();
  const long pixels = std::lround(kFileIconSize * scale);
  objc::Ref<BitmapImageRep> rep = objc::adopt(
      BitmapImageRep::create(nullptr, pixels, pixels, 8, 4, true, false, kDeviceRGBColorSpace, pixels * 4, 32));
  auto* image = new Image(Size{kFileIconSize, kFileIconSize});
  image->autorelease();
  image->setIconKind(folder ? "folder" : "document");
  if (!rep) return image;
  rep->setSize(Size{kFileIconSize, kFileIconSize});
  image->addRepresentation(rep);

  GraphicsContext* previous = GraphicsContext::current();
  objc::AutoreleasePool pool;
  GraphicsContext* c = GraphicsContext::withBitmap(rep);
  GraphicsContext::setCurrent(c);
  // The context draws device pixels at scale 1: points are scaled here.
  const double s = scale;
  if (folder) {
    Color::calibrated(0.36, 0.66, 0.93, 1)->set();
    c->fillRoundedRect(makeRect(2 * s, 22 * s, 12 * s, 6 * s), 2 * s, 2 * s);
    c->fillRoundedRect(makeRect(2 * s, 4 * s, 28 * s, 20 * s), 2 * s, 2 * s);
  } else {
    Color::whiteColor()->set();
    c->fillRect(makeRect(6 * s, 2 * s, 20 * s, 28 * s));
    Color::systemGrayColor()->set();
    c->strokeRect(makeRect(6.5 * s, 2.5 * s, 19 * s, 27 * s));
  }
  GraphicsContext::setCurrent(previous);
  return image;
}

}  // namespace

Workspace& Workspace::shared() {
  static auto* w = new Workspace;
  return *w;
}

Image* Workspace::iconForFile(const char* path) {
  struct stat st;
  if (!path || ::stat(path, &st) != 0) return nullptr;
  return makeIcon(S_ISDIR(st.st_mode));
}

Image* Workspace::iconForFileType(const char*) { return makeIcon(false); }

const char* pathExtension(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  const char* dot = std::strrchr(name, '.');
  // A name that only starts with a dot (".profile") has no extension.
  return (dot && dot != name) ? dot + 1 : "";
}

}  // namespace appkit
