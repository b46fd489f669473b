// tests/signing/signed_output_test.cc
#include "signing/signed_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>

#include "app/report.h"
#include "app/run_settings.h"
#include "app/utf8.h"
#include "signing/crypto.h"
#include "tests/support/signing_certs.h"
#include "xml/document.h"
#include "xml/element.h"
#include "xml/writer.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using testing::StoreHome;

constexpr std::string_view kManifestText = "<?xml version=\"1.0\"?>\n<dravanePackage/>\n";

std::wstring Wide(const std::filesystem::path& path) { return ToWide(path.string()); }

std::optional<std::string> FileText(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return std::nullopt;
  return testing::ReadFileBytes(path);
}

void WriteText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string Content(const std::string& message) {
  std::vector<std::uint8_t> content;
  EXPECT_EQ(0, CryptoAPI().Verify(std::vector<std::uint8_t>(message.begin(), message.end()), content));
  return std::string(content.begin(), content.end());
}

// A data home with one signing certificate in "My" and one without a key.
class SignedOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = RunSettings{};
    signer = MakeCertificate(testing::TestRsaKey(0), {{"O", "Acme"}, {"CN", "Release Signer"}});
    keyless = MakeCertificate(testing::TestRsaKey(1), {{"CN", "Keyless"}}, 2);
    home.AddPemWithKey("My", "signer.pem", signer.get(), testing::TestRsaKey(0));
    home.AddFile("My", "keyless.cer", testing::DerOf(keyless.get()));
  }

  std::filesystem::path OutPath() const { return home.Root() / "out.xml"; }

  StoreHome home;
  X509Ptr signer, keyless;
};

TEST_F(SignedOutputTest, WritesTheDocumentSignedAndVerified) {
  xmldoc::Document document;
  xmldoc::Element& root = document.AddRoot(std::make_unique<xmldoc::Element>(&document, "dravanePackage"));
  root.AddChild(std::make_unique<xmldoc::Element>(&root, "package"));
  std::string expectedText;
  xmldoc::WriteContext context(expectedText, "    ", 0);
  document.Write(context);

  for (const std::optional<std::wstring>& store : {std::optional<std::wstring>(), std::optional<std::wstring>(L"My")}) {
    SCOPED_TRACE(ToUtf8(store.value_or(L"(no -S)")));
    Settings().storename = store;
    const ConsoleCapture capture;
    EXPECT_EQ(0, SignAndWrite(document, Wide(OutPath()), L"release"));
    EXPECT_TRUE(Errors().empty());
    const std::string written = testing::ReadFileBytes(OutPath());
    ASSERT_FALSE(written.empty());
    EXPECT_EQ('\x30', written[0]);
    EXPECT_EQ(expectedText, Content(written));
  }
}

TEST_F(SignedOutputTest, BackslashesInTheOutputPathOpenAsSlashes) {
  std::filesystem::create_directory(home.Root() / "sub");
  const std::wstring outfile = Wide(home.Root()) + L"\\sub\\out.xml";
  const ConsoleCapture capture;
  EXPECT_EQ(0, SignAndWriteText(kManifestText, outfile, L"Release"));
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(std::string(kManifestText), Content(testing::ReadFileBytes(home.Root() / "sub" / "out.xml")));
}

TEST_F(SignedOutputTest, FailuresAreRecordedAndLeaveTheFileAsTheyShould) {
  const std::wstring out = Wide(home.Root() / "out.xml");
  const std::wstring missingDir = Wide(home.Root() / "missing" / "out.xml");
  std::filesystem::create_directory(home.Root() / "dir.xml");
  const std::wstring dir = Wide(home.Root() / "dir.xml");
  const std::string text(kManifestText);
  const struct {
    const char* what;
    std::wstring outfile;
    std::wstring subject;
    std::optional<std::wstring> store;
    int result;
    std::vector<std::wstring> errors;
    std::optional<std::string> fileAfter;
  } cases[] = {
      {"no certificate matches", out, L"Nobody", std::nullopt, 15,
       {L"Could not find the specified signing certificate."}, text},
      {"certificate has no key", out, L"Keyless", std::nullopt, 15, {L"Can't sign data"}, text},
      {"store does not exist", out, L"Release", L"Other", 15, {L"Can't open certificate store"}, text},
      {"output directory missing", missingDir, L"Release", std::nullopt, 2,
       {L"Failed to open " + missingDir + L" No such file or directory"}, std::nullopt},
      {"output is a directory", dir, L"Release", std::nullopt, 2,
       {L"Failed to open " + dir + L" Is a directory"}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(home.Root() / "out.xml");
    Settings().storename = c.store;
    const ConsoleCapture capture;
    EXPECT_EQ(c.result, SignAndWriteText(kManifestText, c.outfile, c.subject));
    EXPECT_EQ(c.errors, Errors());
    if (c.outfile != dir) {
      EXPECT_EQ(c.fileAfter, FileText(ToUtf8(c.outfile)));
    }
  }
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

TEST_F(SignedOutputTest, FailedWriteOfTheTextLeavesAnEmptyFile) {
  const ConsoleCapture capture;
  const std::wstring out = Wide(OutPath());
  {
    const FileSizeLimit limit(kManifestText.size() - 1);
    EXPECT_EQ(2, SignAndWriteText(kManifestText, out, L"Release"));
  }
  EXPECT_EQ(std::vector<std::wstring>{L"Error writing the file " + out + L" [File too large]"}, Errors());
  EXPECT_EQ("", testing::ReadFileBytes(OutPath()));
}

TEST_F(SignedOutputTest, FailedWriteOfTheSignedMessagePutsTheTextBack) {
  const ConsoleCapture capture;
  {
    const FileSizeLimit limit(kManifestText.size() + 10);  // the message carries a certificate: far larger
    EXPECT_EQ(11, SignAndWriteText(kManifestText, Wide(OutPath()), L"Release"));
  }
  EXPECT_EQ(std::vector<std::wstring>{L"Failed:Error writing the signature to the file."}, Errors());
  EXPECT_EQ(std::string(kManifestText), testing::ReadFileBytes(OutPath()));
}

TEST_F(SignedOutputTest, ReadWholeFileRecordsWhyItCannotRead) {
  std::filesystem::create_directory(home.Root() / "dir");
  ASSERT_EQ(0, mkfifo((home.Root() / "fifo").c_str(), 0600));  // reading it must not wait for a writer
  const std::wstring missing = Wide(home.Root() / "missing");
  const std::wstring dir = Wide(home.Root() / "dir");
  const std::wstring fifo = Wide(home.Root() / "fifo");
  const struct { std::wstring path; std::wstring error; } cases[] = {
      {missing, L"Failed to open " + missing + L" No such file or directory"},
      {dir, L"Failed to open " + dir + L" Is a directory"},
      {fifo, L"Failed to open " + fifo + L" Not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const ConsoleCapture capture;
    std::vector<std::uint8_t> bytes = {1};
    EXPECT_EQ(2, ReadWholeFile(c.path, bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(std::vector<std::wstring>{c.error}, Errors());
  }
  const ConsoleCapture capture;
  std::vector<std::uint8_t> bytes;
  WriteText(home.Root() / "text", kManifestText);
  EXPECT_EQ(0, ReadWholeFile(Wide(home.Root() / "text"), bytes));
  EXPECT_EQ(std::string(kManifestText), std::string(bytes.begin(), bytes.end()));
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SignedOutputTest, VerifyFileReportsInTheCryptoServicesWords) {
  WriteText(home.Root() / "plain.xml", kManifestText);
  const std::wstring missing = Wide(home.Root() / "missing");
  const struct { std::wstring path; int result; std::vector<std::wstring> errors; } cases[] = {
      {Wide(home.Root() / "plain.xml"), 16, {L"Failed signature check. The data is not to be trusted."}},
      {missing, 2, {L"Failed to open " + missing + L" No such file or directory"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const ConsoleCapture capture;
    EXPECT_EQ(c.result, VerifyFile(c.path));
    EXPECT_EQ(c.errors, Errors());
  }
}

TEST(SignedOutputReportTest, WriteWholeFileRecordsNothing) {
  const ConsoleCapture capture;
  EXPECT_EQ(11, WriteWholeFile(L"/nonexistent-brevick-dir/out", {1, 2, 3}));
  EXPECT_TRUE(Errors().empty());
}

TEST(SignedOutputReportTest, StageFailureReportJoinsPrefixAndText) {
  const ConsoleCapture capture;
  const struct { int code; const char* prefix; } cases[] = {
      {16, "Error verifying signature "}, {2, "Error verifying signature "}, {11, "Failed"},
      {1, "Failed"}, {5, "Failed"}, {10, "Failed"}, {9, "Failed"}, {13, "Failed"}, {18, "Failed"}, {-1, "Failed"},
  };
  for (const auto& c : cases) StageFailureReport(c.code, c.prefix);
  const std::vector<std::wstring> expected = {
      L"Error verifying signature :Error while attempting to verify the signature.",
      L"Error verifying signature :Can't open the specified file.",
      L"Failed:Error writing the signature to the file.",
      L"Failed:Can't Find the specified file.",
      L"Failed:Error while creating the hash of the XML data.",
      L"Failed:Error while creating the hash of the XML data.",
      L"Failed", L"Failed", L"Failed", L"Failed"};
  EXPECT_EQ(expected, Errors());
}

}  // namespace
}  // namespace brevick
