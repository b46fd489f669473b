// tests/digest/digest_test.cc: Brevick's own MD2 and MD5 against the
// published test vectors, and MD5 and SHA-256 on every kernel against OpenSSL.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/hex_text.h"
#include "digest/md2.h"
#include "digest/md5.h"
#include "digest/sha256_lanes.h"
#include "tests/support/bytes.h"
#include "tests/support/manifest_md5_oracle.h"

namespace brevick {
namespace {

using testing::OpenSslMd5;
using testing::RandomBytes;

TEST(DigestTest, MatchesThePublishedTestVectors) {
  std::string everyByte(1000, '\0');  // every byte value, over many blocks, ending mid-block
  for (std::size_t j = 0; j < everyByte.size(); ++j) everyByte[j] = static_cast<char>(j);
  const struct {
    std::string_view message;
    std::string_view md5;
    std::string_view md2;
  } cases[] = {
      // clang-format off
      {"", "d41d8cd98f00b204e9800998ecf8427e", "8350e5a3e24c153df2275c9f80692773"},
      {"a", "0cc175b9c0f1b6a831c399e269772661", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72", "da853b0d3f88d99b30283a69e6ded6bb"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", "ab4f496bfb2a530b219ff33031fe06b0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b", "4e8ddff3650292ab5a4108c3aa47940b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f", "da33def2a42df13975352846c30338cd"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "57edf4a22be3c955ac49da2e2107b67a", "d5976f79d83d3a0dc9806c3c66f3efd8"},
      {everyByte, "cbecbdb0fdd5cec1e242493b6008cc79", "8c57b2d1b34293baf4c84ac982649093"},  // MD2 from nettle
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(c.md5, HexText(Md5::Of(c.message.data(), c.message.size())));
    EXPECT_EQ(c.md2, HexText(ComputeMd2(testing::BytesOf(c.message))));
  }
}

// Messages fed side by side digest exactly as each alone, on every kernel and
// with any number of messages up to its lanes (SHA-256 on the SHA extensions
// in groups of four, two and one, or in sixteen AVX-512 lanes): from a block
// boundary (the fast path) or after a partial block of one of them (the
// fallback), through the padding boundaries, then the rest fed in pieces of
// 63 bytes, which leave every offset within a block pending once.
TEST(DigestTest, Md5AndSha256SideBySideOnEveryKernelEqualOpenSsl) {
  const struct {
    std::size_t lead;  // bytes fed to the last message alone before the others join it
    std::size_t side;  // bytes then fed to all at once
    std::size_t rest;  // bytes fed to each alone afterwards
  } cases[] = {
      // clang-format off
      {0, 0, 0}, {0, 0, 55}, {0, 0, 56}, {0, 0, 57}, {0, 0, 63}, {0, 0, 119}, {0, 0, 10001},
      {0, 1, 11}, {0, 55, 0}, {0, 56, 0}, {0, 63, 1}, {0, 64, 0}, {0, 65, 11}, {0, 640, 120},
      {64, 64, 11}, {1, 128, 0}, {5, 1000, 64}, {128, 4096 + 7, 11}, {0, 256 * 1024 + 9, 11},
      // clang-format on
  };
  unsigned seed = 100;
  std::vector<Md5> digests(kMd5MaxLanes);  // Final starts over, so they serve every case
  std::vector<Sha256> shas(kMd5MaxLanes);
  const bool sha = CpuHasShaNi();  // no SHA-256 kernel runs elsewhere
  const auto openSslSha256 = [](const std::string& bytes) {
    Sha256Digest digest;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr);
    return digest;
  };
  using enum Md5Kernel;
  for (const Md5Kernel kernel : {kScalar, kTwoLanes, kAvx2, kAvx512}) {
    if (LaneCount(kernel) > LaneCount(ChosenMd5Kernel())) continue;  // not on this CPU
    // Fewer than five messages go as scalar chains: both sides of that bound.
    for (const int count : {1, 2, 3, 4, 5, 8, 9, 16}) {
      if (count > LaneCount(kernel)) break;
      for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << LaneCount(kernel) << " lanes, " << count << " messages, " << c.lead << "+"
                     << c.side << "+" << c.rest);
        std::string messages[kMd5MaxLanes];
        Md5* pointers[kMd5MaxLanes];
        Sha256* shaPointers[kMd5MaxLanes];
        const std::uint8_t* starts[kMd5MaxLanes];
        for (int i = 0; i < count; ++i) {
          const std::size_t lead = i + 1 == count ? c.lead : 0;
          messages[i] = RandomBytes(lead + c.side + c.rest, seed++);
          digests[i].Update(messages[i].data(), lead);
          if (sha) shas[i].Update(messages[i].data(), lead);
          pointers[i] = &digests[i];
          shaPointers[i] = &shas[i];
          starts[i] = reinterpret_cast<const std::uint8_t*>(messages[i].data()) + lead;
        }
        Md5::UpdateLanes(kernel, {pointers, pointers + count}, {starts, starts + count}, c.side);
        if (sha)
          Sha256::UpdateStreams({shaPointers, shaPointers + count}, {starts, starts + count},
                                c.side,
                                LaneCount(kernel) == 8 ? kSha256MaxStreams : LaneCount(kernel));
        for (int i = 0; i < count; ++i) {
          for (std::size_t at = messages[i].size() - c.rest; at < messages[i].size(); at += 63) {
            const std::size_t piece = std::min<std::size_t>(63, messages[i].size() - at);
            digests[i].Update(messages[i].data() + at, piece);
            if (sha) shas[i].Update(messages[i].data() + at, piece);
          }
          EXPECT_EQ(OpenSslMd5(messages[i]), digests[i].Final()) << i;
          if (sha) {
            EXPECT_EQ(openSslSha256(messages[i]), shas[i].Final()) << i;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace brevick
