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

// A package whose files fail every way a file can, at its start, in its
// middle and at its end, between files that pass; the big one is hashed in
// several reads, so that with several jobs later files finish first.
class VerifyModeTest : public VerifyFixture {
 protected:
  void SetUp() override {
    const std::string lodz = "N \xC5\x81odz";
    // clang-format off
    SignPackage({{"M", "", "first-missing.bin", "gone", ""}, {"M", "", "ok", "o", ""}, {"M", "", "middle-fifo", "fifo", ""},
                 {"M", "", "big.bin", std::string(700 * 1024, 'b'), ""}, {"M", "", "differs.bin", "same", ""},
                 {"M", "", "no-digest.bin", "n", "<md5/>"}, {lodz, "sub", "last-differs.bin", "last", ""}},
                signer.get(), TestRsaKey(0));
    // clang-format on
    WriteFile("root.pem", PemOf(root.get()));
    const std::filesystem::path package = PackageDir();
    std::filesystem::remove(package / "first-missing.bin");
    std::filesystem::remove(package / "middle-fifo");
    ASSERT_EQ(0, ::mkfifo((package / "middle-fifo").c_str(), 0600));
    WriteFile("pkg/differs.bin", "sam3");
    WriteFile("pkg/sub/last-differs.bin", "last!");
    WriteFile("pkg/stray.txt", "x");
  }
  // Runs in the fixture's directory, where signed.p7, root.pem and pkg/ lie.
  ProcessResult Run(std::vector<std::string> args, const std::string& standardOutput = "") {
    args.insert(args.begin(), "--verify");
    const std::string home = temp.Path().string();
    return RunBrevick(args, {home, {{"HOME", home}, {"XDG_DATA_HOME", home}}, 0, standardOutput});
  }
};

// However many files are hashed at once, the report is that of one file at a
// time, byte for byte.
TEST_F(VerifyModeTest, TextReportIsExactWhateverTheJobs) {
  const SignerDetails details = DescribeCertificate(signer.get());
  const std::string report =
      "Signature: valid, digest md2\n"
      "Signer: CN=Release Signer,O=Example; issuer CN=Test Root; serial 07; SHA-256 " +
      details.sha256 + "; SHA-1 " + details.sha1 + "; valid " + details.notBefore + " to " +
      details.notAfter +
      "; key RSA 1024\n"
      "Timestamp: none\n"
      "Trust: trusted: chains to CN=Test Root (root.pem); anchors: root.pem: CN=Test Root\n"
      "Revocation: not checked\n"
      "Files: 7 checked, 2 ok, 2 differ, 1 missing, 1 unreadable, 0 outside the package, "
      "1 without digest, 1 extra\n"
      "missing: first-missing.bin (module M)\n"
      "unreadable: middle-fifo (module M): Not a regular file\n"
      "differs: differs.bin (module M)\n"
      "no-digest: no-digest.bin (module M)\n"
      "differs: sub\\last-differs.bin (module N \xC5\x81odz)\n"
      "extra: stray.txt\n"
      "Verification failed\n";
  for (const char* jobs : {"1", "3", "64"}) {
    SCOPED_TRACE(jobs);
    const ProcessResult result =
        Run({"signed.p7", "--package", "pkg", "--trust", "root.pem", "--jobs", jobs});
    EXPECT_EQ(report, result.output);
    EXPECT_EQ(kMd2Warning, result.errors);
    EXPECT_EQ(kFiles, result.exitCode);
  }
}

// The outputs: written only when safe, never over the signed message or each
// other, and a failure to write either is bit 8 with its reason on stderr.
TEST_F(VerifyModeTest, OutputsExitCodesAndNotices) {
  WriteFile("plain.xml", "<dravanePackage/>\n");
  const std::string signedBytes = ReadFileBytes(temp.Path() / "signed.p7");
  const std::string notTrusted = "brevick: --extract out: not written: the signer is not trusted\n";
  const std::string bothOnOne =
      "brevick: --extract out: refusing to overwrite out: it is also the --json report\nbrevick: "
      "--json: refusing to overwrite out: it is also the --extract file\n";
  const struct {
    std::vector<std::string> args;
    std::string standardOutput;
    int exitCode;
    std::string outputEnd, errors;
    bool outWritten;
  } cases[] = {
      // clang-format off
      {{"signed.p7", "--extract", "out", "--trust", "root.pem"}, "", 0, "\nVerified\n", kMd2Warning, true},
      {{"signed.p7", "--package", "pkg", "--json", "-", "--signer", Sha256Thumbprint(signer.get())}, "", kFiles, "}\n", kMd2Warning, false},
      {{"signed.p7", "--extract", "out"}, "", kUntrusted, "\nTrust: not trusted: not checked against any trust anchor; anchors: none\nRevocation: not checked\nFiles: not checked\nVerification failed\n", kMd2Warning + notTrusted, false},
      {{"signed.p7", "--json", "out"}, "", kUntrusted, "\nVerification failed\n", kMd2Warning, true},
      {{"signed.p7", "--json", "signed.p7", "--trust", "root.pem"}, "", kOutput, "\nVerification failed\n", kMd2Warning + "brevick: --json: refusing to overwrite signed.p7: it is the signed message\n", false},
      {{"signed.p7", "--json", "out", "--extract", "out", "--trust", "root.pem"}, "", kOutput, "\nVerification failed\n", kMd2Warning + bothOnOne, false},
      {{"signed.p7", "--json", "-", "--trust", "root.pem"}, "/dev/full", kOutput, "", kMd2Warning + "brevick: cannot write the JSON report to standard output: No space left on device\n", false},
      {{"signed.p7", "--json", "-", "--trust", "root.pem"}, "-", kOutput, "", kMd2Warning + "brevick: cannot write the JSON report to standard output: Bad file descriptor\n", false},
      {{"plain.xml", "--package", "pkg", "--trust", "root.pem"}, "", kInvalid, "\nFiles: not checked: the signature is not valid\nVerification failed\n", "", false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " > " + c.standardOutput);
    std::filesystem::remove(temp.Path() / "out");
    const ProcessResult result = Run(c.args, c.standardOutput);
    EXPECT_EQ(c.exitCode, result.exitCode) << result.output;
    EXPECT_TRUE(result.output.ends_with(c.outputEnd)) << result.output;
    if (c.outputEnd == "}\n") {  // the JSON report, and nothing else on standard output
      EXPECT_EQ(std::to_string(c.exitCode), JsonFields(result.output)["exit_code"])
          << result.output;
    }
    EXPECT_EQ(c.errors, result.errors);
    EXPECT_EQ(c.outWritten, std::filesystem::exists(temp.Path() / "out"));
    EXPECT_EQ(signedBytes, ReadFileBytes(temp.Path() / "signed.p7"));
  }
}

}  // namespace
}  // namespace brevick::testing
