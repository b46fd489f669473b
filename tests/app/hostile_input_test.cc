// Hostile and broken inputs given to the built executable: each ends with a
// recorded message and exit code 1, never a crash, and no signed output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/manifest_helpers.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = "Hostile Input Signer";

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certificate = MakeCertificate(TestRsaKey(0), {{"CN", kSubject}});
    stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
    work.WriteFile("a.dll", "abc");
  }

  ProcessResult Run(const std::vector<std::string>& args, long addressSpaceLimitBytes = 0) {
    return RunBrevickIn(work.Path(), stores.Root(), args, addressSpaceLimitBytes);
  }

  // The run failed with exactly these errors and signed nothing.
  void ExpectFailure(const ProcessResult& result, const std::string& errors) {
    EXPECT_EQ(Banner() + "\nThere were errors:\n" + errors, result.output);
    EXPECT_EQ(1, result.exitCode) << result.errors;
  }

  StoreHome stores;
  TempDir work;
  X509Ptr certificate;
};

TEST_F(HostileInputTest, NestingFarBeyondTheLimitIsAParseError) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  work.WriteFile("deep.xml", deep);
  ExpectFailure(Run({"deep.xml", "out.p7", kSubject}),
                "XML parse error in file deep.xml [Elements are nested too deeply]\n");
  EXPECT_FALSE(std::filesystem::exists(work.Path() / "out.p7"));
}

TEST_F(HostileInputTest, WhitespaceOnlyManifestHasNoRoot) {
  work.WriteFile("blank.xml", std::string(1 << 20, ' ') + "\n\t\r\n");
  ExpectFailure(Run({"blank.xml", "out.p7", kSubject}),
                "XML parse error in file blank.xml [The document has no root (element)]\n");
}

TEST_F(HostileInputTest, ModuleFileThatIsADirectoryOrDeviceIsNotHashed) {
  std::filesystem::create_directory(work.Path() / "dir.dll");
  for (const std::string file : {"dir.dll", "/dev/zero"}) {
    SCOPED_TRACE(file);
    work.WriteFile("m.xml", ManifestNaming(file));
    ExpectFailure(Run({"m.xml", "out.p7", kSubject}),
                  "Error generating MD5 for '" + file + "'. Check that it exists\n");
    EXPECT_FALSE(std::filesystem::exists(work.Path() / "out.p7"));
  }
}

TEST_F(HostileInputTest, OutputThatCannotBeWrittenIsReportedAndNothingIsSigned) {
  work.WriteFile("m.xml", ManifestNaming("a.dll"));
  std::filesystem::create_directory(work.Path() / "outdir");
  const struct {
    std::string outfile, error;
  } cases[] = {
      {"missing/out.p7", "Failed to open missing/out.p7 No such file or directory\n"},
      {"outdir", "Failed to open outdir Is a directory\n"},
      {"a.dll/out.p7", "Failed to open a.dll/out.p7 Not a directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outfile);
    ExpectFailure(Run({"m.xml", c.outfile, kSubject}), c.error);
  }
  EXPECT_EQ("abc", ReadFileBytes(work.Path() / "a.dll"));
}

#if defined(__SANITIZE_ADDRESS__)
#define BREVICK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BREVICK_UNDER_ASAN 1
#endif
#endif

TEST_F(HostileInputTest, RunningOutOfMemoryIsRecordedNotACrash) {
#ifdef BREVICK_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  if (std::getenv("BREVICK_TEST_WRAPPER") != nullptr)
    GTEST_SKIP() << "a wrapper needs its own address space";
  // A sparse 1 GiB manifest costs no disk, but reading it needs 1 GiB of memory.
  work.WriteFile("huge.xml", "");
  std::filesystem::resize_file(work.Path() / "huge.xml", 1ull << 30);
  ExpectFailure(Run({"huge.xml", "out.p7", kSubject}, 512l << 20), "Out of memory\n");
  EXPECT_FALSE(std::filesystem::exists(work.Path() / "out.p7"));
}

}  // namespace
}  // namespace brevick::testing
