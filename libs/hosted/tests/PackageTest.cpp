#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "libs/hosted/PackageReader.h"
#include "libs/hosted/PackageWriter.h"
#include "libs/hosted/tests/HexBytes.h"
#include "qocore/base/crypto/Sha.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using Bytes = std::string;

Bytes unhex(const std::string& text) {
  const std::vector<uint8_t> bytes = hosted_test::hexBytes(text);
  return Bytes(bytes.begin(), bytes.end());
}

Bytes packageOf(const hosted::PackageWriter& writer) {
  rdr::MemOutStream out;
  writer.write(out);
  return Bytes(reinterpret_cast<const char*>(out.data()), out.length());
}

std::string sectionText(const hosted::PackageReader& reader, const char* name) {
  const plat::Buffer& b = reader.getSection(name);
  return std::string(reinterpret_cast<const char*>(b.data()), b.count());
}

const char* const kEmpty = "2E BE DE E0 00 00 00 14 00 00 00 00 00 00 00 14 F1 04 EA CE";
const char* const kOneSection =
    "2E BE DE E0 00 00 00 1F 00 00 00 01 61 00 00 00 02 01 02 00 00 00 00 00 00 00 1F F1 04 EA CE";

TEST(PackageWriter, WritesTheLayoutInNameOrder) {
  hosted::PackageWriter empty;
  EXPECT_EQ(packageOf(empty), unhex(kEmpty));

  hosted::PackageWriter one;
  one.addSection("a", "\x09", 1);
  one.addSection("a", "\x01\x02", 2);  // replaces
  EXPECT_EQ(packageOf(one), unhex(kOneSection));

  hosted::PackageWriter three;
  three.addSection("b", "B", 1);
  three.addSection("a", "A", 1);
  three.addSection(hosted::kPackageSignatureSection, "S", 1);
  Bytes bytes = packageOf(three);
  hosted::PackageReader reader(static_cast<int32_t>(bytes.size()), bytes.data());
  std::vector<std::string> names;
  for (const auto& [name, data] : reader.sections()) names.push_back(name.c_str());
  EXPECT_THAT(names, ::testing::ElementsAre("a", "b", hosted::kPackageSignatureSection));
  EXPECT_LT(bytes.find("\x01"
                       "a"),
            bytes.find("\x01"
                       "b"));

  // The signed content leaves out the signature; the digest covers it.
  const plat::Buffer signedContent = reader.getSignedContent();
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(signedContent.data()), signedContent.count()),
            unhex("00 00 00 01 61 00 00 00 01 41 00 00 00 01 62 00 00 00 01 42"));
  // SHA-1 of "aAbBzzz.package.signatureS".
  const plat::Buffer digest = reader.digest();
  ASSERT_EQ(digest.count(), 20);
  plat::Buffer expected;
  const std::string digested = std::string("aAbB") + hosted::kPackageSignatureSection + "S";
  crypto::digestOneShot(160, digested.size(), digested.data(), expected, true);
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(digest.data()), 20),
            Bytes(reinterpret_cast<const char*>(expected.data()), 20));
}

TEST(PackageReader, ReadsFromMemoryWhateverTheHeaderSays) {
  Bytes bytes = unhex(kOneSection);
  bytes.replace(0, 8, "anything");
  hosted::PackageReader reader(static_cast<int32_t>(bytes.size()), bytes.data());
  EXPECT_EQ(sectionText(reader, "a"), "\x01\x02");
  EXPECT_EQ(yarl_test::failureOf<hosted::PackageException>([&] { reader.getSection("b"); }),
            "b package does not exist");
}

TEST(PackageReader, FindsThePackageInsideALargerFile) {
  yarl_test::TempDir dir;
  const Bytes package = unhex(kOneSection);
  struct Case {
    const char* what;
    Bytes contents;
  };
  const Case cases[] = {
      {"alone", package},
      {"appended to other data", Bytes(5000, 'x') + package},
      {"followed by other data", package + Bytes(3000, 'y')},
      {"inside other data", Bytes(700, 'x') + package + Bytes(3000, 'y')},
      // Its start marker across the boundary of the first two windows.
      {"across a window boundary", Bytes(1022, 'x') + package + Bytes(10, 'y')},
      // A start marker whose trailer does not match comes first.
      {"after a false start", Bytes(10, 'x') + unhex("2E BE DE E0 00 00 00 1F") + Bytes(40, 'z') + package + "yy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hosted::PackageReader reader(dir.write("pkg", c.contents).c_str());
    ASSERT_EQ(reader.sections().size(), 1u);
    EXPECT_EQ(sectionText(reader, "a"), "\x01\x02");
  }
}

TEST(PackageReader, MalformedPackagesAreRefused) {
  yarl_test::TempDir dir;
  auto fileFailure = [&dir](const Bytes& contents) {
    const std::string path = dir.write("pkg", contents);
    return yarl_test::failureOf<plat::Exception>([&] { hosted::PackageReader reader(path.c_str()); });
  };
  auto section = [](const Bytes& name, const Bytes& lengthAndData) {
    Bytes out = unhex("00 00 00");
    out.push_back(static_cast<char>(name.size()));
    return out + name + lengthAndData;
  };
  auto wrap = [](const Bytes& sections) {
    const uint32_t total = static_cast<uint32_t>(sections.size() + 20);
    Bytes len = {char(total >> 24), char(total >> 16), char(total >> 8), char(total)};
    return unhex("2E BE DE E0") + len + sections + unhex("00 00 00 00") + len + unhex("F1 04 EA CE");
  };
  EXPECT_EQ(fileFailure(Bytes(19, 'x')), "Package is too small");
  EXPECT_EQ(fileFailure(Bytes(20, '\0')), "Malformed package file");
  EXPECT_EQ(fileFailure(unhex("2E BE DE E0 00 00 00 1F") + Bytes(30, 'x')), "Malformed package file");

  struct Case {
    const char* what;
    Bytes sections;
    const char* message;
  };
  const Case cases[] = {
      {"a 64-byte name", section(Bytes(64, 'n'), unhex("00 00 00 00")), "Invalid Section Name"},
      {"a NUL in a name", section(Bytes("a\0b", 3), unhex("00 00 00 00")), "Invalid Section Name"},
      {"a repeated name", section("x", unhex("00 00 00 00")) + section("x", unhex("00 00 00 00")),
       "Duplicate section (x) found in package"},
      // Data lengths past the package's end are short reads, whatever the
      // file holds after it.
      {"data past the trailer", section("x", unhex("00 00 00 20 01 02")), "End of IO stream"},
      {"a huge data length", section("x", unhex("FF FF FF F0")), "End of IO stream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes package = wrap(c.sections);
    EXPECT_EQ(yarl_test::failureOf<plat::Exception>(
                  [&] { hosted::PackageReader reader(static_cast<int32_t>(package.size()), package.data()); }),
              c.message);
    EXPECT_EQ(fileFailure(package + Bytes(100, 'z')), c.message);
  }
  // A memory package cut short.
  const Bytes cut = unhex(kOneSection).substr(0, 18);
  EXPECT_EQ(yarl_test::failureOf<rdr::EndOfStream>(
                [&] { hosted::PackageReader reader(static_cast<int32_t>(cut.size()), cut.data()); }),
            "End of IO stream");
}

TEST(PackageWriter, WritesAFileThatReadsBack) {
  yarl_test::TempDir dir;
  hosted::PackageWriter writer;
  writer.addSection("config", plat::Buffer(reinterpret_cast<const unsigned char*>("hello"), 5));
  const std::string path = dir / "out.pkg";
  writer.writeFile(path.c_str());
  EXPECT_EQ(yarl_test::readFile(path), packageOf(writer));
  hosted::PackageReader reader(path.c_str());
  EXPECT_EQ(sectionText(reader, "config"), "hello");

  EXPECT_THAT(yarl_test::failureOf<plat::Exception>([&] { writer.writeFile((dir / "no/such/dir").c_str()); }),
              ::testing::HasSubstr("Error opening"));
}

}  // namespace
