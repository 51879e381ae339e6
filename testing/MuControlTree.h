#pragma once
// One of each control kind the automation server drives, for the tests
// that drive them through its socket: added to a container made with the
// macOS peers' creators.
//
//   "agree"   check box "I agree"
//   "color"   choice "Colour": Red (id 1), Green (no id: id 2 moved on
//             to Blue), Blue (id 2)
//   "files"   list of two columns: "a.txt" "1 KB", "b c" ""
//   "pages"   pager of the layouts "first" and "second", labelled "One"
//             and "Two"
//   "note"    static text "Ready"
//   "volume"  slider from 0 to 10
//
// addEveryOtherKind adds the remaining kinds, for a process that fills
// every creator hook (qoSetup::startMuiMac):
//
//   "box"       frame "Box" holding the static "inside"
//   "rule"      horizontal line
//   "logo"      image "eyeOpen", 16x16
//   "scroller"  scroll holding the text "long"
//   "split"     splitter of the layouts "left" and "right"
//   "about"     text "About this"
//   "search"    superbox "Search", with its popup dialog
//               "<root id>_<path with _>_popup"
//   "progress"  progress bar at a quarter
//   "secret"    clear-text password field: the row of the edits "hidden"
//               and "clear" and the eye button "clearObsBtn"
//
// and the auto-hider whose content is the dialog "hider" holding a
// button "pin", floating over `window`.

#include <memory>

#include "qocore/libs/muimisc/ClearTextPassword.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/MuScroll.h"
#include "qocore/uilibs/mui/MuSplitter.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/mac/MuAutoHiderMac.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
#include "qocore/uilibs/ui/AutoHider.h"

namespace yarl_test {

inline void addControlTree(mui::MuContainer* parent) {
  mui::MuCheck::create(parent, "agree", "I agree", mui::MuCheck::kNormal, nullptr, nullptr);
  auto* color = static_cast<mui::MuChoiceMac*>(mui::MuChoice::create(parent, "color", "Colour", 0));
  color->addItem(1, "Red");
  color->addItem(2, "Green");
  color->addItem(2, "Blue");
  mui::MuList* files = mui::MuList::create(parent, "files", 0, nullptr);
  files->addColumn(1, 0, "File", -1);
  files->addColumn(2, 0, "Size", 60);
  files->insertRow(-1);
  files->setRow(0, {"a.txt", "1 KB"});
  files->insertRow(-1);
  files->setRow(1, {"b c", ""});
  mui::MuPager* pages = mui::MuPager::create(parent, "pages", 0);
  pages->setPageLabel(mui::MuLayout::create(pages, "first", mui::MuLayout::kVertical), "One");
  pages->setPageLabel(mui::MuLayout::create(pages, "second", mui::MuLayout::kVertical), "Two");
  mui::MuStatic::create(parent, "note", "Ready", 0);
  mui::MuSlider::create(parent, "volume", 0)->setRange(0, 10);
}

// What addEveryOtherKind makes that is not owned by the parent; it goes
// before the parent's dialog.
struct OtherKinds {
  std::unique_ptr<muimisc::ClearTextPassword> secret;
  std::unique_ptr<mui::MuAutoHider> hider;
};

inline OtherKinds addEveryOtherKind(mui::MuContainer* parent, mui::MuDialog* window) {
  mui::MuFrame* box = mui::MuFrame::create(parent, "box", "Box", 1);
  mui::MuStatic::create(box, "inside", "Inside", 0);
  mui::MuLine::create(parent, "rule", true, 1, 0);
  mui::MuImage::create(parent, "logo", "eyeOpen", {16, 16});
  mui::MuScroll* scroller = mui::MuScroll::create(parent, "scroller", mui::MuScroll::kVertical);
  mui::MuText::create(scroller, "long", "Some longer text", nullptr, 0);
  mui::MuSplitter* split = mui::MuSplitter::create(parent, "split", 0, 1, 0);
  mui::MuLayout::create(split, "left", mui::MuLayout::kVertical);
  mui::MuLayout::create(split, "right", mui::MuLayout::kVertical);
  mui::MuText::create(parent, "about", "About this", nullptr, 0);
  mui::MuSuperbox::create(parent, "search", "Search", nullptr, 80);
  muimisc::ProgressBar::create(parent, "progress")->setValue(16384);
  OtherKinds made;
  made.secret = std::make_unique<muimisc::ClearTextPassword>(parent, "secret", "Password", false);
  made.hider.reset(mui::MuAutoHider::create("hider", {120, 40},
                                            mui::MuAutoHiderMac::placement(ui::AutoHider::kEdgeTop, 8), nullptr));
  mui::MuButton::create(dynamic_cast<mui::MuContainer*>(made.hider->element()), "pin", "Pin", mui::MuButton::kNormal, 0,
                        0);
  made.hider->attach(window->nativeWindow());
  return made;
}

}  // namespace yarl_test
