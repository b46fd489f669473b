// verify/verify_report.h: the result of checking a signed manifest, as data
// that an installer can act on and the verify mode presents.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pki/certificate_info.h"

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

  // The RFC 3161 token the signer's unsigned attributes carry; absent when
  // there is none (or the signature did not hold, so nothing was read).
  struct Timestamp {
    bool valid = false;                // read, over this signature, signed by its TSA certificate
    bool trusted = false;              // valid, and the TSA chains to an anchor at its time
    std::string time;                  // genTime, "YYYY-MM-DDTHH:MM:SSZ"; empty when unreadable
    std::string digest;                // of the imprint, "sha256", ...
    std::string policy;                // dotted OID
    std::string serial;                // uppercase hexadecimal
    std::optional<SignerDetails> tsa;  // the certificate that signed the token
    std::string reason;                // invalid or not trusted: why; trusted: "chains to ..."
  };
  std::optional<Timestamp> timestamp;

  struct Trust {
    bool checked = false;  // some anchor or pin was given
    bool trusted = false;
    std::vector<std::string> anchors;  // every anchor used, "<source>: <subject>"
    std::string reason;
    std::string at;        // the time the chain was checked at; empty when not checked
    std::string atSource;  // "timestamp" or "now"; empty when not checked
  } trust;

  // Present when CRLs were asked for (--crl, --crl-check, --crl-fetch).
  struct Revocation {
    bool checked = false;  // the status was found, revoked or not
    bool revoked = false;
    bool afterTimestamp = false;    // revoked after a trusted timestamp's time: harmless
    std::string revokedAt;          // "YYYY-MM-DDTHH:MM:SSZ"
    std::string reason;             // the CRL's reason, "keyCompromise", ...
    std::string subject;            // the revoked certificate when it is not the signer's
    std::vector<std::string> crls;  // the source of every CRL consulted
    std::string error;              // why the status is unknown; empty otherwise
  };
  std::optional<Revocation> revocation;

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

// The verdicts after "Timestamp: " and "Revocation: " in the text report:
// "none", "<time> by <TSA>; trusted: chains to ...", "invalid: <reason>";
// "not checked", "not revoked (2 CRLs)", "revoked on <time> (<reason>)",
// "unknown: <reason>".
std::string TimestampSummary(const VerifyReport& report);
std::string RevocationSummary(const VerifyReport& report);

}  // namespace brevick
