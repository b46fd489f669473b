// tests/digest/md5_test.cc
#include "digest/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/hashing_step.h"
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

// Messages fed side by side must digest exactly as each alone, on every
// kernel and with any number of messages up to its lanes: from a block
// boundary (the fast path) or after a partial block of one of them (the
// fallback), through the padding boundaries, and whatever is fed after.
TEST(Md5Test, MessagesSideBySideDigestAsEachAloneOnEveryKernel) {
  const struct {
    std::size_t lead;  // bytes fed to the last message alone before the others join it
    std::size_t side;  // bytes then fed to all at once
  } cases[] = {
      // clang-format off
      {0, 0}, {0, 1}, {0, 55}, {0, 56}, {0, 63}, {0, 64}, {0, 65}, {0, 640},
      {64, 64}, {1, 128}, {5, 1000}, {128, 4096 + 7}, {0, 1024 * 1024 + 9},
      // clang-format on
  };
  unsigned seed = 100;
  for (const Md5Kernel kernel : {Md5Kernel::kScalar, Md5Kernel::kTwoLanes, Md5Kernel::kAvx2}) {
    if (kernel == Md5Kernel::kAvx2 && !CpuHasAvx2()) continue;
    for (int count = 1; count <= LaneCount(kernel); ++count) {
      for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << LaneCount(kernel) << "-lane kernel, " << count
                                          << " messages, " << c.lead << " then " << c.side);
        std::vector<std::string> messages;
        messages.reserve(static_cast<std::size_t>(count));  // `starts` points into them
        std::vector<Md5> digests(static_cast<std::size_t>(count));
        std::vector<Md5*> pointers;
        std::vector<const std::uint8_t*> starts;
        for (int i = 0; i < count; ++i) {
          const std::size_t lead = i + 1 == count ? c.lead : 0;
          messages.push_back(RandomBytes(lead + c.side + 11, seed++));
          digests[i].Update(messages[i].data(), lead);
          pointers.push_back(&digests[i]);
          starts.push_back(reinterpret_cast<const std::uint8_t*>(messages[i].data()) + lead);
        }
        Md5::UpdateLanes(kernel, pointers, starts, c.side);
        for (int i = 0; i < count; ++i) {
          digests[i].Update(messages[i].data() + messages[i].size() - 11, 11);
          EXPECT_EQ(DigestToText(OpenSslMd5(messages[i])), DigestToText(digests[i].Final())) << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace brevick
