// tests/base/file_io_test.cc
#include "base/file_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A file written in pieces is the pieces one after the other, whatever
// their sizes, and replaces what stood there as a whole.
TEST(FileIoTest, ReplaceFileWritesThePiecesInOrder) {
  const testing::TempDir work;
  const std::string path = (work.Path() / "out").string();
  work.WriteFile("out", "the previous content, longer than the new");
  const std::string large(3u << 20, 'L');
  const struct {
    const char* what;
    std::vector<std::string_view> pieces;
    std::string file;
  } cases[] = {
      {"three pieces", {"head-", "content", "-tail"}, "head-content-tail"},
      {"empty pieces between", {"", "a", "", "b", ""}, "ab"},
      {"no pieces", {}, ""},
      {"a large piece", {"<", large, ">"}, "<" + large + ">"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::span<const std::uint8_t>> pieces;
    for (const std::string_view piece : c.pieces) pieces.push_back(BytesOf(piece));
    const FileResult result = ReplaceFile(path, pieces);
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(c.file.size(), result.sizeInBytes);
    EXPECT_EQ(c.file, testing::ReadFileBytes(work.Path() / "out"));
  }
}

}  // namespace
}  // namespace brevick
