#include "qocore/uilibs/mui/InfoFrame.h"

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/Mui.h"

namespace mui {

namespace {

constexpr uint32_t kNaturalAtStart = MuLayout::kNatural | MuLayout::kAlignStart;
constexpr uint32_t kWeightedAtStart = MuLayout::kWeighted | MuLayout::kAlignStart;
constexpr int kAlignLeft = 0;

MuiInspector* inspector = nullptr;

}  // namespace

// ---- InfoFrame ----

InfoFrame::InfoFrame(MuContainer* parent, const char* id, plat::Markup::LinkCallback* linkReceiver, uint32_t frameType)
    : linkReceiver_(linkReceiver), parent_(parent) {
  frame_ = MuFrame::create(parent, id, nullptr, frameType);
  frame_->setBackgroundColour("helpBg");
  frame_->setMargins(Size{Mui::scaled(20), Mui::scaled(20)});
  split_ = MuLayout::create(frame_, "split", MuLayout::kHorizontal);
  split_->setSpacing(Mui::scaled(20));
  icon_ = MuImage::create(split_, "icon", iconName(kSuccess), Size{});
  split_->setChildLayout(icon_, kNaturalAtStart, 1);
  textLayout_ = MuLayout::create(split_, "textLayout", MuLayout::kVertical);
  textLayout_->setSpacing(0);
  split_->setChildLayout(textLayout_, kWeightedAtStart, 1);
  text_ = MuText::create(textLayout_, "text", nullptr, MuText::defaultLinkCallback(), 0);
  frame_->setVisible(false);
}

InfoFrame::~InfoFrame() {
  try {
    parent_->removeChild(frame_);
  } catch (...) {
    // The frame goes with its parent then.
  }
}

const char* InfoFrame::iconName(int32_t kind) {
  switch (kind) {
    case kSuccess:
      return "infoframe_success";
    case kWarning:
      return "infoframe_warning";
    case kError:
      return "infoframe_error";
    case kLocked:
      return "infoframe_locked";
    case kDefault:
      return "infoframe_default";
    case kPreference:
      return "infoframe_preference";
    default:
      return "infoframe_notify";
  }
}

void InfoFrame::setInfo(int32_t kind, const char* text, const char* linkText) {
  plat::Markup::Style style;
  style.color = "helpText";
  plat::DString markup;
  plat::Markup::div(markup, kAlignLeft, &style);
  plat::Markup::coloredSpan(markup, text ? text : "", nullptr, plat::Markup::Style::kNormalSize);
  markup.append("</div>");
  text_->setText(markup.c_str());
  icon_->setImage(iconName(kind), Size{});
  if (link_) {
    textLayout_->removeChild(link_);
    textLayout_->removeChild(linkSpacer_);
    link_ = nullptr;
    linkSpacer_ = nullptr;
  }
  if (linkText) {
    const int32_t gap = Mui::scaled(6);
    linkSpacer_ = MuSpacer::create(textLayout_, gap, gap);
    textLayout_->setChildLayout(linkSpacer_, MuLayout::kFixed, gap);
    textLayout_->moveChild(linkSpacer_, MuLayout::kAfter, text_);
    link_ = MuText::create(textLayout_, "link", nullptr, linkReceiver_, 1);
    plat::DString address("app://infoframe//%s", frame_->id() ? frame_->id() : "");
    plat::DString linkMarkup;
    plat::Markup::link(linkMarkup, linkText, address.c_str(), nullptr);
    link_->setText(linkMarkup.c_str());
    textLayout_->moveChild(link_, MuLayout::kAfter, linkSpacer_);
  }
  frame_->setVisible(text != nullptr);
  split_->layoutNow();
  parent_->layoutNow();
}

void InfoFrame::setShown(bool shown) {
  if (frame_->isVisible() == shown) return;
  frame_->setVisible(shown);
  parent_->layoutNow();
}

// ---- MuiInspector ----

MuiInspector::MuiInspector() : timer_(this) {
  PLAT_ASSERT(!inspector);
  dialog_ = MuDialog::create("MuiInspector", "MuiInspector", Size{Mui::scaled(1600), Mui::scaled(800)},
                             MuDialog::kAutoHeight, nullptr, nullptr);
  MuLayout* main = MuLayout::create(dialog_, "main", MuLayout::kVertical);
  id_ = MuStatic::create(main, "muiid", "<muiid goes here>", MuStatic::kText);
  type_ = MuStatic::create(main, "muitype", "<type goes here>", MuStatic::kText);
  state_ = MuStatic::create(main, "muistate", "<state goes here>", MuStatic::kText);
  dialog_->setPosition(Point{Mui::scaled(100), Mui::scaled(100)});
  dialog_->setVisible(true);
  inspector = this;
  timer_.start(200);
}

MuiInspector::~MuiInspector() {
  delete dialog_;
  inspector = nullptr;
  timer_.cancel();
}

bool MuiInspector::timerExpired(plat::Timer*) {
  id_->setText("", false, 0);
  type_->setText("", false, 0);
  state_->setText("", false, 0);
  return true;
}

}  // namespace mui
