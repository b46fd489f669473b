// tests/manifest/hash_window_test.cc: the parallel hasher with a reader that
// takes nothing for a while. Workers may run only a bounded way ahead of the
// reader (that bound is what keeps memory flat on huge packages), and no
// result may be lost or handed out for another file while they wait.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "manifest/file_hasher.h"
#include "tests/support/manifest_md5_oracle.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

TEST(HashWindowTest, WorkersWaitForASlowReaderAndEveryResultIsItsOwnFile) {
  const testing::TempDir dir;
  constexpr int kFiles = 400;
  constexpr std::size_t kSize = 3000;
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i)
    paths.push_back(
        dir.WriteFile("f" + std::to_string(i), std::string(kSize + i % 7, static_cast<char>(i)))
            .string());
  for (const int jobs : {2, 3}) {
    SCOPED_TRACE(jobs);
    OrderedFileHasher hasher(paths, {}, jobs);
    // Let the workers run as far as they may: until nothing more is read.
    std::uint64_t seen = 0;
    for (int quiet = 0, round = 0; quiet < 5 && round < 500 && hasher.BytesRead() < kFiles * kSize;
         ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      quiet = hasher.BytesRead() == seen ? quiet + 1 : 0;
      seen = hasher.BytesRead();
    }
    EXPECT_LT(hasher.BytesRead(), kFiles * kSize) << "the workers did not wait for the reader";
    for (int i = 0; i < kFiles; ++i) {
      const std::optional<FileDigests> next = hasher.Next(std::chrono::minutes(1));
      ASSERT_TRUE(next);
      ASSERT_EQ(kSize + i % 7, next->sizeInBytes) << i;
      ASSERT_EQ(testing::OpenSslMd5(std::string(kSize + i % 7, static_cast<char>(i))), next->md5)
          << i;
    }
    EXPECT_TRUE(hasher.Done());
  }
}

}  // namespace
}  // namespace brevick
