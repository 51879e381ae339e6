#include "qocore/uilibs/mui/MuMessageBox.h"

#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/libs/product/Init.h"
#include "qocore/uilibs/mui/MuButtonBar.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuStrings.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/Mui.h"

namespace mui {

namespace {

// Mode-and-alignment words of MuLayout.
constexpr uint32_t kNaturalAtStart = MuLayout::kNatural | MuLayout::kAlignStart;
constexpr uint32_t kWeightedCentred = MuLayout::kWeighted | MuLayout::kAlignCentre;
constexpr uint32_t kWeightedStretched = MuLayout::kWeighted;

}  // namespace

// ---- MuMessageBox ----

MuMessageBox::MuMessageBox(const char* message, uint32_t flags, MuDialog* owner, const char* caption,
                           bool applicationModal, NativeWindow* nativeParent) {
  uint32_t buttonSet = flags & kButtonSetMask;
  if (buttonSet != kOkCancel && buttonSet != kYesNo) buttonSet = kOk;
  const int32_t width = Mui::scaled(960);
  dialog_.reset(MuDialog::create("messagebox", title(caption).get(), Size{width, 0},
                                 dialogFlags(owner || nativeParent, buttonSet, applicationModal), owner, nativeParent));
  // A constructor that throws runs no destructor: the dialog goes here,
  // its button bar first.
  plat::ScopeExit undo([this] {
    buttons_.reset();
    dialog_->addObserverNoexcept(this);
    dialog_.reset();
  });
  dialog_->addObserver(this, true);
  main_ = MuLayout::create(dialog_.get(), "main", MuLayout::kVertical);
  frame_ = MuFrame::create(main_, "frame", nullptr, MuFrame::kPlain);
  frame_->setMargins(Size{Mui::scaled(16), Mui::scaled(16)});
  if (const char* icon = iconName(flags)) {
    split_ = MuLayout::create(frame_, "split", MuLayout::kHorizontal);
    split_->setSpacing(Mui::scaled(32));
    MuImage* image = MuImage::create(split_, "icon", icon, Size{Mui::scaled(64), Mui::scaled(64)});
    split_->setChildLayout(image, kNaturalAtStart, 1);
    info_ = MuLayout::create(split_, "info", MuLayout::kVertical);
    split_->setChildLayout(info_, kWeightedCentred, 1);
  } else {
    info_ = MuLayout::create(frame_, "info", MuLayout::kVertical);
  }
  msg_ = MuText::create(info_, "msg", message, MuText::defaultLinkCallback(), 1);
  dialog_->setSize(Size{width - Mui::scaled(150), 0});

  static constexpr uint32_t kBars[] = {MuButtonBar::kOk, MuButtonBar::kOk | MuButtonBar::kCancel, 0, 0,
                                       MuButtonBar::kYes | MuButtonBar::kNo};
  buttons_ = std::make_unique<MuButtonBar>(main_, kBars[buttonSet], false);
  const bool negative = (flags & kNegativeDefault) != 0;
  const bool yesNo = buttonSet == kYesNo;
  uint32_t defaultBit = yesNo ? MuButtonBar::kYes : MuButtonBar::kOk;
  if (negative && buttonSet != kOk) defaultBit = yesNo ? MuButtonBar::kNo : MuButtonBar::kCancel;
  MuButton* defaultButton = buttons_->findButton(defaultBit, nullptr);
  dialog_->setButton(kDefaultButton, defaultButton);
  buttons_->setDialogButton(kCancelButton, {MuButtonBar::kCancel, MuButtonBar::kNo});
  defaultButton->setFocus();
  undo.dismiss();
}

MuMessageBox::~MuMessageBox() {
  buttons_.reset();
  if (dialog_) dialog_->addObserverNoexcept(this);
  dialog_.reset();
}

bool MuMessageBox::show(bool visible) {
  if (split_) split_->layoutNow();
  result_ = false;
  dialog_->setVisible(visible);
  return result_;
}

void MuMessageBox::setMessage(const char* markup) { msg_->setText(markup); }

void MuMessageBox::setMessageAndDetail(const char* text, const char* detail) {
  plat::DString markup;
  plat::Markup::bold(markup, text, nullptr, plat::Markup::Style::kNormalSize);
  markup.append("<br/><br/>");
  plat::Markup::appendEscaped(markup, detail);
  msg_->setText(markup.c_str());
}

void MuMessageBox::setLinkReceiver(plat::Markup::LinkCallback* receiver) { msg_->setLinkCallback(receiver); }

void MuMessageBox::onClicked(MuElement* element) {
  const uint32_t bit = buttons_ ? buttons_->buttonBit(element) : 0;
  if (!bit) return;
  result_ = bit == MuButtonBar::kOk || bit == MuButtonBar::kYes;
  dialog_->setVisible(false);
}

void MuMessageBox::onDialogClosed(MuDialog*) {
  if (!buttons_) return;
  if (buttons_->findButton(MuButtonBar::kCancel, nullptr)) {
    result_ = false;
  } else if (buttons_->findButton(MuButtonBar::kOk, nullptr)) {
    result_ = true;
  }
}

plat::CharArray MuMessageBox::title(const char* caption) {
  plat::DString text;
  const char* name = os::getDisplayName(true);
  text.append(name);
  if (caption) {
    if (name && *name) text.append(" - ");
    text.append(caption);
  }
  return plat::CharArray(text.c_str());
}

uint32_t MuMessageBox::dialogFlags(bool hasOwner, uint32_t buttonSet, bool applicationModal) {
  uint32_t flags = hasOwner ? 75 + (applicationModal ? 8 : 0) : (applicationModal ? 83 : 67);
  if (buttonSet & 0xE) flags |= MuDialog::kDisableClose;
  return flags;
}

const char* MuMessageBox::iconName(uint32_t flags) {
  switch (flags & kIconMask) {
    case 0:
      return nullptr;
    case kIconError:
      return "statusError";
    case kIconQuestion:
      return "statusQuestion";
    case kIconWarning:
      return "statusWarning";
    default:
      return "statusInfo";
  }
}

// ---- MuAboutDialog ----

MuAboutDialog::MuAboutDialog(MuDialog* owner, NativeWindow* nativeParent, const char* imageName)
    : imageName_(imageName ? imageName : os::getAppName(true)) {
  registerMuiTexts();
  plat::DString title;
  loc::ArgList args;
  args.str(os::getDisplayName(true));
  loc::formatArgs(title, loc::translate("mui_aboutdlg_title_fmt", nullptr, 0, true), args.first());
  dialog_.reset(MuDialog::create("aboutdlg", title.c_str(), Size{Mui::scaled(960), 0},
                                 MuDialog::kFixedSize | MuDialog::kNoHide | MuDialog::kAutoHeight, owner,
                                 nativeParent));
  // A constructor that throws runs no destructor: the dialog goes here,
  // its button bar first.
  plat::ScopeExit undo([this] {
    buttons_.reset();
    dialog_.reset();
  });
  MuLayout* column = MuLayout::create(dialog_.get(), nullptr, MuLayout::kVertical);
  MuLayout* row = MuLayout::create(column, nullptr, MuLayout::kHorizontal);
  row->setSpacing(Mui::instance()->metric(Mui::kDialogMargin));
  const int32_t side = Mui::scaled(96);
  image_ = MuImage::create(row, "img", imageName_.get(), Size{side, side});
  row->setChildLayout(image_, kNaturalAtStart, 1);
  plat::DString markup;
  plat::Markup::div(markup, 0, nullptr);
  plat::Markup::appendEscaped(markup, product::getVersionLine());
  markup.append("</div>");
  markup.append(product::getMarkedUpProductInfo());
  MuText* text = MuText::create(row, "text", nullptr, MuText::defaultLinkCallback(), 1);
  text->setText(markup.c_str());
  row->setChildLayout(text, kWeightedStretched, 1);
  buttons_ = std::make_unique<MuButtonBar>(dialog_.get(), MuButtonBar::kOk, false);
  MuButton* ok = buttons_->findButton(MuButtonBar::kOk, nullptr);
  dialog_->setButton(kDefaultButton, ok);
  dialog_->setButton(kCancelButton, ok);
  dialog_->addObserver(this, true);
  undo.dismiss();
}

MuAboutDialog::~MuAboutDialog() {
  dialog_->addObserverNoexcept(this);
  buttons_.reset();
  dialog_.reset();
}

void MuAboutDialog::notify(MuElement* element, MuEvent event) {
  if (event == kEventAppearanceChanged) {
    const int32_t side = Mui::scaled(96);
    image_->setImage(imageName_.get(), Size{side, side});
  } else if (event == kEventClicked && buttons_ && buttons_->buttonBit(element) == MuButtonBar::kOk) {
    dialog_->setVisible(false);
  }
}

}  // namespace mui
