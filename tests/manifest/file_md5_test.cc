// tests/manifest/file_md5_test.cc: hashing a file from disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "manifest/file_hashes.h"
#include "tests/support/manifest_md5_oracle.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::OpenSslMd5;
using testing::RandomBytes;
using testing::TempDir;

std::wstring Wide(const std::filesystem::path& path) { return path.wstring(); }

TEST(ComputeFileMd5Test, HashesWholeFilesAroundTheReadBlockSize) {
  const TempDir dir;
  // A multiple of the read block ends with a read of 0 bytes; one byte either
  // side ends in a short read.
  for (const std::size_t size : {0, 1, 64, 9999, 10000, 10001, 20000, 30001, 1000000}) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
    const auto file = dir.WriteFile(std::to_string(size) + ".bin", bytes);
    const std::optional<Md5Digest> digest = ComputeFileMd5(Wide(file));
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(DigestToText(OpenSslMd5(bytes)), DigestToText(*digest));
  }
}

TEST(ComputeFileMd5Test, ReadsBackslashesAsSlashes) {
  const TempDir dir;
  dir.WriteFile("bin/a.dll", "abc");
  const std::wstring path = Wide(dir.Path()) + L"\\bin\\\\a.dll";
  const std::optional<Md5Digest> digest = ComputeFileMd5(path);
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", DigestToText(*digest));
}

TEST(ComputeFileMd5Test, FailsByResultOnWhatIsNoReadableRegularFile) {
  const TempDir dir;
  const auto fifo = dir.Path() / "pipe";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const auto locked = dir.WriteFile("locked.dll", "x");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  const std::wstring dirPath = Wide(dir.Path());
  const struct { const char* what; std::wstring path; } cases[] = {
      {"missing", dirPath + L"/missing.dll"},
      {"empty path", L""},
      {"directory", dirPath},
      {"directory with trailing separator", dirPath + L"\\"},
      {"FIFO without a writer: must not block", Wide(fifo)},
      {"device with endless content", L"/dev/zero"},
      {"embedded NUL", dirPath + std::wstring(L"/x\0y", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ComputeFileMd5(c.path).has_value());
  }
  if (geteuid() != 0) {  // root reads files whatever their mode
    EXPECT_FALSE(ComputeFileMd5(Wide(locked)).has_value());
  }
}

}  // namespace
}  // namespace brevick
