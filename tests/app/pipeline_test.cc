#include "app/pipeline.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/run_settings.h"
#include "base/report.h"
#include "base/utf8.h"
#include "tests/support/temp_dir.h"
#include "xml/document.h"

namespace brevick {
namespace {

TEST(ManifestDirectoryTest, CutsTheLastSeparatorAndADoubledBackslash) {
  const struct {
    std::wstring path, directory;
  } cases[] = {
      {L"C:\\pkg\\m.xml", L"C:\\pkg"},
      {L"m.xml", L""},
      {L"\\m.xml", L""},
      {L"pkg\\\\m.xml", L"pkg"},
      {L"pkg/sub/m.xml", L"pkg/sub"},
      {L"/m.xml", L""},
      {L"C:\\pkg\\", L"C:"},  // trailing separators are skipped first
      {L"", L""},
      {L"\\\\\\", L""},  // only separators: nothing outside the text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    EXPECT_EQ(c.directory, ManifestDirectory(c.path));
  }
}

class ReadManifestTest : public ::testing::Test {
 protected:
  void SetUp() override { SetVerbosity({.showProgress = true, .showDebug = true}); }
  std::wstring PathOf(const std::string& name) const {
    return ToWide((dir.Path() / name).string());
  }
  testing::TempDir dir;
  ConsoleCapture console;
};

TEST_F(ReadManifestTest, ParsesAFileWithBackslashesInItsPath) {
  dir.WriteFile("sub/m.xml", "<a/>");
  std::wstring path = PathOf("sub") + L"\\m.xml";
  EXPECT_NE(nullptr, ReadManifest(path));
  EXPECT_EQ("  Length of file: 4 bytes\n", console.Text());
  EXPECT_EQ(0u, ErrorCount());
}

TEST_F(ReadManifestTest, RecordsOneErrorForEachWayTheInputFails) {
  dir.WriteFile("empty.xml", "");
  dir.WriteFile("broken.xml", "<a></b>");
  std::filesystem::create_directory(dir.Path() / "folder");
  dir.WriteFile("sparse-5GiB.xml", "");
  std::filesystem::resize_file(dir.Path() / "sparse-5GiB.xml", 5ull << 30);
  const struct {
    std::string name;
    std::wstring message;
  } cases[] = {
      // clang-format off
      {"missing.xml", L"Failed to open %. No such file or directory"},
      {"empty.xml", L"XML parse error in file % [The document has no root (element)]"},
      {"broken.xml", L"XML parse error in file % [The end tag has not the same name as the start tag]"},
      {"folder", L"Failed to open %. Is a directory"},
      {"sparse-5GiB.xml", L"Error reading in the file % [File too large]"},  // beyond a 32-bit length
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConsoleCapture fresh;
    EXPECT_EQ(nullptr, ReadManifest(PathOf(c.name)));
    std::wstring expected = c.message;
    expected.replace(expected.find(L'%'), 1, PathOf(c.name));
    ASSERT_EQ(1u, ErrorCount());
    EXPECT_EQ(expected, Errors()[0]);
  }
}

TEST_F(ReadManifestTest, FifoIsRefusedWithoutWaitingForAWriter) {
  const std::filesystem::path fifo = dir.Path() / "pipe.xml";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(nullptr, ReadManifest(ToWide(fifo.string())));
  ASSERT_EQ(1u, ErrorCount());
  EXPECT_EQ(L"Failed to open " + ToWide(fifo.string()) + L". Not a regular file", Errors()[0]);
}

}  // namespace
}  // namespace brevick
