// The signer's trust, step by step: the timestamp first, because the time it
// proves decides when the chain is judged; then the chain; then revocation,
// whose verdict depends on both. Every later failure turns a trusted verdict
// into "..., but <why>", so that the reason always says all that went wrong.
#include "verify/signer_trust.h"

#include <ctime>
#include <optional>

#include "pki/signer_details.h"
#include "pki/trust.h"
#include "verify/anchors.h"
#include "verify/revocation_check.h"
#include "verify/timestamp_check.h"

namespace brevick {
namespace {

std::string JoinReasons(const std::vector<std::string>& reasons) {
  std::string joined;
  for (const std::string& reason : reasons) {
    if (!joined.empty()) joined += "; ";
    joined += reason;
  }
  return joined;
}

std::vector<X509*> Pointers(const std::vector<X509Ptr>& certificates) {
  std::vector<X509*> pointers;
  pointers.reserve(certificates.size());
  for (const X509Ptr& certificate : certificates) pointers.push_back(certificate.get());
  return pointers;
}

// What the chain check found, for the revocation check after it.
struct SignerChain {
  std::string trustedBy;       // empty when not trusted
  std::vector<X509Ptr> chain;  // leaf to anchor; empty when none was built
};

SignerChain CheckChain(const VerifyOptions& options, const MessageSigner& signer,
                       const AnchorSet& anchors, std::optional<std::time_t> at,
                       std::vector<std::string>& problems) {
  SignerChain result;
  problems = anchors.problems;
  if (!anchors.anchors.empty() && problems.empty()) {
    const std::vector<X509*> intermediates = Pointers(signer.otherCertificates);
    ChainVerdict verdict =
        VerifyCertificateChain(signer.certificate.get(), intermediates, anchors.Certificates(), at);
    if (verdict.trusted) {
      result.trustedBy = anchors.ChainsTo(verdict.anchor.get());
      result.chain = std::move(verdict.chain);
    } else {
      problems.push_back("no chain to the anchors: " + verdict.reason);
    }
  }
  if (result.trustedBy.empty() && options.pinnedSha256) {
    if (Sha256Thumbprint(signer.certificate.get()) != *options.pinnedSha256) {
      problems.push_back("the SHA-256 thumbprint is not the pinned one");
    } else if (const std::string problem = ValidityProblem(signer.certificate.get(), at);
               !problem.empty()) {
      problems.push_back("pinned, but " + problem);
    } else {
      result.trustedBy = "the SHA-256 thumbprint is the pinned one";
    }
  }
  return result;
}

// The chain verdict and the key usage, into `trust`.
SignerChain CheckTrust(const VerifyOptions& options, const MessageSigner& signer,
                       const AnchorSet& anchors, std::optional<std::time_t> at,
                       VerifyReport::Trust& trust) {
  const bool anyAnchor = !options.trustFiles.empty() || !options.trustStores.empty();
  trust.checked = anyAnchor || options.pinnedSha256.has_value();
  if (!trust.checked) {
    trust.reason = "not checked against any trust anchor";
    return {};
  }
  trust.anchors = anchors.Descriptions();
  if (options.pinnedSha256) trust.anchors.push_back("pinned sha256 " + *options.pinnedSha256);
  trust.at = UtcTimeText(at.value_or(std::time(nullptr)));
  trust.atSource = at ? "timestamp" : "now";

  std::vector<std::string> problems;
  SignerChain chain = CheckChain(options, signer, anchors, at, problems);
  if (chain.trustedBy.empty()) {
    trust.reason = JoinReasons(problems);
    return chain;
  }
  const SigningUsage usage = CheckSigningUsage(signer.certificate.get(), options.strict);
  if (usage != SigningUsage::kAllowed) {
    trust.reason = chain.trustedBy + ", but " + SigningUsageText(usage);
    return chain;
  }
  trust.trusted = true;
  trust.reason = chain.trustedBy;
  return chain;
}

// Each failure found after the chain makes a trusted signer untrusted and is
// added to the reason.
void AddTrustFailure(VerifyReport::Trust& trust, const std::string& failure) {
  if (trust.trusted) {
    trust.trusted = false;
    trust.reason += ", but " + failure;
  } else {
    trust.reason += (trust.reason.empty() ? "" : "; ") + failure;
  }
}

void CheckSignerRevocation(const MessageSigner& signer, const AnchorSet& anchors,
                           const SignerChain& chain, CrlCollection& crls,
                           const std::vector<RevocationFinding>& tsaFindings,
                           std::optional<std::time_t> signedAt, VerifyReport& report) {
  std::vector<RevocationFinding> findings;
  if (chain.chain.empty()) {
    RevocationFinding finding;
    finding.problem = "no chain to an anchor to check it along";
    findings.push_back(finding);
  } else {
    findings = crls.Check(signer.certificate.get(), Pointers(signer.otherCertificates),
                          anchors.Certificates(), Pointers(chain.chain), true);
  }
  const std::string failure =
      JudgeRevocation(findings, tsaFindings, crls, signedAt, report.revocation.emplace());
  if (!failure.empty()) AddTrustFailure(report.trust, failure);
}

}  // namespace

void CheckSignerTrust(const VerifyOptions& options, std::span<const std::uint8_t> message,
                      const MessageSigner& signer, Reporter* reporter, VerifyReport& report) {
  const AnchorSet anchors = LoadAnchors(options.trustFiles, options.trustStores);
  const bool ownTsaAnchors = !options.tsaTrustFiles.empty() || !options.tsaTrustStores.empty();
  const AnchorSet tsaOnly =
      ownTsaAnchors ? LoadAnchors(options.tsaTrustFiles, options.tsaTrustStores) : AnchorSet{};
  std::optional<CrlCollection> crls;
  if (options.crl.Requested()) crls.emplace(options.crl, reporter);
  std::vector<RevocationFinding> tsaFindings;
  const std::optional<std::time_t> signedAt =
      CheckTimestamp(message, ownTsaAnchors ? tsaOnly : anchors, crls ? &*crls : nullptr,
                     tsaFindings, report.timestamp);

  // A timestamp outside the signer's validity proves nothing about it.
  std::optional<std::time_t> at;
  if (signedAt && ValidityProblem(signer.certificate.get(), *signedAt).empty()) at = signedAt;
  const SignerChain chain = CheckTrust(options, signer, anchors, at, report.trust);
  if (crls) CheckSignerRevocation(signer, anchors, chain, *crls, tsaFindings, signedAt, report);
  if (report.timestamp && !report.timestamp->valid)
    AddTrustFailure(report.trust, "the timestamp is invalid: " + report.timestamp->reason);
  if (options.requireTimestamp && !signedAt)
    AddTrustFailure(report.trust, "no valid, trusted timestamp");
}

}  // namespace brevick
