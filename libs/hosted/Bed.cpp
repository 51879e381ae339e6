#include "libs/hosted/Bed.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/xml/Base64.h"

namespace hosted {

plat::IntParameter maxBedSize("_MaxBedSize", "", 0x1000000, 0, 2147483647, true);

namespace {

// No item is read at this depth: 31 nested composites with scalars inside.
constexpr int32_t kMaxDepth = 32;
// The largest composite count, and what each counted item is charged
// against the size limit.
constexpr uint64_t kMaxCount = 0x7FFFFFFE;
constexpr uint64_t kBytesPerCountedItem = 8;
// Every item takes at least two bytes (the type byte and a one-byte number
// or length), which bounds what a count may reserve ahead of reading.
constexpr int64_t kMinItemBytes = 2;

// The years a packed date-time holds (14 bits).
constexpr int kMaxPackedYear = 0x3FFF;

constexpr uint8_t kComposite = 0xE0;
constexpr uint8_t kVariable = 0x80;
constexpr uint8_t kKindMask = 0x1F;

enum FixedKind { kStringRef = 0, kInteger = 1, kTime = 2, kBoolean = 3 };
enum VariableKind { kStringText = 0, kOpaqueBytes = 1 };
enum CompositeKind { kMapKind = 0, kSeqKind = 1 };

int widthOf(uint8_t type) noexcept { return (type >> 5) & 3; }
uint8_t typeByte(uint8_t base, int w) noexcept { return static_cast<uint8_t>(base | w << 5); }

// The narrowest width holding v as a signed two's-complement number.
int signedWidth(int64_t v) noexcept {
  if (v >= INT8_MIN && v <= INT8_MAX) return 0;
  if (v >= INT16_MIN && v <= INT16_MAX) return 1;
  if (v >= INT32_MIN && v <= INT32_MAX) return 2;
  return 3;
}

// The narrowest width holding v as an unsigned number.
int unsignedWidth(uint64_t v) noexcept {
  if (v <= 0xFF) return 0;
  if (v <= 0xFFFF) return 1;
  if (v <= 0xFFFFFFFF) return 2;
  return 3;
}

int64_t signExtend(uint64_t n, int w) noexcept {
  switch (w) {
    case 0:
      return static_cast<int8_t>(n);
    case 1:
      return static_cast<int16_t>(n);
    case 2:
      return static_cast<int32_t>(n);
    default:
      return static_cast<int64_t>(n);
  }
}

int64_t floorDiv(int64_t a, int64_t b) noexcept { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The raw bytes of a fixed or variable item of an unknown type.
plat::Buffer rawItem(uint8_t type, uint64_t number, int w, rdr::InStream* data, int32_t dataLength) {
  rdr::MemOutStream out(16 + std::max(dataLength, 0));
  out.writeU8(type);
  Bed::writeNumber(out, number, w);
  if (data && dataLength > 0) {
    plat::Buffer bytes(*data, dataLength);
    out.writeBytes(bytes.data(), dataLength);
  }
  return out.takeBuffer();
}

bool isBedContentType(const char* contentType) {
  static constexpr const char* kOctetStream = "application/octet-stream";
  if (std::strcmp(contentType, kBedContentType) == 0 || std::strcmp(contentType, kOctetStream) == 0) return true;
  std::string text(contentType);
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  size_t last = text.find_last_not_of(blanks);
  text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text == kBedContentType || text == kOctetStream;
}

BedSeq& emptySeq() {
  // Never destroyed: lookups may run during exit.
  static BedSeq* const empty = new BedSeq;
  return *empty;
}

// The text form of an encoded map, rendered `embedded` levels inside other
// renderings.  Embedded renderings nest no deeper than values do, so a
// chain of application data inside application data cannot exhaust the
// stack.
plat::CharArray renderText(int32_t count, const void* data, const char* contentType, int32_t embedded) {
  try {
    if (embedded >= kMaxDepth) throw BedException("Unsupported nesting");
    BedReader reader(count, data);
    BedRef value = BedValue::decode(reader, contentType, true);
    rdr::MemOutStream out;
    BedWriter writer(out);
    writer.setEmbedded(embedded);
    value->format(writer, nullptr);
    return out.takeString();
  } catch (const plat::Exception& e) {
    return plat::DString::format("<not BED-encoded data: %s>", e.str());
  }
}

}  // namespace

// ---- Exceptions ----

BedException::BedException(const char* message) noexcept : plat::Exception(message) { setType("HostedBED"); }

BedBadType::BedBadType() noexcept : BedException("Unexpected BED type") {}

// ---- Numbers ----

uint64_t Bed::readNumber(rdr::InStream& in, int w) {
  switch (w) {
    case 0:
      return in.readU8();
    case 1:
      return in.readU16();
    case 2:
      return in.readU32();
    default:
      return in.readU64();
  }
}

void Bed::writeNumber(rdr::OutStream& out, uint64_t value, int w) {
  switch (w) {
    case 0:
      out.writeU8(static_cast<uint8_t>(value));
      break;
    case 1:
      out.writeU16(static_cast<uint16_t>(value));
      break;
    case 2:
      out.writeU32(static_cast<uint32_t>(value));
      break;
    default:
      out.writeU64(value);
      break;
  }
}

// ---- BedValue ----

BedValue::~BedValue() = default;

BedInt& BedValue::asInt() { throw BedBadType(); }
BedBool& BedValue::asBool() { throw BedBadType(); }
BedTime& BedValue::asTime() { throw BedBadType(); }
BedString& BedValue::asString() { throw BedBadType(); }
BedOpaque& BedValue::asOpaque() { throw BedBadType(); }
BedMap& BedValue::asMap() { throw BedBadType(); }
BedSeq& BedValue::asSeq() { throw BedBadType(); }

BedRef BedValue::decode(BedReader& reader, const char* contentType, bool requireMap) {
  if (contentType && !isBedContentType(contentType)) throw BedException("Unknown Content-Type");
  BedRef value;
  try {
    value = reader.readValue();
  } catch (const rdr::EndOfStream&) {
    throw BedException("Truncated BED");
  }
  if (requireMap) {
    value->asMap();
    if (reader.ownsStream() && reader.in().nUnread() > 0) throw BedException("Trailing bytes after BED");
  }
  return value;
}

plat::Buffer BedValue::encodeToBuffer(const BedValue& value) {
  rdr::MemOutStream out;
  BedWriter writer(out);
  value.encode(writer);
  return out.takeBuffer();
}

BedRef BedValue::clone(const BedValue& value) {
  plat::Buffer bytes = encodeToBuffer(value);
  BedReader reader(bytes.count(), bytes.data());
  return decode(reader, nullptr, false);
}

plat::CharArray BedValue::toString(const BedValue& value) {
  rdr::MemOutStream out;
  BedWriter writer(out);
  value.format(writer, nullptr);
  return out.takeString();
}

// ---- Scalars ----

void BedInt::encode(BedWriter& writer) const { writer.writeInt(value_); }
void BedInt::format(BedWriter& writer, const char*) const {
  writer.out().printf("%lld", static_cast<long long>(value_));
}

void BedBool::encode(BedWriter& writer) const {
  writer.out().writeU8(kBoolean);
  writer.out().writeU8(value_ ? 1 : 0);
}
void BedBool::format(BedWriter& writer, const char*) const { writer.out().writeText(value_ ? "@TRUE" : "@FALSE"); }

void BedTime::encode(BedWriter& writer) const {
  tm fields;
  plat::toCalendarUtc(fields, value_);
  int64_t year = int64_t(fields.tm_year) + 1900;
  if (year < 0 || year > kMaxPackedYear) throw BedException("BED time out of range");
  int64_t millis = floorDiv(value_, plat::kTicksPerMs) - floorDiv(value_, plat::kTicksPerSecond) * 1000;
  uint64_t word = uint64_t(millis) << 11 | uint64_t(fields.tm_sec) << 21 | uint64_t(fields.tm_min) << 27 |
                  uint64_t(fields.tm_hour) << 33 | uint64_t(fields.tm_mday) << 38 | uint64_t(fields.tm_mon + 1) << 43 |
                  uint64_t(year) << 47;
  int w = unsignedWidth(word);
  writer.out().writeU8(typeByte(kTime, w));
  Bed::writeNumber(writer.out(), word, w);
}
void BedTime::format(BedWriter& writer, const char*) const {
  tm fields;
  plat::toCalendarUtc(fields, value_);
  int64_t millis = floorDiv(value_, plat::kTicksPerMs) - floorDiv(value_, plat::kTicksPerSecond) * 1000;
  writer.out().printf("@date-time(%04d-%02d-%02dT%02d:%02d:%02d.%03d+00:00)", fields.tm_year + 1900, fields.tm_mon + 1,
                      fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec, static_cast<int>(millis));
}

void BedString::encode(BedWriter& writer) const { writer.writeString(text_.get()); }
void BedString::format(BedWriter& writer, const char*) const { writer.writeQuoted(text_.get()); }

void BedOpaque::encode(BedWriter& writer) const { writer.writeVariable(kOpaqueBytes, bytes_.data(), bytes_.count()); }

void BedOpaque::format(BedWriter& writer, const char* keyName) const {
  rdr::OutStream& out = writer.out();
  plat::CharArray base64 = xml::base64Encode(bytes_.data(), bytes_.count(), false);
  out.printf("@binary(%s)", base64.c_str());
  if (!keyName) return;
  const unsigned char* b = bytes_.data();
  if (std::strcmp(keyName, "any/ip-address") == 0) {
    if (bytes_.count() == 16) {
      out.writeText(" # ");
      for (int i = 0; i < 8; ++i) out.printf(i ? ":%x" : "%x", b[2 * i] << 8 | b[2 * i + 1]);
    } else if (bytes_.count() == 4) {
      out.printf(" # %d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    }
  } else if (std::strcmp(keyName, "any/application-data") == 0) {
    plat::CharArray rendering = renderText(bytes_.count(), b, kBedContentType, writer.embedded() + 1);
    plat::DString prefix;
    prefix.append("\n");
    prefix.appendChars(' ', writer.indent());
    prefix.append("  # ");
    plat::DString text;
    text.append(prefix.c_str());
    plat::DString::replaceAll(text, rendering.c_str(), "\n", prefix.c_str());
    out.writeText(text.c_str(), text.length());
  }
}

// ---- BedMap ----

BedMap::Entries::const_iterator BedMap::find(const char* key) const noexcept {
  return std::find_if(entries_.begin(), entries_.end(),
                      [key](const BedMapEntry& e) { return plat::strCompare(e.key.get(), key) == 0; });
}

const BedRef& BedMap::get(const char* key) const {
  auto it = find(key);
  if (it == entries_.end() || !it->value) throw BedException("BED key '%s' not found", key ? key : "(null)");
  return it->value;
}

void BedMap::set(const char* key, BedRef value) {
  auto it = find(key);
  if (it != entries_.end()) {
    entries_[it - entries_.begin()].value = std::move(value);
    return;
  }
  entries_.push_back(BedMapEntry{plat::CharArray(key), std::move(value)});
}

void BedMap::setString(const char* key, const char* text) { set(key, BedRef(new BedString(text))); }
void BedMap::setBool(const char* key, bool value) { set(key, BedRef(new BedBool(value))); }
void BedMap::setTime(const char* key, plat::TimeValue value) { set(key, BedRef(new BedTime(value))); }
void BedMap::setInt(const char* key, int64_t value) { set(key, BedRef(new BedInt(value))); }

BedSeq& BedMap::getSeqOrEmpty(const char* key) const {
  auto it = find(key);
  if (it == entries_.end() || !it->value) return emptySeq();
  return it->value->asSeq();
}

void BedMap::encode(BedWriter& writer) const {
  writer.out().writeU8(kComposite | kMapKind);
  writer.writeInt(2 * int64_t(entries_.size()));
  for (const BedMapEntry& e : entries_) {
    if (!e.value) throw BedBadType();
    writer.writeString(e.key.get());
    e.value->encode(writer);
  }
}

void BedMap::format(BedWriter& writer, const char*) const {
  writer.out().writeU8('{');
  for (const BedMapEntry& e : entries_) {
    writer.newLine(2);
    writer.writeQuoted(e.key.get());
    writer.out().writeU8(' ');
    if (!e.value) continue;
    writer.setIndent(writer.indent() + 2);
    plat::ScopeExit outdent([&writer] { writer.setIndent(writer.indent() - 2); });
    e.value->format(writer, e.key.get());
  }
  writer.newLine(0);
  writer.out().writeU8('}');
}

// ---- BedSeq ----

const BedRef& BedSeq::get(int index) const {
  if (index < 0 || index >= size()) throw BedException("BED index not found");
  return items_[index];
}

plat::StringSet BedSeq::toStringSet() const {
  plat::StringSet set;
  for (const BedRef& item : items_) {
    if (!item) throw BedBadType();
    set.insert(plat::CharArray(item->asString().text()));
  }
  return set;
}

plat::LinkedPtr<BedSeq> BedSeq::fromStringSet(const plat::StringSet& set) {
  plat::LinkedPtr<BedSeq> seq(new BedSeq);
  seq->items_.reserve(set.size());
  for (const plat::CharArray& text : set) seq->append(BedRef(new BedString(text.get())));
  return seq;
}

namespace {

void encodeItems(BedWriter& writer, const std::vector<BedRef>& items) {
  writer.writeInt(int64_t(items.size()));
  for (const BedRef& item : items) {
    if (!item) throw BedBadType();
    item->encode(writer);
  }
}

void formatItems(BedWriter& writer, const std::vector<BedRef>& items) {
  for (const BedRef& item : items) {
    writer.newLine(2);
    if (!item) continue;
    writer.setIndent(writer.indent() + 2);
    plat::ScopeExit outdent([&writer] { writer.setIndent(writer.indent() - 2); });
    item->format(writer, nullptr);
  }
  writer.newLine(0);
}

}  // namespace

void BedSeq::encode(BedWriter& writer) const {
  writer.out().writeU8(kComposite | kSeqKind);
  encodeItems(writer, items_);
}

void BedSeq::format(BedWriter& writer, const char*) const {
  writer.out().writeU8('[');
  formatItems(writer, items_);
  writer.out().writeU8(']');
}

// ---- BedUnknown ----

void BedUnknown::encode(BedWriter& writer) const {
  if (kind_ < 0) {
    writer.out().writeBytes(raw_.data(), raw_.count());
    return;
  }
  writer.out().writeU8(static_cast<uint8_t>(kComposite | (kind_ & kKindMask)));
  encodeItems(writer, children_);
}

void BedUnknown::format(BedWriter& writer, const char*) const {
  if (kind_ < 0) {
    plat::CharArray base64 = xml::base64Encode(raw_.data(), raw_.count(), false);
    writer.out().printf("@unknown(%s)", base64.c_str());
    return;
  }
  writer.out().printf("@unknown[%d", kind_);
  formatItems(writer, children_);
  writer.out().writeU8(']');
}

// ---- BedWriter ----

void BedWriter::writeInt(int64_t value) {
  int w = signedWidth(value);
  out_.writeU8(typeByte(kInteger, w));
  Bed::writeNumber(out_, static_cast<uint64_t>(value), w);
}

void BedWriter::writeString(const char* text) {
  int64_t index = -1;
  if (!text) {
    index = nullIndex_;
  } else if (auto it = index_.find(std::string_view(text)); it != index_.end()) {
    index = it->second;
  }
  if (index >= 0) {
    int w = unsignedWidth(static_cast<uint64_t>(index));
    out_.writeU8(typeByte(kStringRef, w));
    Bed::writeNumber(out_, static_cast<uint64_t>(index), w);
    return;
  }
  writeVariable(kStringText, text, text ? std::strlen(text) : 0);
  index = static_cast<int64_t>(strings_.size());
  strings_.emplace_back(text);
  // The table's texts do not move when the table grows, so the index may
  // point into them.
  if (text)
    index_.emplace(std::string_view(strings_.back().get()), index);
  else
    nullIndex_ = index;
}

void BedWriter::writeVariable(uint8_t kind, const void* data, int64_t length) {
  if (length < 0 || length > INT32_MAX) throw BedException("BED value bad length");
  int w = length <= 0xFF ? 0 : length <= 0xFFFF ? 1 : 2;
  out_.writeU8(typeByte(kVariable | kind, w));
  Bed::writeNumber(out_, static_cast<uint64_t>(length), w);
  if (length > 0) out_.writeBytes(data, static_cast<int32_t>(length));
}

void BedWriter::writeQuoted(const char* text) {
  out_.writeU8('"');
  const char* p = text ? text : "";
  const char* end = p + std::strlen(p);
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p++);
    int32_t cp = c;
    if (c >= 0x80) {
      cp = plat::utf8Decode(c, &p, static_cast<int>(end - p + 1));
      if (cp < 0) break;
    }
    switch (cp) {
      case '\t':
        out_.writeText("\\t");
        break;
      case '\n':
        out_.writeText("\\n");
        break;
      case '\r':
        out_.writeText("\\r");
        break;
      case '"':
        out_.writeText("\\\"");
        break;
      case '\\':
        out_.writeText("\\\\");
        break;
      default:
        if (cp < 32 || cp > 126)
          out_.printf("\\u%04X", static_cast<unsigned>(cp));
        else
          out_.writeU8(static_cast<uint8_t>(cp));
    }
  }
  out_.writeU8('"');
}

void BedWriter::newLine(int extraIndent) {
  out_.writeU8('\n');
  out_.pad(' ', indent_ + extraIndent);
}

// ---- BedReader ----

BedReader::BedReader(int32_t count, const void* data)
    : own_(std::in_place, data, count), in_(&*own_), start_(0), limit_(maxBedSize.getValue()) {}

BedReader::BedReader(rdr::InStream& in) : in_(&in), start_(in.pos()), limit_(maxBedSize.getValue()) {}

BedReader::~BedReader() = default;

BedRef BedReader::readValue() {
  if (depth_ >= kMaxDepth) throw BedException("Unsupported nesting");
  ++depth_;
  plat::ScopeExit restore([this] { --depth_; });
  if (consumed() >= limit_) throw BedException("BED data too large");
  uint8_t type = in_->readU8();
  if (type >= kComposite) return readComposite(type);
  if (type >= kVariable) return readVariable(type);
  return readFixed(type);
}

BedRef BedReader::readFixed(uint8_t type) {
  const int kind = type & kKindMask;
  const int w = widthOf(type);
  const uint64_t n = Bed::readNumber(*in_, w);
  switch (kind) {
    case kInteger:
      return BedRef(new BedInt(signExtend(n, w)));
    case kStringRef:
      if (n >= strings_.size()) throw BedException("BED decode error");
      return BedRef(new BedString(strings_[n].get()));
    case kTime:
      if (w == 3) {
        if (n >> 61) throw BedException("BED decode error");
        int32_t offset = static_cast<int32_t>(n & 0x7FF);
        if (offset & 0x400) offset -= 0x800;
        const int millis = static_cast<int>(n >> 11 & 0x3FF);
        const int second = static_cast<int>(n >> 21 & 0x3F);
        const int minute = static_cast<int>(n >> 27 & 0x3F);
        const int hour = static_cast<int>(n >> 33 & 0x1F);
        const int day = static_cast<int>(n >> 38 & 0x1F);
        const int month = static_cast<int>(n >> 43 & 0xF);
        const int year = static_cast<int>(n >> 47 & 0x3FFF);
        plat::TimeValue ticks;
        if (millis > 999 || !plat::dateToTime(ticks, year, month, day, hour, minute, second))
          throw BedException("BED decode error");
        return BedRef(new BedTime(ticks + millis * plat::kTicksPerMs - int64_t(offset) * 60 * plat::kTicksPerSecond));
      }
      break;
    case kBoolean:
      if (w == 0) {
        if (n > 1) throw BedException("BED decode error");
        return BedRef(new BedBool(n == 1));
      }
      break;
    default:
      break;
  }
  return BedRef(new BedUnknown(-1, rawItem(type, n, w, nullptr, 0)));
}

BedRef BedReader::readVariable(uint8_t type) {
  const int kind = type & kKindMask;
  const int w = widthOf(type);
  const uint64_t length = Bed::readNumber(*in_, w);
  // 64-bit arithmetic: a 4-byte length plus the position cannot wrap.
  if (length >= uint64_t(limit_) || uint64_t(consumed()) + length >= uint64_t(limit_))
    throw BedException("BED variable data too large");
  // Over its own bytes the reader knows what is left: a longer length is a
  // short read, refused before anything is reserved.
  if (ownsStream() && length > uint64_t(remaining())) throw rdr::EndOfStream();
  const int32_t n = static_cast<int32_t>(length);
  switch (kind) {
    case kOpaqueBytes:
      return BedRef(new BedOpaque(plat::Buffer(*in_, n)));
    case kStringText: {
      plat::CharArray text = plat::CharArray::zeroed(size_t(n) + 1);
      in_->readBytes(text.get(), n);
      // Texts are NUL-terminated: a NUL inside would silently cut the text
      // (and make two different keys compare equal).
      if (std::memchr(text.get(), 0, size_t(n)) || !plat::isValidUtf8(text.get(), text.get() + n))
        throw BedException("BED decode error");
      strings_.emplace_back(text.get(), n);
      return BedRef(new BedString(std::move(text)));
    }
    default:
      return BedRef(new BedUnknown(-1, rawItem(type, length, w, in_, n)));
  }
}

BedRef BedReader::readComposite(uint8_t type) {
  const int kind = type & kKindMask;
  const uint64_t count = static_cast<uint64_t>(readValue()->asInt().value());
  // count <= 0x7FFFFFFE, so count x 8 cannot wrap in 64 bits.
  if (count > kMaxCount || count * kBytesPerCountedItem >= uint64_t(limit_) ||
      count * kBytesPerCountedItem + uint64_t(consumed()) >= uint64_t(limit_))
    throw BedException("BED composite bad length");
  // Reserve no more than the bytes at hand can fill; the rest grows as
  // items actually arrive.
  auto reserveFor = [this](uint64_t items, int64_t bytesPerItem) {
    return static_cast<size_t>(std::min<uint64_t>(items, uint64_t(remaining() / bytesPerItem)));
  };

  if (kind == kMapKind) {
    if (count % 2 != 0) throw BedException("BED map bad length");
    plat::LinkedPtr<BedMap> map(new BedMap);
    map->entries_.reserve(reserveFor(count / 2, 2 * kMinItemBytes));
    // The keys seen so far, pointing into the entries' own texts, so that
    // a large map is checked for repeats in linear time.
    std::unordered_set<std::string_view> keys;
    for (uint64_t i = 0; i < count / 2; ++i) {
      BedRef key = readValue();
      BedRef value = readValue();
      const char* text = key->asString().text();
      map->entries_.push_back(BedMapEntry{plat::CharArray(text), std::move(value)});
      // The set points into the entries' own texts, which stay in place
      // when the entries grow.
      if (!text || !keys.insert(std::string_view(map->entries_.back().key.get())).second)
        throw BedException("BED decode error");
    }
    return map;
  }
  if (kind == kSeqKind) {
    plat::LinkedPtr<BedSeq> seq(new BedSeq);
    seq->items_.reserve(reserveFor(count, kMinItemBytes));
    for (uint64_t i = 0; i < count; ++i) seq->items_.push_back(readValue());
    return seq;
  }
  plat::LinkedPtr<BedUnknown> unknown(new BedUnknown(kind, plat::Buffer()));
  unknown->children_.reserve(reserveFor(count, kMinItemBytes));
  for (uint64_t i = 0; i < count; ++i) unknown->children_.push_back(readValue());
  return unknown;
}

// ---- Whole documents ----

BedSpan Bed::findKeyRaw(int32_t count, const void* data, const char* key) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (count <= 0 || !bytes || bytes[0] != (kComposite | kMapKind)) throw BedException("BED data not a map");
  BedReader reader(count - 1, bytes + 1);
  // The map's own type byte is consumed: its count and entries lie one
  // level down, as in a full decode.
  reader.depth_ = 1;
  try {
    const int64_t n = reader.readValue()->asInt().value();
    if (n < 0 || n % 2 != 0) throw BedException("BED decode error");
    for (int64_t i = 0; i < n / 2; ++i) {
      BedRef k = reader.readValue();
      const int32_t from = reader.in().pos();
      BedRef v = reader.readValue();
      const int32_t to = reader.in().pos();
      if (plat::strCompare(k->asString().text(), key) == 0) return BedSpan{to - from, bytes + 1 + from};
    }
  } catch (const rdr::EndOfStream&) {
    throw BedException("Truncated BED");
  }
  throw BedException("BED key '%s' not found", key ? key : "(null)");
}

plat::CharArray Bed::toString(int32_t count, const void* data, const char* contentType) {
  return renderText(count, data, contentType, 0);
}

}  // namespace hosted
