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
#include "xml/writer.h"

namespace brevick {
namespace {

using testing::TempDir;
using Strings = std::vector<std::string>;

const std::string kAbcDigest = "0x900150983cd24fb0d6963f7d28e17f72";

std::string Package(const std::string& modulesContent) {
  return R"(<dravanePackage><package name="P"><modules>)" + modulesContent +
         "</modules></package></dravanePackage>";
}

// One module A of one dependency, whose inner elements are `inner`.
std::string OneFile(const std::string& subPath, const std::string& file,
                    const std::string& inner = "<md5/>") {
  return Package(R"(<module name="A" subPath=")" + subPath +
                 R"("><dependencies><dependency file=")" + file + "\">" + inner +
                 "</dependency></dependencies></module>");
}

struct HashRun {
  StageResult result;
  Strings lines;  // shown with -P
  Strings errors;
  std::string xml;
  bool operator==(const HashRun&) const = default;
};

HashRun Hash(const std::string& manifest, const std::string& manifestDirectory,
             const std::string& root, int jobs = 1, DigestAlgorithm extra = DigestAlgorithm::kMd2) {
  const HashSettings settings{ToWide(manifestDirectory), ToWide(root), nullptr, jobs, {}, extra};
  testing::RecordingReporter reporter;
  const auto document = testing::ParseXml(manifest);
  const StageResult result = GenerateFileHashes(*document, settings, reporter);
  return {result, reporter.Shown("P"), reporter.Errors(), testing::CompactXml(document->GetRoot())};
}

// The same run through the plan whose digests go over placeholders in the
// written text: the text it ends with.
std::string HashIntoText(const std::string& manifest, const std::string& manifestDirectory,
                         DigestAlgorithm extra) {
  const HashSettings settings{ToWide(manifestDirectory), L".", nullptr, 2, {}, extra};
  testing::RecordingReporter reporter;
  const auto document = testing::ParseXml(manifest);
  FileHashPlan plan(*document, settings, reporter, true);
  std::string text;
  std::vector<std::size_t> offsets;
  xmldoc::WriteContext context(text, nullptr, xmldoc::WriteContext::kCompact);
  context.markedAttributes = plan.Placeholders();
  context.valueOffsets = &offsets;
  document->GetRoot().Write(context);
  plan.PlaceholdersWritten(std::move(offsets));
  EXPECT_EQ(StageResult::kGoOn, plan.Hash(&text));
  return text;
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

// Each path would be spelled differently by the written manifest, so it is
// refused even though a file of exactly that name exists.
TEST(HashingStepTest, NamesTheWrittenManifestWouldChangeAreRefused) {
  const TempDir dir;
  const std::string change = "Its name would change when the manifest is written";
  const std::string nonAscii = "Non-ASCII names need a UTF-8 manifest";
  const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  const std::string base = dir.Path().string();
  // clang-format off
  // The name as it reaches the file system; the path in the message, relative to the package; reason "": hashed.
  const struct { std::string manifest, openedName, shownPath, reason; } kCases[] = {
      {OneFile("", "a  b.dll"), "a  b.dll", "\\a  b.dll", change},
      {OneFile("", "a&#9;b.dll"), "a\tb.dll", "\\a\tb.dll", change},
      {OneFile("s&#13;t", "a.dll"), "s\rt/a.dll", "s\rt\\a.dll", change},
      {OneFile("s  t", "a.dll"), "s  t/a.dll", "s  t\\a.dll", change},
      {OneFile("s t", "a b.dll"), "s t/a b.dll", "s t\\a b.dll", ""},
      {latin1 + OneFile("", "caf\xC3\xA9.dll"), "caf\xC3\xA9.dll", "\\caf\xC3\xA9.dll", nonAscii},
      {latin1 + OneFile("\xC3\xA9", "a.dll"), "\xC3\xA9/a.dll", "\xC3\xA9\\a.dll", nonAscii},
      {latin1 + OneFile("", "b.dll"), "b.dll", "\\b.dll", ""},
      {utf8 + OneFile("", "caf\xC3\xA9.dll"), "caf\xC3\xA9.dll", "\\caf\xC3\xA9.dll", ""},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.shownPath);
    dir.WriteFile(c.openedName, "abc");
    const HashRun run = Hash(c.manifest, base, ".");
    EXPECT_EQ(c.reason.empty() ? StageResult::kGoOn : StageResult::kHashingFailed, run.result);
    const std::string error = "Error generating MD5 for '" + base + "\\" + c.shownPath + "'. ";
    EXPECT_EQ(c.reason.empty() ? Strings{} : std::vector{error + c.reason}, run.errors);
    EXPECT_EQ(run, Hash(c.manifest, base, ".", 3));
  }
}

TEST(HashingStepTest, TheExtraDigestFollowsMd5AndReplacesAStaleOne) {
  const TempDir dir;
  dir.WriteFile("a", "abc");
  // clang-format off
  const std::string md5 = "<md5 value=\"" + kAbcDigest + "\"/>";
  const std::string sha = "<sha256 value=\"0xba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"/>";
  const struct { std::string inner, expected; } kCases[] = {
      {"<destination/><md5/><x/>", "<destination/>" + md5 + sha + "<x/>"},
      {"<sha256 value=\"0xold\"/><md5/><x/>", sha + md5 + "<x/>"},
      {"<md5/><x/><sha256/>", md5 + "<x/>" + sha},
      {"<destination/>", "<destination/>"},
  };
  // clang-format on
  for (const auto& c : kCases) {
    const std::string manifest =
        OneFile("", "a", c.inner + "</dependency><dependency file=\"a\"><md5/>");
    const std::string expected =
        OneFile("", "a", c.expected + "</dependency><dependency file=\"a\">" + md5 + sha);
    const HashRun run = Hash(manifest, dir.Path().string(), ".", 2, DigestAlgorithm::kSha256);
    EXPECT_EQ((HashRun{StageResult::kGoOn, run.lines, {}, expected}), run) << c.inner;
    EXPECT_EQ(expected, HashIntoText(manifest, dir.Path().string(), DigestAlgorithm::kSha256));
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
