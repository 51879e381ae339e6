#pragma once
// BED, the compact binary value format of the cloud client: a tree of
// typed values (integers, booleans, times, strings, opaque bytes, maps,
// sequences, and values of unknown types carried along unchanged) with
// string back-references, its decoder with size and nesting limits, and
// the text form used in logs.  Numbers on the wire are big-endian.
//
// Every value is held through plat::LinkedPtr<BedValue> and lives while any
// link to it remains.  Map entries keep insertion order and the encoder
// writes them in that order, which signatures over encoded maps rely on.

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace hosted {

// "_MaxBedSize": the most bytes one decoding run reads, and the bound every
// length and count read from input is checked against before memory is
// reserved.
extern plat::IntParameter maxBedSize;

// The MIME type of BED bodies.
inline constexpr const char* kBedContentType = "application/vnd.corvane.bed";

// Every failure of the BED layer; the type name is "HostedBED".
class BedException : public plat::Exception {
 public:
  explicit BedException(const char* message) noexcept;
  template <typename... Args>
  requires(sizeof...(Args) > 0) BedException(const char* format, Args... args)
  noexcept : BedException(nullptr) { formatMessage(format, args...); }
};

// A value asked for as a class it is not: "Unexpected BED type".
class BedBadType : public BedException {
 public:
  BedBadType() noexcept;
};

class BedValue;
class BedInt;
class BedBool;
class BedTime;
class BedString;
class BedOpaque;
class BedMap;
class BedSeq;
class BedReader;
class BedWriter;

using BedRef = plat::LinkedPtr<BedValue>;

// A stretch of encoded bytes inside a caller's buffer.
struct BedSpan {
  int32_t length = 0;
  const uint8_t* data = nullptr;
};

namespace Bed {
// The encoded value stored under key in an encoded top-level map, exactly
// as it stands in the input (back-references inside it name strings
// outside it).  "BED data not a map" when the input does not start a map,
// "BED key '<key>' not found" when no entry has the key.
BedSpan findKeyRaw(int32_t count, const void* data, const char* key);
}  // namespace Bed

class BedValue {
 public:
  virtual ~BedValue();
  BedValue(const BedValue&) = delete;
  BedValue& operator=(const BedValue&) = delete;

  // Each class answers only its own accessor; the others throw BedBadType.
  virtual BedInt& asInt();
  virtual BedBool& asBool();
  virtual BedTime& asTime();
  virtual BedString& asString();
  virtual BedOpaque& asOpaque();
  virtual BedMap& asMap();
  virtual BedSeq& asSeq();

  // Writes the value's bytes through the writer's string table.
  virtual void encode(BedWriter& writer) const = 0;
  // Writes the value's text form at the writer's indent; keyName is the map
  // key the value stands under, or null.
  virtual void format(BedWriter& writer, const char* keyName) const = 0;

  // Decodes one value.  A content type, when given, must name BED (or
  // octet-stream); with requireMap the value must be a map and a reader over
  // its own bytes must have none left after it.  Input that ends early is
  // "Truncated BED".
  static BedRef decode(BedReader& reader, const char* contentType, bool requireMap);
  // A deep copy, made by encoding and decoding again (the decoder's limits
  // apply).
  static BedRef clone(const BedValue& value);
  // The value's encoding.
  static plat::Buffer encodeToBuffer(const BedValue& value);
  // The text form.
  static plat::CharArray toString(const BedValue& value);

 protected:
  BedValue() noexcept = default;
};

class BedInt : public BedValue {
 public:
  explicit BedInt(int64_t value) noexcept : value_(value) {}
  BedInt& asInt() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;
  int64_t value() const noexcept { return value_; }

 private:
  int64_t value_;
};

class BedBool : public BedValue {
 public:
  explicit BedBool(bool value) noexcept : value_(value) {}
  BedBool& asBool() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;
  bool value() const noexcept { return value_; }

 private:
  bool value_;
};

// A time in 100-ns ticks since 1601-01-01 UTC.  Its encoding keeps whole
// milliseconds of a year from 0 to 16383; the writer refuses other years.
class BedTime : public BedValue {
 public:
  explicit BedTime(plat::TimeValue value) noexcept : value_(value) {}
  BedTime& asTime() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;
  plat::TimeValue value() const noexcept { return value_; }

 private:
  plat::TimeValue value_;
};

class BedString : public BedValue {
 public:
  // Copies the text (null stays null).
  explicit BedString(const char* text, int len = -1) : text_(text, len) {}
  explicit BedString(plat::CharArray text) noexcept : text_(std::move(text)) {}
  BedString& asString() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;
  // The text; null when the value holds none.
  const char* text() const noexcept { return text_.get(); }

 private:
  plat::CharArray text_;
};

class BedOpaque : public BedValue {
 public:
  explicit BedOpaque(plat::Buffer bytes) noexcept : bytes_(std::move(bytes)) {}
  BedOpaque(const void* data, int count, bool secure = false)
      : bytes_(static_cast<const unsigned char*>(data), count, secure) {}
  BedOpaque& asOpaque() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;
  // The buffer wipes itself on release when flagged secure.
  const plat::Buffer& bytes() const noexcept { return bytes_; }
  plat::Buffer& bytes() noexcept { return bytes_; }

 private:
  plat::Buffer bytes_;
};

struct BedMapEntry {
  plat::CharArray key;
  BedRef value;
};

class BedMap : public BedValue {
 public:
  using Entries = std::vector<BedMapEntry>;

  BedMap() noexcept = default;
  BedMap& asMap() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;

  const Entries& entries() const noexcept { return entries_; }
  int size() const noexcept { return static_cast<int>(entries_.size()); }

  // The value under key; BedException "BED key '<key>' not found" when
  // there is none or it is null.
  const BedRef& get(const char* key) const;
  // The entry, or end() (keys compare as byte strings; null matches null).
  Entries::const_iterator find(const char* key) const noexcept;
  Entries::const_iterator end() const noexcept { return entries_.end(); }
  // Replaces the value of an existing entry in its place, else appends an
  // entry with a copy of the key.
  void set(const char* key, BedRef value);
  void setString(const char* key, const char* text);
  void setBool(const char* key, bool value);
  void setTime(const char* key, plat::TimeValue value);
  void setInt(const char* key, int64_t value);
  // The entry's sequence (a non-sequence is BedBadType), or a shared empty
  // sequence when the key is absent or null.
  BedSeq& getSeqOrEmpty(const char* key) const;

 private:
  friend class BedReader;
  Entries entries_;
};

class BedSeq : public BedValue {
 public:
  using Items = std::vector<BedRef>;

  BedSeq() noexcept = default;
  BedSeq& asSeq() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;

  const Items& items() const noexcept { return items_; }
  int size() const noexcept { return static_cast<int>(items_.size()); }
  void append(BedRef value) { items_.push_back(std::move(value)); }
  // BedException "BED index not found" outside [0, size).
  const BedRef& get(int index) const;

  // Every element through asString, into a sorted set of texts.
  plat::StringSet toStringSet() const;
  // One string per text, in set order.
  static plat::LinkedPtr<BedSeq> fromStringSet(const plat::StringSet& set);

 private:
  friend class BedReader;
  Items items_;
};

// A value of a type this decoder does not know, kept so that it encodes
// again byte for byte: either the raw bytes of a fixed or variable item
// (kind -1), or the kind and children of a composite item.
class BedUnknown : public BedValue {
 public:
  BedUnknown(int32_t kind, plat::Buffer raw) noexcept : kind_(kind), raw_(std::move(raw)) {}
  void encode(BedWriter& writer) const override;
  void format(BedWriter& writer, const char* keyName) const override;

  int32_t kind() const noexcept { return kind_; }
  const plat::Buffer& raw() const noexcept { return raw_; }
  const std::vector<BedRef>& children() const noexcept { return children_; }

 private:
  friend class BedReader;
  int32_t kind_;
  std::vector<BedRef> children_;
  plat::Buffer raw_;
};

// The encoding and text context: the output, the string table of one
// encoding run, and the indent of the text form.
class BedWriter {
 public:
  explicit BedWriter(rdr::OutStream& out) noexcept : out_(out) {}
  BedWriter(const BedWriter&) = delete;
  BedWriter& operator=(const BedWriter&) = delete;

  rdr::OutStream& out() noexcept { return out_; }
  int indent() const noexcept { return indent_; }
  void setIndent(int indent) noexcept { indent_ = indent; }
  // How many renderings of embedded application data enclose this one.
  int embedded() const noexcept { return embedded_; }
  void setEmbedded(int embedded) noexcept { embedded_ = embedded; }

  // An integer item in the narrowest signed width that holds the value.
  void writeInt(int64_t value);
  // A string item: a back-reference when the text was written before in
  // this run, else the text in full (added to the table).
  void writeString(const char* text);
  // A variable item of kind 0 or 1: the length in 1, 2 or 4 bytes, then
  // the bytes.  A negative length is "BED value bad length".
  void writeVariable(uint8_t kind, const void* data, int64_t length);

  // ---- Text form ----
  void writeQuoted(const char* text);
  void newLine(int extraIndent);

 private:
  rdr::OutStream& out_;
  std::vector<plat::CharArray> strings_;
  // The table's positions by text, for texts already written in this run.
  std::unordered_map<std::string_view, int64_t> index_;
  int64_t nullIndex_ = -1;
  int32_t indent_ = 0;
  int32_t embedded_ = 0;
};

// The decoding context: the input, the string table of one decoding run,
// the start position, the size limit (from _MaxBedSize when the reader is
// made) and the nesting depth.
class BedReader {
 public:
  // Reads `count` bytes at `data`, which stay alive while the reader is
  // used.
  BedReader(int32_t count, const void* data);
  // Reads from a stream of the caller's from its current position.
  explicit BedReader(rdr::InStream& in);
  ~BedReader();
  BedReader(const BedReader&) = delete;
  BedReader& operator=(const BedReader&) = delete;

  // One item with its children.
  BedRef readValue();

  rdr::InStream& in() noexcept { return *in_; }
  // Whether the reader reads its own buffer (not a caller's stream).
  bool ownsStream() const noexcept { return own_.has_value(); }
  // Bytes consumed since the reader was made.
  int64_t consumed() { return int64_t(in_->pos()) - start_; }

 private:
  friend class BedValue;
  friend BedSpan Bed::findKeyRaw(int32_t count, const void* data, const char* key);

  BedRef readFixed(uint8_t type);
  BedRef readVariable(uint8_t type);
  BedRef readComposite(uint8_t type);
  // Bytes left in the reader's own buffer; a bound on what a count may
  // reserve ahead.  A caller's stream answers what it has buffered.
  int64_t remaining() const noexcept { return in_->nUnread(); }

  std::optional<rdr::MemInStream> own_;
  rdr::InStream* in_;
  std::vector<plat::CharArray> strings_;
  int64_t start_;
  int64_t limit_;
  int32_t depth_ = 0;
};

namespace Bed {

// The text form of an encoded map, or "<not BED-encoded data: <message>>"
// when it does not decode.
plat::CharArray toString(int32_t count, const void* data, const char* contentType);

// Unsigned big-endian numbers of 1, 2, 4 or 8 bytes for w = 0..3.
uint64_t readNumber(rdr::InStream& in, int w);
void writeNumber(rdr::OutStream& out, uint64_t value, int w);

}  // namespace Bed

}  // namespace hosted
