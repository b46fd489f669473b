// tests/signing/signed_output_test.cc
#include "app/signed_output.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "base/report.h"
#include "base/utf8.h"
#include "pki/crypto_result.h"
#include "tests/support/signing_certs.h"
#include "xml/document.h"
#include "xml/element.h"
#include "xml/writer.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using Strings = std::vector<std::wstring>;

constexpr std::string_view kManifestText = "<?xml version=\"1.0\"?>\n<dravanePackage/>\n";

const std::string kPrevious = "the previous release";

std::wstring Wide(const std::filesystem::path& path) { return ToWide(path.string()); }

// Replacement files left in the directory (and one level below).
int LeftoverCount(const std::filesystem::path& directory) {
  int count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    if (entry.path().filename().string().find(".brevick-") != std::string::npos) ++count;
  }
  return count;
}

// Makes writes beyond `limitInBytes` fail with EFBIG while it lives, as a
// full disk would after the open (root is not stopped by permissions).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limitInBytes) {
    oldHandler = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = limitInBytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved{};
  sighandler_t oldHandler;
};

// A data home with one signing certificate in "My" and one without a key.
class SignedOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signer = MakeCertificate(testing::TestRsaKey(0), {{"O", "Acme"}, {"CN", "Release Signer"}});
    keyless = MakeCertificate(testing::TestRsaKey(1), {{"CN", "Keyless"}}, {.serial = 2});
    home.AddPemWithKey("My", "signer.pem", signer.get(), testing::TestRsaKey(0));
    home.AddFile("My", "keyless.cer", testing::DerOf(keyless.get()));
    std::filesystem::create_directory(home.Root() / "sub");
  }

  testing::StoreHome home;
  X509Ptr signer, keyless;
};

TEST_F(SignedOutputTest, WritesTheDocumentSignedAndVerified) {
  xmldoc::Document document;
  xmldoc::Element& root =
      document.AddRoot(std::make_unique<xmldoc::Element>(&document, "dravanePackage"));
  root.AddChild(std::make_unique<xmldoc::Element>(&root, "package"));
  const std::string expectedText = xmldoc::ToText(document, "    ");
  const struct {
    std::optional<std::wstring> store;
    std::wstring outfile;
  } cases[] = {
      {std::nullopt, Wide(home.Root() / "sub" / "out.xml")},
      {L"My", Wide(home.Root()) + L"\\sub\\out.xml"},  // backslashes open as slashes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.outfile));
    std::filesystem::remove(home.Root() / "sub" / "out.xml");
    const ConsoleCapture capture;
    EXPECT_EQ(
        StageResult::kGoOn,
        SignAndWriteText(expectedText, c.outfile, SignerChoice{L"release", c.store.value_or(L"")}));
    EXPECT_EQ(Strings{}, Errors());
    const std::string written = testing::ReadFileBytes(home.Root() / "sub" / "out.xml");
    std::vector<std::uint8_t> content;
    EXPECT_EQ(
        CryptoResult::kOk,
        VerifySignedMessage(std::vector<std::uint8_t>(written.begin(), written.end()), content));
    EXPECT_EQ(expectedText, std::string(content.begin(), content.end()));
  }
}

TEST_F(SignedOutputTest, FailuresAreRecordedAndLeaveTheFileAsItWas) {
  const std::wstring out = Wide(home.Root() / "out.xml");
  const std::wstring missingDir = Wide(home.Root() / "missing" / "out.xml");
  const std::wstring dir = Wide(home.Root() / "sub");
  const std::string text(kManifestText);
  const struct {
    const char* what;
    std::wstring outfile, subject;
    std::optional<std::wstring> store;
    rlim_t sizeLimit;  // 0: none
    StageResult result;
    Strings errors;
    std::optional<std::string> fileAfter;  // nullopt: no file
  } cases[] = {
      // clang-format off
      {"no certificate matches", out, L"Nobody", std::nullopt, 0, StageResult::kSigningFailed, {L"Could not find the specified signing certificate."}, kPrevious},
      {"certificate has no key", out, L"Keyless", std::nullopt, 0, StageResult::kSigningFailed, {L"Can't sign data"}, kPrevious},
      {"store does not exist", out, L"Release", L"Other", 0, StageResult::kSigningFailed, {L"Can't open certificate store"}, kPrevious},
      {"output directory missing", missingDir, L"Release", std::nullopt, 0, StageResult::kOutputNotOpened, {L"Failed to open " + missingDir + L" No such file or directory"}, std::nullopt},
      {"output is a directory", dir, L"Release", std::nullopt, 0, StageResult::kOutputNotOpened, {L"Failed to open " + dir + L" Is a directory"}, std::nullopt},
      // A full disk: the previous release stays whole.
      {"writing the message fails", out, L"Release", std::nullopt, text.size() + 10, StageResult::kSignatureNotWritten, {L"Failed:Error writing the signature to the file."}, kPrevious},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(home.Root() / "out.xml", std::ios::binary) << kPrevious;
    const ConsoleCapture capture;
    {
      std::optional<FileSizeLimit> limit;
      if (c.sizeLimit != 0) limit.emplace(c.sizeLimit);
      EXPECT_EQ(c.result, SignAndWriteText(kManifestText, c.outfile,
                                           SignerChoice{c.subject, c.store.value_or(L"")}));
    }
    EXPECT_EQ(c.errors, Errors());
    if (c.outfile != dir) {
      const std::filesystem::path path = ToUtf8(c.outfile);
      EXPECT_EQ(c.fileAfter, std::filesystem::exists(path)
                                 ? std::optional(testing::ReadFileBytes(path))
                                 : std::nullopt);
    }
    EXPECT_EQ(0, LeftoverCount(home.Root()));
  }
}

}  // namespace
}  // namespace brevick
