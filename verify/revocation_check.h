// verify/revocation_check.h: the CRLs a check consults (files the recipient
// names, read once, and CRLs downloaded from the certificates' distribution
// points) and the revocation verdict over the signer's and the TSA's chains.
// Tested by tests/verify/revocation_test.cc.
#pragma once

#include <ctime>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/http_client.h"
#include "base/reporter.h"
#include "pki/revocation.h"
#include "verify/verify_report.h"

namespace brevick {

struct CrlOptions {
  std::vector<std::string> files;  // PEM (one or more CRLs) or DER
  bool everyCertificate = false;   // every certificate of both chains needs its CRL
  bool fetch = false;              // download from the distribution points (http only)
  int rounds = 3;                  // passes over a certificate's URLs
  long waitSeconds = 10;           // between passes
  long timeoutSeconds = 30;        // per request
  bool Requested() const { return !files.empty() || everyCertificate || fetch; }
};

class CrlCollection {
 public:
  // Reads the CRL files now; one that cannot be used is a problem of every
  // verdict, since the recipient asked for it.
  CrlCollection(const CrlOptions& crlOptions, Reporter* progress);

  // The chain's findings, leaf first. With fetching on, first downloads the
  // CRLs that `chain`'s certificates name and that were not tried yet;
  // each failed try is told to the reporter.
  // The leaf needs its CRL when `leafRequired` (the signer's) or when
  // every certificate must have one.
  std::vector<RevocationFinding> Check(X509* leaf, std::span<X509* const> intermediates,
                                       std::span<X509* const> anchors, std::span<X509* const> chain,
                                       bool leafRequired);

  // Files that could not be used and downloads that failed, in order.
  const std::vector<std::string>& Problems() const { return problems; }
  // Every CRL's source, in the order read or fetched.
  std::vector<std::string> Sources() const;

 private:
  void Fetch(X509* certificate);
  // One try: nothing when `url` served a CRL, else why not.
  std::optional<std::string> FetchOne(const std::string& url, const HttpOptions& http);

  const CrlOptions& options;
  Reporter* reporter;
  std::vector<SourcedCrl> crls;
  std::vector<std::string> problems;
  std::set<std::string> tried;
};

// Weighs the findings of both chains. A signer revocation at or before the
// signing time (or any, without a trusted timestamp) is a revocation; a
// later one is noted but harmless; a certificate whose status is unknown, a
// CRL file that could not be used or a download that failed is "unknown".
// Returns the reason the signer is not trusted, empty when it may be.
std::string JudgeRevocation(const std::vector<RevocationFinding>& signerFindings,
                            const std::vector<RevocationFinding>& tsaFindings,
                            const CrlCollection& crls, std::optional<std::time_t> signedAt,
                            VerifyReport::Revocation& revocation);

}  // namespace brevick
