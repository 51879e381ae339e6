#pragma once
// mui::MuPagerMac: the macOS pager.  Style 0 shows a tab per page in a
// flipped tab view; any other style shows only the current page, as the
// content of a borderless box.  Page changes the program makes are not
// reported back as user selections.
//
// Main thread only.

#include <cstdint>

#include "platform/appkit/Box.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/TabViewFlipped.h"

namespace mui {

class MuPagerMac;

// The tab view of a tabbed pager; its own delegate.
class PagerTabbedOC : public ui::NSTabViewFlipped, public appkit::TabViewDelegate {
 public:
  using ui::NSTabViewFlipped::NSTabViewFlipped;
  MuPagerMac* pager = nullptr;
  void didSelectTabViewItem(appkit::TabView* tabView, appkit::TabViewItem* item) override;

 protected:
  ~PagerTabbedOC() override = default;
};

class MuPagerMac : public MuPager {
 public:
  // The creator hook's signature.
  static MuPager* create(MuContainer* parent, const char* id, uint32_t style);

  MuPagerMac(MuContainer* parent, const char* id, uint32_t style);
  ~MuPagerMac() override;

  void addChild(MuElement* element) override;
  void removeChild(MuElement* element) override;
  void removeAll() override;
  void relayout() override;
  void pageLabelChanged(int32_t index) override;
  void showCurrentPage() override;

  PagerTabbedOC* tabView() const noexcept { return tabView_; }
  ui::NSBoxFlipped* box() const noexcept { return box_; }
  bool suppressSelect() const noexcept { return suppressSelect_; }

 private:
  friend class PagerTabbedOC;
  appkit::View* pageArea() const;

  objc::Ref<PagerTabbedOC> tabView_;
  objc::Ref<ui::NSBoxFlipped> box_;
  bool suppressSelect_ = false;
};

}  // namespace mui
