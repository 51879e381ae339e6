#include "libs/qoSetup/Page.h"

#include "libs/qoSetup/Pkg.h"
#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/Mui.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

constexpr int32_t kCentre = 1;

// The one link receiver of the pages' texts: links open in the browser.
plat::LinkCbOpenUrl& openUrlLinks() {
  static plat::LinkCbOpenUrl* receiver = new plat::LinkCbOpenUrl;
  return *receiver;
}

plat::DString block(const char* text, int32_t size, int32_t weight, bool escape) {
  plat::Markup::Style style;
  style.size = size;
  style.weight = weight;
  plat::DString out;
  plat::Markup::div(out, kCentre, style.isPlain() ? nullptr : &style);
  if (escape) {
    plat::Markup::appendEscaped(out, text ? text : "");
  } else {
    out.append(text ? text : "");
  }
  out.append("</div>");
  return out;
}

}  // namespace

bool isFailure(const plat::Exception& outcome) noexcept { return outcome.str()[0] || outcome.typeName()[0]; }

int32_t units(int32_t n) { return mui::Mui::unitsToPoints(n); }

plat::DString centredBlock(const char* text, int32_t size, int32_t weight) { return block(text, size, weight, true); }

plat::DString centredMarkup(const char* markup, int32_t size, int32_t weight) {
  return block(markup, size, weight, false);
}

// ---- Page ----

Page::Page(SetupDlg* dlg, const char* id) : dlg_(dlg), id_(id), pager_(dlg->pager()) {
  root_ = mui::MuLayout::create(pager_, id, mui::MuLayout::kVertical);
  // The pages' spacers give every gap.
  root_->setSpacing(0);
  root_->addObserver(this);
}

Page::~Page() {
  deactivate();
  pager_->remove(root_);
}

void Page::deactivate() noexcept {
  if (!active_) return;
  active_ = false;
  forgetPackages();
  root_->addObserverNoexcept(this);
}

void Page::forgetPackages() noexcept {
  auto* download = dynamic_cast<Pkg::DownloadCallback*>(this);
  auto* install = dynamic_cast<Pkg::InstallCallback*>(this);
  auto* token = dynamic_cast<Pkg::ApplyTokenCallback*>(this);
  for (Pkg* pkg : dlg_->livePackages()) {
    if (download) pkg->forget(download);
    if (install) pkg->forget(install);
    if (token) pkg->forget(token);
  }
}

mui::MuSpacer* Page::addSpacer(int32_t n, mui::MuLayout* layout) {
  return mui::MuSpacer::create(layout ? layout : root_, 0, units(n));
}

mui::MuText* Page::addText(const char* id, const char* markup, mui::MuLayout* layout, bool links) {
  mui::MuText* text = mui::MuText::create(layout ? layout : root_, id, nullptr, links ? &openUrlLinks() : nullptr, 0);
  (void)text->setText(markup);
  return text;
}

void Page::centre(mui::MuLayout* layout, mui::MuElement* child) {
  layout->setChildLayout(child, mui::MuLayout::kNatural | mui::MuLayout::kAlignCentre, 1);
}

void Page::relayoutDialog() { dlg_->dialog()->layoutNow(); }

// ---- SetupButton ----

namespace {

struct ButtonStyle {
  const char* image;
  const char* colour;
};

constexpr ButtonStyle kStyles[] = {{"bluebtnbg", "white"}, {"whitebtnbg", "#288cf4"}};
constexpr const char kDisabledImage[] = "graybtnbg";
constexpr int32_t kTextSize = 140;

const ButtonStyle& styleOf(int32_t style) { return kStyles[style == SetupButton::kWhite ? 1 : 0]; }

}  // namespace

SetupButton::SetupButton(mui::MuContainer* parent, const char* id, const char* text, int32_t style)
    : style_(style), button_(mui::MuButton::create(parent, id, text, mui::MuButton::kCustom, 0, 0)) {
  button_->setImage(styleOf(style_).image, {}, 0);
  button_->setEnabled(true);
  const mui::Size caps{units(30), units(10)};
  button_->setImageInsets(caps, caps);
  mui::MuFont font = button_->getFont();
  font.size = kTextSize;
  font.weight = plat::Markup::Style::kBoldWeight;
  font.colour = plat::CharArray(styleOf(style_).colour);
  button_->setFont(font);
}

void SetupButton::setEnabled(bool enabled) {
  button_->setImage(enabled ? styleOf(style_).image : kDisabledImage, {}, 0);
  button_->setEnabled(enabled);
}

}  // namespace qoSetup
