// tests/manifest/file_hashes_test.cc: finding, hashing and recording module
// files, with real files in a temporary directory.
#include "manifest/file_hashes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/report.h"
#include "app/run_settings.h"
#include "app/stage_results.h"
#include "app/utf8.h"
#include "tests/support/manifest_helpers.h"
#include "tests/support/manifest_md5_oracle.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::CompactXml;
using testing::Lines;
using testing::ParseXml;
using testing::RecordedErrors;
using testing::TempDir;
using Strings = std::vector<std::string>;

const std::string kAbcDigest = "0x900150983cd24fb0d6963f7d28e17f72";
const std::string kEmptyDigest = "0xd41d8cd98f00b204e9800998ecf8427e";

std::string Package(const std::string& modulesContent) {
  return R"(<dravanePackage><package name="P"><modules>)" + modulesContent + "</modules></package></dravanePackage>";
}

// Runs the stage with progress output on; the root directory is `root`.
struct HashRun {
  int result;
  Strings lines;
  Strings errors;
  std::string xml;
};

HashRun Hash(const std::string& manifest, const std::string& manifestDirectory, const std::string& root = ".") {
  testing::SetOutputFlags("P");
  Settings().rootdirectory = ToWide(root);
  const ConsoleCapture capture;
  const auto document = ParseXml(manifest);
  const int result = GenerateFileHashes(*document, ToWide(manifestDirectory));
  return {result, Lines(capture.Text()), RecordedErrors(), CompactXml(document->GetRoot())};
}

TEST(FileHashesTest, FindsEachFileThroughSignInfoOrSubPath) {
  const TempDir dir;
  const std::string base = dir.Path().string();
  dir.WriteFile("src/bin/a.dll", "abc");
  dir.WriteFile("pkg/bin/b.dll", "abc");
  dir.WriteFile("pkg/c.dll", "abc");
  const HashRun run = Hash(
      Package(R"(<module name="A"><dependencies><dependency file="a.dll"><signInfo path="%SourceRoot%\bin"/>)"
              R"(<md5/></dependency></dependencies></module>)"
              R"(<module name="B" subPath="bin"><dependencies><dependency file="b.dll"><md5 value="old"/>)"
              R"(</dependency></dependencies></module>)"
              R"(<module name="C"><dependencies><dependency file="c.dll"><signInfo path=""/><md5/>)"
              R"(</dependency></dependencies></module>)"),
      base + "\\pkg", base + "\\src");
  EXPECT_EQ(kStageGoOn, run.result);
  EXPECT_EQ(Strings{}, run.errors);
  const Strings expectedLines = {
      "Generating dependencing hashes for module files",
      "Generating hashes for files in module 'A'.",
      "Generated MD5 for " + base + "\\src\\bin\\a.dll",
      "Generating hashes for files in module 'B'.",
      "Generated MD5 for " + base + "\\pkg\\bin\\b.dll",
      "Generating hashes for files in module 'C'.",
      // No subPath and an empty signInfo path: the manifest directory, an
      // empty subPath and the file, so two backslashes.
      "Generated MD5 for " + base + "\\pkg\\\\c.dll",
  };
  EXPECT_EQ(expectedLines, run.lines);
  EXPECT_EQ(Package(R"(<module name="A" subPath=""><dependencies><dependency file="a.dll"><md5 value=")" +
                    kAbcDigest + R"("/></dependency></dependencies></module>)"
                    R"(<module name="B" subPath="bin"><dependencies><dependency file="b.dll"><md5 value=")" +
                    kAbcDigest + R"("/></dependency></dependencies></module>)"
                    R"(<module name="C" subPath=""><dependencies><dependency file="c.dll"><md5 value=")" +
                    kAbcDigest + R"("/></dependency></dependencies></module>)"),
            run.xml);
}

TEST(FileHashesTest, ResolvesRelativePathsAgainstTheWorkingDirectory) {
  const TempDir dir;
  dir.WriteFile("bin/a.dll", "abc");
  dir.WriteFile("rel/b.dll", "");
  dir.WriteFile("end/c.dll", "abc");
  dir.WriteFile("d.dll", "abc");
  const testing::WorkingDirectory cwd(dir.Path());
  // Manifest given as a bare file name: no directory, so "bin\a.dll".
  const HashRun run = Hash(
      Package(R"(<module name="A" subPath="bin"><dependencies><dependency file="a.dll"><md5/></dependency>)"
              R"(</dependencies></module><module name="B" subPath="ignored"><dependencies>)"
              R"(<dependency file="b.dll"><signInfo path="rel"/><md5/></dependency>)"
              R"(<dependency file="c.dll"><signInfo path="end\"/><md5/></dependency>)"
              R"(</dependencies></module><module name="C"><dependencies><dependency file="d.dll"><md5/>)"
              R"(</dependency></dependencies></module>)"),
      "");
  EXPECT_EQ(kStageGoOn, run.result);
  EXPECT_EQ(Strings{}, run.errors);
  const Strings generated = {run.lines[2], run.lines[4], run.lines[5], run.lines[7]};
  const Strings expected = {"Generated MD5 for bin\\a.dll", "Generated MD5 for rel\\b.dll",
                            "Generated MD5 for end\\\\c.dll", "Generated MD5 for d.dll"};
  EXPECT_EQ(expected, generated);
  EXPECT_NE(std::string::npos, run.xml.find(R"(<dependency file="b.dll"><md5 value=")" + kEmptyDigest));
}

TEST(FileHashesTest, RecordsEachMissingFileHashesTheRestAndDropsEverySignInfo) {
  const TempDir dir;
  const std::string base = dir.Path().string();
  dir.WriteFile("b.dll", "abc");
  const HashRun run = Hash(
      Package(R"(<module name="A"><dependencies>)"
              R"(<dependency file="missing.dll"><signInfo path="%SourceRoot%"/><md5 value="kept"/></dependency>)"
              R"(<dependency file="b.dll"><signInfo path="%SourceRoot%"/><md5/></dependency>)"
              R"(<dependency><signInfo path="%SourceRoot%"/><signInfo path="second"/><md5/></dependency>)"
              R"(</dependencies></module>)"),
      "", base);
  EXPECT_EQ(kStageHashingFailed, run.result);
  // An empty file name leaves the directory itself, which is no file.
  const Strings errors = {"Error generating MD5 for '" + base + "\\missing.dll'. Check that it exists",
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

TEST(FileHashesTest, StoresTheDigestOnlyWhereAnMd5ElementExists) {
  const TempDir dir;
  dir.WriteFile("a.dll", "abc");
  const HashRun run = Hash(Package(R"(<module name="A"><dependencies><dependency file="a.dll"/>)"
                               R"(<dependency file="a.dll"><md5 kind="k"/><md5 value="second"/></dependency>)"
                               R"(</dependencies></module>)"),
                       dir.Path().string());
  EXPECT_EQ(kStageGoOn, run.result);
  EXPECT_EQ(4u, run.lines.size());  // both files reported as generated
  EXPECT_EQ(Package(R"(<module name="A" subPath=""><dependencies><dependency file="a.dll"/>)"
                    R"(<dependency file="a.dll"><md5 kind="k" value=")" +
                    kAbcDigest + R"("/><md5 value="second"/></dependency></dependencies></module>)"),
            run.xml);
  // The shared null element was not given the digest.
  EXPECT_TRUE(xmldoc::NullElement().GetAttributes().empty());
  EXPECT_EQ("", xmldoc::NullAttribute().GetText());
}

TEST(FileHashesTest, TreatsEveryElementChildOfModulesAsAModule) {
  const HashRun run = Hash(Package(R"(<component name="X"/><!-- c --><module name="A"><notes/></module>)"), "/nowhere");
  EXPECT_EQ(kStageGoOn, run.result);
  EXPECT_EQ(Package(R"(<component name="X" subPath=""><dependencies/></component><!-- c -->)"
                    R"(<module name="A" subPath=""><notes/><dependencies/></module>)"),
            run.xml);
  const Strings expected = {"Generating dependencing hashes for module files",
                            "Generating hashes for files in module 'X'.",
                            "Generating hashes for files in module 'A'."};
  EXPECT_EQ(expected, run.lines);
}

TEST(FileHashesTest, DigestsFilesAroundTheReadBlockLikeOpenSsl) {
  const TempDir dir;
  std::string manifest;
  for (const std::size_t size : {9999, 10000, 10001, 20000}) {
    const std::string name = std::to_string(size) + ".bin";
    dir.WriteFile(name, testing::RandomBytes(size, static_cast<unsigned>(size)));
    manifest += R"(<dependency file=")" + name + R"("><md5/></dependency>)";
  }
  const HashRun run = Hash(Package(R"(<module subPath="."><dependencies>)" + manifest + "</dependencies></module>"),
                       dir.Path().string());
  EXPECT_EQ(kStageGoOn, run.result);
  for (const std::size_t size : {9999, 10000, 10001, 20000}) {
    SCOPED_TRACE(size);
    const std::string digest =
        "0x" + DigestToText(testing::OpenSslMd5(testing::RandomBytes(size, static_cast<unsigned>(size))));
    EXPECT_NE(std::string::npos, run.xml.find(digest));
  }
}

}  // namespace
}  // namespace brevick
