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

#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"

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

}  // namespace yarl_test
