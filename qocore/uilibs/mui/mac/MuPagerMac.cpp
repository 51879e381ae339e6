#include "qocore/uilibs/mui/mac/MuPagerMac.h"

#include <string>

#include "platform/appkit/Constants.h"
#include "qocore/base/plat/Exception.h"

namespace mui {

namespace {

// Sets a flag for the duration of a scope.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) noexcept : flag_(flag), saved_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = saved_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

void PagerTabbedOC::didSelectTabViewItem(appkit::TabView* tabView, appkit::TabViewItem* item) {
  if (!pager || pager->suppressSelect_) return;
  pager->onPageSelected(static_cast<int32_t>(tabView->indexOfTabViewItem(item)));
}

MuPager* MuPagerMac::create(MuContainer* parent, const char* id, uint32_t style) {
  return new MuPagerMac(parent, id, style);
}

MuPagerMac::MuPagerMac(MuContainer* parent, const char* id, uint32_t style) : MuPager(parent, id, style) {
  if (style == 0) {
    tabView_ = objc::adopt(new PagerTabbedOC(appkit::makeRect(0, 0, 1, 1)));
    tabView_->setClipsToBounds(true);
    tabView_->pager = this;
    tabView_->setDelegate(tabView_);
    setPeer(std::make_unique<MuCommonMac>(this, tabView_));
  } else {
    box_ = objc::adopt(new ui::NSBoxFlipped(appkit::makeRect(0, 0, 1, 1)));
    box_->setClipsToBounds(true);
    box_->setTitlePosition(appkit::kNoTitle);
    box_->setTransparent(true);
    box_->setContentViewMargins({0, 0});
    setPeer(std::make_unique<MuCommonMac>(this, box_));
  }
}

MuPagerMac::~MuPagerMac() {
  removeAll();
  if (tabView_) {
    tabView_->setDelegate(nullptr);
    tabView_->pager = nullptr;
  }
}

appkit::View* MuPagerMac::pageArea() const {
  if (tabView_) return tabView_;
  return box_;
}

void MuPagerMac::addChild(MuElement* element) {
  MuPager::addChild(element);
  if (tabView_) {
    FlagScope scope(suppressSelect_);
    const std::string identifier = element->id() ? element->id() : "";
    const objc::Ref<appkit::TabViewItem> item = objc::adopt(new appkit::TabViewItem(identifier.c_str()));
    item->setView(nativeViewOf(element));
    tabView_->addTabViewItem(item);
  } else {
    showCurrentPage();
  }
  relayout();
}

void MuPagerMac::removeChild(MuElement* element) {
  int32_t i = -1;
  for (int32_t k = 0; k < childCount(); ++k)
    if (childAt(k) == element) i = k;
  PLAT_ASSERT_TEXT(i >= 0 && i < childCount(), "isValid(i)");
  const int32_t index = i;
  if (tabView_) {
    FlagScope scope(suppressSelect_);
    tabView_->removeTabViewItem(tabView_->tabViewItemAtIndex(index));
  } else if (appkit::View* view = nativeViewOf(element)) {
    if (box_->contentView() == view) box_->setContentView(nullptr);
    view->removeFromSuperview();
  }
  MuPager::removeChild(element);
  relayout();
}

void MuPagerMac::removeAll() {
  while (childCount() > 0) removeChild(childAt(childCount() - 1));
}

void MuPagerMac::relayout() {
  MuPager::relayout();
  // The current page fills the page area.
  MuElement* page = childAt(current());
  if (!page || childCount() == 0) return;
  if (tabView_) {
    const appkit::Rect r = tabView_->contentRect();
    page->setSize({truncToInt32(r.size.width), truncToInt32(r.size.height)});
  } else {
    page->setSize(getSize());
  }
}

void MuPagerMac::pageLabelChanged(int32_t index) {
  if (!tabView_) return;
  if (appkit::TabViewItem* item = tabView_->tabViewItemAtIndex(index)) item->setLabel(pageLabel(index));
}

void MuPagerMac::showCurrentPage() {
  if (childCount() == 0) return;
  if (tabView_) {
    FlagScope scope(suppressSelect_);
    tabView_->selectTabViewItemAtIndex(current());
  } else if (MuElement* page = childAt(current())) {
    box_->setContentView(nativeViewOf(page));
  }
}

}  // namespace mui
