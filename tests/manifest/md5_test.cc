// tests/manifest/md5_test.cc
#include "manifest/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "manifest/file_hashes.h"
#include "tests/support/manifest_md5_oracle.h"

namespace brevick {
namespace {

using testing::OpenSslMd5;
using testing::RandomBytes;

std::string Hex(const Md5Digest& digest) { return DigestToText(digest); }

std::string Md5Hex(std::string_view bytes) { return Hex(Md5::Of(bytes.data(), bytes.size())); }

TEST(Md5Test, MatchesTheReferenceTestSuite) {
  const struct { std::string_view message; std::string_view digest; } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(c.digest, Md5Hex(c.message));
  }
}

TEST(Md5Test, EqualsOpenSslAtEveryPaddingBoundaryAndBlockSize) {
  // 55/56 and 119/120 decide whether the length fits in the last block; 9999
  // to 10001 straddle the file reader's block; the last is several MB.
  const std::size_t sizes[] = {0,   1,    55,   56,   57,    63,    64,    65,    119,
                               120, 127,  128,  129,  1000,  9999,  10000, 10001, 20000,
                               65536, 100003, 5 * 1024 * 1024 + 17};
  unsigned seed = 1;
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, seed++);
    EXPECT_EQ(Hex(OpenSslMd5(bytes)), Md5Hex(bytes));
  }
}

TEST(Md5Test, GivesTheSameDigestHoweverTheMessageIsSplit) {
  const std::string bytes = RandomBytes(3000, 7);
  const Md5Digest whole = OpenSslMd5(bytes);
  for (const std::size_t piece : {1, 3, 55, 63, 64, 65, 127, 1000, 2999}) {
    SCOPED_TRACE(piece);
    Md5 md5;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      md5.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    md5.Update(bytes.data(), 0);  // an empty piece changes nothing
    EXPECT_EQ(Hex(whole), Hex(md5.Final()));
  }
}

TEST(Md5Test, StartsOverAfterFinal) {
  Md5 md5;
  md5.Update("junk", 4);
  md5.Final();
  md5.Update("abc", 3);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(md5.Final()));
}

TEST(Md5Test, DigestTextIsLowercaseHexHighNibbleFirst) {
  Md5Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 17 + 10);
  EXPECT_EQ("0a1b2c3d4e5f708192a3b4c5d6e7f809", DigestToText(digest));
  EXPECT_EQ(std::string(32, 'f'), DigestToText(Md5Digest{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                                                           0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(std::string(32, '0'), DigestToText(Md5Digest{}));
}

}  // namespace
}  // namespace brevick
