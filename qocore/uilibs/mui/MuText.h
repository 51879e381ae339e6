#pragma once
// mui::MuText: a label showing marked-up text (the HTML-like mark-up of
// plat::Markup).  The element keeps the source, learns the links in it by
// parsing it, and hands link activations to its link callback; drawing the
// styled text is the backend's.

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuText : public MuElement, public plat::Markup::Handler {
 public:
  // The hook shows `text` as plain text (escaped), never as mark-up:
  // callers that want mark-up pass null and call setText.
  static MuText* create(MuContainer* parent, const char* id, const char* text, plat::Markup::LinkCallback* linkCallback,
                        uint32_t selectable);
  // Plain text, right-aligned, selectable.
  static MuText* createRightAligned(MuContainer* parent, const char* id, const char* text);
  // Plain text in bold, selectable.
  static MuText* createBold(MuContainer* parent, const char* id, const char* text);
  // Opens activated links with the system's default application.
  static plat::Markup::LinkCallback* defaultLinkCallback();

  MuText(MuContainer* parent, const char* id, const char* text, plat::Markup::LinkCallback* linkCallback,
         uint32_t selectable);

  const char* typeName() override { return "text"; }
  // Then one "index href" line per link.
  plat::DString describe() override;
  // "click" with a link index opens that link.
  bool performAction(const char* action, const char* argument) override;

  // Keeps the source and relearns the links; false when the mark-up did not
  // parse (the source is kept all the same).
  virtual bool setText(const char* markup);

  // For the creator hooks: shows `text` escaped.
  bool setPlainText(const char* text);

  void beginParagraph(int, float, float) override {}
  void endParagraph(bool) override {}
  void textRun(const plat::Markup::Style&, const char*) override {}
  void linkRun(const plat::Markup::Style& style, const char* link, const char* text) override;
  void end() override {}

  const char* text() const noexcept { return label(); }
  const std::vector<plat::CharArray>& links() const noexcept { return links_; }
  plat::Markup::LinkCallback* linkCallback() const noexcept { return linkCallback_; }
  // Not owned; null refuses every link.
  void setLinkCallback(plat::Markup::LinkCallback* callback) noexcept { linkCallback_ = callback; }
  uint32_t selectable() const noexcept { return selectable_; }

 private:
  std::vector<plat::CharArray> links_;
  plat::Markup::LinkCallback* linkCallback_;
  uint32_t selectable_;
};

// The backend's creator of texts; null until the backend fills it.
extern MuText* (*muTextFactory)(MuContainer* parent, const char* id, const char* text,
                                plat::Markup::LinkCallback* linkCallback, uint32_t selectable);

}  // namespace mui
