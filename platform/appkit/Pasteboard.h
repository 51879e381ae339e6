#pragma once
// Stands in for the platform's pasteboards: named pasteboards (the general
// one, which copy and paste use, and the dragging one, which carries the
// items of a drag), each holding items that keep bytes by type name.  The
// items of a pasteboard are replaced as a whole: clearContents, then
// writeObjects.  Nothing leaves the process.
//
// Main thread only.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"

namespace appkit {

// The type of plain UTF-8 text.
extern const char* const kPasteboardTypeString;

// One item: bytes by type, in the order the types were first set.
class PasteboardItem : public objc::Object {
 public:
  // A new, empty item (one reference, the caller's).
  PasteboardItem() = default;

  // setData:forType: (the bytes are copied; a type set again is replaced);
  // false for a null type.
  bool setData(const uint8_t* bytes, size_t length, const char* type);
  bool setString(const char* text, const char* type);
  // The bytes of a type; null when the item has none.
  const std::vector<uint8_t>* dataForType(const char* type) const;
  std::vector<std::string> types() const;

 protected:
  ~PasteboardItem() override = default;

 private:
  std::vector<std::pair<std::string, std::vector<uint8_t>>> entries_;
};

class Pasteboard : public objc::Object {
 public:
  // The shared pasteboards; they live until the process ends.
  static Pasteboard* generalPasteboard();
  static Pasteboard* dragPasteboard();

  // Drops every item; answers the new change count.
  long clearContents();
  // Adds the items (retained) after those already there; false for none.
  bool writeObjects(const std::vector<PasteboardItem*>& items);
  // The types of all items, each once, in item order.
  std::vector<std::string> types() const;
  // The first item's bytes of the type; null when no item has them.
  const std::vector<uint8_t>* dataForType(const char* type) const;
  // setData:forType: and setString:forType: on the first item (made when
  // there is none).
  bool setData(const uint8_t* bytes, size_t length, const char* type);
  bool setString(const char* text, const char* type);
  // The text of the type ("" with none), as stringForType:.
  std::string stringForType(const char* type) const;
  const std::vector<PasteboardItem*>& pasteboardItems() const noexcept { return items_.items(); }
  // Counts every clearContents.
  long changeCount() const noexcept { return changeCount_; }

 protected:
  ~Pasteboard() override;

 private:
  Pasteboard() = default;
  PasteboardItem* firstItem();

  objc::RefVector<PasteboardItem> items_;
  long changeCount_ = 0;
};

}  // namespace appkit
