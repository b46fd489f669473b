// `brevick --verify` as a child process: what only the executable shows (the
// text report byte for byte, the JSON on standard output, what stands on
// standard error, the exit code and the files left behind). The verdicts and
// each exit bit's cause are the verify library's tests.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "pki/certificate_info.h"
#include "tests/support/json_fields.h"
#include "tests/support/process.h"
#include "tests/support/verify_fixture.h"
#include "verify/verify_report.h"

namespace brevick::testing {
namespace {

constexpr int kInvalid = static_cast<int>(VerifyFailure::kInvalidMessage);
constexpr int kUntrusted = static_cast<int>(VerifyFailure::kUntrusted);
constexpr int kFiles = static_cast<int>(VerifyFailure::kFilesDiffer);
constexpr int kOutput = static_cast<int>(VerifyFailure::kOutputFailed);
const std::string kMd2Warning =
    "brevick: warning: the signature uses MD2, a broken digest; ask the signer for --digest "
    "sha256\n";

std::string LastLine(const std::string& output) {
  const std::string body = output.ends_with('\n') ? output.substr(0, output.size() - 1) : output;
  return body.substr(body.rfind('\n') == std::string::npos ? 0 : body.rfind('\n') + 1);
}

// A package whose files fail every way a file can, at its start, in its
// middle and at its end, between files that pass.
class VerifyModeTest : public VerifyFixture {
 protected:
  void SetUp() override {
    std::vector<PackageFile> files = {{"M", "", "first-missing.bin", "gone", ""}};
    for (int i = 0; i < 4; ++i)
      files.push_back({"M", "", "ok" + std::to_string(i), std::string(1000 * i, 'o'), ""});
    files.push_back({"M", "", "middle-fifo", "fifo", ""});
    files.push_back({"M", "", "big.bin", std::string(700 * 1024, 'b'), ""});  // several reads
    files.push_back({"M", "", "locked.bin", "locked", ""});
    files.push_back({"M", "", "differs.bin", "same", ""});
    files.push_back({"M", "", "no-digest.bin", "n", "<md5/>"});
    files.push_back({"N \xC5\x81odz", "sub", "ok-after.bin", "after", ""});
    files.push_back({"N \xC5\x81odz", "sub", "last-differs.bin", "last", ""});
    signedPath = SignPackage(files, signer.get(), TestRsaKey(0));
    rootPem = WriteFile("root.pem", PemOf(root.get()));
    const std::filesystem::path package = PackageDir();
    std::filesystem::remove(package / "first-missing.bin");
    std::filesystem::remove(package / "middle-fifo");
    ASSERT_EQ(0, ::mkfifo((package / "middle-fifo").c_str(), 0600));
    ASSERT_EQ(0, ::chmod((package / "locked.bin").c_str(), 0));
    WriteFile("pkg/differs.bin", "sam3");
    WriteFile("pkg/sub/last-differs.bin", "last!");
    WriteFile("pkg/stray.txt", "x");
  }
  ProcessResult Run(std::vector<std::string> args, const std::string& standardOutput = "") {
    args.insert(args.begin(), "--verify");
    return RunBrevick(
        args, {"",
               {{"HOME", temp.Path().string()}, {"XDG_DATA_HOME", (temp.Path() / "data").string()}},
               0,
               standardOutput});
  }
  std::string signedPath;
  std::string rootPem;
};

// However many files are hashed at once, the report is that of one file at a
// time, byte for byte.
TEST_F(VerifyModeTest, TextReportIsExactWhateverTheJobs) {
  const bool rootReadsAnything = ::geteuid() == 0;  // chmod 000 stops no one then
  const SignerDetails details = DescribeCertificate(signer.get());
  const std::string report =
      "Signature: valid, digest md2\n"
      "Signer: CN=Release Signer,O=Example; issuer CN=Test Root; serial 07; SHA-256 " +
      details.sha256 + "; SHA-1 " + details.sha1 + "; valid " + details.notBefore + " to " +
      details.notAfter +
      "; key RSA 1024\n"
      "Timestamp: none\n"
      "Trust: trusted: chains to CN=Test Root (" +
      rootPem + "); anchors: " + rootPem +
      ": CN=Test Root\n"
      "Revocation: not checked\n"
      "Files: 12 checked, " +
      (rootReadsAnything ? "7" : "6") + " ok, 2 differ, 1 missing, " +
      (rootReadsAnything ? "1" : "2") +
      " unreadable, 0 outside the package, 1 without digest, 1 extra\n"
      "missing: first-missing.bin (module M)\n"
      "unreadable: middle-fifo (module M): Not a regular file\n" +
      (rootReadsAnything ? "" : "unreadable: locked.bin (module M): Permission denied\n") +
      "differs: differs.bin (module M)\n"
      "no-digest: no-digest.bin (module M)\n"
      "differs: sub\\last-differs.bin (module N \xC5\x81odz)\n"
      "extra: stray.txt\n"
      "Verification failed\n";
  for (const char* jobs : {"1", "3", "64"}) {
    SCOPED_TRACE(jobs);
    const ProcessResult result =
        Run({signedPath, "--package", PackageDir(), "--trust", rootPem, "--jobs", jobs});
    EXPECT_EQ(report, result.output);
    EXPECT_EQ(kMd2Warning, result.errors);
    EXPECT_EQ(kFiles, result.exitCode);
  }
}

TEST_F(VerifyModeTest, JsonOnStandardOutputIsTheReportAlone) {
  const ProcessResult result = Run({signedPath, "--package", PackageDir(), "--json", "-",
                                    "--signer", Sha256Thumbprint(signer.get())});
  EXPECT_EQ(kFiles, result.exitCode);
  EXPECT_EQ(kMd2Warning, result.errors);
  const std::map<std::string, std::string> json = JsonFields(result.output);
  ASSERT_EQ(0u, json.count("error")) << json.at("error") << "\n" << result.output;
  const SignerDetails details = DescribeCertificate(signer.get());
  const std::pair<std::string, std::string> expected[] = {
      // clang-format off
      {"version", "1"}, {"file", signedPath}, {"exit_code", std::to_string(kFiles)},
      {"signature.valid", "true"}, {"signature.digest", "md2"}, {"signature.error", "null"},
      {"signer.subject", "CN=Release Signer,O=Example"}, {"signer.issuer", "CN=Test Root"}, {"signer.serial", "07"},
      {"signer.sha256", details.sha256}, {"signer.sha1", details.sha1}, {"signer.key", "RSA 1024"},
      {"signer.not_before", details.notBefore}, {"signer.not_after", details.notAfter}, {"signer.signing_time", "null"},
      {"signers#", "1"}, {"signers[0].valid", "true"}, {"signers[0].certificate.sha256", details.sha256},
      {"trust.checked", "true"}, {"trust.trusted", "true"}, {"trust.anchors#", "1"},
      {"trust.anchors[0]", "pinned sha256 " + details.sha256}, {"trust.reason", "the SHA-256 thumbprint is the pinned one"},
      {"files.checked", "true"}, {"files.root", PackageDir()}, {"files.skipped", "null"}, {"files.entries#", "12"},
      {"files.entries[0].module", "M"}, {"files.entries[0].path", "first-missing.bin"}, {"files.entries[0].status", "missing"},
      {"files.entries[1].status", "ok"}, {"files.entries[5].status", "unreadable"}, {"files.entries[9].status", "no-digest"},
      {"files.entries[8].digests.md5.expected", Md5Hex("same")}, {"files.entries[8].digests.md5.actual", Md5Hex("sam3")},
      {"files.entries[11].module", "N \xC5\x81odz"}, {"files.entries[11].path", "sub\\last-differs.bin"}, {"files.extra#", "1"},
      // clang-format on
  };
  for (const auto& [field, value] : expected) {
    SCOPED_TRACE(field);
    ASSERT_EQ(1u, json.count(field));
    EXPECT_EQ(value, json.at(field));
  }
}

// The outputs: written only when safe, never over the signed message or each
// other, and a failure to write either is bit 8 with its reason on stderr.
TEST_F(VerifyModeTest, OutputsExitCodesAndNotices) {
  const std::string out = (temp.Path() / "release.xml").string();
  const std::string plain = WriteFile("plain.xml", "<dravanePackage/>\n");
  const std::string signedBytes = ReadFileBytes(signedPath);
  const struct {
    std::vector<std::string> args;
    std::string standardOutput;
    int exitCode;
    std::string lastLine, notice;
    bool outWritten;
  } cases[] = {
      // clang-format off
      {{"--extract", "OUT", "--trust", "ROOT"}, "", 0, "Verified", "", true},
      {{"--extract", "OUT"}, "", kUntrusted, "Verification failed", "brevick: --extract OUT: not written: the signer is not trusted\n", false},
      {{"--json", "OUT"}, "", kUntrusted, "Verification failed", "", true},
      {{"--json", "SIGNED", "--trust", "ROOT"}, "", kOutput, "Verification failed", "brevick: --json: refusing to overwrite SIGNED: it is the signed message\n", false},
      {{"--json", "OUT", "--extract", "OUT", "--trust", "ROOT"}, "", kOutput, "Verification failed", "brevick: --extract OUT: refusing to overwrite OUT: it is also the --json report\nbrevick: --json: refusing to overwrite OUT: it is also the --extract file\n", false},
      {{"--json", "-", "--trust", "ROOT"}, "/dev/full", kOutput, "", "brevick: cannot write the JSON report to standard output: No space left on device\n", false},
      {{"--json", "-", "--trust", "ROOT"}, "-", kOutput, "", "brevick: cannot write the JSON report to standard output: Bad file descriptor\n", false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " > " + c.standardOutput);
    std::filesystem::remove(out);
    std::vector<std::string> args = {signedPath};
    for (const std::string& arg : c.args)
      args.push_back(arg == "OUT"      ? out
                     : arg == "ROOT"   ? rootPem
                     : arg == "SIGNED" ? signedPath
                                       : arg);
    const ProcessResult result = Run(args, c.standardOutput);
    std::string notice = c.notice;
    for (const auto& [name, value] : {std::pair{"OUT", out}, std::pair{"SIGNED", signedPath}}) {
      for (std::size_t at; (at = notice.find(name)) != std::string::npos;)
        notice.replace(at, std::string_view(name).size(), value);
    }
    EXPECT_EQ(c.exitCode, result.exitCode) << result.output;
    EXPECT_EQ(c.lastLine, LastLine(result.output));
    EXPECT_EQ(kMd2Warning + notice, result.errors);
    EXPECT_EQ(c.outWritten, std::filesystem::exists(out));
    EXPECT_EQ(signedBytes, ReadFileBytes(signedPath));
  }
  const ProcessResult result = Run({plain, "--package", PackageDir(), "--trust", rootPem});
  EXPECT_EQ(kInvalid, result.exitCode);
  EXPECT_TRUE(
      result.output.ends_with("\nFiles: not checked: the signature is not valid\n"
                              "Verification failed\n"))
      << result.output;
  EXPECT_EQ("", result.errors);
}

}  // namespace
}  // namespace brevick::testing
