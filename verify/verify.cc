// verify/verify.cc: the order of the checks and the exit code.
#include "verify/verify.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "base/file_io.h"
#include "base/utf8.h"
#include "cms/message_signer.h"
#include "cms/signed_message.h"
#include "manifest/file_digests.h"
#include "pki/crypto_result.h"
#include "pki/signer_details.h"
#include "verify/package_check.h"
#include "verify/signer_trust.h"

namespace brevick {
namespace {

constexpr std::size_t kSha256HexDigits = 64;

int Bit(VerifyFailure failure) { return static_cast<int>(failure); }

std::string SignatureErrorText(CryptoResult result) {
  switch (result) {
    case CryptoResult::kNotSignedMessage:
      return "not a signed message (it does not begin as a DER sequence)";
    case CryptoResult::kCannotDecode:
      return "the signed message cannot be decoded";
    case CryptoResult::kNoSignerCertificate:
      return "the message does not carry the signer's certificate";
    case CryptoResult::kCannotReadSigner:
      return "the message names no signer";
    case CryptoResult::kSignatureMismatch:
      return "the signature does not match the content (or its digest algorithm is not supported)";
    default:
      return CryptoErrorText(result);
  }
}

bool FileFails(const FileEntry& entry, bool strict) {
  switch (entry.status) {
    case FileStatus::kOk:
      return false;
    case FileStatus::kNoDigest:
      return strict;
    default:
      return true;
  }
}

void Extract(const std::string& path, const std::vector<std::uint8_t>& content,
             const FileIdentity& signedIdentity, VerifyReport& report) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 &&
      FileIdentity{status.st_dev, status.st_ino} == signedIdentity) {
    report.extractError = "refusing to overwrite " + path + ": it is the signed message";
    return;
  }
  if (const int error = ReplaceFile(path, content).error; error != 0)
    report.extractError = "cannot write " + path + ": " + FileErrorText(error);
}

}  // namespace

std::optional<std::string> NormaliseSha256(std::string_view text) {
  std::string hex;
  for (const char c : text) {
    if (c == ':' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (hex.size() != kSha256HexDigits) return std::nullopt;
  return hex;
}

VerifyReport VerifySignedManifest(const VerifyOptions& options, Reporter* reporter) {
  VerifyReport report;
  report.file = options.signedPath;
  report.trust.reason = "not checked: the signature is not valid";

  std::vector<std::uint8_t> message;
  const FileResult read = ReadRegularFile(AT_FDCWD, options.signedPath, message);
  if (!read.Ok()) {
    report.signature.error = "cannot be read: " + FileErrorText(read.error);
    report.exitCode = Bit(VerifyFailure::kInvalidMessage);
    return report;
  }
  std::vector<std::uint8_t> content;
  const CryptoResult result = VerifySignedMessage(message, content);
  report.signature.digest = MessageDigestAlgorithm(message);
  std::optional<MessageSigner> signer = ReadMessageSigner(message);
  if (signer) report.signer = DescribeCertificate(signer->certificate.get());
  if (result != CryptoResult::kOk || !signer) {
    report.signature.error = SignatureErrorText(
        result == CryptoResult::kOk ? CryptoResult::kNoSignerCertificate : result);
    report.exitCode = Bit(VerifyFailure::kInvalidMessage);
    return report;
  }
  report.signature.valid = true;

  report.trust.reason.clear();
  CheckSignerTrust(options, message, *signer, reporter, report);
  message.clear();
  message.shrink_to_fit();
  if (!report.trust.trusted) report.exitCode |= Bit(VerifyFailure::kUntrusted);

  if (options.packageDirectory) {
    CheckPackageFiles(content, *options.packageDirectory, read.identity,
                      options.jobs.value_or(AvailableCpuCount()), report.files);
    const bool fails =
        !report.files.error.empty() ||
        std::any_of(report.files.entries.begin(), report.files.entries.end(),
                    [&](const FileEntry& entry) { return FileFails(entry, options.strict); }) ||
        (options.strict && !report.files.extra.empty());
    if (fails) report.exitCode |= Bit(VerifyFailure::kFilesDiffer);
  }

  if (options.extractPath) {
    Extract(*options.extractPath, content, read.identity, report);
    if (!report.extractError.empty()) report.exitCode |= Bit(VerifyFailure::kOutputFailed);
  }
  return report;
}

}  // namespace brevick
