#include "qocore/uilibs/mui/mac/MuTextMac.h"

#include "platform/appkit/AttributedString.h"
#include "platform/objc/String.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {

MuText* MuTextMac::create(MuContainer* parent, const char* id, const char* text,
                          plat::Markup::LinkCallback* linkCallback, uint32_t selectable) {
  auto* t = new MuTextMac(parent, id, nullptr, linkCallback, selectable);
  // Text handed to the creator is plain text, however it looks.
  if (text) t->setPlainText(text);
  return t;
}

MuTextMac::MuTextMac(MuContainer* parent, const char* id, const char* text, plat::Markup::LinkCallback* linkCallback,
                     uint32_t selectable)
    : MuText(parent, id, nullptr, linkCallback, selectable) {
  textView_ = std::make_unique<ui::TextView>(this, selectable != 0, false);
  textView_->view()->setEditable(false);
  // Without a background colour the text lies on whatever is behind it,
  // from the start and not only after the first style refresh.
  textView_->view()->setDrawsBackground(false);
  // Links look as the markup made them (colour, underline), not as the
  // platform's default links do.
  textView_->view()->setLinkTextAttributes(appkit::Attributes());
  delegate_ = std::make_unique<ui::TextViewDelegateHolder>(this, textView_->view());
  setText(text);
  setPeer(std::make_unique<MuCommonMac>(this, textView_->view()));
}

MuTextMac::~MuTextMac() { delegate_.reset(); }

bool MuTextMac::setText(const char* markup) {
  const bool parsed = MuText::setText(markup);
  ui::AttrStringMarkup rendered(markup);
  appkit::TextStorage* storage = textView_->textStorage();
  if (rendered.get())
    storage->setAttributedString(rendered.get());
  else
    storage->replaceCharacters(storage->wholeRange(), objc::String::withUtf8(""));
  bool hasLink = false;
  for (const appkit::Range& run : storage->runs())
    if (storage->attributeAt(appkit::kLinkAttributeName, run.location)) hasLink = true;
  textView_->view()->setSelectable(selectable() != 0 || hasLink);
  return parsed;
}

void MuTextMac::refreshStyle() {
  const char* background = getFont().background.get();
  const bool draws = background && *background;
  textView_->view()->setDrawsBackground(draws);
  if (draws) textView_->view()->setBackgroundColor(ui::getColour(background, "#808080"));
  textView_->view()->setNeedsDisplay(true);
}

int32_t MuTextMac::widthForHeight(int32_t height) { return textView_->widthForHeight(height); }

int32_t MuTextMac::heightForWidth(int32_t width) { return textView_->heightForWidth(width); }

void MuTextMac::linkClicked(objc::Object* link) {
  auto* text = dynamic_cast<objc::String*>(link);
  if (linkCallback() && text) linkCallback()->openLink(text->utf8());
}

bool MuTextMac::refuseSelectionChange(appkit::TextView*, const std::vector<appkit::Range>&,
                                      const std::vector<appkit::Range>&) {
  return selectable() == 0;
}

}  // namespace mui
