// tests/manifest/hashing_step_test.cc: finding, hashing and recording module
// files, with real files in a temporary directory.
#include "manifest/hashing_step.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/stage_result.h"
#include "base/utf8.h"
#include "tests/support/manifest_helpers.h"
#include "tests/support/manifest_md5_oracle.h"
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
  Strings lines;
  Strings errors;
  std::string xml;
};

// Runs the stage with progress output on; the root directory is `root`.
HashRun Hash(const std::string& manifest, const std::string& manifestDirectory,
             const std::string& root = ".") {
  testing::RecordingReporter reporter;
  const auto document = testing::ParseXml(manifest);
  const StageResult result = GenerateFileHashes(
      *document, HashSettings{ToWide(manifestDirectory), ToWide(root)}, reporter);
  return {result, reporter.Shown("P"), reporter.Errors(), testing::CompactXml(document->GetRoot())};
}

TEST(FileHashesTest, FindsTheFileThroughSignInfoOrManifestDirectoryAndSubPath) {
  const TempDir dir;
  const std::string base = dir.Path().string();
  for (const char* file :
       {"src/bin/a.dll", "pkg/bin/a.dll", "pkg/a.dll", "bin/a.dll", "rel/a.dll", "a.dll"}) {
    dir.WriteFile(file, "abc");
  }
  const testing::WorkingDirectory cwd(dir.Path());
  const struct {
    std::string module;
    std::string manifestDirectory;
    std::string generated;
  } cases[] = {
      {R"(<module><dependencies><dependency file="a.dll"><signInfo path="%SourceRoot%\bin"/>)",
       base + "\\pkg", base + "\\src\\bin\\a.dll"},
      {R"(<module subPath="bin"><dependencies><dependency file="a.dll">)", base + "\\pkg",
       base + "\\pkg\\bin\\a.dll"},
      // The manifest directory, an empty subPath and the file: two backslashes.
      {R"(<module><dependencies><dependency file="a.dll"><signInfo path=""/>)", base + "\\pkg",
       base + "\\pkg\\\\a.dll"},
      // A manifest given as a bare file name has no directory at all.
      {R"(<module subPath="bin"><dependencies><dependency file="a.dll">)", "", "bin\\a.dll"},
      {R"(<module><dependencies><dependency file="a.dll">)", "", "a.dll"},
      {R"(<module subPath="ignored"><dependencies><dependency file="a.dll"><signInfo path="rel"/>)",
       "", "rel\\a.dll"},
      {R"(<module><dependencies><dependency file="a.dll"><signInfo path="rel\"/>)", "",
       "rel\\\\a.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.module);
    const HashRun run = Hash(Package(c.module + "<md5/></dependency></dependencies></module>"),
                             c.manifestDirectory, base + "\\src");
    EXPECT_EQ(StageResult::kGoOn, run.result);
    EXPECT_EQ(Strings{}, run.errors);
    ASSERT_EQ(3u, run.lines.size());
    EXPECT_EQ("Generated MD5 for " + c.generated, run.lines[2]);
    EXPECT_NE(std::string::npos, run.xml.find(R"(<md5 value=")" + kAbcDigest + R"("/>)"));
    EXPECT_EQ(std::string::npos, run.xml.find("signInfo"));
  }
}

TEST(FileHashesTest, RecordsEachMissingFileHashesTheRestAndDropsEverySignInfo) {
  const TempDir dir;
  const std::string base = dir.Path().string();
  dir.WriteFile("b.dll", "abc");
  const HashRun run = Hash(
      Package(
          R"(<module name="A"><dependencies>)"
          R"(<dependency file="missing.dll"><signInfo path="%SourceRoot%"/><md5 value="kept"/></dependency>)"
          R"(<dependency file="b.dll"><signInfo path="%SourceRoot%"/><md5/></dependency>)"
          R"(<dependency><signInfo path="%SourceRoot%"/><signInfo path="second"/><md5/></dependency>)"
          R"(</dependencies></module>)"),
      "", base);
  EXPECT_EQ(StageResult::kHashingFailed, run.result);
  // An empty file name leaves the directory itself, which is no file.
  const Strings errors = {
      "Error generating MD5 for '" + base + "\\missing.dll'. Check that it exists",
      "Error generating MD5 for '" + base + "\\'. Check that it exists"};
  EXPECT_EQ(errors, run.errors);
  // Only the first signInfo goes; a failed file keeps its md5 as it was.
  EXPECT_EQ(Package(R"(<module name="A" subPath=""><dependencies>)"
                    R"(<dependency file="missing.dll"><md5 value="kept"/></dependency>)"
                    R"(<dependency file="b.dll"><md5 value=")" +
                    kAbcDigest +
                    R"("/></dependency>)"
                    R"(<dependency file=""><signInfo path="second"/><md5/></dependency>)"
                    R"(</dependencies></module>)"),
            run.xml);
}

// Any element child of modules is a module; only the first md5 element of a
// dependency receives the digest, and none is created.
TEST(FileHashesTest, StoresTheDigestOnlyInTheFirstMd5ElementOfEachDependency) {
  const TempDir dir;
  dir.WriteFile("a.dll", "abc");
  const HashRun run =
      Hash(Package(R"(<component name="X"/><!-- c --><module name="A"><notes/><dependencies>)"
                   R"(<dependency file="a.dll"/><dependency file="a.dll"><md5 kind="k"/>)"
                   R"(<md5 value="second"/></dependency></dependencies></module>)"),
           dir.Path().string());
  EXPECT_EQ(StageResult::kGoOn, run.result);
  EXPECT_EQ(5u, run.lines.size());  // both modules and both files reported
  EXPECT_EQ(
      Package(R"(<component name="X" subPath=""><dependencies/></component><!-- c -->)"
              R"(<module name="A" subPath=""><notes/><dependencies><dependency file="a.dll"/>)"
              R"(<dependency file="a.dll"><md5 kind="k" value=")" +
              kAbcDigest + R"("/><md5 value="second"/></dependency></dependencies></module>)"),
      run.xml);
  // The shared null element was not given the digest.
  EXPECT_TRUE(xmldoc::NullElement().GetAttributes().empty());
}

TEST(ComputeFileMd5Test, HashesWholeFilesAroundTheReadBlockSizeReadingBackslashesAsSlashes) {
  const TempDir dir;
  // A multiple of the read block ends with a read of 0 bytes; one byte either
  // side ends in a short read.
  for (const std::size_t size : {0, 64, 9999, 10000, 10001, 1000000}) {
    SCOPED_TRACE(size);
    const std::string bytes = testing::RandomBytes(size, static_cast<unsigned>(size));
    dir.WriteFile("bin/" + std::to_string(size) + ".bin", bytes);
    const std::optional<Md5Digest> digest =
        ComputeFileMd5(dir.Path().wstring() + L"\\bin\\\\" + std::to_wstring(size) + L".bin");
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(DigestToText(testing::OpenSslMd5(bytes)), DigestToText(*digest));
  }
}

TEST(ComputeFileMd5Test, FailsByResultOnWhatIsNoReadableRegularFile) {
  const TempDir dir;
  const auto fifo = dir.Path() / "pipe";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const auto locked = dir.WriteFile("locked.dll", "x");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  const std::wstring dirPath = dir.Path().wstring();
  const struct {
    const char* what;
    std::wstring path;
  } cases[] = {
      {"missing", dirPath + L"/missing.dll"},
      {"empty path", L""},
      {"directory with trailing separator", dirPath + L"\\"},
      {"FIFO without a writer: must not block", fifo.wstring()},
      {"device with endless content", L"/dev/zero"},
      {"embedded NUL", dirPath + std::wstring(L"/x\0y", 4)},
      // root reads files whatever their mode
      {"unreadable", geteuid() != 0 ? locked.wstring() : dirPath},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ComputeFileMd5(c.path).has_value());
  }
}

}  // namespace
}  // namespace brevick
