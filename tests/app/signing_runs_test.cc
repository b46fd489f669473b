// tests/app/signing_runs_test.cc: whole runs of the built executable with
// --jobs and the progress line, and with hostile inputs: running
// out of memory is a recorded message, not a crash; an output path that names
// a file the run depends on is refused; control characters never reach the
// console.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/manifest_helpers.h"
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

class HostileInputTest : public SigningRunTest {
 protected:
  void SetUp() override {
    work.WriteFile("a.dll", "abc");
    work.WriteFile("m.xml", ManifestNaming("a.dll"));
  }
};

bool HasLeftovers(const std::filesystem::path& directory) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    if (entry.path().filename().string().find(".brevick-") != std::string::npos) return true;
  }
  return false;
}

TEST_F(HostileInputTest, RunningOutOfMemoryIsRecordedNotACrash) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  if (std::getenv("BREVICK_TEST_WRAPPER") != nullptr)
    GTEST_SKIP() << "a wrapper needs its own address space";
  // A sparse 1 GiB manifest costs no disk, but reading it needs 1 GiB of memory.
  work.WriteFile("huge.xml", "");
  std::filesystem::resize_file(work.Path() / "huge.xml", 1ull << 30);
  const ProcessResult result =
      Run({"huge.xml", "out.p7", kRunSigner}, {.addressSpaceLimitBytes = 512l << 20});
  EXPECT_EQ(FailedWith("Out of memory\n"), result.output);
  EXPECT_EQ(1, result.exitCode) << result.errors;
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

TEST_F(HostileInputTest, OutputNamingAFileTheRunReadsIsRefusedAndNothingIsWritten) {
  std::filesystem::create_symlink("m.xml", work.Path() / "link.xml");
  std::filesystem::create_hard_link(work.Path() / "m.xml", work.Path() / "hard.xml");
  std::filesystem::create_symlink("a.dll", work.Path() / "module-link");
  const std::filesystem::path storeFile = stores.StoresDirectory() / "My" / "signer.pem";
  const std::filesystem::path storeNew = stores.StoresDirectory() / "My" / "new.p7";
  std::filesystem::create_hard_link(storeFile, work.Path() / "pem-link");
  const std::string manifest = ReadFileBytes(work.Path() / "m.xml");
  const std::string pem = ReadFileBytes(storeFile);
  const std::string input = ": it is the input manifest";
  const std::string module = ": it is a module file of this package";
  const std::string store = ": it is inside the certificate stores";
  const struct {
    std::string outfile, reason;
  } cases[] = {
      // clang-format off
      {"m.xml", input}, {"./m.xml", input}, {".\\m.xml", input}, {"link.xml", input}, {"hard.xml", input},
      {"a.dll", module}, {"module-link", module},
      {storeFile.string(), store}, {"pem-link", store}, {storeNew.string(), store},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outfile);
    const ProcessResult result = Run({"m.xml", c.outfile, kRunSigner});
    EXPECT_EQ(FailedWith("Refusing to overwrite " + c.outfile + c.reason + "\n"), result.output);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(manifest, ReadFileBytes(work.Path() / "m.xml"));
    EXPECT_EQ("abc", ReadFileBytes(work.Path() / "a.dll"));
    EXPECT_EQ(pem, ReadFileBytes(storeFile));
    EXPECT_FALSE(std::filesystem::exists(storeNew));
    EXPECT_TRUE(std::filesystem::is_symlink(work.Path() / "link.xml"));
  }
  EXPECT_FALSE(HasLeftovers(work.Path()));
  EXPECT_FALSE(HasLeftovers(stores.Root()));
  // A file of the same name outside the stores is no such file.
  EXPECT_EQ(0, Run({"m.xml", "signer.pem", kRunSigner}).exitCode);
}

// A store whose name is not UTF-8 is opened by its own bytes, not by the
// name shown.
TEST_F(HostileInputTest, ListingShowsControlCharactersAndNamesThatAreNotUtf8AsReplacements) {
  const std::string name =
      "Evil\x1B[2J\x07\xC2\x9B"
      "31m\xE2\x80\xAE"
      "lld.exe\r\nDone";
  const X509Ptr hostile = MakeCertificate(TestRsaKey(1), {{"CN", name}}, {.serial = 7});
  stores.AddPemWithKey("My", "hostile.pem", hostile.get(), TestRsaKey(1));
  stores.AddPemWithKey("\xff", "f.pem", certificate.get(), TestRsaKey(0));
  const ProcessResult result = Run({"-L"});
  EXPECT_EQ(0, result.exitCode) << result.output;
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_NE(std::string::npos,
            result.output.find("Evil" + r + "[2J" + r + r + "31m" + r + "lld.exe" + r + r + "Done"))
      << result.output;
  EXPECT_TRUE(result.output.ends_with("Store '" + r +
                                      "'\n Run Signer\nStore contained 1 certificate(s)\n\nDone\n"))
      << result.output;
}

}  // namespace
}  // namespace brevick::testing
