#include <gtest/gtest.h>
#include <mbedtls/bignum.h>

#include <string>

#include "qocore/base/crypto/BigNum.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/rdr/ByteReader.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"

namespace {

using crypto_test::toHex;
using yarl_test::failureOf;

struct Mpi {
  Mpi() { mbedtls_mpi_init(&x); }
  explicit Mpi(const char* hex) : Mpi() { EXPECT_EQ(mbedtls_mpi_read_string(&x, 16, hex), 0); }
  ~Mpi() { mbedtls_mpi_free(&x); }
  std::string hex() const {
    char buf[2100];
    size_t n = 0;
    EXPECT_EQ(mbedtls_mpi_write_string(&x, 16, buf, sizeof buf, &n), 0);
    return buf;
  }
  mbedtls_mpi x;
};

std::string written(rdr::MemOutStream& out) {
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

TEST(BigNumTest, FixedAndVariableFieldsRoundTrip) {
  struct Case {
    const char* value;
    int n;  // fixed width; negative: variable with maxLen -n
    int minLen;
    const char* encoding;
  };
  // clang-format off
  const Case cases[] = {
      {"01", 4, 0, "00000001"},
      {"ABCDEF", 3, 0, "abcdef"},
      {"0100", -2, 0, "00020100"},
      {"01", -300, 8, "00080000000000000001"},
      {"FF", -300, 0, "0001ff"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    Mpi x(c.value);
    rdr::MemOutStream out;
    if (c.n >= 0) {
      crypto::bigNumWriteF(out, x.x, c.n);
    } else {
      crypto::bigNumWriteV(out, x.x, -c.n, c.minLen);
    }
    std::string data = written(out);
    EXPECT_EQ(toHex(data), c.encoding);

    rdr::MemInStream in(data.data(), static_cast<int32_t>(data.size()));
    rdr::ByteReader reader;
    Mpi back;
    EXPECT_TRUE(c.n >= 0 ? crypto::bigNumReadF(in, back.x, c.n, reader)
                         : crypto::bigNumReadV(in, back.x, reader, -c.n));
    EXPECT_EQ(mbedtls_mpi_cmp_mpi(&back.x, &x.x), 0) << back.hex();
    EXPECT_TRUE(in.atEnd());
    EXPECT_FALSE(reader.busy());
  }
}

TEST(BigNumTest, MalformedFieldsAreRefused) {
  struct Case {
    const char* input;  // hex
    int n;              // fixed width; negative: variable with maxLen -n
    const char* message;
    int consumed;
  };
  // clang-format off
  const Case cases[] = {
      {"00000000", 4, "bigNumReadF invalid bytes", 4},
      {"0000", -256, "bigNumReadF invalid bytes", 2},
      {"000200000102", -256, "bigNumReadF invalid bytes", 4},
      // Refused on the length alone: the body is never read.
      {"0101", -256, "bigNumReadV overflow", 2},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::string data;
    for (size_t i = 0; c.input[i]; i += 2)
      data += static_cast<char>(std::stoi(std::string(c.input + i, 2), nullptr, 16));
    rdr::MemInStream in(data.data(), static_cast<int32_t>(data.size()));
    rdr::ByteReader reader;
    Mpi x;
    EXPECT_EQ(
        failureOf<crypto::BigNumOverflow>([&] {
          (void)(c.n >= 0 ? crypto::bigNumReadF(in, x.x, c.n, reader) : crypto::bigNumReadV(in, x.x, reader, -c.n));
        }),
        c.message);
    EXPECT_EQ(in.pos(), c.consumed);
    EXPECT_FALSE(reader.busy());
  }
}

TEST(BigNumTest, ANumberTooLargeForItsFieldWritesNothing) {
  Mpi x("010000");
  rdr::MemOutStream out;
  EXPECT_EQ(failureOf<crypto::BigNumOverflow>([&] { crypto::bigNumWriteF(out, x.x, 2); }), "bigNumWriteF overflow");
  EXPECT_EQ(out.length(), 0);
  // The variable form has written its length by the time the number fails.
  EXPECT_EQ(failureOf<crypto::BigNumOverflow>([&] { crypto::bigNumWriteV(out, x.x, 2); }), "bigNumWriteF overflow");
  EXPECT_EQ(toHex(written(out)), "0002");
}

// Fields arriving in pieces through a real pipe: each call before the last
// piece answers false and keeps what it has.
TEST(BigNumTest, FieldsArrivingInPiecesAreCompletedAcrossCalls) {
  std::string value(256, '\0');
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>(i * 7 + 1);
  for (bool variable : {false, true}) {
    SCOPED_TRACE(variable ? "variable" : "fixed");
    std::string data = variable ? std::string("\x01\x00", 2) + value : value;
    for (size_t piece : {data.size() / 2, size_t{1}}) {
      SCOPED_TRACE(piece);
      rdr::MemIoStream pipe(nullptr, -1, 64);
      rdr::InStream& in = pipe;
      rdr::OutStream& out = pipe;
      rdr::ByteReader reader;
      Mpi x;
      size_t fed = 0;
      bool done = false;
      while (!done) {
        ASSERT_LT(fed, data.size()) << "not complete after every byte";
        size_t n = std::min(piece, data.size() - fed);
        out.writeBytes(data.data() + fed, static_cast<int32_t>(n));
        out.flush();
        fed += n;
        done = variable ? crypto::bigNumReadV(in, x.x, reader, 256) : crypto::bigNumReadF(in, x.x, 256, reader);
        EXPECT_EQ(done, fed == data.size());
      }
      unsigned char back[256];
      ASSERT_EQ(mbedtls_mpi_write_binary(&x.x, back, sizeof back), 0);
      EXPECT_EQ(toHex(back, sizeof back), toHex(value));
      EXPECT_EQ(in.pos(), static_cast<int32_t>(data.size()));
    }
  }
}

}  // namespace
