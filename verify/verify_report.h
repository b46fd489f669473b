// verify/verify_report.h: the result of checking a signed manifest, as data
// that an installer can act on and the verify mode presents.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pki/signer_details.h"

namespace brevick {

// The exit code of a check is the sum of the bits that apply.
enum class VerifyFailure : int {
  kInvalidMessage = 1,  // not a valid signed message; nothing else is checked
  kUntrusted = 2,       // the signer is not trusted (or was not checked)
  kFilesDiffer = 4,     // a file differs, is missing, unreadable or outside the package
  kOutputFailed = 8,    // --extract or --json could not (or must not) be written
};

enum class FileStatus {
  kOk,
  kDiffers,
  kMissing,
  kUnreadable,
  kOutside,   // the path leaves the package directory; never read
  kNoDigest,  // the manifest holds no digest for it
  kCount
};

// "ok", "differs", "missing", "unreadable", "outside", "no-digest".
const char* FileStatusText(FileStatus status);

enum class DigestKind { kMd5, kSha256, kSha384, kSha512, kCount };

// The manifest's element name: "md5", "sha256", "sha384", "sha512".
const char* DigestKindName(DigestKind kind);

struct DigestComparison {
  DigestKind kind = DigestKind::kMd5;
  std::string expected;  // lowercase hexadecimal, "0x" dropped; as written when malformed
  std::string actual;    // lowercase hexadecimal; empty when the file was not hashed
};

struct FileEntry {
  std::string module;  // the module's name attribute
  std::string path;    // subPath + "\" + file, as the manifest spells them
  FileStatus status = FileStatus::kOk;
  std::vector<DigestComparison> digests;
  std::string detail;  // why a file is unreadable; empty otherwise
};

struct VerifyReport {
  std::string file;  // the signed message's path

  struct Signature {
    bool valid = false;       // every SignerInfo holds
    std::string digest;       // the first SignerInfo's digest algorithm, "md2", ...
    std::string error;        // empty when valid
    std::string signingTime;  // the first signer's signed signing time; never used for trust
  } signature;

  // The first SignerInfo's carried certificate, the one trust is checked for.
  std::optional<SignerDetails> signer;

  // Every SignerInfo, in message order; Brevick itself writes one.
  struct SignerResult {
    bool valid = false;
    std::string error;  // empty when valid
    std::string digest;
    std::string signingTime;
    std::optional<SignerDetails> certificate;
  };
  std::vector<SignerResult> signers;

  // Said on standard error, beside the report: a broken digest, say.
  std::vector<std::string> warnings;

  struct Trust {
    bool checked = false;  // some anchor or pin was given
    bool trusted = false;
    std::vector<std::string> anchors;  // every anchor used, "<source>: <subject>"
    std::string reason;
  } trust;

  struct Files {
    bool checked = false;  // a package directory was given and the content was read
    std::string root;      // the package directory as given
    std::string error;     // why the files could not be checked at all
    std::string skipped;   // why they were not checked although a directory was given
    std::vector<FileEntry> entries;
    std::vector<std::string> extra;  // relative paths, "/"-separated, sorted
  } files;

  std::string extractError;  // why --extract wrote nothing; empty otherwise
  std::string reportError;   // why the --json file must not be written; empty otherwise
  int exitCode = 0;
};

}  // namespace brevick
