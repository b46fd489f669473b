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
#include "pki/cert_store.h"
#include "pki/crypto_result.h"
#include "pki/signer_details.h"
#include "pki/trust.h"
#include "verify/package_check.h"

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

struct Anchor {
  X509Ptr certificate;
  std::string source;
};

// Reads every anchor the options name. A source that yields nothing usable
// is a reason for distrust: the recipient asked for it, so it is never
// skipped quietly.
std::vector<Anchor> LoadAnchors(const VerifyOptions& options, std::vector<std::string>& problems) {
  std::vector<Anchor> anchors;
  for (const std::string& path : options.trustFiles) {
    std::vector<X509Ptr> certificates;
    int error = 0;
    const CertificateFileResult result = ReadCertificateFile(path, certificates, error);
    if (result != CertificateFileResult::kOk) {
      std::string problem = "trust file " + path + " " + CertificateFileResultText(result);
      if (error != 0) problem += " (" + FileErrorText(error) + ")";
      problems.push_back(problem);
      continue;
    }
    for (X509Ptr& certificate : certificates) anchors.push_back({std::move(certificate), path});
  }
  for (const std::wstring& name : options.trustStores) {
    const std::optional<CertStore> store = CertStore::Open(name);
    const std::string source = "store " + ToUtf8(name);
    if (!store) {
      problems.push_back("trust " + source + " cannot be opened");
      continue;
    }
    std::vector<StoredCertificate> certificates = store->Certificates();
    if (certificates.empty()) problems.push_back("trust " + source + " holds no certificate");
    for (StoredCertificate& stored : certificates)
      anchors.push_back({std::move(stored.certificate), source});
  }
  return anchors;
}

std::string JoinReasons(const std::vector<std::string>& reasons) {
  std::string joined;
  for (const std::string& reason : reasons) {
    if (!joined.empty()) joined += "; ";
    joined += reason;
  }
  return joined;
}

void CheckTrust(const VerifyOptions& options, const MessageSigner& signer,
                VerifyReport::Trust& trust) {
  const bool anyAnchor = !options.trustFiles.empty() || !options.trustStores.empty();
  trust.checked = anyAnchor || options.pinnedSha256.has_value();
  if (!trust.checked) {
    trust.reason = "not checked against any trust anchor";
    return;
  }
  std::vector<std::string> problems;
  const std::vector<Anchor> anchors = LoadAnchors(options, problems);
  for (const Anchor& anchor : anchors)
    trust.anchors.push_back(anchor.source + ": " +
                            DescribeCertificate(anchor.certificate.get()).subject);
  if (options.pinnedSha256) trust.anchors.push_back("pinned sha256 " + *options.pinnedSha256);

  std::string trustedBy;
  if (anyAnchor && problems.empty()) {
    std::vector<X509*> anchorPointers;
    anchorPointers.reserve(anchors.size());
    for (const Anchor& anchor : anchors) anchorPointers.push_back(anchor.certificate.get());
    std::vector<X509*> intermediates;
    for (const X509Ptr& other : signer.otherCertificates) intermediates.push_back(other.get());
    const ChainVerdict verdict =
        VerifyCertificateChain(signer.certificate.get(), intermediates, anchorPointers);
    if (verdict.trusted) {
      std::string source;
      for (const Anchor& anchor : anchors) {
        if (verdict.anchor && X509_cmp(anchor.certificate.get(), verdict.anchor.get()) == 0) {
          source = anchor.source;
          break;
        }
      }
      trustedBy = "chains to " + DescribeCertificate(verdict.anchor.get()).subject +
                  (source.empty() ? "" : " (" + source + ")");
    } else {
      problems.push_back("no chain to the anchors: " + verdict.reason);
    }
  }
  if (trustedBy.empty() && options.pinnedSha256) {
    if (Sha256Thumbprint(signer.certificate.get()) != *options.pinnedSha256) {
      problems.push_back("the SHA-256 thumbprint is not the pinned one");
    } else if (const std::string problem = ValidityProblem(signer.certificate.get());
               !problem.empty()) {
      problems.push_back("pinned, but " + problem);
    } else {
      trustedBy = "the SHA-256 thumbprint is the pinned one";
    }
  }
  if (!trustedBy.empty()) {
    const SigningUsage usage = CheckSigningUsage(signer.certificate.get(), options.strict);
    if (usage != SigningUsage::kAllowed) {
      trust.reason = std::string(trustedBy) + ", but " + SigningUsageText(usage);
      return;
    }
    trust.trusted = true;
    trust.reason = trustedBy;
    return;
  }
  trust.reason = JoinReasons(problems);
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

VerifyReport VerifySignedManifest(const VerifyOptions& options) {
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
  message.clear();
  message.shrink_to_fit();

  report.trust.reason.clear();
  CheckTrust(options, *signer, report.trust);
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
