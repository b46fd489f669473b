// Which CRLs a check has and what they say about both chains. The verdict
// is fail-closed: a recipient who asked for revocation checking and cannot
// get an answer is told "unknown" and the signer is not trusted.
#include "verify/revocation_check.h"

#include "base/file_io.h"
#include "pki/signer_details.h"

namespace brevick {
namespace {

const RevocationFinding* FirstUnknown(const std::vector<RevocationFinding>& findings) {
  for (const RevocationFinding& finding : findings)
    if (finding.kind == RevocationFinding::Kind::kUnknown) return &finding;
  return nullptr;
}

void SetRevoked(const RevocationFinding& finding, VerifyReport::Revocation& revocation) {
  revocation.revoked = true;
  revocation.revokedAt = UtcTimeText(finding.revokedAt);
  revocation.reason = finding.reason;
  if (finding.depth > 0) revocation.subject = finding.subject;
}

}  // namespace

CrlCollection::CrlCollection(const CrlOptions& crlOptions, Reporter* progress)
    : options(crlOptions), reporter(progress) {
  for (const std::string& path : options.files) {
    std::vector<X509CrlPtr> read;
    int error = 0;
    const CrlFileResult result = ReadCrlFile(path, read, error);
    if (result != CrlFileResult::kOk) {
      std::string problem = "CRL file " + path + " " + CrlFileResultText(result);
      if (error != 0) problem += " (" + FileErrorText(error) + ")";
      problems.push_back(std::move(problem));
      continue;
    }
    for (X509CrlPtr& crl : read) crls.push_back({std::move(crl), path});
  }
}

std::vector<std::string> CrlCollection::Sources() const {
  std::vector<std::string> sources;
  for (const SourcedCrl& crl : crls) sources.push_back(crl.source);
  return sources;
}

std::vector<RevocationFinding> CrlCollection::Check(X509* leaf,
                                                    std::span<X509* const> intermediates,
                                                    std::span<X509* const> anchors,
                                                    std::span<X509* const> chain) {
  if (options.fetch) {
    // The anchor at the top needs no CRL; a lone self-signed leaf does.
    const std::size_t checked = chain.size() > 1 ? chain.size() - 1 : chain.size();
    for (std::size_t i = 0; i < checked; ++i) Fetch(chain[i]);
  }
  RevocationRequest request;
  request.leaf = leaf;
  request.intermediates = intermediates;
  request.anchors = anchors;
  request.crls = crls;
  request.everyCertificate = options.everyCertificate;
  return CheckRevocation(request);
}

void CrlCollection::Fetch(X509* certificate) { (void)certificate; }

std::string JudgeRevocation(const std::vector<RevocationFinding>& signerFindings,
                            const std::vector<RevocationFinding>& tsaFindings,
                            const CrlCollection& crls, std::optional<std::time_t> signedAt,
                            VerifyReport::Revocation& revocation) {
  revocation.crls = crls.Sources();
  const RevocationFinding* later = nullptr;
  for (const RevocationFinding& finding : signerFindings) {
    if (finding.kind != RevocationFinding::Kind::kRevoked) continue;
    // A signature proven older than the revocation stays good; without
    // such proof it could have been made at any time, after it too.
    if (signedAt && *signedAt < finding.revokedAt) {
      if (later == nullptr) later = &finding;
      continue;
    }
    SetRevoked(finding, revocation);
    revocation.checked = true;
    return "the certificate" + (finding.depth > 0 ? " " + finding.subject : std::string()) +
           " was revoked on " + revocation.revokedAt + " (" + finding.reason + ")";
  }
  const RevocationFinding* unknown = FirstUnknown(signerFindings);
  if (unknown == nullptr) unknown = FirstUnknown(tsaFindings);
  if (unknown != nullptr) {
    revocation.error = unknown->problem;
  } else if (!crls.Problems().empty()) {
    revocation.error = crls.Problems().front();
  }
  if (!revocation.error.empty()) return "its revocation status is unknown";
  revocation.checked = true;
  if (later != nullptr) {
    SetRevoked(*later, revocation);
    revocation.afterTimestamp = true;
  }
  return {};
}

}  // namespace brevick
