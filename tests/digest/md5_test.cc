// tests/manifest/md5_test.cc
#include "digest/md5.h"

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

std::string Md5Hex(std::string_view bytes) {
  return DigestToText(Md5::Of(bytes.data(), bytes.size()));
}

TEST(Md5Test, MatchesTheReferenceTestSuite) {
  const struct {
    std::string_view message;
    std::string_view digest;
  } cases[] = {
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

TEST(Md5Test, EqualsOpenSslAtEveryPaddingBoundaryHoweverTheMessageIsSplit) {
  // 55/56 decide whether the length fits in the last block; 9999 to 10001
  // straddle the file reader's block; the last is several MB.
  const std::size_t sizes[] = {
      0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 9999, 10000, 10001, 5 * 1024 * 1024 + 17};
  unsigned seed = 1;
  Md5 reused;  // Final starts over, so one object serves every message
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, seed++);
    const std::string expected = DigestToText(OpenSslMd5(bytes));
    EXPECT_EQ(expected, Md5Hex(bytes));
    // Pieces of 63 bytes leave every offset within a block pending once.
    for (std::size_t at = 0; at < size; at += 63) {
      reused.Update(bytes.data() + at, std::min<std::size_t>(63, size - at));
    }
    EXPECT_EQ(expected, DigestToText(reused.Final()));
  }
}

// Two messages fed side by side must digest exactly as each alone, whether
// the pair starts on a block boundary (the fast path) or after a partial
// block of either (the fallback), and whatever is fed after the pair.
TEST(Md5Test, TwoMessagesSideBySideDigestAsEachAlone) {
  const struct {
    std::size_t firstLead;   // bytes fed to the first digest alone before the pair
    std::size_t secondLead;  // the same for the second
    std::size_t paired;      // bytes fed to both at once
  } cases[] = {
      {0, 0, 0},
      {0, 0, 1},
      {0, 0, 63},
      {0, 0, 64},
      {0, 0, 65},
      {0, 0, 640},
      {64, 0, 64},
      {0, 1, 128},
      {5, 5, 1000},
      {128, 64, 4096 + 7},
      {0, 0, 3 * 1024 * 1024 + 9},
  };
  unsigned seed = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.firstLead << "+" << c.secondLead << " then " << c.paired << " side by side");
    const std::string first = RandomBytes(c.firstLead + c.paired + 11, seed++);
    const std::string second = RandomBytes(c.secondLead + c.paired + 13, seed++);
    Md5 firstDigest;
    Md5 secondDigest;
    firstDigest.Update(first.data(), c.firstLead);
    secondDigest.Update(second.data(), c.secondLead);
    Md5::UpdatePair(firstDigest, first.data() + c.firstLead, secondDigest,
                    second.data() + c.secondLead, c.paired);
    firstDigest.Update(first.data() + c.firstLead + c.paired, 11);
    secondDigest.Update(second.data() + c.secondLead + c.paired, 13);
    EXPECT_EQ(DigestToText(OpenSslMd5(first)), DigestToText(firstDigest.Final()));
    EXPECT_EQ(DigestToText(OpenSslMd5(second)), DigestToText(secondDigest.Final()));
  }
}

}  // namespace
}  // namespace brevick
