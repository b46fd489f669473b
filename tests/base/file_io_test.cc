// tests/base/file_io_test.cc: replacing a file as a whole, durably.
#include "base/file_io.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace {

// The file flushes and renames the code under test makes, in order, with the
// inode each one concerns, while a test records them.
struct SyncEvent {
  char what;  // 'f' fsync, 'r' rename
  ino_t inode;
};
std::vector<SyncEvent>* recorded = nullptr;

template <typename Function>
Function* Real(const char* name) {
  return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

ino_t InodeOf(const char* path) {
  struct stat status {};
  return ::lstat(path, &status) == 0 ? status.st_ino : 0;
}

}  // namespace

extern "C" int fsync(int fd) {
  static auto* const real = Real<int(int)>("fsync");
  struct stat status {};
  if (recorded != nullptr && ::fstat(fd, &status) == 0) recorded->push_back({'f', status.st_ino});
  return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  static auto* const real = Real<int(const char*, const char*)>("rename");
  if (recorded != nullptr) recorded->push_back({'r', InodeOf(from)});
  return real(from, to);
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
  const struct {
    const char* what;
    std::vector<std::string_view> pieces;
    std::string file;
  } cases[] = {
      // clang-format off
      {"three pieces", {"head-", "content", "-tail"}, "head-content-tail"},
      {"empty pieces between", {"", "a", "", "b", ""}, "ab"},
      {"no pieces", {}, ""},
      {"a large piece", {"<", large, ">"}, "<" + large + ">"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::span<const std::uint8_t>> pieces;
    for (const std::string_view piece : c.pieces) pieces.push_back(BytesOf(piece));
    std::vector<SyncEvent> events;
    recorded = &events;
    const FileResult result = ReplaceFile(path, pieces);
    recorded = nullptr;
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(c.file.size(), result.sizeInBytes);
    EXPECT_EQ(c.file, testing::ReadFileBytes(path));
    const ino_t file = InodeOf(path.c_str());
    const ino_t directory = InodeOf(work.Path().c_str());
    std::string order;
    for (const SyncEvent& event : events) {
      if (event.inode == file) order += event.what == 'f' ? "flush " : "rename ";
      if (event.inode == directory && event.what == 'f') order += "directory ";
    }
    EXPECT_EQ("flush rename directory ", order);
  }
}

}  // namespace
}  // namespace brevick
