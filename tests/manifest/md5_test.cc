// tests/manifest/md5_test.cc
#include "manifest/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "manifest/file_hashes.h"
#include "tests/support/manifest_md5_oracle.h"

namespace brevick {
namespace {

using testing::OpenSslMd5;
using testing::RandomBytes;

std::string Md5Hex(std::string_view bytes) { return DigestToText(Md5::Of(bytes.data(), bytes.size())); }

TEST(Md5Test, MatchesTheReferenceTestSuite) {
  const struct { std::string_view message; std::string_view digest; } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(c.digest, Md5Hex(c.message));
  }
}

TEST(Md5Test, EqualsOpenSslAtEveryPaddingBoundaryAndBlockSize) {
  // 55/56 decide whether the length fits in the last block; 9999 to 10001
  // straddle the file reader's block; the last is several MB.
  const std::size_t sizes[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 9999, 10000, 10001, 5 * 1024 * 1024 + 17};
  unsigned seed = 1;
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, seed++);
    EXPECT_EQ(DigestToText(OpenSslMd5(bytes)), Md5Hex(bytes));
  }
}

TEST(Md5Test, GivesTheSameDigestHoweverTheMessageIsSplitAndStartsOverAfterFinal) {
  const std::string bytes = RandomBytes(3000, 7);
  const std::string whole = DigestToText(OpenSslMd5(bytes));
  Md5 md5;
  md5.Update("junk", 4);
  md5.Final();  // the next message must not see the junk
  for (const std::size_t piece : {1, 55, 63, 64, 65, 1000}) {
    SCOPED_TRACE(piece);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      md5.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    EXPECT_EQ(whole, DigestToText(md5.Final()));
  }
}

}  // namespace
}  // namespace brevick
