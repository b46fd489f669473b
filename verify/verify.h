// verify/verify.h: checking a signed manifest as its recipient: the
// signature, whether the signer is trusted, and the package's files against
// the digests the manifest holds. Prints nothing; everything is in the report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "verify/revocation_check.h"
#include "verify/verify_report.h"

namespace brevick {

struct VerifyOptions {
  std::string signedPath;                       // the signed message (DER)
  std::optional<std::string> packageDirectory;  // where the module files lie
  std::vector<std::string> trustFiles;          // PEM (one or more) or DER certificates
  std::vector<std::wstring> trustStores;        // Brevick store names
  std::optional<std::string> pinnedSha256;      // 64 lowercase hexadecimal digits
  // Receives the content when the signature holds and the signer is trusted.
  std::optional<std::string> extractPath;
  // The --json file (not "-"): checked, like extractPath, never to name the
  // signed message, the other output or a module file of the package.
  std::optional<std::string> reportPath;
  // Extra files and files without a digest fail the files check; an extended
  // key usage without code signing, or an MD2 signature, fails trust.
  bool strict = false;
  // Module files hashed at once; absent: the CPUs the process may run on.
  std::optional<int> jobs;
  // Anchors for the time-stamp authority's chain; when neither is given, the
  // signer's anchors serve.
  std::vector<std::string> tsaTrustFiles;
  std::vector<std::wstring> tsaTrustStores;
  // No valid, trusted timestamp fails trust.
  bool requireTimestamp = false;
  CrlOptions crl;
};

// Runs every check that applies and fills in the exit code. A message whose
// signature does not hold stops the check there: trust and files are then
// reported as not checked. Writes the extract file, never the JSON report
// (whose target it only vets, in `reportError`). Throws only std::bad_alloc.
// `reporter` (may be null) is told what happens on the way that the report
// does not keep: each failed CRL download.
VerifyReport VerifySignedManifest(const VerifyOptions& options, Reporter* reporter = nullptr);

}  // namespace brevick
