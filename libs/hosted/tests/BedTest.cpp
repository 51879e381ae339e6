#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "libs/hosted/Bed.h"
#include "libs/hosted/tests/HexBytes.h"
#include "qocore/base/rdr/MemInStream.h"
#include "testing/FailureOf.h"

namespace {

using Bytes = std::vector<uint8_t>;
using hosted::BedRef;
using ::testing::HasSubstr;

Bytes hex(const std::string& text) { return hosted_test::hexBytes(text); }

std::string toHex(const uint8_t* data, int count) {
  std::string out;
  char buf[4];
  for (int i = 0; i < count; ++i) {
    snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
    out += buf;
  }
  return out;
}

std::string encodedHex(const hosted::BedValue& value) {
  plat::Buffer bytes = hosted::BedValue::encodeToBuffer(value);
  return toHex(bytes.data(), bytes.count());
}

BedRef decode(const Bytes& bytes, bool requireMap = false, const char* contentType = nullptr) {
  hosted::BedReader reader(static_cast<int32_t>(bytes.size()), bytes.data());
  return hosted::BedValue::decode(reader, contentType, requireMap);
}

std::string decodeFailure(const Bytes& bytes, bool requireMap = false, const char* contentType = nullptr) {
  return yarl_test::failureOf<plat::Exception>([&] { decode(bytes, requireMap, contentType); });
}

std::string text(const hosted::BedValue& value) { return hosted::BedValue::toString(value).c_str(); }

// A value of each encoding from the wire format's examples; each decodes
// back to bytes that encode the same again.
TEST(BedEncoding, ValuesEncodeAsTheFormatSays) {
  struct Case {
    BedRef value;
    const char* encoded;
  };
  plat::LinkedPtr<hosted::BedMap> oneEntry(new hosted::BedMap);
  oneEntry->setInt("a", 1);
  plat::LinkedPtr<hosted::BedSeq> twice(new hosted::BedSeq);
  twice->append(BedRef(new hosted::BedString("ab")));
  twice->append(BedRef(new hosted::BedString("ab")));
  // clang-format off
  const Case cases[] = {
      {BedRef(new hosted::BedInt(0)), "01 00"},
      {BedRef(new hosted::BedInt(127)), "01 7F"},
      {BedRef(new hosted::BedInt(128)), "21 00 80"},
      {BedRef(new hosted::BedInt(-1)), "01 FF"},
      {BedRef(new hosted::BedInt(-129)), "21 FF 7F"},
      {BedRef(new hosted::BedInt(32768)), "41 00 00 80 00"},
      {BedRef(new hosted::BedInt(2147483648)), "61 00 00 00 00 80 00 00 00"},
      {BedRef(new hosted::BedInt(INT64_MIN)), "61 80 00 00 00 00 00 00 00"},
      {BedRef(new hosted::BedBool(true)), "03 01"},
      {BedRef(new hosted::BedBool(false)), "03 00"},
      {BedRef(new hosted::BedOpaque("\x01\x02", 2)), "81 02 01 02"},
      {BedRef(new hosted::BedOpaque(nullptr, 0)), "81 00"},
      {BedRef(new hosted::BedMap), "E0 01 00"},
      {BedRef(new hosted::BedSeq), "E1 01 00"},
      {oneEntry, "E0 01 02 80 01 61 01 01"},
      {twice, "E1 01 02 80 02 61 62 00 00"},
      // 2026-03-04T05:06:07.089Z
      {BedRef(new hosted::BedTime(134170743670890000)), "62 03 F5 19 0A 30 E2 C8 00"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoded);
    EXPECT_EQ(encodedHex(*c.value), c.encoded);
    EXPECT_EQ(encodedHex(*decode(hex(c.encoded))), c.encoded);
  }
}

TEST(BedEncoding, LongTextsAndManyStringsTakeWiderFields) {
  plat::LinkedPtr<hosted::BedSeq> seq(new hosted::BedSeq);
  const std::string longText(300, 'x');
  seq->append(BedRef(new hosted::BedString(longText.c_str())));
  for (int i = 0; i < 300; ++i) seq->append(BedRef(new hosted::BedString(std::to_string(i).c_str())));
  seq->append(BedRef(new hosted::BedString("299")));
  plat::Buffer bytes = hosted::BedValue::encodeToBuffer(*seq);
  // E1, the count 302 (21 01 2E), then A0 01 2C and the long text.
  EXPECT_EQ(toHex(bytes.data(), 6), "E1 21 01 2E A0 01");
  // The last string refers back to entry 300 of the table in two bytes.
  EXPECT_EQ(toHex(bytes.data() + bytes.count() - 3, 3), "20 01 2C");

  BedRef back = decode(Bytes(bytes.begin(), bytes.end()));
  ASSERT_EQ(back->asSeq().size(), 302);
  EXPECT_EQ(std::string(back->asSeq().get(0)->asString().text()), longText);
  EXPECT_STREQ(back->asSeq().get(301)->asString().text(), "299");
}

TEST(BedEncoding, EveryValueTypeRoundTrips) {
  plat::LinkedPtr<hosted::BedMap> map(new hosted::BedMap);
  map->setString("name", "h\xC3\xA9llo");
  map->setInt("big", INT64_MAX);
  map->setBool("on", true);
  map->setTime("when", 134170743670890000);
  map->setTime("early", -1);  // 1600-12-31T23:59:59.999: before the epoch
  map->set("bytes", BedRef(new hosted::BedOpaque("\x00\xFF", 2)));
  plat::StringSet names{plat::CharArray("b"), plat::CharArray("a")};
  map->set("names", hosted::BedSeq::fromStringSet(names));
  plat::LinkedPtr<hosted::BedMap> inner(new hosted::BedMap);
  inner->setString("name", "again");
  map->set("inner", inner);

  BedRef copy = hosted::BedValue::clone(*map);
  hosted::BedMap& m = copy->asMap();
  EXPECT_STREQ(m.get("name")->asString().text(), "h\xC3\xA9llo");
  EXPECT_EQ(m.get("big")->asInt().value(), INT64_MAX);
  EXPECT_TRUE(m.get("on")->asBool().value());
  EXPECT_EQ(m.get("when")->asTime().value(), 134170743670890000);
  EXPECT_EQ(m.get("early")->asTime().value(), -10000);  // sub-millisecond ticks are dropped
  EXPECT_EQ(toHex(m.get("bytes")->asOpaque().bytes().data(), 2), "00 FF");
  std::vector<std::string> back;
  for (const plat::CharArray& name : m.getSeqOrEmpty("names").toStringSet()) back.push_back(name.c_str());
  EXPECT_THAT(back, ::testing::ElementsAre("a", "b"));
  EXPECT_STREQ(m.get("inner")->asMap().get("name")->asString().text(), "again");
  // Entries keep their order, and the copy encodes to the same bytes.
  EXPECT_EQ(encodedHex(*copy), encodedHex(*map));
}

TEST(BedEncoding, UnknownItemsEncodeAgainByteForByte) {
  // A boolean of width 2, a time of width 2, an unknown fixed and variable
  // kind, and an unknown composite kind holding one of them.
  for (const char* encoded : {"E1 01 01 43 00 00 00 01", "E1 01 01 42 00 00 00 05", "E1 01 01 05 07",
                              "E1 01 01 82 02 AA BB", "E1 01 01 E5 01 02 01 01 A4 00 01 00"}) {
    SCOPED_TRACE(encoded);
    BedRef value = decode(hex(encoded));
    EXPECT_EQ(encodedHex(*value), encoded);
    EXPECT_THAT(yarl_test::failureOf<hosted::BedBadType>([&] { value->asSeq().get(0)->asInt(); }),
                "Unexpected BED type");
  }
}

TEST(BedEncoding, TimesCarryTheirOffsetFromUtc) {
  // The fields of 2026-03-04T05:06:07.089 at +01:00 and at -01:00.
  EXPECT_EQ(decode(hex("62 03 F5 19 0A 30 E2 C8 3C"))->asTime().value(),
            134170743670890000 - 3600 * plat::kTicksPerSecond);
  EXPECT_EQ(decode(hex("62 03 F5 19 0A 30 E2 CF C4"))->asTime().value(),
            134170743670890000 + 3600 * plat::kTicksPerSecond);
  // A year the 14-bit field cannot hold is refused by the writer.
  EXPECT_EQ(
      yarl_test::failureOf<hosted::BedException>([] { hosted::BedValue::encodeToBuffer(hosted::BedTime(INT64_MAX)); }),
      "BED time out of range");
}

TEST(BedDecoding, MalformedInputIsRefusedWithItsReason) {
  struct Case {
    const char* input;
    bool requireMap;
    const char* message;
  };
  // clang-format off
  const Case cases[] = {
      {"E0 01 03 80 01 61 01 01 01 01", false, "BED map bad length"},
      {"E0 01 04 80 01 61 01 01 00 00 01 02", false, "BED decode error"},
      {"E0 01 02 01 01 01 01", false, "Unexpected BED type"},
      {"00 00", false, "BED decode error"},
      {"E1 01 02 80 01 61 20 00 01", false, "BED decode error"},  // index 1 of a one-entry table
      // Milliseconds 1000, and 2026-04-31.
      {"62 03 F5 19 0A 30 FF 40 00", false, "BED decode error"},
      {"62 03 F5 27 CA 30 E2 C8 00", false, "BED decode error"},
      // Bits 61-63 set.
      {"62 23 F5 19 0A 30 E2 C8 00", false, "BED decode error"},
      {"03 02", false, "BED decode error"},
      {"80 02 61 00", false, "BED decode error"},  // a NUL inside a text
      {"80 02 C3 28", false, "BED decode error"},  // not UTF-8
      {"", false, "Truncated BED"},
      {"41 00 00", false, "Truncated BED"},
      {"80 05 61 62", false, "Truncated BED"},
      {"C1 00 00 10 00", false, "Truncated BED"},
      {"E1 01 03 01 01", false, "Truncated BED"},
      {"E0 01 00 00", true, "Trailing bytes after BED"},
      {"E1 01 00", true, "Unexpected BED type"},
      {"E1 80 01 61", false, "Unexpected BED type"},  // a count that is not an integer
      // Lengths and counts at the default limit of 16 MiB.
      {"C0 01 00 00 00", false, "BED variable data too large"},
      {"C1 FF FF FF FF", false, "BED variable data too large"},
      {"E1 41 00 20 00 00", false, "BED composite bad length"},
      {"E1 01 FF", false, "BED composite bad length"},  // -1 read as unsigned
      {"E1 61 00 00 00 00 7F FF FF FF", false, "BED composite bad length"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(decodeFailure(hex(c.input), c.requireMap), c.message);
  }
  // The type of every BED failure.
  try {
    decode(hex("03 02"));
  } catch (const hosted::BedException& e) {
    EXPECT_STREQ(e.typeName(), "HostedBED");
  }
}

Bytes nestedSeqs(int levels) {
  Bytes out;
  for (int i = 0; i < levels; ++i) out.insert(out.end(), {0xE1, 0x01, 0x01});
  out.back() = 0x02;
  out.insert(out.end(), {0x01, 0x05, 0x03, 0x01});
  return out;
}

TEST(BedDecoding, SequencesNestThirtyOneDeep) {
  BedRef value = decode(nestedSeqs(31));
  for (int i = 1; i < 31; ++i) value = value->asSeq().get(0);
  EXPECT_EQ(value->asSeq().get(0)->asInt().value(), 5);
  EXPECT_EQ(decodeFailure(nestedSeqs(32)), "Unsupported nesting");
}

// Sets _MaxBedSize for one test.
class MaxBedSizeOverride {
 public:
  explicit MaxBedSizeOverride(int value) {
    EXPECT_TRUE(hosted::maxBedSize.setIntValue(value, plat::ConfigParameter::kPreference));
  }
  ~MaxBedSizeOverride() { hosted::maxBedSize.unsetParam(plat::ConfigParameter::kPreference); }
};

TEST(BedDecoding, TheSizeLimitBoundsItemsLengthsAndCounts) {
  MaxBedSizeOverride limit(64);
  // A sequence of 58 opaque bytes and one more item that starts at 63.
  Bytes fits = hex("E1 01 02 81 3A");
  fits.resize(fits.size() + 58, 0xAA);
  Bytes over = fits;
  fits.insert(fits.end(), {0x01, 0x05});
  EXPECT_EQ(decode(fits)->asSeq().size(), 2);
  // A sequence there has its count item start at 64.
  over.insert(over.end(), {0xE1, 0x01, 0x00});
  EXPECT_EQ(decodeFailure(over), "BED data too large");
  EXPECT_EQ(decodeFailure(hex("81 3E")), "BED variable data too large");
  // Counted items are charged eight bytes each.
  EXPECT_EQ(decodeFailure(hex("E1 01 08")), "BED composite bad length");
  EXPECT_EQ(decode(hex("E1 01 07 01 01 01 02 01 03 01 04 01 05 01 06 01 07"))->asSeq().size(), 7);
}

TEST(BedDecoding, ContentTypesNameBedOrOctetStream) {
  const Bytes map = hex("E0 01 00");
  for (const char* type : {"application/vnd.corvane.bed", "application/octet-stream",
                           " \tApplication/VND.Corvane.BED\r\n", "APPLICATION/OCTET-STREAM"}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(decode(map, true, type)->asMap().size(), 0);
  }
  EXPECT_EQ(decode(map, true, nullptr)->asMap().size(), 0);
  for (const char* type : {"application/vnd.corvane.bed; charset=utf-8", "application/json", ""}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(decodeFailure(map, true, type), "Unknown Content-Type");
  }
}

TEST(BedDecoding, AReaderOverAStreamLeavesTheRestUnread) {
  const Bytes bytes = hex("99 E0 01 00 77");
  rdr::MemInStream in(bytes.data(), static_cast<int32_t>(bytes.size()));
  in.skip(1);
  hosted::BedReader reader(in);
  EXPECT_EQ(hosted::BedValue::decode(reader, nullptr, true)->asMap().size(), 0);
  EXPECT_EQ(reader.consumed(), 3);
  EXPECT_EQ(in.readU8(), 0x77);
}

TEST(BedMap, LookupsAndReplacement) {
  hosted::BedMap map;
  map.setInt("a", 1);
  map.setString("b", "x");
  map.setInt("a", 2);
  map.set("n", BedRef());
  ASSERT_EQ(map.size(), 3);
  EXPECT_STREQ(map.entries()[0].key.get(), "a");  // replaced in place
  EXPECT_EQ(map.get("a")->asInt().value(), 2);
  EXPECT_EQ(map.find("zz"), map.end());
  EXPECT_EQ(yarl_test::failureOf<hosted::BedException>([&] { map.get("zz"); }), "BED key 'zz' not found");
  EXPECT_EQ(yarl_test::failureOf<hosted::BedException>([&] { map.get("n"); }), "BED key 'n' not found");
  EXPECT_EQ(map.getSeqOrEmpty("zz").size(), 0);
  EXPECT_EQ(map.getSeqOrEmpty("n").size(), 0);
  EXPECT_EQ(yarl_test::failureOf<hosted::BedBadType>([&] { map.getSeqOrEmpty("a"); }), "Unexpected BED type");

  hosted::BedSeq seq;
  seq.append(BedRef(new hosted::BedInt(4)));
  EXPECT_EQ(seq.get(0)->asInt().value(), 4);
  for (int index : {-1, 1}) {
    EXPECT_EQ(yarl_test::failureOf<hosted::BedException>([&] { seq.get(index); }), "BED index not found");
  }
  EXPECT_EQ(yarl_test::failureOf<hosted::BedBadType>([&] { seq.toStringSet(); }), "Unexpected BED type");
}

TEST(BedFindKeyRaw, ReturnsTheValueAsItStandsInTheInput) {
  // {"a": "ab", "b": [1], "c": "ab"}: the value of "c" is a back-reference.
  const Bytes map = hex("E0 01 06 80 01 61 80 02 61 62 80 01 62 E1 01 01 01 01 80 01 63 00 01");
  struct Case {
    const char* key;
    const char* span;
  };
  for (const Case& c : {Case{"a", "80 02 61 62"}, Case{"b", "E1 01 01 01 01"}, Case{"c", "00 01"}}) {
    SCOPED_TRACE(c.key);
    hosted::BedSpan span = hosted::Bed::findKeyRaw(static_cast<int32_t>(map.size()), map.data(), c.key);
    EXPECT_EQ(toHex(span.data, span.length), c.span);
    EXPECT_GE(span.data, map.data());
    EXPECT_LE(span.data + span.length, map.data() + map.size());
  }

  auto failure = [](const Bytes& bytes, const char* key) {
    return yarl_test::failureOf<hosted::BedException>(
        [&] { hosted::Bed::findKeyRaw(static_cast<int32_t>(bytes.size()), bytes.data(), key); });
  };
  EXPECT_EQ(failure(map, "d"), "BED key 'd' not found");
  EXPECT_EQ(failure(Bytes(), "a"), "BED data not a map");
  EXPECT_EQ(failure(hex("E1 01 00"), "a"), "BED data not a map");
  EXPECT_EQ(failure(hex("E0 01 03"), "a"), "BED decode error");
  EXPECT_EQ(failure(hex("E0 01 FE"), "a"), "BED decode error");
  EXPECT_EQ(failure(hex("E0 01 04 80 01 61 01"), "a"), "Truncated BED");
  EXPECT_EQ(failure(hex("E0 01 02 80 01 61"), "a"), "Truncated BED");
  EXPECT_EQ(failure(hex("E0 01 02 01 01 01 01"), "a"), "Unexpected BED type");
}

TEST(BedText, TheTextFormOfEachClass) {
  plat::LinkedPtr<hosted::BedMap> quote(new hosted::BedMap);
  quote->setString("k", "a\"b");
  EXPECT_EQ(text(*quote), "{\n  \"k\" \"a\\\"b\"\n}");

  plat::LinkedPtr<hosted::BedMap> map(new hosted::BedMap);
  map->setInt("n", -3);
  map->setBool("t", true);
  map->setBool("f", false);
  map->setTime("when", 134170743670890000);
  map->setString("s", "\t\n\r\\\x01\xC3\xA9\xF0\x9F\x98\x80~");
  map->set("o", BedRef(new hosted::BedOpaque("\x01\x02\x03", 3)));
  map->set("m", BedRef(new hosted::BedMap));
  plat::LinkedPtr<hosted::BedSeq> seq(new hosted::BedSeq);
  seq->append(BedRef(new hosted::BedInt(1)));
  seq->append(BedRef(new hosted::BedSeq));
  map->set("q", seq);
  map->set("u", decode(hex("E1 01 02 43 00 00 00 01 E5 01 00"))->asSeq().get(1));
  map->set("r", decode(hex("E1 01 01 43 00 00 00 01"))->asSeq().get(0));
  EXPECT_EQ(text(*map),
            "{\n"
            "  \"n\" -3\n"
            "  \"t\" @TRUE\n"
            "  \"f\" @FALSE\n"
            "  \"when\" @date-time(2026-03-04T05:06:07.089+00:00)\n"
            "  \"s\" \"\\t\\n\\r\\\\\\u0001\\u00E9\\u1F600~\"\n"
            "  \"o\" @binary(AQID)\n"
            "  \"m\" {\n"
            "  }\n"
            "  \"q\" [\n"
            "    1\n"
            "    [\n"
            "    ]\n"
            "  ]\n"
            "  \"u\" @unknown[5\n"
            "  ]\n"
            "  \"r\" @unknown(QwAAAAE=)\n"
            "}");
}

TEST(BedText, AddressesAndApplicationDataGetComments) {
  plat::LinkedPtr<hosted::BedMap> map(new hosted::BedMap);
  map->set("any/ip-address", BedRef(new hosted::BedOpaque("\x7F\x00\x00\x01", 4)));
  plat::LinkedPtr<hosted::BedMap> inner(new hosted::BedMap);
  map->set("v6", BedRef(new hosted::BedMap));
  map->get("v6")->asMap().set(
      "any/ip-address",
      BedRef(new hosted::BedOpaque("\x20\x01\x0d\xb8\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01", 16)));
  inner->setInt("x", 1);
  plat::Buffer innerBytes = hosted::BedValue::encodeToBuffer(*inner);
  map->set("any/application-data", BedRef(new hosted::BedOpaque(innerBytes)));
  plat::LinkedPtr<hosted::BedMap> bad(new hosted::BedMap);
  bad->set("any/application-data", BedRef(new hosted::BedOpaque("\x01", 1)));
  EXPECT_EQ(text(*map),
            "{\n"
            "  \"any/ip-address\" @binary(fwAAAQ==) # 127.0.0.1\n"
            "  \"v6\" {\n"
            "    \"any/ip-address\" @binary(IAENuAAAAAAAAAAAAAAAAQ==) # 2001:db8:0:0:0:0:0:1\n"
            "  }\n"
            "  \"any/application-data\" @binary(4AECgAF4AQE=)\n"
            "    # {\n"
            "    #   \"x\" 1\n"
            "    # }\n"
            "}");
  EXPECT_EQ(text(*bad),
            "{\n"
            "  \"any/application-data\" @binary(AQ==)\n"
            "    # <not BED-encoded data: Truncated BED>\n"
            "}");
}

TEST(BedText, ApplicationDataNestsNoDeeperThanValues) {
  // Application data inside application data, 40 levels: the innermost
  // renderings give up instead of recursing on.
  plat::Buffer bytes = hosted::BedValue::encodeToBuffer(hosted::BedMap());
  for (int i = 0; i < 40; ++i) {
    hosted::BedMap outer;
    outer.set("any/application-data", BedRef(new hosted::BedOpaque(bytes)));
    bytes = hosted::BedValue::encodeToBuffer(outer);
  }
  plat::CharArray rendering = hosted::Bed::toString(bytes.count(), bytes.data(), nullptr);
  EXPECT_THAT(rendering.c_str(), HasSubstr("<not BED-encoded data: Unsupported nesting>"));
}

TEST(BedText, BytesThatAreNotAMapSayWhy) {
  const Bytes seq = hex("E1 01 00");
  EXPECT_STREQ(hosted::Bed::toString(3, seq.data(), nullptr).c_str(), "<not BED-encoded data: Unexpected BED type>");
  const Bytes map = hex("E0 01 02 80 01 61 01 01");
  EXPECT_STREQ(hosted::Bed::toString(8, map.data(), "text/plain").c_str(),
               "<not BED-encoded data: Unknown Content-Type>");
  EXPECT_STREQ(hosted::Bed::toString(8, map.data(), nullptr).c_str(), "{\n  \"a\" 1\n}");
}

}  // namespace
