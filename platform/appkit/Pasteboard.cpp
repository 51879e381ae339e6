#include "platform/appkit/Pasteboard.h"

#include <algorithm>
#include <cstring>

namespace appkit {

const char* const kPasteboardTypeString = "public.utf8-plain-text";

bool PasteboardItem::setData(const uint8_t* bytes, size_t length, const char* type) {
  if (!type || (!bytes && length)) return false;
  std::vector<uint8_t> data(bytes, bytes + length);
  for (auto& entry : entries_) {
    if (entry.first == type) {
      entry.second = std::move(data);
      return true;
    }
  }
  entries_.emplace_back(type, std::move(data));
  return true;
}

bool PasteboardItem::setString(const char* text, const char* type) {
  if (!text) text = "";
  return setData(reinterpret_cast<const uint8_t*>(text), std::strlen(text), type);
}

const std::vector<uint8_t>* PasteboardItem::dataForType(const char* type) const {
  if (!type) return nullptr;
  for (const auto& entry : entries_)
    if (entry.first == type) return &entry.second;
  return nullptr;
}

std::vector<std::string> PasteboardItem::types() const {
  std::vector<std::string> out;
  for (const auto& entry : entries_) out.push_back(entry.first);
  return out;
}

Pasteboard* Pasteboard::generalPasteboard() {
  static Pasteboard* general = new Pasteboard;
  return general;
}

Pasteboard* Pasteboard::dragPasteboard() {
  static Pasteboard* drag = new Pasteboard;
  return drag;
}

Pasteboard::~Pasteboard() { clearContents(); }

long Pasteboard::clearContents() {
  items_.clear();
  return ++changeCount_;
}

bool Pasteboard::writeObjects(const std::vector<PasteboardItem*>& items) {
  if (items.empty()) return false;
  for (PasteboardItem* item : items)
    if (item) items_.push_back(item);
  return true;
}

std::vector<std::string> Pasteboard::types() const {
  std::vector<std::string> out;
  for (const PasteboardItem* item : items_)
    for (std::string& type : item->types())
      if (std::find(out.begin(), out.end(), type) == out.end()) out.push_back(std::move(type));
  return out;
}

const std::vector<uint8_t>* Pasteboard::dataForType(const char* type) const {
  for (const PasteboardItem* item : items_)
    if (const std::vector<uint8_t>* data = item->dataForType(type)) return data;
  return nullptr;
}

PasteboardItem* Pasteboard::firstItem() {
  if (items_.empty()) items_.push_back(objc::adopt(new PasteboardItem));
  return items_.front();
}

bool Pasteboard::setData(const uint8_t* bytes, size_t length, const char* type) {
  return firstItem()->setData(bytes, length, type);
}

bool Pasteboard::setString(const char* text, const char* type) { return firstItem()->setString(text, type); }

std::string Pasteboard::stringForType(const char* type) const {
  const std::vector<uint8_t>* data = dataForType(type);
  return data ? std::string(data->begin(), data->end()) : std::string();
}

}  // namespace appkit
