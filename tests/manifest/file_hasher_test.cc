// tests/manifest/file_hasher_test.cc: hashing one file and many, against the
// system's digest tools, with files that change or never end while read.
#include "manifest/file_hasher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "manifest/hashing_step.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::TempDir;

// The first word that `tool file` prints: the system tool's digest.
std::string SystemDigest(const std::string& tool, const std::filesystem::path& file) {
  const std::string command = tool + " '" + file.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  EXPECT_NE(nullptr, pipe) << command;
  if (pipe == nullptr) return "";
  std::array<char, 256> line{};
  std::string output;
  while (std::fgets(line.data(), line.size(), pipe) != nullptr) output += line.data();
  EXPECT_EQ(0, ::pclose(pipe)) << command;
  return output.substr(0, output.find(' '));
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

FileDigests HashWith(const std::string& path, const FileHashOptions& options,
                     std::uint64_t* bytesRead = nullptr) {
  std::vector<std::uint8_t> buffer(kHashReadBlockSizeInBytes);
  std::atomic<std::uint64_t> counter{0};
  FileDigests digests = HashFile(path, options, buffer, &counter);
  if (bytesRead != nullptr) *bytesRead = counter.load();
  return digests;
}

TEST(FileDigestsTest, EveryDigestMatchesTheSystemTools) {
  const TempDir dir;
  const std::vector<std::filesystem::path> files = {
      dir.WriteFile("empty", ""), dir.WriteFile("abc", "abc"),
      dir.WriteFile("one-block", Pattern(kHashReadBlockSizeInBytes)),
      dir.WriteFile("blocks-and-a-bit", Pattern(2 * kHashReadBlockSizeInBytes + 7))};
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(file.string());
  const struct {
    DigestAlgorithm algorithm;
    const char* tool;
  } kCases[] = {{DigestAlgorithm::kSha256, "sha256sum"},
                {DigestAlgorithm::kSha384, "sha384sum"},
                {DigestAlgorithm::kSha512, "sha512sum"},
                {DigestAlgorithm::kMd2, nullptr}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(DigestName(c.algorithm)));
    const std::vector<FileDigests> results = HashFiles(paths, DigestSet{c.algorithm}, 2);
    ASSERT_EQ(paths.size(), results.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      SCOPED_TRACE(paths[i]);
      ASSERT_EQ(FileHashOutcome::kHashed, results[i].outcome);
      EXPECT_EQ(SystemDigest("md5sum", files[i]), DigestToText(results[i].md5));
      if (c.tool == nullptr) {
        EXPECT_TRUE(results[i].extra.empty());
      } else {
        EXPECT_EQ(SystemDigest(c.tool, files[i]), HexText(results[i].extra));
      }
    }
  }
}

// A set without MD5 leaves it zero; further SHA-2 digests come after the
// extra one, in the order asked, all from the one read.
TEST(FileDigestsTest, DigestSetsWithoutMd5OrWithSeveralShaDigests) {
  const TempDir dir;
  const std::filesystem::path file = dir.WriteFile("f", Pattern(kHashReadBlockSizeInBytes + 3));
  const std::vector<std::string> paths = {file.string()};
  const struct {
    const char* name;
    DigestAlgorithm extra;
    bool md5;
    std::vector<DigestAlgorithm> further;
    const char* extraTool;
    std::vector<const char*> furtherTools;
  } kCases[] = {
      {"sha256 alone", DigestAlgorithm::kSha256, false, {}, "sha256sum", {}},
      {"nothing at all", DigestAlgorithm::kMd2, false, {}, nullptr, {}},
      {"md5, sha512, then sha256 and sha384",
       DigestAlgorithm::kSha512,
       true,
       {DigestAlgorithm::kSha256, DigestAlgorithm::kSha384},
       "sha512sum",
       {"sha256sum", "sha384sum"}},
      {"sha384 then sha512, no md5",
       DigestAlgorithm::kSha384,
       false,
       {DigestAlgorithm::kSha512},
       "sha384sum",
       {"sha512sum"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<FileDigests> results =
        HashFiles(paths, DigestSet{c.extra, c.md5, c.further}, 1);
    ASSERT_EQ(1u, results.size());
    ASSERT_EQ(FileHashOutcome::kHashed, results[0].outcome);
    EXPECT_EQ(c.md5 ? SystemDigest("md5sum", file) : std::string(32, '0'),
              DigestToText(results[0].md5));
    EXPECT_EQ(c.extraTool ? SystemDigest(c.extraTool, file) : "", HexText(results[0].extra));
    ASSERT_EQ(c.furtherTools.size(), results[0].further.size());
    for (std::size_t i = 0; i < c.furtherTools.size(); ++i)
      EXPECT_EQ(SystemDigest(c.furtherTools[i], file), HexText(results[0].further[i]));
  }
}

// Each case changes the file after its first block is read, as another
// process rewriting or appending to it would.
TEST(FileDigestsTest, AFileThatChangesWhileReadGetsNoDigest) {
  const TempDir dir;
  const std::string content = Pattern(3 * kHashReadBlockSizeInBytes);
  const struct {
    const char* name;
    void (*change)(const std::string& path);
  } kCases[] = {
      {"modification time moved",
       [](const std::string& path) {
         const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
         ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
       }},
      {"rewritten with the same size",
       [](const std::string& path) {
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(0);
         file.write("changed", 7);
       }},
      {"truncated", [](const std::string& path) { ASSERT_EQ(0, ::truncate(path.c_str(), 10)); }},
      {"grows", [](const std::string& path) {
         std::ofstream(path, std::ios::app | std::ios::binary) << "more";
       }}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.WriteFile(c.name, content).string();
    // An hour old, so that a rewrite within the clock's tick still moves it.
    const timespec anHourAgo[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), anHourAgo, 0));
    FileHashOptions options;
    bool changed = false;
    options.afterBlock = [&](std::uint64_t) {
      if (!changed) c.change(path);
      changed = true;
    };
    EXPECT_EQ(FileHashOutcome::kChanged, HashWith(path, options).outcome);
    // The same file left alone hashes.
    EXPECT_EQ(FileHashOutcome::kHashed, HashWith(path, FileHashOptions{}).outcome);
  }
}

TEST(FileDigestsTest, EndlessFilesStopAfterTheirStartingSize) {
  const TempDir dir;
  // Grows by a block after every block read: without the limit the read
  // would never end.
  const std::string growing = dir.WriteFile("growing", Pattern(kHashReadBlockSizeInBytes)).string();
  FileHashOptions options;
  options.afterBlock = [&](std::uint64_t) {
    std::ofstream(growing, std::ios::app | std::ios::binary) << Pattern(kHashReadBlockSizeInBytes);
  };
  std::uint64_t bytesRead = 0;
  EXPECT_EQ(FileHashOutcome::kChanged, HashWith(growing, options, &bytesRead).outcome);
  EXPECT_LE(bytesRead, 2 * kHashReadBlockSizeInBytes);

  // Reports no size but gives bytes for every page of the address space.
  EXPECT_EQ(FileHashOutcome::kChanged,
            HashWith("/proc/self/pagemap", FileHashOptions{}, &bytesRead).outcome);
  EXPECT_LE(bytesRead, kHashReadBlockSizeInBytes);
}

TEST(FileDigestsTest, ConfinementFollowsLinksBothWays) {
  const TempDir dir;
  dir.WriteFile("inside/a.dll", "abc");
  dir.WriteFile("outside/b.dll", "abc");
  const std::filesystem::path root = dir.Path();
  std::filesystem::create_symlink(root / "outside/b.dll", root / "inside/to-outside.dll");
  std::filesystem::create_symlink(root / "inside/a.dll", root / "outside/to-inside.dll");
  std::filesystem::create_directory_symlink(root / "inside", root / "inside-link");
  FileHashOptions options;
  options.confinedDirectories = {std::filesystem::canonical(root / "inside").string()};
  const struct {
    const char* path;
    FileHashOutcome expected;
  } kCases[] = {{"inside/a.dll", FileHashOutcome::kHashed},
                {"inside-link/a.dll", FileHashOutcome::kHashed},
                {"outside/to-inside.dll", FileHashOutcome::kHashed},
                {"inside/../outside/b.dll", FileHashOutcome::kOutsideConfinement},
                {"inside/to-outside.dll", FileHashOutcome::kOutsideConfinement},
                {"outside/b.dll", FileHashOutcome::kOutsideConfinement},
                {"insideX", FileHashOutcome::kUnreadable},
                {"inside/missing.dll", FileHashOutcome::kUnreadable}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.expected, HashWith((root / c.path).string(), options).outcome);
  }
  // A directory whose name begins like a confined one is not inside it.
  dir.WriteFile("inside2/c.dll", "abc");
  EXPECT_EQ(FileHashOutcome::kOutsideConfinement,
            HashWith((root / "inside2/c.dll").string(), options).outcome);
}

// Every MD5 kernel (forced through the environment, as a CPU without AVX2
// would choose) on any number of threads gives each file's own digest or
// failure, in list order: files of sizes around the MD5 block and the read
// sizes end at every offset while the files beside them go on.
TEST(FileDigestsTest, ResultsComeInListOrderWhateverTheKernelAndJobs) {
  const TempDir dir;
  ASSERT_EQ(0, ::mkfifo((dir.Path() / "fifo").c_str(), 0600));
  std::filesystem::create_directory(dir.Path() / "directory");
  const std::size_t block = kHashReadBlockSizeInBytes;
  std::vector<std::size_t> sizes = {
      0,     1,         55,    56,        63,  64,         65,   32 * 1024,
      65536, block - 1, block, block + 1, 100, block + 64, 4096, 2 * block + 65,
      127,   3 * block};
  for (int i = 0; i < 40; ++i) sizes.push_back((i * 37919) % 400000);
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    // Every seventh entry is missing, a FIFO, a directory or a file that
    // reports no size and grows past it.
    if (i % 7 == 3) {
      const char* names[] = {"missing", "fifo", "directory", "/proc/self/pagemap"};
      const char* name = names[(i / 7) % 4];
      paths.push_back(name[0] == '/' ? name : (dir.Path() / name).string());
      continue;
    }
    paths.push_back(dir.WriteFile("f" + std::to_string(i), Pattern(sizes[i])).string());
  }
  const DigestSet withSha256{DigestAlgorithm::kSha256};
  std::vector<FileDigests> reference;
  {
    const testing::ScopedEnv scalar("BREVICK_MD5_LANES", "1");
    reference = HashFiles(paths, withSha256, 1);
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    if (i % 7 == 3) {
      EXPECT_NE(FileHashOutcome::kHashed, reference[i].outcome);
      continue;
    }
    const std::string bytes = Pattern(sizes[i]);
    ASSERT_EQ(FileHashOutcome::kHashed, reference[i].outcome);
    EXPECT_EQ(Md5::Of(bytes.data(), bytes.size()), reference[i].md5);
  }
  for (const char* lanes : {"1", "2", "8"}) {
    const testing::ScopedEnv forced("BREVICK_MD5_LANES", lanes);
    for (const int jobs : {1, 2, 3, 200}) {
      SCOPED_TRACE(::testing::Message() << lanes << " lanes, " << jobs << " jobs");
      const std::vector<FileDigests> results = HashFiles(paths, withSha256, jobs);
      ASSERT_EQ(reference.size(), results.size());
      for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(reference[i].outcome, results[i].outcome) << i;
        EXPECT_EQ(reference[i].md5, results[i].md5) << i;
        EXPECT_EQ(reference[i].extra, results[i].extra) << i;
        EXPECT_EQ(reference[i].sizeInBytes, results[i].sizeInBytes) << i;
        EXPECT_EQ(reference[i].identity, results[i].identity) << i;
      }
    }
  }
  EXPECT_TRUE(HashFiles({}, DigestSet{}, 4).empty());
}

}  // namespace
}  // namespace brevick
