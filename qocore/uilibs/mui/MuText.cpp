#include "qocore/uilibs/mui/MuText.h"

#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/uilibs/mui/Adopt.h"

namespace mui {

MuText* (*muTextFactory)(MuContainer*, const char*, const char*, plat::Markup::LinkCallback*, uint32_t) = nullptr;

namespace {

// The right alignment of plat::Markup::div.
constexpr int kAlignRight = 2;

}  // namespace

MuText* MuText::create(MuContainer* parent, const char* id, const char* text, plat::Markup::LinkCallback* linkCallback,
                       uint32_t selectable) {
  PLAT_ASSERT(muTextFactory);
  return adopt(parent, muTextFactory(parent, id, text, linkCallback, selectable));
}

MuText* MuText::createRightAligned(MuContainer* parent, const char* id, const char* text) {
  MuText* element = create(parent, id, nullptr, nullptr, 1);
  plat::DString markup;
  plat::Markup::div(markup, kAlignRight, nullptr);
  plat::Markup::appendEscaped(markup, text);
  markup.append("</div>");
  element->setText(markup.c_str());
  return element;
}

MuText* MuText::createBold(MuContainer* parent, const char* id, const char* text) {
  MuText* element = create(parent, id, nullptr, nullptr, 1);
  plat::DString markup;
  plat::Markup::bold(markup, text, nullptr, plat::Markup::Style::kNormalSize);
  element->setText(markup.c_str());
  return element;
}

plat::Markup::LinkCallback* MuText::defaultLinkCallback() {
  static plat::LinkCbOpenUrl callback;
  return &callback;
}

MuText::MuText(MuContainer* parent, const char* id, const char*, plat::Markup::LinkCallback* linkCallback,
               uint32_t selectable)
    : MuElement(parent, id, nullptr), linkCallback_(linkCallback), selectable_(selectable) {}

plat::DString MuText::describe() {
  plat::DString text = MuElement::describe();
  text.append("element Text\n");
  for (size_t i = 0; i < links_.size(); ++i) text.appendf("%d %s\n", static_cast<int>(i), links_[i].c_str());
  return text;
}

bool MuText::performAction(const char* action, const char* argument) {
  if (std::strcmp(action, "click") != 0 || !argument || !linkCallback_) return false;
  const int n = std::atoi(argument);
  if (n < 0 || static_cast<size_t>(n) >= links_.size()) return false;
  linkCallback_->openLink(links_[n].get());
  return true;
}

bool MuText::setText(const char* markup) {
  if (plat::strCompare(markup, label()) != 0) setLabel(markup);
  links_.clear();
  return plat::Markup::ParserHtml::instance().parse(label(), this);
}

bool MuText::setPlainText(const char* text) {
  plat::DString escaped;
  plat::Markup::appendEscaped(escaped, text);
  return setText(escaped.c_str());
}

void MuText::linkRun(const plat::Markup::Style&, const char* link, const char*) { links_.emplace_back(link); }

}  // namespace mui
