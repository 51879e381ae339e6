#pragma once
// Stands in for the platform's tab view: items, each with an identifier, a
// label and a view, of which the selected one's view fills the content
// area below the tabs.  Selecting an item, by the user or by the program,
// tells the delegate, as the platform does.

#include <vector>

#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class TabView;

class TabViewItem : public objc::Object {
 public:
  // initWithIdentifier: (one reference, the caller's).
  explicit TabViewItem(const char* identifier) : identifier_(identifier ? identifier : "") {}
  const char* identifier() const noexcept { return identifier_.c_str(); }
  const char* label() const noexcept { return label_.c_str(); }
  void setLabel(const char* label) { label_ = plat::CharArray(label ? label : ""); }
  View* view() const noexcept { return view_; }
  // Retained.
  void setView(View* view);
  TabView* tabView() const noexcept { return tabView_; }

 protected:
  ~TabViewItem() override;

 private:
  friend class TabView;
  plat::CharArray identifier_;
  plat::CharArray label_;
  objc::Ref<View> view_;
  TabView* tabView_ = nullptr;
};

class TabViewDelegate {
 public:
  virtual ~TabViewDelegate() = default;
  virtual void didSelectTabViewItem(TabView* tabView, TabViewItem* item) = 0;
};

class TabView : public View {
 public:
  // initWithFrame: (one reference, the caller's).
  explicit TabView(Rect frame = {}) : View(frame) {}

  TabViewDelegate* delegate() const noexcept { return delegate_; }
  // Not retained.
  void setDelegate(TabViewDelegate* delegate) noexcept { delegate_ = delegate; }
  // Retained; the first item added is selected.
  void addTabViewItem(TabViewItem* item);
  void removeTabViewItem(TabViewItem* item);
  long numberOfTabViewItems() const noexcept { return static_cast<long>(items_.size()); }
  // Null out of range.
  TabViewItem* tabViewItemAtIndex(long index) const noexcept;
  // -1 (the platform's not-found) when absent.
  long indexOfTabViewItem(const TabViewItem* item) const noexcept;
  TabViewItem* selectedTabViewItem() const noexcept { return selected_; }
  // Out of range does nothing; the delegate hears of a change.
  void selectTabViewItemAtIndex(long index);
  // The user clicks a tab.
  void userSelectsTab(long index) { selectTabViewItemAtIndex(index); }
  // The area the selected view fills: below the tabs.
  Rect contentRect() const noexcept;

 protected:
  ~TabView() override;
  void resizeSubviewsWithOldSize(Size old) override;

 private:
  void select(TabViewItem* item);

  objc::RefVector<TabViewItem> items_;
  TabViewItem* selected_ = nullptr;
  TabViewDelegate* delegate_ = nullptr;
};

}  // namespace appkit
