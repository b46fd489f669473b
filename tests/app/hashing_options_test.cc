// tests/app/hashing_options_test.cc: --jobs, --confine and the progress line
// in whole runs of the built executable.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/signing_run.h"

namespace brevick::testing {
namespace {

std::string Manifest(int fileCount, const std::vector<std::string>& extraFiles = {}) {
  std::string text =
      "<?xml version=\"1.0\"?>\n<dravanePackage><package name=\"P\" "
      "id=\"{00000000-0000-0000-0000-000000000000}\"><modules>\n";
  std::vector<std::string> files;
  for (int i = 0; i < fileCount; ++i) files.push_back("f" + std::to_string(i));
  // Extra files go at the start, in the middle and at the end in turn.
  for (std::size_t i = 0; i < extraFiles.size(); ++i) {
    const std::size_t at = i % 3 == 0 ? 0 : i % 3 == 1 ? files.size() / 2 : files.size();
    files.insert(files.begin() + static_cast<std::ptrdiff_t>(at), extraFiles[i]);
  }
  for (std::size_t m = 0; m < files.size(); m += 4) {
    text += "<module name=\"M" + std::to_string(m) +
            "\" id=\"{00000000-0000-0000-0000-000000000001}\" host=\"Engine\" "
            "subPath=\"bin\"><dependencies>";
    for (std::size_t i = m; i < files.size() && i < m + 4; ++i) {
      text += "<dependency file=\"" + files[i] + "\" entryPoint=\"" + (i == m ? "1" : "0") +
              "\"><destination value=\"local\"/><md5/></dependency>";
    }
    text += "</dependencies></module>\n";
  }
  return text + "</modules></package></dravanePackage>\n";
}

class HashingOptionsTest : public SigningRunTest {
 protected:
  void SetUp() override {
    for (int i = 0; i < 30; ++i)
      work.WriteFile("bin/f" + std::to_string(i),
                     std::string(static_cast<std::size_t>(i) * 30011, static_cast<char>(i)));
  }
};

TEST_F(HashingOptionsTest, EveryJobCountPrintsAndWritesWhatOneJobDoes) {
  ASSERT_EQ(0, ::mkdir((work.Path() / "bin/directory").c_str(), 0755));
  const struct {
    const char* name;
    std::string manifest;
  } kCases[] = {
      // clang-format off
      {"clean", Manifest(30)},
      {"missing, unreadable and refused files", Manifest(30, {"missing1", "directory", "tab&#9;name", "missing2", "a  b", "missing3"})},
      // clang-format on
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    work.WriteFile("m.xml", c.manifest);
    std::filesystem::remove(Out());
    const ProcessResult sequential = Run({"-P", "--jobs", "1", "m.xml", "out.p7", kRunSigner});
    const std::string sequentialOutput = Read("out.p7");
    EXPECT_EQ(c.manifest == kCases[0].manifest ? 0 : 1, sequential.exitCode) << sequential.output;
    for (const char* jobs : {"2", "5", "100"}) {
      SCOPED_TRACE(jobs);
      std::filesystem::remove(Out());
      const ProcessResult parallel = Run({"-P", "--jobs", jobs, "m.xml", "out.p7", kRunSigner});
      EXPECT_EQ(sequential.output, parallel.output);
      EXPECT_EQ(sequential.errors, parallel.errors);
      EXPECT_EQ(sequential.exitCode, parallel.exitCode);
      EXPECT_EQ(sequentialOutput, Read("out.p7"));
    }
    // The default job count too.
    std::filesystem::remove(Out());
    EXPECT_EQ(sequential.output, Run({"-P", "m.xml", "out.p7", kRunSigner}).output);
    EXPECT_EQ(sequentialOutput, Read("out.p7"));
  }
  EXPECT_EQ(1, Run({"--jobs", "2", "m.xml", "out.p7", kRunSigner}).exitCode);
}

TEST_F(HashingOptionsTest, ConfineAcceptsFilesInsideAndRefusesOthers) {
  work.WriteFile("m.xml", Manifest(3));
  work.WriteFile("elsewhere/f0", "abc");
  const std::filesystem::path bin = work.Path() / "bin";
  std::filesystem::create_directory_symlink(bin, work.Path() / "bin-link");
  std::filesystem::create_directory(work.Path() / "bi");
  const std::string outside =
      "Error generating MD5 for 'bin\\f0'. It lies outside the confined directories\n";
  const struct {
    const char* name;
    std::vector<std::string> confine;
    bool signs;
  } kCases[] = {
      {"inside", {"bin"}, true},
      {"inside, named through a link", {"bin-link"}, true},
      {"inside one of two", {"elsewhere", "bin"}, true},
      {"outside", {"elsewhere"}, false},
      {"outside a directory whose name begins the file's", {"bi"}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args;
    for (const std::string& directory : c.confine)
      args.insert(args.end(), {"--confine", directory});
    args.insert(args.end(), {"m.xml", "out.p7", kRunSigner});
    std::filesystem::remove(Out());
    const ProcessResult result = Run(args);
    EXPECT_EQ(c.signs ? 0 : 1, result.exitCode);
    EXPECT_EQ(c.signs, result.output.find(outside) == std::string::npos) << result.output;
    EXPECT_EQ(c.signs, std::filesystem::exists(Out()));
  }
  // A file reached through a link that leads out of the confined directory.
  std::filesystem::rename(bin / "f1", work.Path() / "elsewhere/f1");
  std::filesystem::create_symlink(work.Path() / "elsewhere/f1", bin / "f1");
  const ProcessResult linked = Run({"--confine", "bin", "m.xml", "out.p7", kRunSigner});
  EXPECT_NE(std::string::npos,
            linked.output.find(
                "Error generating MD5 for 'bin\\f1'. It lies outside the confined directories\n"));
  EXPECT_EQ(1, linked.exitCode);

  const ProcessResult absent = Run({"--confine", "no-such-dir", "m.xml", "out.p7", kRunSigner});
  EXPECT_EQ(
      std::string("brevick: --confine no-such-dir: No such file or directory\n") + kHelpPointer,
      absent.errors);
  EXPECT_EQ(1, absent.exitCode);
}

TEST_F(HashingOptionsTest, TheProgressLineAppearsOnATerminalOnlyAndIsErasedAtTheEnd) {
  work.WriteFile("m.xml", Manifest(30));
  const std::vector<std::string> run = {"m.xml", "out.p7", kRunSigner};
  const std::string plainOutput = Run(run).output;

  const ProcessOptions terminal = {.standardOutput = (work.Path() / "stdout.txt").string(),
                                   .errorsOnTerminal = true};
  std::ofstream(work.Path() / "stdout.txt").flush();
  const std::string shown = WithoutSigningNotices(Run(run, terminal).errors);
  EXPECT_NE(std::string::npos, shown.find("\r\x1b[Kbrevick: hashed ")) << shown;
  EXPECT_NE(std::string::npos, shown.find(" of 30 files")) << shown;
  EXPECT_TRUE(shown.ends_with("\r\x1b[K")) << shown;
  EXPECT_EQ(plainOutput, ReadFileBytes(work.Path() / "stdout.txt"));

  std::vector<std::string> off = {"--no-progress"};
  off.insert(off.end(), run.begin(), run.end());
  EXPECT_EQ("", WithoutSigningNotices(Run(off, terminal).errors));

  // Not a terminal: nothing, unless forced.
  EXPECT_EQ("", WithoutSigningNotices(Run(run).errors));
  std::vector<std::string> forced = {"--progress"};
  forced.insert(forced.end(), run.begin(), run.end());
  const ProcessResult piped = Run(forced);
  EXPECT_NE(std::string::npos, piped.errors.find("brevick: hashed ")) << piped.errors;
  EXPECT_EQ(plainOutput, piped.output);
}

}  // namespace
}  // namespace brevick::testing
