// The output path against the files a run depends on, and control characters
// on the console, through whole runs of the built executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/manifest_helpers.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = "Protection Signer";

bool HasLeftovers(const std::filesystem::path& directory) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    if (entry.path().filename().string().find(".brevick-") != std::string::npos) return true;
  }
  return false;
}

class OutputProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certificate = MakeCertificate(TestRsaKey(0), {{"CN", kSubject}});
    stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
    work.WriteFile("a.dll", "abc");
    work.WriteFile("m.xml", ManifestNaming("a.dll"));
  }

  ProcessResult Run(const std::vector<std::string>& args) {
    return RunBrevickIn(work.Path(), stores.Root(), args);
  }

  StoreHome stores;
  TempDir work;
  X509Ptr certificate;
};

TEST_F(OutputProtectionTest, OutputNamingAFileTheRunReadsIsRefusedAndNothingIsWritten) {
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
      {"m.xml", input},           {"./m.xml", input},          {".\\m.xml", input},
      {"link.xml", input},        {"hard.xml", input},         {"a.dll", module},
      {"module-link", module},    {storeFile.string(), store}, {"pem-link", store},
      {storeNew.string(), store},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outfile);
    const ProcessResult result = Run({"m.xml", c.outfile, kSubject});
    EXPECT_EQ(
        Banner() + "\nThere were errors:\nRefusing to overwrite " + c.outfile + c.reason + "\n",
        result.output);
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
  EXPECT_EQ(0, Run({"m.xml", "signer.pem", kSubject}).exitCode);
}

TEST_F(OutputProtectionTest, ListingShowsControlCharactersOfACertificateAsReplacementCharacters) {
  const X509Ptr hostile = MakeCertificate(TestRsaKey(1),
                                          {{"CN",
                                            "Evil\x1B[2J\x07\xC2\x9B"
                                            "31m\xE2\x80\xAE"
                                            "lld.exe\r\nDone"}},
                                          7);
  stores.AddPemWithKey("My", "hostile.pem", hostile.get(), TestRsaKey(1));
  const ProcessResult result = Run({"-L"});
  EXPECT_EQ(0, result.exitCode) << result.output;
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_NE(std::string::npos,
            result.output.find("Evil" + replacement + "[2J" + replacement + replacement + "31m" +
                               replacement + "lld.exe" + replacement + replacement + "Done"))
      << result.output;
  for (const std::string hidden : {"\x1B", "\x07", "\r", "\xC2\x9B", "\xE2\x80\xAE"}) {
    SCOPED_TRACE(::testing::PrintToString(hidden));
    EXPECT_EQ(std::string::npos, result.output.find(hidden));
    EXPECT_EQ(std::string::npos, result.errors.find(hidden));
  }
}

}  // namespace
}  // namespace brevick::testing
