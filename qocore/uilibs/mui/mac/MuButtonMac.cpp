#include "qocore/uilibs/mui/mac/MuButtonMac.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuButtonHyperlinkMac.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/ButtonUtil.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

namespace {

// Tracking options: entered and exited, always active, in the visible
// rectangle.
constexpr unsigned kHoverTracking = 641;

int32_t backingScale() {
  appkit::Screen* screen = appkit::Screen::mainScreen();
  const double s = screen ? screen->backingScaleFactor() : 1;
  return s >= 1 ? static_cast<int32_t>(s) : 1;
}

// The element's font size in points: 120 is the platform's standard size.
double fontPoints(const MuFont& font) { return appkit::kSystemFontSize * font.size / 120.0; }

appkit::Size imageSizeOf(const plat::LinkedPtr<ui::NamedImage>& image) {
  return image ? image->image->size() : appkit::Size{};
}

MuInsets pushInsets(bool withImage) { return withImage ? MuInsets{2, 1, 2, 1} : MuInsets{5, 4, 5, 4}; }

}  // namespace

// ---- Views ----

bool ButtonOC::acceptsFirstResponder() {
  if (!cxx) return appkit::Button::acceptsFirstResponder();
  if ((cxx->buttonFlags() & MuButton::kNotFocusable) || cxx->flags() != 0) return false;
  return ui::fullKeyboardAccess();
}

void ButtonOC::mouseEntered(appkit::Event*) {
  if (cxx) cxx->setHovering(true);
}

void ButtonOC::mouseExited(appkit::Event*) {
  if (cxx) cxx->setHovering(false);
}

// ---- Push button ----

MuButton* MuButtonMac::create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                              uint32_t option) {
  if (type == kHyperlink) return new MuButtonHyperlinkMac(parent, id, label, type, flags, option);
  return new MuButtonMac(parent, id, label, type, flags, option);
}

MuButtonMac::MuButtonMac(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                         uint32_t option)
    : MuButton(parent, id, label, type, flags, option) {
  button_ = objc::adopt(new ButtonOC(appkit::makeRect(0, 0, 1, 1)));
  button_->setClipsToBounds(true);
  button_->cxx = this;
  target_ = std::make_unique<ui::ActionTarget>(this, button_);
  button_->setBordered(bordered());
  if (type == kNormal) button_->setShowsBorderOnlyWhileMouseInside(flags & kBorderOnHover);
  if (type == kCustom) {
    button_->setImagePosition(appkit::kImageOverlaps);
    button_->setButtonType(appkit::kButtonMomentaryChange);
    tracking_ = objc::adopt(new appkit::TrackingArea(button_->bounds(), kHoverTracking, button_));
    button_->addTrackingArea(tracking_);
  }
  setPeer(std::make_unique<MuCommonMac>(this, button_, bordered() ? pushInsets(false) : MuInsets{}));
  plat::CharArray text(label ? label : "");
  setLabel(nullptr);
  setText(text.c_str());
}

MuButtonMac::~MuButtonMac() {
  // The view has usually left its window before the element goes (and
  // an auto-hider's button is the default of a window it floats in):
  // every window is asked.
  if (appkit::Application* app = appkit::Application::current())
    for (appkit::Window* window : app->orderedWindows()) resignDefaultIn(window);
  if (tracking_) button_->removeTrackingArea(tracking_);
  button_->cxx = nullptr;
  button_->setTarget(nullptr);
  target_.reset();
}

void MuButtonMac::resignDefaultIn(appkit::Window* window) const noexcept {
  if (window && window->defaultButton() == button_) window->setDefaultButton(nullptr);
}

void MuButtonMac::setText(const char* text) {
  MuButton::setText(text);
  const bool withImage = static_cast<bool>(images_[0]);
  const bool hasLabel = label() && *label();
  if (type() != kCustom) {
    button_->setImagePosition(!withImage ? appkit::kNoImage : hasLabel ? appkit::kImageLeft : appkit::kImageOnly);
    if (bordered()) {
      button_->setBezelStyle(withImage ? appkit::kBezelRegularSquare : appkit::kBezelRounded);
      setPeer(std::make_unique<MuCommonMac>(this, button_, pushInsets(withImage)));
    }
  }
  std::string title(label() ? label() : "");
  ui::setMnemonicKeyEquivalent(button_, title.c_str(), true);
  plat::CharArray stripped(title.c_str());
  plat::stripMnemonic(stripped.get());
  title = stripped.c_str();
  if (buttonFlags() & kMenuButton) title += " \xE2\x96\xBE";
  button_->setAttributedTitle(title.c_str(), fontPoints(getFont()));
}

void MuButtonMac::setImage(const char* name, Size size, int32_t state) {
  MuButton::setImage(name, size, state);
  if (state < 0 || state > 2) return;
  images_[state] =
      name && *name ? ui::loadNamedImage(name, size.width, size.height) : plat::LinkedPtr<ui::NamedImage>();
  // The image position and bezel depend on whether there is an image.
  if (state == 0) setText(label());
  updateImages();
}

void MuButtonMac::setImageInsets(Size first, Size second) {
  const int32_t s = backingScale();
  scaledInsets_[0] = {first.width * s, first.height * s};
  scaledInsets_[1] = {second.width * s, second.height * s};
  MuButton::setImageInsets(first, second);
  updateImages();
}

void MuButtonMac::setSize(Size size) {
  MuButton::setSize(size);
  updateImages();
}

void MuButtonMac::updateImages() {
  for (objc::Ref<appkit::Image>& r : rendered_) r.reset();
  const Size size = getSize();
  appkit::Image* shown[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (!images_[i]) continue;
    if (type() == kCustom && size.width > 0 && size.height > 0) {
      // Drawn at the button's size: the representations stretch to it.
      rendered_[i] = objc::adopt(new appkit::Image({double(size.width), double(size.height)}));
      for (appkit::ImageRep* rep : images_[i]->image->representations()) rendered_[i]->addRepresentation(rep);
      shown[i] = rendered_[i];
    } else if (i == 0 || type() == kCustom) {
      shown[i] = images_[i]->image;
    }
  }
  button_->setImage(hovering_ && shown[1] ? shown[1] : shown[0]);
  button_->setAlternateImage(shown[2]);
}

void MuButtonMac::setHovering(bool hovering) {
  hovering_ = hovering;
  updateImages();
}

int32_t MuButtonMac::widthForHeight(int32_t) {
  const appkit::Size fit = ui::fittingSize(button_, true);
  if (type() == kCustom) {
    const int32_t s = backingScale();
    const int32_t title = truncToInt32(double(plat::utf8CharCount(button_->title())) * appkit::kCharacterWidth) * s;
    const int32_t w = std::max(title + scaledInsets_[0].width + scaledInsets_[1].width,
                               truncToInt32(imageSizeOf(images_[0]).width * s));
    return w / s;
  }
  const MuInsets& in = static_cast<MuCommonMac*>(peer())->insets();
  int32_t w = ceilToInt32(fit.width) - in.left - in.right;
  if (bordered() && label() && *label()) w = std::max(w, Mui::instance()->metric(Mui::kButtonMinWidth));
  return w;
}

int32_t MuButtonMac::heightForWidth(int32_t) {
  if (type() == kCustom) {
    const int32_t s = backingScale();
    const int32_t title = truncToInt32(appkit::kSystemFontSize) * s;
    const int32_t h = std::max(title + scaledInsets_[0].height + scaledInsets_[1].height,
                               truncToInt32(imageSizeOf(images_[0]).height * s));
    return h / s;
  }
  int32_t h;
  if (images_[0]) {
    h = ceilToInt32(ui::fittingSize(button_, true).height);
  } else {
    // Without an image every button of the kind is as high as an empty one.
    static const int32_t empty =
        ceilToInt32(ui::buttonSize(appkit::kButtonMomentaryLight, appkit::kBezelRounded).height);
    h = empty;
  }
  if (bordered() && label() && *label()) h = std::max(h, Mui::instance()->metric(Mui::kButtonMinHeight));
  const MuInsets& in = static_cast<MuCommonMac*>(peer())->insets();
  return h - in.top - in.bottom;
}

void MuButtonMac::action(objc::Object*) { click(); }

// ---- Check box and radio button ----

MuCheck* MuCheckMac::create(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
                            const char* imageBase) {
  return new MuCheckMac(parent, id, label, type, member, imageBase);
}

MuCheckMac::MuCheckMac(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
                       const char* imageBase)
    : MuCheck(parent, id, label, type, member, imageBase) {
  check_ = objc::adopt(new MuCheckMacOC(appkit::makeRect(0, 0, 1, 1)));
  check_->setClipsToBounds(true);
  check_->cxx = this;
  target_ = std::make_unique<ui::ActionTarget>(this, check_);
  check_->setButtonType(type == kRadio ? appkit::kButtonRadio : appkit::kButtonSwitch);
  check_->setTitle(label ? label : "");
  if (imageBase && *imageBase) {
    static const char* const kPrefixes[] = {"ind-", "off-", "on-"};
    for (int i = 0; i < 3; ++i) images_[i] = ui::loadNamedImage((std::string(kPrefixes[i]) + imageBase).c_str(), 0, 0);
    check_->cell()->setHighlightsBy(0);
    showStateImage();
  }
  setPeer(std::make_unique<MuCommonMac>(this, check_, type == kRadio ? MuInsets{1, 0, 2, 0} : MuInsets{2, 0, 2, 0}));
  if (label) setText(label);
}

MuCheckMac::~MuCheckMac() {
  check_->cxx = nullptr;
  check_->setTarget(nullptr);
  target_.reset();
}

void MuCheckMac::showStateImage() {
  if (!images_[0]) return;
  check_->setImage(images_[std::min(check_->state(), 1) + 1]->image);
}

void MuCheckMac::setValue(bool checked) {
  check_->setAllowsMixedState(false);
  check_->setState(checked ? appkit::kStateOn : appkit::kStateOff);
  showStateImage();
}

bool MuCheckMac::getValue() { return check_->state() == appkit::kStateOn; }

void MuCheckMac::setIndeterminate() {
  check_->setAllowsMixedState(true);
  check_->setState(appkit::kStateMixed);
  showStateImage();
}

bool MuCheckMac::isIndeterminate() { return check_->state() == appkit::kStateMixed; }

void MuCheckMac::setText(const char* text) {
  setLabel(text);
  ui::setMnemonicKeyEquivalent(check_, text, true);
  plat::CharArray stripped(text ? text : "");
  plat::stripMnemonic(stripped.get());
  ui::setControlText(check_, stripped.c_str());
}

void MuCheckMac::refreshStyle() {
  MuCheck::refreshStyle();
  check_->setAttributedTitle(check_->title(), fontPoints(getFont()), ui::getColour("contentText"));
}

int32_t MuCheckMac::widthForHeight(int32_t) {
  const appkit::Size fit = ui::fittingSize(check_, true);
  const MuInsets& in = static_cast<MuCommonMac*>(peer())->insets();
  return ceilToInt32(fit.width - (in.left + 2)) + 1;
}

int32_t MuCheckMac::heightForWidth(int32_t width) {
  const MuInsets& in = static_cast<MuCommonMac*>(peer())->insets();
  double indicator;
  if (images_[0]) {
    indicator = images_[1]->image->size().width;
  } else {
    static const double box = ui::buttonSize(appkit::kButtonSwitch, 0).width;
    static const double radio = ui::buttonSize(appkit::kButtonRadio, 0).width;
    indicator = type() == kRadio ? radio : box;
  }
  // The title wraps to what is left beside the indicator.
  const double room = std::max(1.0, width - in.left - 2 - indicator);
  const double text = double(plat::utf8CharCount(check_->title())) * appkit::kCharacterWidth;
  const double lines = std::max(1.0, std::ceil(text / room));
  int32_t h = std::max(ceilToInt32(lines * appkit::kSystemFontSize), Mui::instance()->metric(Mui::kSpacerSize));
  if (images_[0]) h = std::max(h, ceilToInt32(images_[1]->image->size().height) + 3);
  return h;
}

void MuCheckMac::action(objc::Object*) {
  if (check_->allowsMixedState() && check_->state() != appkit::kStateMixed) check_->setAllowsMixedState(false);
  showStateImage();
  click();
}

}  // namespace mui
