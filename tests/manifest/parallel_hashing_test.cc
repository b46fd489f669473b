// tests/manifest/parallel_hashing_test.cc: the hashing stage on many threads
// gives exactly the lines, errors and tree of one thread; the path checks
// made before a file is opened; the extra digest stored beside md5.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/hashing_step.h"
#include "tests/support/manifest_helpers.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::TempDir;
using Strings = std::vector<std::string>;

struct HashRun {
  StageResult result;
  Strings lines;
  Strings errors;
  std::string xml;
  bool operator==(const HashRun&) const = default;
};

HashRun Hash(const std::string& manifest, const HashSettings& settings) {
  testing::RecordingReporter reporter;
  const auto document = testing::ParseXml(manifest);
  const StageResult result = GenerateFileHashes(*document, settings, reporter);
  return {result, reporter.Shown("P"), reporter.Errors(), testing::CompactXml(document->GetRoot())};
}

HashSettings Settings(const TempDir& dir, int jobs) {
  HashSettings settings{ToWide(dir.Path().string()), L"."};
  settings.jobs = jobs;
  return settings;
}

std::string Dependency(const std::string& file) {
  return "<dependency file=\"" + file + "\"><md5/></dependency>";
}

std::string Module(const std::string& name, const std::string& subPath,
                   const std::string& dependencies) {
  return "<module name=\"" + name + "\" subPath=\"" + subPath + "\"><dependencies>" + dependencies +
         "</dependencies></module>";
}

std::string Package(const std::string& modules, const std::string& declaration = "") {
  return declaration + "<dravanePackage><package name=\"P\"><modules>" + modules +
         "</modules></package></dravanePackage>";
}

TEST(ParallelHashingTest, EveryJobCountGivesTheSequentialRun) {
  const TempDir dir;
  for (int i = 0; i < 40; ++i)
    dir.WriteFile("bin/f" + std::to_string(i),
                  std::string(static_cast<std::size_t>(i * 9001), 'x'));
  ASSERT_EQ(0, ::mkdir((dir.Path() / "bin/directory").c_str(), 0755));  // not a regular file
  ASSERT_EQ(0, ::mkfifo((dir.Path() / "bin/fifo").c_str(), 0644));
  // Failures of each kind at the start, in the middle and at the end.
  const auto files = [](int from, int to) {
    std::string text;
    for (int i = from; i < to; ++i) text += Dependency("f" + std::to_string(i));
    return text;
  };
  const struct {
    const char* name;
    std::string manifest;
  } kCases[] = {
      {"clean", Package(Module("A", "bin", files(0, 20)) + Module("B", "bin", files(20, 40)))},
      {"failures at start, middle and end",
       Package(
           Module("A", "bin", Dependency("missing") + Dependency("fifo") + files(0, 10)) +
           Module("B", "bin",
                  files(10, 15) + Dependency("a  b") + Dependency("directory") + files(15, 30)) +
           Module("C", "bin", files(30, 40) + Dependency("f0/x") + Dependency("gone")))},
      {"a module refused by its subPath",
       Package(Module("A", "bin", files(0, 5)) + Module("B", "b\tin", files(5, 8)) +
               Module("C", "bin", files(8, 12)))},
      {"no files at all", Package(Module("A", "bin", ""))},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const HashRun sequential = Hash(c.manifest, Settings(dir, 1));
    for (const int jobs : {2, 3, 64}) {
      SCOPED_TRACE(jobs);
      EXPECT_EQ(sequential, Hash(c.manifest, Settings(dir, jobs)));
    }
  }
  const HashRun failing = Hash(kCases[1].manifest, Settings(dir, 4));
  EXPECT_EQ(StageResult::kHashingFailed, failing.result);
  const std::string base = dir.Path().string() + "\\bin\\";
  EXPECT_EQ((Strings{"Error generating MD5 for '" + base + "missing'. Check that it exists",
                     "Error generating MD5 for '" + base + "fifo'. Check that it exists",
                     "Error generating MD5 for '" + base +
                         "a  b'. Its name would change when the manifest is written",
                     "Error generating MD5 for '" + base + "directory'. Check that it exists",
                     "Error generating MD5 for '" + base + "f0/x'. Check that it exists",
                     "Error generating MD5 for '" + base + "gone'. Check that it exists"}),
            failing.errors);
  EXPECT_EQ("Generating hashes for files in module 'A'.", failing.lines.at(1));
  EXPECT_EQ("Error generating MD5 for '" + base + "missing'. Check that it exists",
            failing.lines.at(2));
  EXPECT_EQ("Generated MD5 for " + base + "f0", failing.lines.at(4));
}

// Each path would be spelled differently by the written manifest, so it is
// refused even though a file of exactly that name exists.
TEST(ParallelHashingTest, NamesTheWrittenManifestWouldChangeAreRefused) {
  const TempDir dir;
  constexpr const char* kChange = "Its name would change when the manifest is written";
  constexpr const char* kNonAscii = "Non-ASCII names need a UTF-8 manifest";
  const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  const struct {
    const char* name;
    std::string manifest;
    std::string openedName;  // the name as it reaches the file system
    std::string shownPath;   // the path in the message, relative to the package
    const char* reason;      // nullptr: hashed
  } kCases[] = {
      {"two blanks in file", Package(Module("A", "", Dependency("a  b.dll"))), "a  b.dll",
       "\\a  b.dll", kChange},
      {"tab in file", Package(Module("A", "", Dependency("a&#9;b.dll"))), "a\tb.dll", "\\a\tb.dll",
       kChange},
      {"line feed in file", Package(Module("A", "", Dependency("a&#10;b.dll"))), "a\nb.dll",
       "\\a\nb.dll", kChange},
      {"carriage return in subPath", Package(Module("A", "s&#13;t", Dependency("a.dll"))),
       "s\rt/a.dll", "s\rt\\a.dll", kChange},
      {"two blanks in subPath", Package(Module("A", "s  t", Dependency("a.dll"))), "s  t/a.dll",
       "s  t\\a.dll", kChange},
      {"one blank is kept", Package(Module("A", "s t", Dependency("a b.dll"))), "s t/a b.dll",
       "s t\\a b.dll", nullptr},
      {"non-ASCII in a Latin-1 manifest",
       Package(Module("A", "", Dependency("caf\xC3\xA9.dll")), latin1), "caf\xC3\xA9.dll",
       "\\caf\xC3\xA9.dll", kNonAscii},
      {"non-ASCII subPath in a Latin-1 manifest",
       Package(Module("A", "\xC3\xA9", Dependency("a.dll")), latin1), "\xC3\xA9/a.dll",
       "\xC3\xA9\\a.dll", kNonAscii},
      {"ASCII in a Latin-1 manifest", Package(Module("A", "", Dependency("b.dll")), latin1),
       "b.dll", "\\b.dll", nullptr},
      {"non-ASCII in a UTF-8 manifest",
       Package(Module("A", "", Dependency("caf\xC3\xA9.dll")), utf8), "caf\xC3\xA9.dll",
       "\\caf\xC3\xA9.dll", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    dir.WriteFile(c.openedName, "abc");
    const HashRun run = Hash(c.manifest, Settings(dir, 2));
    const std::string path = dir.Path().string() + "\\" + c.shownPath;
    if (c.reason == nullptr) {
      EXPECT_EQ(StageResult::kGoOn, run.result);
      EXPECT_EQ(Strings{}, run.errors);
    } else {
      EXPECT_EQ(StageResult::kHashingFailed, run.result);
      EXPECT_EQ(Strings{"Error generating MD5 for '" + path + "'. " + c.reason}, run.errors);
    }
  }
}

TEST(ParallelHashingTest, ConfinementRefusesFilesOutside) {
  const TempDir dir;
  dir.WriteFile("in/a.dll", "abc");
  dir.WriteFile("out/b.dll", "abc");
  HashSettings settings = Settings(dir, 2);
  settings.confinedDirectories = {std::filesystem::canonical(dir.Path() / "in").string()};
  const HashRun run = Hash(
      Package(Module("A", "in", Dependency("a.dll")) + Module("B", "out", Dependency("b.dll"))),
      settings);
  EXPECT_EQ(StageResult::kHashingFailed, run.result);
  EXPECT_EQ(Strings{"Error generating MD5 for '" + dir.Path().string() +
                    "\\out\\b.dll'. It lies outside the confined directories"},
            run.errors);
}

TEST(ParallelHashingTest, TheExtraDigestFollowsMd5AndReplacesAStaleOne) {
  const TempDir dir;
  dir.WriteFile("a", "abc");
  constexpr const char* kMd5 = "0x900150983cd24fb0d6963f7d28e17f72";
  constexpr const char* kSha256 =
      "0xba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const auto dependency = [](const std::string& inner) {
    return Package(Module("A", "", "<dependency file=\"a\">" + inner + "</dependency>"));
  };
  const auto released = [](const std::string& inner) {
    return "<dravanePackage><package name=\"P\"><modules><module name=\"A\" subPath=\"\">"
           "<dependencies><dependency file=\"a\">" +
           inner + "</dependency></dependencies></module></modules></package></dravanePackage>";
  };
  const std::string md5 = std::string("<md5 value=\"") + kMd5 + "\"/>";
  const std::string sha = std::string("<sha256 value=\"") + kSha256 + "\"/>";
  const struct {
    const char* name;
    DigestAlgorithm digest;
    std::string inner;
    std::string expected;
  } kCases[] = {
      {"none asked", DigestAlgorithm::kMd2, "<destination/><md5/><x/>",
       "<destination/>" + md5 + "<x/>"},
      {"added right after md5", DigestAlgorithm::kSha256, "<destination/><md5/><x/>",
       "<destination/>" + md5 + sha + "<x/>"},
      {"md5 last", DigestAlgorithm::kSha256, "<md5/>", md5 + sha},
      {"a stale one updated in place", DigestAlgorithm::kSha256,
       "<sha256 value=\"0xold\"/><md5/><x/>", sha + md5 + "<x/>"},
      {"no md5, no digest", DigestAlgorithm::kSha256, "<destination/>", "<destination/>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    HashSettings settings = Settings(dir, 2);
    settings.extraDigest = c.digest;
    const HashRun run = Hash(dependency(c.inner), settings);
    EXPECT_EQ(StageResult::kGoOn, run.result);
    EXPECT_EQ(released(c.expected), run.xml);
  }
}

}  // namespace
}  // namespace brevick
