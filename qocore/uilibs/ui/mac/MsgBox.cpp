#include "qocore/uilibs/ui/mac/MsgBox.h"

#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Window.h"
#include "platform/objc/Ref.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/mac/NSUtil.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/uilibs/ui/UiStrings.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/NamedImageMac.h"

namespace ui {

namespace {

const char* const kDidEnd = "alertDidEnd:returnCode:contextInfo:";

// The box of one call.
struct MsgBox {
  appkit::Window* parent = nullptr;
  long result = 0;
};

// NSAlertDelegateOC: ends the parent's modal loop once the sheet ends,
// also when another box runs inside it.
class NSAlertDelegateOC : public objc::Object, public appkit::AlertDidEndReceiver {
 public:
  void alertDidEnd(appkit::Alert*, long returnCode, void* contextInfo) override {
    auto* box = static_cast<MsgBox*>(contextInfo);
    box->result = returnCode;
    appkit::Application::shared().stopModalForWindow(box->parent);
  }

 protected:
  ~NSAlertDelegateOC() override = default;
};

}  // namespace

const char* msgBoxStatusImage(MsgBoxFlags flags) noexcept {
  switch (flags & kMsgBoxIconMask) {
    case kMsgBoxIconError:
      return "statusError";
    case kMsgBoxIconQuestion:
      return "statusQuestion";
    case kMsgBoxIconWarning:
      return "statusWarning";
    case kMsgBoxIconInfo:
      return "statusInfo";
    default:
      return nullptr;
  }
}

namespace {

// The application icon with the status badge at its bottom right: a 64
// point square, its origin at the lower left.  One reference, the caller's.
appkit::Image* statusIcon(const char* badgeName) {
  auto* icon = new appkit::Image(appkit::Size{64, 64});
  icon->lockFocus();
  plat::ScopeExit unlock([icon] { icon->unlockFocus(); });
  if (appkit::Image* app = appkit::Application::shared().applicationIconImage())
    app->drawInRect(appkit::makeRect(0, 16, 48, 48), appkit::Rect{}, appkit::kCompositeSourceOver, 1.0, false, nullptr);
  // 64 toolkit units in points.
  const int side = (64 * plat::ppmm.getValue() + 4) / 8;
  plat::LinkedPtr<NamedImage> badge = loadNamedImage(badgeName, side, side);
  if (badge && badge->image) {
    const rfb::Size size = imageSize(badge.get());
    badge->image->drawInRect(appkit::makeRect(32, 0, size.width, size.height), appkit::Rect{},
                             appkit::kCompositeSourceOver, 1.0, false, nullptr);
  }
  return icon;
}

}  // namespace

bool msgBox(appkit::Window* parent, const char* text, MsgBoxFlags flags, const char* caption) {
  registerMessages();
  // The parent is held for the life of the box: whatever the loop runs
  // may close it, and its title is given back at the end.
  const objc::Ref<appkit::Window> heldParent(parent);
  MsgBox box;
  box.parent = parent;
  const objc::Ref<appkit::Alert> alert = objc::adopt(new appkit::Alert);

  plat::DString title;
  title.append(os::getDisplayName(true));
  if (caption) {
    if (title.length() > 0) title.append(" - ");
    title.append(caption);
  }

  plat::CharArray oldTitle;
  if (parent) {
    oldTitle = plat::CharArray(parent->title());
    setControlText(parent, title.c_str());
    if (text) alert->setMessageText(text);
  } else {
    alert->setMessageText(title.c_str());
    alert->setInformativeText(text);
  }
  // Every path gives the parent its own title back.
  plat::ScopeExit restoreTitle([parent, &oldTitle] {
    if (parent) setControlText(parent, oldTitle.c_str());
  });

  if (const char* badge = msgBoxStatusImage(flags)) {
    const objc::Ref<appkit::Image> icon = objc::adopt(statusIcon(badge));
    alert->setIcon(icon);
  }

  MsgBoxFlags set = flags & kMsgBoxButtonMask;
  const char* positive = loc::translate(set == kMsgBoxYesNo ? "ui_button_yes" : "ui_button_ok");
  const char* negative = nullptr;
  if (set == kMsgBoxOkCancel) negative = loc::translate("ui_button_cancel");
  if (set == kMsgBoxYesNo) negative = loc::translate("ui_button_no");
  bool negativeFirst = (flags & kMsgBoxNegativeDefault) && negative;
  if (negativeFirst) alert->addButtonWithTitle(negative);
  alert->addButtonWithTitle(positive);
  if (negative && !negativeFirst) alert->addButtonWithTitle(negative);
  long positiveCode = negativeFirst ? appkit::kAlertSecondButtonReturn : appkit::kAlertFirstButtonReturn;

  if (parent) {
    const objc::Ref<NSAlertDelegateOC> delegate = objc::adopt(new NSAlertDelegateOC);
    alert->beginSheetModalForWindow(parent, delegate, appkit::selector(kDidEnd), &box);
    appkit::Application::shared().runModalForWindow(parent);
  } else {
    box.result = alert->runModal();
  }
  return box.result == positiveCode;
}

void showErrorBox(const char* text) {
  os::AutoreleasePool pool;
  appkit::Application& app = appkit::Application::shared();
  app.activateIgnoringOtherApps(true);
  msgBox(nullptr, text, kMsgBoxIconError, nullptr);
}

}  // namespace ui
