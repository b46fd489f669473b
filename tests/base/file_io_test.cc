// tests/base/file_io_test.cc: replacing a file as a whole, durably.
#include "base/file_io.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace {

// What the code under test flushes and renames, in order, while a test
// records it: "flush" a file, "directory" a directory, "rename".
std::string* recorded = nullptr;

template <typename Function>
Function* Real(const char* name) {
  return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd) {
  static auto* const real = Real<int(int)>("fsync");
  struct stat status {};
  if (recorded != nullptr && ::fstat(fd, &status) == 0)
    *recorded += S_ISDIR(status.st_mode) ? "directory " : "flush ";
  return real(fd);
}

extern "C" int renameat(int fromDirectory, const char* from, int toDirectory,
                        const char* to) noexcept {
  static auto* const real = Real<int(int, const char*, int, const char*)>("renameat");
  if (recorded != nullptr) *recorded += "rename ";
  return real(fromDirectory, from, toDirectory, to);
}

namespace brevick {
namespace {

using testing::BytesOf;

// A file written in pieces is the pieces one after the other, whatever their
// sizes; it replaces what stood there as a whole, and only once its bytes are
// on disk: the new file is flushed before it is renamed into place, and the
// directory after.
TEST(FileIoTest, ReplaceFileWritesThePiecesInOrderAndFlushesBeforeTheRename) {
  const testing::TempDir work;
  const std::string path = (work.Path() / "out").string();
  work.WriteFile("out", "the previous content, longer than the new");
  const std::string large(3u << 20, 'L');
  // clang-format off
  const struct { const char* what; std::vector<std::string_view> pieces; std::string file; } cases[] = {
      {"three pieces", {"head-", "content", "-tail"}, "head-content-tail"},
      {"empty pieces between", {"", "a", "", "b", ""}, "ab"},
      {"no pieces", {}, ""},
      {"a large piece", {"<", large, ">"}, "<" + large + ">"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::span<const std::uint8_t>> pieces;
    for (const std::string_view piece : c.pieces) pieces.push_back(BytesOf(piece));
    std::string order;
    recorded = &order;
    const FileResult result = ReplaceFile(path, pieces);
    recorded = nullptr;
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(c.file.size(), result.sizeInBytes);
    EXPECT_EQ(c.file, testing::ReadFileBytes(path));
    EXPECT_EQ("flush rename directory ", order);
  }
}

// Both ways of opening beneath a directory refuse whatever leads out of it
// with EXDEV before opening it; only openat2 can follow a link that stays
// inside, so the walk refuses every link.
TEST(FileIoTest, OpeningBeneathADirectoryNeverLeavesIt) {
  const testing::TempDir work;
  work.WriteFile("secret", "s");
  work.WriteFile("pkg/sub/a.txt", "a");
  namespace fs = std::filesystem;
  fs::create_symlink(work.Path() / "secret", work.Path() / "pkg/out-link");
  fs::create_symlink("sub/a.txt", work.Path() / "pkg/in-link");
  fs::create_symlink(work.Path(), work.Path() / "pkg/up");
  ASSERT_EQ(0, ::mkfifo((work.Path() / "pkg/fifo").c_str(), 0600));
  const FileDescriptor directory(::open((work.Path() / "pkg").c_str(), O_RDONLY | O_DIRECTORY));
  // clang-format off
  const struct { const char* path; int beneath; int walk; } cases[] = {
      {"sub/a.txt",   0,               0},
      {"../secret",   EXDEV,           EXDEV},
      {"/etc/passwd", EXDEV,           EXDEV},
      {"out-link",    EXDEV,           EXDEV},
      {"up/secret",   EXDEV,           EXDEV},
      {"in-link",     0,               EXDEV},
      {"missing",     ENOENT,          ENOENT},
      {"sub",         EISDIR,          EISDIR},
      {"fifo",        kNotRegularFile, kNotRegularFile},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FileDescriptor file;
    EXPECT_EQ(c.beneath, OpenRegularFileBeneath(directory.Get(), c.path, file).error);
    EXPECT_EQ(c.walk, OpenRegularFileBeneathByWalk(directory.Get(), c.path, file).error);
  }
}

// A PIN file is read to its first line only, however large it is.
TEST(FileIoTest, FirstLineReadsNoFurther) {
  const testing::TempDir work;
  const std::string longLine(4097, 'x');
  // clang-format off
  const struct { const char* what; std::string bytes; int error; std::string line; } cases[] = {
      {"LF",                   "1234\nrest",             0,     "1234"},
      {"CR LF",                "1234\r\n",              0,     "1234"},
      {"no line end",          "1234",                   0,     "1234"},
      {"4 KiB line",           longLine.substr(1),       0,     longLine.substr(1)},
      {"4 KiB and one byte",   longLine + "\n",          EFBIG, ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    work.WriteFile("pin", c.bytes);
    std::string line = "stale";
    EXPECT_EQ(c.error, ReadFirstLine((work.Path() / "pin").string(), 4096, line).error);
    EXPECT_EQ(c.line, line);
  }
}

}  // namespace
}  // namespace brevick
