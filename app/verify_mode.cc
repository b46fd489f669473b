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

// Bounds of the download settings: beyond them a value is a typo.
constexpr long kMaxRounds = 100;
constexpr long kMaxSeconds = 3600;

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

struct VerifyCommandLine {
  VerifyOptions options;
  std::optional<std::wstring> jsonPath;
  std::vector<std::wstring> errors;
};

void SetOnce(std::optional<std::string>& field, const std::wstring& option,
             const std::wstring& value, std::vector<std::wstring>& errors) {
  if (field) errors.push_back(option + L" is given twice");
  field = ToUtf8(value);
}

// A download setting: digits only, from `least` to its bound.
std::optional<std::wstring> ReadDownloadSetting(const std::wstring& name, const std::wstring& value,
                                                CrlOptions& crl) {
  const bool rounds = name == L"--crl-retries";
  const long least = name == L"--crl-wait" ? 0 : 1;
  const long most = rounds ? kMaxRounds : kMaxSeconds;
  long number = 0;
  bool valid = !value.empty() && value.size() <= 6;
  for (const wchar_t ch : value) {
    valid = valid && ch >= L'0' && ch <= L'9';
    if (valid) number = number * 10 + (ch - L'0');
  }
  if (!valid || number < least || number > most) {
    return name + L" needs a whole number from " + std::to_wstring(least) + L" to " +
           std::to_wstring(most) + L", not '" + value + L"'";
  }
  if (rounds) {
    crl.rounds = static_cast<int>(number);
  } else if (name == L"--crl-wait") {
    crl.waitSeconds = number;
  } else {
    crl.timeoutSeconds = number;
  }
  return std::nullopt;
}

// The options for timestamps and revocation; false leaves args[i] to the
// other options.
bool TakeTimeAndRevocationOption(const std::vector<std::wstring>& args, std::size_t& i,
                                 VerifyCommandLine& result) {
  VerifyOptions& options = result.options;
  const std::wstring& arg = args[i];
  if (arg == L"--require-timestamp" || arg == L"--crl-fetch") {
    (arg == L"--crl-fetch" ? options.crl.fetch : options.requireTimestamp) = true;
    return true;
  }
  const bool download = arg == L"--crl-retries" || arg == L"--crl-wait" || arg == L"--crl-timeout";
  const bool takesValue = download || arg == L"--crl" || arg == L"--crl-check" ||
                          arg == L"--tsa-trust" || arg == L"--tsa-trust-store";
  if (!takesValue) return false;
  if (i + 1 == args.size()) {
    result.errors.push_back(arg + L" needs a value");
    return true;
  }
  const std::wstring& value = args[++i];
  if (download) {
    if (std::optional<std::wstring> error = ReadDownloadSetting(arg, value, options.crl))
      result.errors.push_back(std::move(*error));
  } else if (arg == L"--crl") {
    options.crl.files.push_back(ToUtf8(value));
  } else if (arg == L"--tsa-trust") {
    options.tsaTrustFiles.push_back(ToUtf8(value));
  } else if (arg == L"--tsa-trust-store") {
    options.tsaTrustStores.push_back(value);
  } else if (value == L"all") {
    options.crl.everyCertificate = true;
  } else {
    result.errors.push_back(L"--crl-check takes 'all', not '" + value + L"'");
  }
  return true;
}

VerifyCommandLine ParseVerifyArguments(const std::vector<std::wstring>& args) {
  VerifyCommandLine result;
  VerifyOptions& options = result.options;
  std::optional<std::wstring> signedPath;
  bool verifySeen = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg == L"--verify" && !verifySeen) {
      verifySeen = true;
      continue;
    }
    if (arg == L"--strict") {
      options.strict = true;
      continue;
    }
    if (TakeTimeAndRevocationOption(args, i, result)) continue;
    const bool takesValue = arg == L"--package" || arg == L"--trust" || arg == L"--trust-store" ||
                            arg == L"--signer" || arg == L"--extract" || arg == L"--json" ||
                            arg == L"--jobs";
    if (takesValue) {
      if (i + 1 == args.size()) {
        result.errors.push_back(arg + L" needs a value");
        break;
      }
      const std::wstring& value = args[++i];
      if (arg == L"--package") {
        SetOnce(options.packageDirectory, arg, value, result.errors);
      } else if (arg == L"--trust") {
        options.trustFiles.push_back(ToUtf8(value));
      } else if (arg == L"--trust-store") {
        options.trustStores.push_back(value);
      } else if (arg == L"--signer") {
        options.pinnedSha256 = NormaliseSha256(ToUtf8(value));
        if (!options.pinnedSha256)
          result.errors.push_back(L"--signer needs a SHA-256 thumbprint (64 hexadecimal digits): " +
                                  value);
      } else if (arg == L"--jobs") {
        if (std::optional<std::wstring> error = ReadJobCount(value, options.jobs))
          result.errors.push_back(std::move(*error));
      } else if (arg == L"--extract") {
        SetOnce(options.extractPath, arg, value, result.errors);
      } else {
        if (result.jsonPath) result.errors.push_back(arg + L" is given twice");
        result.jsonPath = value;
      }
      continue;
    }
    if (arg.starts_with(L"--")) {
      result.errors.push_back(L"unknown option for --verify: " + arg);
    } else if (signedPath) {
      result.errors.push_back(L"unexpected argument: " + arg);
    } else {
      signedPath = arg;
    }
  }
  if (!signedPath && result.errors.empty()) result.errors.push_back(L"--verify needs SIGNED");
  if (signedPath) options.signedPath = ToUtf8(*signedPath);
  if (result.jsonPath && *result.jsonPath != kJsonToStandardOutput)
    options.reportPath = ToUtf8(*result.jsonPath);
  return result;
}

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
void Notices(const VerifyReport& report, const VerifyCommandLine& commandLine) {
  for (const std::string& warning : report.warnings) NoticeLine(L"warning: " + ToWide(warning));
  if (!report.extractError.empty())
    NoticeLine(L"--extract " + ToWide(*commandLine.options.extractPath) + L": " +
               ToWide(report.extractError));
  if (!report.reportError.empty()) NoticeLine(L"--json: " + ToWide(report.reportError));
}

// Writes the JSON report where --json says; false when it could not be.
bool WriteJson(const VerifyReport& report, const std::wstring& target) {
  const std::string json = VerifyReportToJson(report);
  if (target == kJsonToStandardOutput) {
    WriteLineUtf8(std::string_view(json).substr(0, json.size() - 1));
    return true;
  }
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(json.data()), json.size());
  if (const int error = ReplaceFile(ToUtf8(target), bytes).error; error != 0) {
    NoticeLine(L"cannot write the JSON report " + target + L": " + ToWide(FileErrorText(error)));
    return false;
  }
  return true;
}

}  // namespace

int RunVerifyMode(const std::vector<std::wstring>& args) {
  const VerifyCommandLine commandLine = ParseVerifyArguments(args);
  if (!commandLine.errors.empty()) {
    for (const std::wstring& error : commandLine.errors) NoticeLine(error);
    for (const wchar_t* line : kVerifyUsage) NoticeLine(line);
    return kExitVerifyUsage;
  }
  NoticeReporter reporter;
  const VerifyReport report = VerifySignedManifest(commandLine.options, &reporter);
  int exitCode = report.exitCode;
  if (commandLine.jsonPath != kJsonToStandardOutput) PresentReport(report);
  Notices(report, commandLine);
  if (commandLine.jsonPath && report.reportError.empty() &&
      !WriteJson(report, *commandLine.jsonPath))
    exitCode |= static_cast<int>(VerifyFailure::kOutputFailed);
  return exitCode;
}

}  // namespace brevick
