#pragma once
// qoSetup::Page: the base of every wizard page, and qoSetup::SetupButton,
// a page's styled main button.
//
// A page owns one vertical layout in the wizard dialog's pager, named after
// the page, builds its elements into it and observes it.  Pages never
// switch pages themselves: each reports its outcome to the wizard dialog
// (SetupDlg.h), which builds a fresh page object for every transition.
//
// The dialog may drop a page while the page's own callback still runs (a
// click on its button, a package's or the helper's report, a timer): a
// dropped page is inert at once (deactivate(): no observer registration,
// no timer, no package or helper callback) and is freed later by the
// dialog, never inside its own callback.  Code of a page that resumes after
// a nested modal loop asks isActive() before it calls the dialog.
//
// Lengths on pages are in the toolkit's physical units (units()).
// Everything runs on the main thread.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {
class MuButton;
class MuLayout;
class MuPager;
class MuSpacer;
class MuText;
}  // namespace mui

namespace plat {
class Exception;
}

namespace qoSetup {

class Pkg;
class SetupDlg;

// Whether an outcome carries a failure (a message or a type); an empty
// one is success.
bool isFailure(const plat::Exception& outcome) noexcept;

// n units in points: round(n x ppmm / 8), halves away from zero.
int32_t units(int32_t n);

// The text in a centred block of the rich-text markup, escaped, in a span
// of that size and weight (the default style needs no span).
plat::DString centredBlock(const char* text, int32_t size, int32_t weight);
// The same for text that is markup already.
plat::DString centredMarkup(const char* markup, int32_t size, int32_t weight);

class Page : public mui::MuObserver {
 public:
  // Makes the root layout in the dialog's pager under the id and observes
  // it.
  Page(SetupDlg* dlg, const char* id);
  // Deactivates, then removes the root from the pager (which destroys it).
  ~Page() override;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // The dialog dropped the page: from now on nothing reaches it.  A page
  // with timers, package or helper requests stops them here, then calls
  // the base, which removes the observer registration.  Idempotent; never
  // throws.
  virtual void deactivate() noexcept;

  bool isActive() const noexcept { return active_; }
  mui::MuLayout* root() const noexcept { return root_; }
  SetupDlg* dlg() const noexcept { return dlg_; }
  const char* id() const noexcept { return id_.c_str(); }

 protected:
  // A spacer of n units high on the root (or the given layout).
  mui::MuSpacer* addSpacer(int32_t n, mui::MuLayout* layout = nullptr);
  // A rich-text element made empty (the toolkit shows a created text
  // escaped) and then given its markup.
  mui::MuText* addText(const char* id, const char* markup, mui::MuLayout* layout = nullptr, bool links = false);
  // Centres the child at its natural size in its layout.
  static void centre(mui::MuLayout* layout, mui::MuElement* child);
  // Forgets the page in every package's callbacks: for deactivate.
  void forgetPackages() noexcept;
  // Lays the dialog out again.
  void relayoutDialog();

 private:
  SetupDlg* dlg_;
  plat::CharArray id_;
  mui::MuPager* pager_;
  mui::MuLayout* root_;
  bool active_ = true;
};

// A page's main button: a custom button with a background image of its
// style, bold text of size 140 in the style's colour.
class SetupButton {
 public:
  enum Style : int32_t { kBlue = 0, kWhite = 1 };

  SetupButton(mui::MuContainer* parent, const char* id, const char* text, int32_t style);

  // The style's image when enabled, "graybtnbg" when not; then the
  // element's enable flag.
  void setEnabled(bool enabled);

  mui::MuButton* button() const noexcept { return button_; }
  int32_t style() const noexcept { return style_; }

 private:
  int32_t style_;
  mui::MuButton* button_;
};

}  // namespace qoSetup
