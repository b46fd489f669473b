// tests/signing/md2_test.cc
#include "digest/md2.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "tests/support/bytes.h"

namespace brevick {
namespace {

using testing::BytesOf;

TEST(Md2Test, MatchesTheReferenceTestSuite) {
  const struct {
    std::string_view input;
    std::string_view digest;
  } cases[] = {
      // clang-format off
      {"", "8350e5a3e24c153df2275c9f80692773"},
      {"a", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
      {"abc", "da853b0d3f88d99b30283a69e6ded6bb"},
      {"message digest", "ab4f496bfb2a530b219ff33031fe06b0"},
      {"abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "da33def2a42df13975352846c30338cd"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "d5976f79d83d3a0dc9806c3c66f3efd8"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    std::string hex;
    char pair[3];
    for (const std::uint8_t byte : ComputeMd2(BytesOf(c.input))) {
      std::snprintf(pair, sizeof pair, "%02x", byte);
      hex += pair;
    }
    EXPECT_EQ(c.digest, hex);
  }
}

}  // namespace
}  // namespace brevick
