// tests/app/pipeline_test.cc: the manifest's directory as paths are written
// on either system, and reading a manifest that is no ordinary file.
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
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\pkg\\m.xml", L"C:\\pkg"},
      {L"m.xml", L""},
      {L"pkg\\\\m.xml", L"pkg"},
      {L"pkg/sub/m.xml", L"pkg/sub"},
      {L"/m.xml", L""},
      {L"C:\\pkg\\", L"C:"},  // trailing separators are skipped first
      {L"\\\\\\", L""},       // only separators: nothing outside the text
  };
  for (const auto& [path, directory] : cases) EXPECT_EQ(directory, ManifestDirectory(path));
}

// A manifest is read as one regular file: a path with backslashes opens as
// with slashes; a pipe is refused without waiting for a writer, and a file
// whose length needs more than 32 bits is refused before it is read.
TEST(ReadManifestTest, ReadsARegularFileAndRefusesAPipeAndAHugeFile) {
  const testing::TempDir dir;
  const ConsoleCapture restoresVerbosity;
  SetVerbosity({.showProgress = true, .showDebug = true});
  dir.WriteFile("sub/m.xml", "<a/>");
  dir.WriteFile("sparse-5GiB.xml", "");
  std::filesystem::resize_file(dir.Path() / "sparse-5GiB.xml", 5ull << 30);
  ASSERT_EQ(0, mkfifo((dir.Path() / "pipe.xml").c_str(), 0600));
  const std::wstring base = ToWide(dir.Path().string());
  const struct {
    std::wstring path;
    std::string length;  // the progress line before any error
    std::wstring error;
  } cases[] = {
      // clang-format off
      {base + L"\\sub\\m.xml", "4", L""},
      {base + L"/pipe.xml", "", L"Failed to open " + base + L"/pipe.xml. Not a regular file"},
      {base + L"/sparse-5GiB.xml", "5368709120", L"Error reading in the file " + base + L"/sparse-5GiB.xml [File too large]"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const ConsoleCapture console;
    EXPECT_EQ(c.error.empty(), ReadManifest(c.path) != nullptr);
    EXPECT_EQ((c.length.empty() ? "" : "  Length of file: " + c.length + " bytes\n") +
                  (c.error.empty() ? "" : ToUtf8(c.error) + "\n"),
              console.Text());
    EXPECT_EQ(c.error.empty() ? std::vector<std::wstring>{} : std::vector{c.error}, Errors());
  }
}

}  // namespace
}  // namespace brevick
