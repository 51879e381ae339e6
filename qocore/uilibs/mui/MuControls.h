#pragma once
// The platform-neutral controls: push button, check box and radio button,
// drop-down choice, text edit, frame, image, separator line and list.
//
// Each class keeps its state, its automation behaviour and the rules that
// do not depend on the platform; the native state (checked, selected,
// text) and drawing are the backend subclass's, reached through the
// abstract operations.  Every class is made through its creator hook and
// added to its parent.  Every automation action is refused while the
// control is disabled or locked.
//
// A control that can be clicked has one click(), which sends the event a
// click means.  The automation's action calls it once it is accepted; the
// peer's action calls it for the user's click, without asking the enable
// flags, as the platform delivers no click to a disabled control.
//
// A backend's setValue / setSelected / setText never send the changed
// event themselves: only user actions and performAction do (a radio group
// answers a changed event by setting its members).

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuButton : public MuElement {
 public:
  enum Type : uint32_t { kNormal = 0, kCustom = 1, kHyperlink = 2 };
  // Backend flag bits.
  static constexpr uint32_t kMenuButton = 0x1;
  static constexpr uint32_t kNotFocusable = 0x2;
  static constexpr uint32_t kBorderOnHover = 0x4;
  static constexpr uint32_t kBorderless = 0x8;

  static MuButton* create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                          uint32_t option);

  MuButton(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags, uint32_t option);

  const char* typeName() override { return "button"; }
  plat::DString describe() override;
  // "click" clicks.
  bool performAction(const char* action, const char* argument) override;
  // Sends clicked.
  void click();

  // Replaces the label when it differs.
  virtual void setText(const char* text);
  // State 0 (normal) keeps the name; the backend loads the image of each
  // state (0 normal, 1 hover, 2 pressed).
  virtual void setImage(const char* name, Size size, int32_t state);
  // The two inset pairs of the background image (left and right, top and
  // bottom caps); then the whole element is redrawn.
  virtual void setImageInsets(Size first, Size second);

  uint32_t type() const noexcept { return type_; }
  uint32_t buttonFlags() const noexcept { return buttonFlags_; }
  uint32_t option() const noexcept { return option_; }
  Size imageInsets(int index) const noexcept { return insets_[index ? 1 : 0]; }
  const char* image() const noexcept { return image_.get(); }

 private:
  uint32_t type_;
  uint32_t buttonFlags_;
  uint32_t option_;
  Size insets_[2];
  plat::CharArray image_;
};

class MuCheck : public MuElement {
 public:
  enum Type : uint32_t { kNormal = 0, kRadio = 1 };

  // The radio buttons that exclude each other.  It observes every member
  // and lives as long as it has members.
  class Group : public MuObserver {
   public:
    // Checks the changed member and unchecks the others.
    void onChanged(MuElement* element) override;
    // Joins the check to this group, or takes it out (the group goes with
    // its last member).
    void addMember(MuCheck* check, bool add);
    const std::vector<MuCheck*>& members() const noexcept { return members_; }

   private:
    std::vector<MuCheck*> members_;
  };

  // A radio button joins the group of `member` (none when `member` has
  // none) or, without member, starts a group.
  static MuCheck* create(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
                         const char* imageBase);

  MuCheck(MuContainer* parent, const char* id, const char* label, uint32_t type, MuCheck* member,
          const char* imageBase);
  ~MuCheck() override;

  const char* typeName() override { return "check"; }
  plat::DString describe() override;
  // "click" with a number, while shown: sets the value, then clicks.
  bool performAction(const char* action, const char* argument) override;
  // Sends changed: the value is already set.
  void click();

  virtual void setValue(bool checked) = 0;
  virtual bool getValue() = 0;
  virtual bool isIndeterminate() { return false; }

  uint32_t type() const noexcept { return type_; }
  Group* group() const noexcept { return group_; }
  const char* imageBase() const noexcept { return imageBase_.get(); }

 private:
  friend class Group;
  uint32_t type_;
  Group* group_ = nullptr;
  plat::CharArray imageBase_;
};

class MuChoice : public MuElement {
 public:
  static MuChoice* create(MuContainer* parent, const char* id, const char* label, uint32_t flags);

  MuChoice(MuContainer* parent, const char* id, const char* label, uint32_t flags);

  const char* typeName() override { return "choice"; }
  plat::DString describe() override;
  // "click" (while shown) clicks; "select" and "settext" set the value
  // and send changed.
  bool performAction(const char* action, const char* argument) override;
  // Sends clicked.
  void click();

  virtual void setSelected(int32_t index) = 0;
  virtual int32_t getSelected() = 0;
  virtual void setText(const char* text) = 0;
  // The shown text; the backend owns it.
  virtual const char* getText() = 0;
  virtual int32_t itemCount() = 0;
  // A negative or too large index appends.
  virtual void insertItem(int32_t index, const char* text) = 0;

  uint32_t choiceFlags() const noexcept { return choiceFlags_; }

 private:
  uint32_t choiceFlags_;
};

class MuEdit : public MuElement {
 public:
  enum Type : uint32_t { kText = 0, kPassword = 1, kMultiline = 2 };
  // Backend flag bits of the option word.
  static constexpr uint32_t kBorderless = 0x1;

  // Decides whether a proposed text may stand.
  class Filter {
   public:
    virtual ~Filter();
    virtual bool accept(const char* text) = 0;
  };

  // Whole decimal numbers within [minimum, maximum], the empty text and,
  // when negatives are allowed, a lone "-" (so they can be typed); no
  // "-0" and no leading zeros.
  class NumericFilter : public Filter {
   public:
    NumericFilter(int32_t minimum, int32_t maximum) : minimum_(minimum), maximum_(maximum) {}
    bool accept(const char* text) override;

   private:
    int32_t minimum_;
    int32_t maximum_;
  };

  static MuEdit* create(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option);

  MuEdit(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option);

  const char* typeName() override { return "edit"; }
  // A password edit's value reads "<hidden>".
  plat::DString describe() override;
  // "settext" sets the text and sends changed.
  bool performAction(const char* action, const char* argument) override;

  virtual void setText(const char* text) = 0;
  // The shown text; the backend owns it.
  virtual const char* getText() = 0;
  // Not owned; null takes the filter away.
  virtual void setFilter(Filter* filter) { filter_ = filter; }
  virtual void setPlaceholder(const char* text) = 0;
  // The selection as its start and length, in characters.
  virtual void getSelection(int32_t& start, int32_t& length) = 0;
  virtual void setSelection(int32_t start, int32_t length) = 0;

  // The filter of whole numbers of the 32-bit range.
  void setNumeric();

  uint32_t type() const noexcept { return type_; }
  uint32_t option() const noexcept { return option_; }
  Filter* filter() const noexcept { return filter_; }
  int32_t minHeight() const noexcept { return minHeight_; }
  void setMinHeight(int32_t height) noexcept { minHeight_ = height; }

 private:
  uint32_t type_;
  uint32_t option_;
  int32_t minHeight_ = 0;
  Filter* filter_ = nullptr;
};

// A single child inside margins; the title and border are the backend's.
class MuFrame : public MuContainerSingle {
 public:
  enum Type : uint32_t { kPlain = 0, kTitled = 1, kHeader = 2, kFooter = 3, kBordered = 4 };

  static MuFrame* create(MuContainer* parent, const char* id, const char* title, uint32_t type);

  // The margins start as the toolkit's frame margin on both axes.
  MuFrame(MuContainer* parent, const char* id, const char* title, uint32_t type);

  const char* typeName() override { return "frame"; }
  plat::DString describe() override;
  // The child's measure plus the margins on both sides.
  int32_t widthForHeight(int32_t height) override;
  int32_t heightForWidth(int32_t width) override;
  // The child fills the frame inside the margins.
  void relayout() override;

  // Horizontal and vertical margin.
  virtual void setMargins(Size margins);

  uint32_t type() const noexcept { return type_; }
  Size margins() const noexcept { return margins_; }

 private:
  uint32_t type_;
  Size margins_;
};

class MuImage : public MuElement {
 public:
  static MuImage* create(MuContainer* parent, const char* id, const char* name, Size size);

  MuImage(MuContainer* parent, const char* id, const char* name, Size size);

  const char* typeName() override { return "image"; }
  plat::DString describe() override;

  // Keeps the name; the backend loads the image at the size.
  virtual void setImage(const char* name, Size size);

  const char* image() const noexcept { return image_.get(); }

 private:
  plat::CharArray image_;
};

class MuLine : public MuElement {
 public:
  static MuLine* create(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness);

  MuLine(MuContainer* parent, const char* id, bool horizontal, uint32_t etched, int32_t thickness);

  const char* typeName() override { return "line"; }
  plat::DString describe() override;

  // An etched line is always 2 thick.
  virtual void setThickness(int32_t thickness);

  bool horizontal() const noexcept { return horizontal_; }
  uint32_t etched() const noexcept { return etched_; }
  int32_t thickness() const noexcept { return thickness_; }

 private:
  uint32_t etched_;
  bool horizontal_;
  int32_t thickness_;
};

// A table of rows and columns.  The core keeps the columns and the cell
// texts; the backend shows them.  The names of the row store, and what
// the macOS peer calls them:
//
//   here           | peer
//   ---------------+-------------
//   addColumn      | addColumn
//   insertRow      | addRow
//   removeRow      | removeRow
//   removeAllRows  | clear
//   setCell        | setCellText
//   setSelected    | setSelection
//   getSelected    | getSelection
class MuList : public MuElement {
 public:
  // Creation flags.
  static constexpr uint32_t kHeader = 0x1;          // show the column headers
  static constexpr uint32_t kSizeToContent = 0x4;   // text columns as wide as their texts
  static constexpr uint32_t kFixedSelection = 0x8;  // only the program selects
  static constexpr uint32_t kImageColumn = 1;       // column type; others are text

  // Asked by the backend (may be absent).
  class Callback {
   public:
    virtual ~Callback();
    virtual bool canSelect(MuList* list, int32_t row) = 0;
    // May set the row's colours and font; true when it did.
    virtual bool rowStyle(MuList* list, int32_t row, int32_t columnKey, MuFont& style) = 0;
  };

  struct Column {
    int32_t key;
    uint32_t type;
    plat::CharArray header;
    // Negative: a share of the free width.
    int32_t width;
  };

  static MuList* create(MuContainer* parent, const char* id, uint32_t flags, Callback* callback);

  MuList(MuContainer* parent, const char* id, uint32_t flags, Callback* callback);

  const char* typeName() override { return "list"; }
  plat::DString describe() override;
  // Per row "n:" and the quoted cells joined by "|".
  plat::DString listItems() override;
  // "select" with a row number selects it and sends changed.
  bool performAction(const char* action, const char* argument) override;
  // Sends clicked (a click on a row, which the peer reports).
  void click();

  virtual void setSelected(int32_t row) = 0;
  virtual int32_t getSelected() = 0;
  virtual void addColumn(int32_t key, uint32_t type, const char* header, int32_t width);
  // A row of empty cells; a negative index or one past the end appends.
  virtual void insertRow(int32_t index);
  // Out of range is ignored.
  virtual void removeRow(int32_t index);
  virtual void removeAllRows();
  // Out of range rows and unknown keys are ignored.
  virtual void setCell(int32_t row, int32_t columnKey, const char* text);

  // One text per column, in column order.
  void setRow(int32_t row, const std::vector<const char*>& texts);
  // The column's position, or -1.
  int32_t findColumn(int32_t key) const;

  uint32_t listFlags() const noexcept { return listFlags_; }
  Callback* callback() const noexcept { return callback_; }
  const std::vector<Column>& columns() const noexcept { return columns_; }
  int32_t rowCount() const noexcept { return static_cast<int32_t>(rows_.size()); }
  // The cell's text ("" for an empty one); null out of range.
  const char* cell(int32_t row, int32_t column) const;

 private:
  uint32_t listFlags_;
  Callback* callback_;
  std::vector<Column> columns_;
  std::vector<std::vector<plat::CharArray>> rows_;
};

// The backends' creators; null until the backend fills them.
extern MuButton* (*muButtonFactory)(MuContainer* parent, const char* id, const char* label, uint32_t type,
                                    uint32_t flags, uint32_t option);
extern MuCheck* (*muCheckFactory)(MuContainer* parent, const char* id, const char* label, uint32_t type,
                                  MuCheck* member, const char* imageBase);
extern MuChoice* (*muChoiceFactory)(MuContainer* parent, const char* id, const char* label, uint32_t flags);
extern MuEdit* (*muEditFactory)(MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t option);
extern MuFrame* (*muFrameFactory)(MuContainer* parent, const char* id, const char* title, uint32_t type);
extern MuImage* (*muImageFactory)(MuContainer* parent, const char* id, const char* name, Size size);
extern MuLine* (*muLineFactory)(MuContainer* parent, const char* id, bool horizontal, uint32_t etched,
                                int32_t thickness);
extern MuList* (*muListFactory)(MuContainer* parent, const char* id, uint32_t flags, MuList::Callback* callback);

}  // namespace mui
