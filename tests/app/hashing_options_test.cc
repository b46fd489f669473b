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

// Package() with bin/f0..f29 (of growing sizes) beside a.dll.
class HashingOptionsTest : public SigningRunTest {
 protected:
  void SetUp() override {
    Package();
    for (int i = 0; i < 30; ++i)
      work.WriteFile("bin/f" + std::to_string(i),
                     std::string(static_cast<std::size_t>(i) * 30011, static_cast<char>(i)));
  }
  // Package()'s manifest naming `files` of bin/ after a.dll, or only a.dll.
  std::string Manifest(const std::vector<std::string>& files) const {
    std::string text = Read("m.xml");
    const std::size_t end = text.find("</dependency>") + 13;
    for (auto file = files.rbegin(); file != files.rend(); ++file)
      text.insert(end, "<dependency file=\"" + *file +
                           "\" entryPoint=\"0\"><destination value=\"local\"/><md5/></dependency>");
    return text;
  }
};

TEST_F(HashingOptionsTest, EveryJobCountPrintsAndWritesWhatOneJobDoes) {
  ASSERT_EQ(0, ::mkdir((work.Path() / "bin/directory").c_str(), 0755));
  std::vector<std::string> clean, broken = {"missing1", "directory", "tab&#9;name"};
  for (int i = 0; i < 30; ++i) clean.push_back("f" + std::to_string(i));
  broken.insert(broken.end(), clean.begin(), clean.end());
  broken.insert(broken.begin() + 15, {"missing2", "a  b"});
  broken.push_back("missing3");
  const std::string cleanManifest = Manifest(clean);
  for (const std::string& manifest : {cleanManifest, Manifest(broken)}) {
    SCOPED_TRACE(manifest.size());
    work.WriteFile("m.xml", manifest);
    std::filesystem::remove(Out());
    const ProcessResult sequential = Run({"-P", "--jobs", "1", "m.xml", "out.p7", kRunSigner});
    const std::string sequentialOutput = Read("out.p7");
    EXPECT_EQ(manifest == cleanManifest ? 0 : 1, sequential.exitCode) << sequential.output;
    for (const char* jobs : {"2", "5", "100", ""}) {  // "": the default job count
      SCOPED_TRACE(jobs);
      std::filesystem::remove(Out());
      const ProcessResult parallel =
          Run(*jobs ? std::vector<std::string>{"-P", "--jobs", jobs, "m.xml", "out.p7", kRunSigner}
                    : std::vector<std::string>{"-P", "m.xml", "out.p7", kRunSigner});
      EXPECT_EQ(sequential.output, parallel.output);
      EXPECT_EQ(sequential.errors, parallel.errors);
      EXPECT_EQ(sequential.exitCode, parallel.exitCode);
      EXPECT_EQ(sequentialOutput, Read("out.p7"));
    }
  }
}

// Which files lie inside is the hasher's to judge; here, the directories as
// given on the command line and what the run says and leaves.
TEST_F(HashingOptionsTest, ConfineAcceptsFilesInsideAndRefusesOthers) {
  std::filesystem::create_directory(work.Path() / "elsewhere");
  std::filesystem::create_directory_symlink(work.Path() / "bin", work.Path() / "bin-link");
  const struct {
    std::vector<std::string> confine;
    bool signs;
  } kCases[] = {{{"elsewhere", "bin-link"}, true}, {{"elsewhere"}, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.confine.size());
    std::vector<std::string> args;
    for (const std::string& directory : c.confine)
      args.insert(args.end(), {"--confine", directory});
    args.insert(args.end(), {"m.xml", "out.p7", kRunSigner});
    std::filesystem::remove(Out());
    const ProcessResult result = Run(args);
    EXPECT_EQ(c.signs ? Banner() + "\nDone\n"
                      : FailedWith("Error generating MD5 for 'bin\\a.dll'. It lies outside the "
                                   "confined directories\n"),
              result.output);
    EXPECT_EQ(c.signs ? 0 : 1, result.exitCode);
    EXPECT_EQ(c.signs, std::filesystem::exists(Out()));
  }
}

TEST_F(HashingOptionsTest, TheProgressLineAppearsOnATerminalOnlyAndIsErasedAtTheEnd) {
  work.WriteFile("m.xml", Manifest({"f1", "f2"}));
  const auto run = [&](const char* option, const ProcessOptions& options = {}) {
    std::vector<std::string> args = {"m.xml", "out.p7", kRunSigner};
    if (*option) args.insert(args.begin(), option);
    return Run(args, options);
  };
  const std::string plainOutput = run("").output;
  const ProcessOptions terminal = {.standardOutput = (work.Path() / "stdout.txt").string(),
                                   .errorsOnTerminal = true};
  std::ofstream(work.Path() / "stdout.txt").flush();
  const std::string shown = WithoutSigningNotices(run("", terminal).errors);
  EXPECT_NE(std::string::npos, shown.find("\r\x1b[Kbrevick: hashed ")) << shown;
  EXPECT_NE(std::string::npos, shown.find(" of 3 files")) << shown;
  EXPECT_TRUE(shown.ends_with("\r\x1b[K")) << shown;
  EXPECT_EQ(plainOutput, Read("stdout.txt"));
  EXPECT_EQ("", WithoutSigningNotices(run("--no-progress", terminal).errors));
  // Not a terminal: nothing, unless forced.
  EXPECT_EQ("", WithoutSigningNotices(run("").errors));
  const ProcessResult piped = run("--progress");
  EXPECT_NE(std::string::npos, piped.errors.find("brevick: hashed ")) << piped.errors;
  EXPECT_EQ(plainOutput, piped.output);
}

}  // namespace
}  // namespace brevick::testing
