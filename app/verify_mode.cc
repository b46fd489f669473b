// app/verify_mode.cc: the verify mode's command line and its presentation of
// the report. The checking itself is the verify library's.
#include "app/verify_mode.h"

#include <optional>
#include <string_view>

#include "app/options.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/reporter.h"
#include "base/utf8.h"
#include "verify/json_report.h"
#include "verify/verify.h"

namespace brevick {
namespace {

constexpr const wchar_t* kVerifyUsage[] = {
    L"usage: brevick --verify SIGNED [--package DIR] [--trust FILE]... [--trust-store NAME]...",
    L"                        [--signer SHA256] [--extract FILE] [--json FILE] [--strict]",
    L"                        [--jobs N] [--tsa-trust FILE]... [--tsa-trust-store NAME]...",
    L"                        [--require-timestamp] [--crl FILE]... [--crl-check all]",
    L"                        [--crl-fetch [--crl-retries N] [--crl-wait S] [--crl-timeout S]]",
};

// Tells what the check says as it goes (failed CRL downloads) on standard
// error; the verify mode has no progress or debug lines.
class NoticeReporter final : public Reporter {
 public:
  void Progress(std::wstring_view) override {}
  void Debug(std::wstring_view) override {}
  void Notice(std::wstring_view line) override { NoticeLine(line); }
  void Error(std::wstring_view line) override { NoticeLine(line); }
};

constexpr std::wstring_view kJsonToStandardOutput = L"-";

void Line(const std::string& utf8) { WriteLine(ToWide(utf8)); }

std::string CountText(std::size_t count, const char* what) {
  return std::to_string(count) + " " + what;
}

void PresentFiles(const VerifyReport::Files& files) {
  if (!files.skipped.empty()) {
    Line("Files: not checked: " + files.skipped);
    return;
  }
  if (!files.error.empty()) {
    Line("Files: cannot be checked: " + files.error);
    return;
  }
  if (!files.checked) {
    Line("Files: not checked");
    return;
  }
  std::size_t counts[static_cast<std::size_t>(FileStatus::kCount)] = {};
  for (const FileEntry& entry : files.entries) ++counts[static_cast<std::size_t>(entry.status)];
  const auto count = [&](FileStatus status) { return counts[static_cast<std::size_t>(status)]; };
  Line("Files: " + CountText(files.entries.size(), "checked") + ", " +
       CountText(count(FileStatus::kOk), "ok") + ", " +
       CountText(count(FileStatus::kDiffers), "differ") + ", " +
       CountText(count(FileStatus::kMissing), "missing") + ", " +
       CountText(count(FileStatus::kUnreadable), "unreadable") + ", " +
       CountText(count(FileStatus::kOutside), "outside the package") + ", " +
       CountText(count(FileStatus::kNoDigest), "without digest") + ", " +
       CountText(files.extra.size(), "extra"));
  for (const FileEntry& entry : files.entries) {
    if (entry.status == FileStatus::kOk) continue;
    std::string line = std::string(FileStatusText(entry.status)) + ": " + entry.path + " (module " +
                       entry.module + ")";
    if (!entry.detail.empty()) line += ": " + entry.detail;
    Line(line);
  }
  for (const std::string& extra : files.extra) Line("extra: " + extra);
}

std::string SignerText(const SignerDetails& signer) {
  return signer.subject + "; issuer " + signer.issuer + "; serial " + signer.serial + "; SHA-256 " +
         signer.sha256 + "; SHA-1 " + signer.sha1 + "; valid " + signer.notBefore + " to " +
         signer.notAfter + "; key " + signer.key;
}

// One line per SignerInfo, only when there is more than one to tell apart.
void PresentSigners(const std::vector<VerifyReport::SignerResult>& signers) {
  if (signers.size() < 2) return;
  for (std::size_t i = 0; i < signers.size(); ++i) {
    const VerifyReport::SignerResult& signer = signers[i];
    Line("Signer " + std::to_string(i + 1) + " of " + std::to_string(signers.size()) + ": " +
         (signer.valid ? "valid" : "not valid: " + signer.error) + ", digest " + signer.digest +
         "; " + (signer.certificate ? SignerText(*signer.certificate) : "unknown"));
  }
}

void PresentReport(const VerifyReport& report) {
  const std::string digest =
      report.signature.digest.empty() ? "" : ", digest " + report.signature.digest;
  Line(report.signature.valid ? "Signature: valid" + digest
                              : "Signature: not valid: " + report.signature.error + digest);
  Line("Signer: " + (report.signer ? SignerText(*report.signer) : std::string("unknown")));
  Line("Timestamp: " + TimestampSummary(report));
  // Said by the signer, not proven: shown, never used for trust.
  if (!report.signature.signingTime.empty()) Line("Signed at: " + report.signature.signingTime);
  PresentSigners(report.signers);
  std::string anchors;
  for (const std::string& anchor : report.trust.anchors)
    anchors += (anchors.empty() ? "" : ", ") + anchor;
  // The checking time is said only when it is not now, so that the line of a
  // check without a timestamp stays as it always was.
  const std::string at = report.trust.atSource == "timestamp"
                             ? "; checked at " + report.trust.at + ", the timestamp's time"
                             : "";
  Line(std::string("Trust: ") + (report.trust.trusted ? "trusted: " : "not trusted: ") +
       report.trust.reason + at + "; anchors: " + (anchors.empty() ? "none" : anchors));
  Line("Revocation: " + RevocationSummary(report));
  PresentFiles(report.files);
  Line(report.exitCode == 0 ? "Verified" : "Verification failed");
}

// What did not go to standard output's report: warnings, and why an output
// was not written. Standard error, so that `--json -` stays pure JSON.
void Notices(const VerifyReport& report, const CommandLine& commandLine) {
  for (const std::string& warning : report.warnings) NoticeLine(L"warning: " + ToWide(warning));
  if (!report.extractError.empty())
    NoticeLine(L"--extract " + ToWide(*commandLine.verify.extractPath) + L": " +
               ToWide(report.extractError));
  if (!report.reportError.empty()) NoticeLine(L"--json: " + ToWide(report.reportError));
}

// Writes the JSON report to standard output or to its file; false when it
// could not be written whole, wherever it was to go.
bool WriteJsonReport(const VerifyReport& report, const std::wstring& jsonPath) {
  const std::string json = VerifyReportToJson(report);
  if (jsonPath == kJsonToStandardOutput) {
    WriteLineUtf8(std::string_view(json).substr(0, json.size() - 1));
    if (const int error = FlushStandardOutput(); error != 0) {
      NoticeLine(L"cannot write the JSON report to standard output: " +
                 ToWide(FileErrorText(error)));
      return false;
    }
    return true;
  }
  if (const int error = ReplaceFile(ToPathBytes(jsonPath), BytesOf(json)).error; error != 0) {
    NoticeLine(L"cannot write the JSON report " + jsonPath + L": " + ToWide(FileErrorText(error)));
    return false;
  }
  return true;
}

}  // namespace

int RunVerifyMode(const std::vector<std::wstring>& args) {
  const CommandLine commandLine = ParseArguments(args, kVerifyMode);
  if (!commandLine.usageErrors.empty()) {
    for (const std::wstring& error : commandLine.usageErrors) NoticeLine(error);
    for (const wchar_t* line : kVerifyUsage) NoticeLine(line);
    PointToHelp();
    return kExitVerifyUsage;
  }
  NoticeReporter reporter;
  const VerifyReport report = VerifySignedManifest(commandLine.verify, &reporter);
  int exitCode = report.exitCode;
  if (commandLine.jsonPath != kJsonToStandardOutput) PresentReport(report);
  Notices(report, commandLine);
  if (commandLine.jsonPath && report.reportError.empty() &&
      !WriteJsonReport(report, *commandLine.jsonPath))
    exitCode |= static_cast<int>(VerifyFailure::kOutputFailed);
  return exitCode;
}

}  // namespace brevick
