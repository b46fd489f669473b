// tests/manifest/source_path_test.cc
#include "manifest/source_path.h"

#include <gtest/gtest.h>

#include "base/utf8.h"

namespace brevick {
namespace {

TEST(SourcePathTest, PutsTheRootDirectoryInPlaceOfTheFirstToken) {
  const struct {
    std::wstring root;
    std::string path;
    std::wstring resolved;
  } cases[] = {
      {L"C:\\src", "%SourceRoot%\\bin", L"C:\\src\\bin"},
      {L"C:\\src\\", "%SourceRoot%\\bin", L"C:\\src\\\\bin"},  // both backslashes kept
      {L"C:\\src", "%sourceroot%\\bin", L"%sourceroot%\\bin"},
      {L"/r", "%SourceRoot%/a/%SourceRoot%", L"/r/a/%SourceRoot%"},
      {L"/r", "x\\%SourceRoot%\\y", L"x\\/r\\y"},
      {L"/r", "%SourceRoot", L"%SourceRoot"},
      {L"", "%SourceRoot%\\bin", L"\\bin"},
      {L"/r\u00e9", "\xC3\xA9%SourceRoot%", L"\u00e9/r\u00e9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ToUtf8(c.resolved), ToUtf8(ResolveSourcePath(c.path, c.root)));
  }
}

}  // namespace
}  // namespace brevick
