#pragma once
// Small elements whose drawing is all the backend's: the slider, the
// static text, the superbox (an edit with a popup list below it) and the
// popup menu.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/ui/Menu.h"

namespace mui {

class MuSlider : public MuElement {
 public:
  static MuSlider* create(MuContainer* parent, const char* id, uint32_t style);

  MuSlider(MuContainer* parent, const char* id, uint32_t style) : MuElement(parent, id, nullptr), style_(style) {}

  const char* typeName() override { return "slider"; }
  plat::DString describe() override;
  // "click" with a value, while enabled and shown: sets it, then clicks.
  bool performAction(const char* action, const char* argument) override;
  // Sends changed: the value is already set.
  void click();

  virtual void setValue(int32_t value) = 0;
  virtual int32_t getValue() = 0;
  virtual void setRange(int32_t minimum, int32_t maximum) = 0;
  virtual int32_t getMin() = 0;
  virtual int32_t getMax() = 0;

  uint32_t style() const noexcept { return style_; }

 private:
  uint32_t style_;
};

class MuStatic : public MuElement {
 public:
  enum Type : uint32_t {
    kText = 0,
    kLeftText = 1,
    kCenteredText = 2,
    kRightText = 3,
    kHeading = 4,
    kDetail = 5,
    kSelectable = 6,
  };

  static MuStatic* create(MuContainer* parent, const char* id, const char* text, uint32_t type);

  MuStatic(MuContainer* parent, const char* id, const char* text, uint32_t type);

  const char* typeName() override { return "static"; }
  plat::DString describe() override;

  // Keeps a changed text and `extra` (the backend's: truncate); bold turns
  // the weight to 700, except for a heading, which keeps its own.
  virtual void setText(const char* text, bool bold, uint32_t extra);

  uint32_t type() const noexcept { return type_; }
  uint32_t extra() const noexcept { return extra_; }

 private:
  uint32_t type_;
  uint32_t extra_ = 0;
};

class MuSuperbox : public MuElement {
 public:
  // Offered every key first; true consumes it.
  class KeyCallback {
   public:
    virtual ~KeyCallback();
    virtual bool superboxKey(MuSuperbox* box, uint32_t keysym) = 0;
  };

  static MuSuperbox* create(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback,
                            int32_t popupHeight);

  // Makes the popup dialog "<root id>_<path>_popup" ("." made "_"), owned
  // by the root dialog, hidden.
  MuSuperbox(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback, int32_t popupHeight);
  ~MuSuperbox() override;

  const char* typeName() override { return "superbox"; }
  plat::DString describe() override;
  // "settext" with a text, "pressenter"; refused while disabled.
  bool performAction(const char* action, const char* argument) override;

  // Shows the popup under the text area, as wide as it, or hides it.
  virtual void showPopup(bool show);
  virtual const char* getText() = 0;
  virtual void setText(const char* text) = 0;
  virtual void setPlaceholder(const char*) {}
  // The edit area, in element coordinates.
  virtual Rect textRect() = 0;

  // Tab, Return and Escape close the popup, after the key callback had its
  // chance; true when the key was used (the callback took it, or Escape
  // closed an open popup).
  bool handleKey(uint32_t keysym);

  MuDialog* popup() const noexcept { return popup_; }
  KeyCallback* keyCallback() const noexcept { return keyCallback_; }

 private:
  KeyCallback* keyCallback_;
  MuDialog* popup_ = nullptr;
};

// A menu that pops up at a point; the backend builds it and keeps it in
// the popup-menu registry under its id.
class MuPopupMenu {
 public:
  // Made through the backend's muPopupMenuFactory; added nowhere.
  static MuPopupMenu* create(const char* id, ui::Menu::ActionCallback* actionCallback);
  // Under the element: alignment 0 lines the left edges up, 1 centres, 2
  // lines the right edges up.
  static void showForElement(MuPopupMenu* menu, MuElement* element, int32_t alignment, int32_t menuWidth);

  virtual ~MuPopupMenu();
  virtual ui::Menu* menu() = 0;
  // A point in the window, y downwards.
  virtual void showAt(Point point) = 0;
  virtual void showBelow(MuElement* element, int32_t alignment) = 0;
};

// The backends' creators; null until the backend fills them.
extern MuSlider* (*muSliderFactory)(MuContainer* parent, const char* id, uint32_t style);
extern MuStatic* (*muStaticFactory)(MuContainer* parent, const char* id, const char* text, uint32_t type);
extern MuSuperbox* (*muSuperboxFactory)(MuContainer* parent, const char* id, const char* label,
                                        MuSuperbox::KeyCallback* keyCallback, int32_t popupHeight);
extern MuPopupMenu* (*muPopupMenuFactory)(const char* id, ui::Menu::ActionCallback* actionCallback);

}  // namespace mui
