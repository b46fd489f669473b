// tests/manifest/hashing_step_test.cc: finding, hashing and recording module
// files, with real files in a temporary directory, and the source root a
// signInfo path names.
#include "manifest/hashing_step.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/source_path.h"
#include "tests/support/manifest_helpers.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::TempDir;
using Strings = std::vector<std::string>;

const std::string kAbcDigest = "0x900150983cd24fb0d6963f7d28e17f72";

std::string Package(const std::string& modulesContent) {
  return R"(<dravanePackage><package name="P"><modules>)" + modulesContent +
         "</modules></package></dravanePackage>";
}

struct HashRun {
  StageResult result;
  Strings lines;  // shown with -P
  Strings errors;
  std::string xml;
};

HashRun Hash(const std::string& manifest, const std::string& manifestDirectory,
             const std::string& root) {
  testing::RecordingReporter reporter;
  const auto document = testing::ParseXml(manifest);
  const StageResult result = GenerateFileHashes(
      *document, HashSettings{ToWide(manifestDirectory), ToWide(root)}, reporter);
  return {result, reporter.Shown("P"), reporter.Errors(), testing::CompactXml(document->GetRoot())};
}

TEST(HashingStepTest, FindsTheFileThroughSignInfoOrManifestDirectoryAndSubPath) {
  const TempDir dir;
  const std::string base = dir.Path().string();
  for (const char* file :
       {"src/bin/a.dll", "pkg/bin/a.dll", "pkg/a.dll", "bin/a.dll", "rel/a.dll", "a.dll"})
    dir.WriteFile(file, "abc");
  const testing::WorkingDirectory cwd(dir.Path());
  // clang-format off
  const struct { std::string module, manifestDirectory, generated; } cases[] = {
      {R"(<module><dependencies><dependency file="a.dll"><signInfo path="%SourceRoot%\bin"/>)", base + "\\pkg", base + "\\src\\bin\\a.dll"},
      {R"(<module subPath="bin"><dependencies><dependency file="a.dll">)", base + "\\pkg", base + "\\pkg\\bin\\a.dll"},
      // The manifest directory, an empty subPath and the file: two backslashes.
      {R"(<module><dependencies><dependency file="a.dll"><signInfo path=""/>)", base + "\\pkg", base + "\\pkg\\\\a.dll"},
      // A manifest given as a bare file name has no directory at all.
      {R"(<module subPath="bin"><dependencies><dependency file="a.dll">)", "", "bin\\a.dll"},
      {R"(<module><dependencies><dependency file="a.dll">)", "", "a.dll"},
      {R"(<module subPath="ignored"><dependencies><dependency file="a.dll"><signInfo path="rel"/>)", "", "rel\\a.dll"},
      {R"(<module><dependencies><dependency file="a.dll"><signInfo path="rel\"/>)", "", "rel\\\\a.dll"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.module);
    const HashRun run = Hash(Package(c.module + "<md5/></dependency></dependencies></module>"),
                             c.manifestDirectory, base + "\\src");
    EXPECT_EQ(StageResult::kGoOn, run.result);
    EXPECT_EQ(
        (Strings{"Generating dependencing hashes for module files",
                 "Generating hashes for files in module ''.", "Generated MD5 for " + c.generated}),
        run.lines);
    EXPECT_NE(std::string::npos, run.xml.find(R"(<md5 value=")" + kAbcDigest + R"("/>)"));
    EXPECT_EQ(std::string::npos, run.xml.find("signInfo"));
  }
}

// Every file that cannot be hashed is recorded and the rest hashed; only the
// first signInfo goes, and only the first md5 element receives the digest
// (none is created); any element child of modules is a module.
TEST(HashingStepTest, RecordsEveryFileAndChangesOnlyWhatItShould) {
  const TempDir dir;
  const std::string base = dir.Path().string();
  dir.WriteFile("a.dll", "abc");
  const std::string error = "Error generating MD5 for '" + base + "\\";
  // clang-format off
  const struct { const char* name; std::string modules; Strings errors; std::string hashed; } cases[] = {
      {"a failed file keeps its md5; an empty name is the directory, no file", R"(<module name="A"><dependencies><dependency file="missing.dll"><signInfo path="%SourceRoot%"/><md5 value="kept"/></dependency><dependency file="a.dll"><signInfo path="%SourceRoot%"/><md5/></dependency><dependency><signInfo path="%SourceRoot%"/><signInfo path="second"/><md5/></dependency></dependencies></module>)", {error + "missing.dll'. Check that it exists", error + "'. Check that it exists"}, R"(<module name="A" subPath=""><dependencies><dependency file="missing.dll"><md5 value="kept"/></dependency><dependency file="a.dll"><md5 value="MD5"/></dependency><dependency file=""><signInfo path="second"/><md5/></dependency></dependencies></module>)"},
      {"the first md5 element only", R"(<component name="X"/><!-- c --><module name="A"><notes/><dependencies><dependency file="a.dll"/><dependency file="a.dll"><md5 kind="k"/><md5 value="second"/></dependency></dependencies></module>)", {}, R"(<component name="X" subPath=""><dependencies/></component><!-- c --><module name="A" subPath=""><notes/><dependencies><dependency file="a.dll"/><dependency file="a.dll"><md5 kind="k" value="MD5"/><md5 value="second"/></dependency></dependencies></module>)"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HashRun run = Hash(Package(c.modules), base, base);
    EXPECT_EQ(c.errors.empty() ? StageResult::kGoOn : StageResult::kHashingFailed, run.result);
    EXPECT_EQ(c.errors, run.errors);
    std::string hashed = c.hashed;
    EXPECT_EQ(Package(hashed.replace(hashed.find("MD5"), 3, kAbcDigest)), run.xml);
  }
  EXPECT_TRUE(xmldoc::NullElement().GetAttributes().empty());  // the shared null element unchanged
}

TEST(HashingStepTest, ComputeFileMd5ReadsBackslashesAsSlashesAndFailsByResult) {
  const TempDir dir;
  dir.WriteFile("bin/a.bin", "abc");
  const std::wstring base = dir.Path().wstring();
  // clang-format off
  const struct { std::wstring path; std::string digest; } cases[] = {  // digest "": none
      {base + L"\\bin\\\\a.bin", kAbcDigest.substr(2)},
      {base + L"/missing.dll", ""},
      {L"", ""},
      {base + L"\\", ""},
      {base + std::wstring(L"/bin/a.bin\0x", 12), ""},  // the name ends at the NUL
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::optional<Md5Digest> digest = ComputeFileMd5(c.path);
    EXPECT_EQ(c.digest, digest ? DigestToText(*digest) : "") << ToUtf8(c.path);
  }
}

TEST(SourcePathTest, PutsTheRootDirectoryInPlaceOfTheFirstToken) {
  // clang-format off
  const struct { std::wstring root; std::string path; std::wstring resolved; } cases[] = {
      {L"C:\\src", "%SourceRoot%\\bin", L"C:\\src\\bin"},
      {L"C:\\src\\", "%SourceRoot%\\bin", L"C:\\src\\\\bin"},  // both backslashes kept
      {L"C:\\src", "%sourceroot%\\bin", L"%sourceroot%\\bin"},
      {L"/r", "%SourceRoot%/a/%SourceRoot%", L"/r/a/%SourceRoot%"},
      {L"/r", "x\\%SourceRoot%\\y", L"x\\/r\\y"},
      {L"/r", "%SourceRoot", L"%SourceRoot"},
      {L"", "%SourceRoot%\\bin", L"\\bin"},
      {L"/r\u00e9", "\xC3\xA9%SourceRoot%", L"\u00e9/r\u00e9"},
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(ToUtf8(c.resolved), ToUtf8(ResolveSourcePath(c.path, c.root))) << c.path;
}

}  // namespace
}  // namespace brevick
