// verify/verify.cc: the order of the checks and the exit code: the signed
// message (read through a bounded reader that looks at its DER header
// first), every signature in it, trust in its first signer, the package's
// files, and the outputs, which may replace nothing the check reads.
#include "verify/verify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "base/file_io.h"
#include "base/utf8.h"
#include "cms/message_check.h"
#include "manifest/file_hasher.h"
#include "pki/certificate_info.h"
#include "pki/crypto_result.h"
#include "verify/package_check.h"
#include "verify/signer_trust.h"

namespace brevick {
namespace {

// Enough for any DER header of the outer SEQUENCE.
constexpr std::size_t kHeaderProbeBytes = 10;
constexpr const char* kMd2Warning =
    "the signature uses MD2, a broken digest; ask the signer for --digest sha256";

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

// Why the file's first bytes rule it out as a signed message; empty when
// they do not. Looked at before anything else is read, so that a huge file
// that cannot be one is refused at once.
std::string HeaderProblem(std::span<const std::uint8_t> first, std::uint64_t fileSize) {
  const std::optional<MessageHeader> header = ReadMessageHeader(first);
  if (header && !header->sequence) return SignatureErrorText(CryptoResult::kNotSignedMessage);
  if (!header) return "not a signed message: its DER header is cut short or malformed";
  if (header->indefinite || header->totalSize == fileSize) return {};
  return "not a signed message: its DER header declares " + std::to_string(header->totalSize) +
         " bytes but the file holds " + std::to_string(fileSize);
}

// Reads SIGNED whole, into one block of its size, once its header agrees
// with its size; `error` says why not.
bool ReadSignedMessage(const std::string& path, std::vector<std::uint8_t>& message,
                       FileIdentity& identity, std::string& error) {
  FileDescriptor file;
  const FileResult opened = OpenRegularFile(AT_FDCWD, path, file);
  if (!opened.Ok()) {
    error = "cannot be read: " + FileErrorText(opened.error);
    return false;
  }
  identity = opened.identity;
  std::array<std::uint8_t, kHeaderProbeBytes> first{};
  const ssize_t got = ReadFully(file.Get(), first.data(), first.size());
  if (got < 0) {
    error = "cannot be read: " + FileErrorText(errno);
    return false;
  }
  error = HeaderProblem({first.data(), static_cast<std::size_t>(got)}, opened.sizeInBytes);
  if (!error.empty()) return false;
  if (opened.sizeInBytes > kMaxBlockSizeInBytes) {
    error = SignatureErrorText(CryptoResult::kCannotDecode) + ": it is larger than 4 GiB";
    return false;
  }
  message.resize(static_cast<std::size_t>(opened.sizeInBytes));
  const ssize_t whole = ::lseek(file.Get(), 0, SEEK_SET) == 0
                            ? ReadFully(file.Get(), message.data(), message.size())
                            : -1;
  if (whole < 0 || static_cast<std::size_t>(whole) != message.size()) {
    error = whole < 0 ? "cannot be read: " + FileErrorText(errno)
                      : "cannot be read: the file changed while it was read";
    message = {};
    return false;
  }
  return true;
}

// Every SignerInfo into the report; the first one's certificate is the one
// trust is checked for.
void ReportSignatures(const MessageCheck& check, VerifyReport& report) {
  for (const SignerCheck& signer : check.signers) {
    VerifyReport::SignerResult result;
    result.valid = signer.result == CryptoResult::kOk;
    if (!result.valid) result.error = SignatureErrorText(signer.result);
    result.digest = signer.digest;
    result.signingTime = signer.signingTime;
    if (signer.certificate != nullptr) result.certificate = DescribeCertificate(signer.certificate);
    report.signers.push_back(std::move(result));
  }
  if (!report.signers.empty()) {
    report.signature.digest = report.signers.front().digest;
    report.signature.signingTime = report.signers.front().signingTime;
    report.signer = report.signers.front().certificate;
  }
  report.signature.valid = check.result == CryptoResult::kOk;
  if (report.signature.valid) return;
  report.signature.error = SignatureErrorText(check.result);
  // Which one failed, when there are several to tell apart.
  for (std::size_t i = 0; report.signers.size() > 1 && i < report.signers.size(); ++i) {
    if (report.signers[i].valid) continue;
    report.signature.error = "signer " + std::to_string(i + 1) + " of " +
                             std::to_string(report.signers.size()) + ": " + report.signers[i].error;
    break;
  }
}

SignerChain ChainOf(const MessageCheck& check) {
  SignerChain chain;
  chain.certificate = check.signers.front().certificate;
  for (X509* carried : check.certificates) {
    if (carried != chain.certificate) chain.otherCertificates.push_back(carried);
  }
  return chain;
}

bool UsesMd2(const VerifyReport& report) {
  return std::any_of(
      report.signers.begin(), report.signers.end(),
      [](const VerifyReport::SignerResult& signer) { return signer.digest == "md2"; });
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

bool FilesFail(const VerifyReport::Files& files, bool strict) {
  return !files.error.empty() ||
         std::any_of(files.entries.begin(), files.entries.end(),
                     [&](const FileEntry& entry) { return FileFails(entry, strict); }) ||
         (strict && !files.extra.empty());
}

// An output path as the system knows it: the file it names (links
// followed), or, when there is none yet, its directory and name, so that two
// spellings of one new file still compare equal.
struct OutputTarget {
  std::string path;
  std::optional<FileIdentity> file;
  std::optional<FileIdentity> directory;
  std::string name;
};

OutputTarget TargetOf(const std::string& path) {
  OutputTarget target{path, {}, {}, {}};
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    target.file = FileIdentity{status.st_dev, status.st_ino};
    return target;
  }
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  target.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (::stat(directory.c_str(), &status) == 0)
    target.directory = FileIdentity{status.st_dev, status.st_ino};
  return target;
}

bool SameTarget(const OutputTarget& a, const OutputTarget& b) {
  if (a.file || b.file) return a.file == b.file;
  return a.directory && a.directory == b.directory && a.name == b.name;
}

// The outputs the options name, each with the text that refuses it (empty
// while it may be written).
struct Outputs {
  std::optional<OutputTarget> extract;
  std::optional<OutputTarget> report;
  WatchedFiles moduleFiles;  // the outputs' identities, met among the module files

  void Refuse(std::string& reason, const OutputTarget& target, const char* why) {
    if (reason.empty()) reason = "refusing to overwrite " + target.path + ": " + why;
  }
};

Outputs OutputsOf(const VerifyOptions& options) {
  Outputs outputs;
  if (options.extractPath) outputs.extract = TargetOf(*options.extractPath);
  if (options.reportPath) outputs.report = TargetOf(*options.reportPath);
  for (const auto* target : {&outputs.extract, &outputs.report}) {
    if (*target && (*target)->file) {
      outputs.moduleFiles.identities.push_back(*(*target)->file);
      outputs.moduleFiles.met.push_back(false);
    }
  }
  return outputs;
}

// Refuses every output that names the signed message, the other output or
// a module file of the package, whatever name leads to it.
void VetOutputs(Outputs& outputs, const FileIdentity& signedMessage, VerifyReport& report) {
  std::size_t watchedIndex = 0;
  const auto vet = [&](const std::optional<OutputTarget>& target,
                       const std::optional<OutputTarget>& other, const char* otherName,
                       std::string& reason) {
    if (!target) return;
    if (target->file && *target->file == signedMessage)
      outputs.Refuse(reason, *target, "it is the signed message");
    if (other && SameTarget(*target, *other)) outputs.Refuse(reason, *target, otherName);
    if (target->file && outputs.moduleFiles.met.at(watchedIndex++))
      outputs.Refuse(reason, *target, "it is a module file of the verified package");
  };
  vet(outputs.extract, outputs.report, "it is also the --json report", report.extractError);
  vet(outputs.report, outputs.extract, "it is also the --extract file", report.reportError);
  if (!report.extractError.empty() || !report.reportError.empty())
    report.exitCode |= Bit(VerifyFailure::kOutputFailed);
}

// The content goes out only when the signature holds and the signer is
// trusted: a script that reads the file before the exit code never reads
// unverified content.
void Extract(const std::string& path, std::span<const std::uint8_t> content, VerifyReport& report) {
  if (!report.extractError.empty()) return;
  if (!report.signature.valid) {
    report.extractError = "not written: the signature is not valid";
    return;
  }
  if (!report.trust.trusted) {
    report.extractError = "not written: the signer is not trusted";
    return;
  }
  if (const int error = ReplaceFile(path, content).error; error != 0) {
    report.extractError = "cannot write " + path + ": " + FileErrorText(error);
    report.exitCode |= Bit(VerifyFailure::kOutputFailed);
  }
}

void CheckFiles(const VerifyOptions& options, std::span<const std::uint8_t> content,
                const FileIdentity& signedMessage, Outputs& outputs, VerifyReport& report) {
  const PackageCheck check{*options.packageDirectory, signedMessage,
                           options.jobs.value_or(AvailableCpuCount())};
  CheckPackageFiles(content, check, report.files, outputs.moduleFiles);
  if (FilesFail(report.files, options.strict)) report.exitCode |= Bit(VerifyFailure::kFilesDiffer);
}

// A message whose signature does not hold: nothing else is worth checking,
// and the report says so for each check that was asked for.
void MarkUnchecked(VerifyReport& report, const VerifyOptions& options) {
  report.exitCode |= Bit(VerifyFailure::kInvalidMessage);
  if (options.packageDirectory) report.files.skipped = "the signature is not valid";
  if (options.extractPath && report.extractError.empty())
    report.extractError = "not written: the signature is not valid";
}

}  // namespace

VerifyReport VerifySignedManifest(const VerifyOptions& options, Reporter* reporter) {
  VerifyReport report;
  report.file = options.signedPath;
  report.trust.reason = "not checked: the signature is not valid";
  Outputs outputs = OutputsOf(options);

  std::vector<std::uint8_t> message;
  FileIdentity signedIdentity;
  if (!ReadSignedMessage(options.signedPath, message, signedIdentity, report.signature.error)) {
    VetOutputs(outputs, signedIdentity, report);
    MarkUnchecked(report, options);
    return report;
  }
  const MessageCheck check = CheckSignedMessage(message);
  ReportSignatures(check, report);
  if (UsesMd2(report)) report.warnings.emplace_back(kMd2Warning);
  if (!report.signature.valid) {
    VetOutputs(outputs, signedIdentity, report);
    MarkUnchecked(report, options);
    return report;
  }

  report.trust.reason.clear();
  CheckSignerTrust(options, message, ChainOf(check), UsesMd2(report), reporter, report);
  if (!report.trust.trusted) report.exitCode |= Bit(VerifyFailure::kUntrusted);
  if (options.packageDirectory) CheckFiles(options, check.content, signedIdentity, outputs, report);
  VetOutputs(outputs, signedIdentity, report);
  if (options.extractPath) Extract(*options.extractPath, check.content, report);
  return report;
}

}  // namespace brevick
