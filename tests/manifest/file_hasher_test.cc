// tests/manifest/file_hasher_test.cc: hashing one file and many, against
// OpenSSL's digests, with files that change or never end while read, on
// every MD5 kernel and job count, and with a slow reader.
#include "manifest/file_hasher.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/hex_text.h"
#include "base/utf8.h"
#include "tests/support/manifest_md5_oracle.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::RandomBytes;
using testing::TempDir;
using Algorithm = DigestAlgorithm;

// What OpenSSL gives for a set's digests of `bytes`, as Text writes them:
// md5 (zero when not asked), the extra digest (none for kMd2), then the
// further ones in the order asked.
std::string OracleDigests(const DigestSet& set, const std::string& bytes) {
  std::string text = set.md5 ? HexText(testing::OpenSslMd5(bytes)) : std::string(32, '0');
  std::vector<Algorithm> shas = set.furtherDigests;
  if (set.extraDigest != Algorithm::kMd2) shas.insert(shas.begin(), set.extraDigest);
  for (const Algorithm sha : shas) {
    const char* names[] = {"", "sha256", "sha384", "sha512"};
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EXPECT_EQ(1, EVP_Digest(bytes.data(), bytes.size(), digest, &size,
                            EVP_get_digestbyname(names[static_cast<int>(sha)]), nullptr));
    text += " " + HexText({digest, size});
  }
  return text;
}

std::string Text(const FileDigests& digests) {
  std::string text = HexText(digests.md5);
  if (!digests.extra.empty()) text += " " + HexText(digests.extra);
  for (const auto& further : digests.further) text += " " + HexText(further);
  return text;
}

FileDigests HashWith(const std::string& path, const FileHashOptions& options,
                     std::atomic<std::uint64_t>* bytesRead = nullptr) {
  std::vector<std::uint8_t> buffer(kHashReadBlockSizeInBytes);
  return HashFile(path, options, buffer, bytesRead);
}

// Each case changes the file after every block read, as another process
// rewriting or appending to it would; reading never goes past the size the
// file had when opened, so one that grows without end ends all the same.
TEST(FileHasherTest, AFileThatChangesWhileReadGetsNoDigest) {
  const TempDir dir;
  const std::uint64_t size = 2 * kHashReadBlockSizeInBytes;
  const struct {
    const char* name;
    void (*change)(const std::string& path);
  } kCases[] = {
      // clang-format off
      {"modification time moved", [](const std::string& path) { const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}}; ::utimensat(AT_FDCWD, path.c_str(), times, 0); }},
      {"rewritten with the same size", [](const std::string& path) { std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).write("changed", 7); }},
      {"truncated", [](const std::string& path) { static_cast<void>(::truncate(path.c_str(), 10)); }},
      {"grows by a block", [](const std::string& path) { std::ofstream(path, std::ios::app | std::ios::binary) << RandomBytes(kHashReadBlockSizeInBytes, 4); }},
      // clang-format on
  };
  std::atomic<std::uint64_t> bytesRead = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.WriteFile(c.name, RandomBytes(size, 3)).string();
    // An hour old, so that a rewrite within the clock's tick still moves it.
    const timespec anHourAgo[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), anHourAgo, 0));
    EXPECT_EQ(FileHashOutcome::kHashed, HashWith(path, FileHashOptions{}).outcome);  // left alone
    FileHashOptions options;
    options.afterBlock = [&](std::uint64_t) { c.change(path); };
    EXPECT_EQ(FileHashOutcome::kChanged, HashWith(path, options, &bytesRead).outcome);
    EXPECT_LE(bytesRead.exchange(0), size);
  }
  // Reports no size but gives bytes for every page of the address space.
  EXPECT_EQ(FileHashOutcome::kChanged,
            HashWith("/proc/self/pagemap", FileHashOptions{}, &bytesRead).outcome);
  EXPECT_LE(bytesRead.load(), kHashReadBlockSizeInBytes);
}

TEST(FileHasherTest, ConfinementFollowsLinksBothWays) {
  const TempDir dir;
  for (const char* file : {"inside/a.dll", "outside/b.dll", "inside2/c.dll"})
    dir.WriteFile(file, "abc");
  const std::filesystem::path root = dir.Path();
  std::filesystem::create_symlink(root / "outside/b.dll", root / "inside/to-outside.dll");
  std::filesystem::create_symlink(root / "inside/a.dll", root / "outside/to-inside.dll");
  std::filesystem::create_directory_symlink(root / "inside", root / "inside-link");
  FileHashOptions options;
  options.confinedDirectories = {std::filesystem::canonical(root / "inside").string()};
  const struct {
    const char* path;
    FileHashOutcome expected;
  } kCases[] = {
      // clang-format off
      {"inside/a.dll", FileHashOutcome::kHashed},
      {"inside-link/a.dll", FileHashOutcome::kHashed},
      {"outside/to-inside.dll", FileHashOutcome::kHashed},
      {"inside/../outside/b.dll", FileHashOutcome::kOutsideConfinement},
      {"inside/to-outside.dll", FileHashOutcome::kOutsideConfinement},
      {"outside/b.dll", FileHashOutcome::kOutsideConfinement},
      {"inside2/c.dll", FileHashOutcome::kOutsideConfinement},  // begins like a confined one
      {"insideX", FileHashOutcome::kUnreadable},
      {"inside/missing.dll", FileHashOutcome::kUnreadable},
      // clang-format on
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, HashWith((root / c.path).string(), options).outcome) << c.path;
  }
}

// Every MD5 kernel (forced through the environment, as a CPU without the
// wider ones would choose) on any number of threads and with any set of
// digests, all from one read, gives each file's own digests or failure, in
// list order: files of sizes around the MD5 block and the read sizes end at
// every offset while the files beside them go on.
TEST(FileHasherTest, ResultsComeInListOrderWhateverTheKernelJobsAndDigests) {
  const TempDir dir;
  ASSERT_EQ(0, ::mkfifo((dir.Path() / "fifo").c_str(), 0600));
  std::filesystem::create_directory(dir.Path() / "directory");
  const std::size_t block = kHashReadBlockSizeInBytes;
  // clang-format off
  std::vector<std::size_t> sizes = {0, 1, 55, 56, 63, 64, 65, 100, 127, 4096, 32768, 65536,
                                    block - 1, block, block + 1, block + 64, 2 * block + 65, 3 * block};
  // clang-format on
  for (std::size_t i = 0; i < 24; ++i) sizes.push_back((i * 37919) % 300000);
  std::vector<std::string> paths, contents;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    contents.push_back(RandomBytes(sizes[i], 7));
    // Every seventh entry is missing, a FIFO, a directory or a file that
    // reports no size and grows past it.
    const std::string failing[] = {"missing", "fifo", "directory", "/proc/self/pagemap"};
    const std::string& name = failing[(i / 7) % 4];
    if (i % 7 == 3)
      paths.push_back(name[0] == '/' ? name : (dir.Path() / name).string());
    else
      paths.push_back(dir.WriteFile("f" + std::to_string(i), contents[i]).string());
  }
  const DigestSet sets[] = {
      // clang-format off
      {Algorithm::kSha256}, {Algorithm::kSha256, false}, {Algorithm::kSha384}, {Algorithm::kMd2, false},
      {Algorithm::kSha512, true, {Algorithm::kSha256, Algorithm::kSha384}}, {Algorithm::kSha384, false, {Algorithm::kSha512}},
      {Algorithm::kMd2}, {Algorithm::kSha512},
      // clang-format on
  };
  std::size_t round = 0;
  for (const char* lanes : {"1", "2", "8", "16", "plain"}) {
    const testing::ScopedEnv forced("BREVICK_MD5_LANES", lanes);
    for (const int jobs : {1, 2, 3, 200}) {
      const DigestSet& set = sets[round++ % std::size(sets)];
      SCOPED_TRACE(::testing::Message() << lanes << " lanes, " << jobs << " jobs, set " << round);
      const std::vector<FileDigests> results = HashFiles(paths, set, jobs);
      ASSERT_EQ(paths.size(), results.size());
      for (std::size_t i = 0; i < paths.size(); ++i) {
        const bool fails = i % 7 == 3;
        EXPECT_EQ(!fails, results[i].outcome == FileHashOutcome::kHashed) << i;
        if (fails) continue;
        EXPECT_EQ(OracleDigests(set, contents[i]), Text(results[i])) << i;
        EXPECT_EQ(sizes[i], results[i].sizeInBytes) << i;
      }
    }
  }
  EXPECT_TRUE(HashFiles({}, DigestSet{}, 4).empty());
}

// Threads may run only a bounded way ahead of a reader that takes nothing
// for a while (the bound keeps memory flat on huge packages), and no result
// is lost or handed out for another file while they wait.
TEST(FileHasherTest, ThreadsWaitForASlowReaderAndEveryResultIsItsOwnFile) {
  const TempDir dir;
  constexpr std::size_t kFiles = 400;
  constexpr std::size_t kSize = 3000;
  std::vector<std::string> contents, paths;
  for (std::size_t i = 0; i < kFiles; ++i) {
    contents.emplace_back(kSize + i % 7, static_cast<char>(i));
    paths.push_back(dir.WriteFile("f" + std::to_string(i), contents.back()).string());
  }
  for (const int jobs : {2, 3}) {
    OrderedFileHasher hasher(paths, {}, jobs);
    // Lets the threads run as far as they may: until nothing more is read.
    std::uint64_t seen = 0;
    for (int quiet = 0, round = 0; quiet < 5 && round < 500; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      quiet = hasher.BytesRead() == seen ? quiet + 1 : 0;
      seen = hasher.BytesRead();
    }
    EXPECT_LT(hasher.BytesRead(), kFiles * kSize) << "the threads did not wait for the reader";
    for (std::size_t i = 0; i < kFiles; ++i) {
      const std::optional<FileDigests> next = hasher.Next(std::chrono::minutes(1));
      ASSERT_EQ(testing::OpenSslMd5(contents[i]), next ? next->md5 : Md5Digest{}) << i;
    }
    EXPECT_TRUE(hasher.Done());
  }
}

}  // namespace
}  // namespace brevick
