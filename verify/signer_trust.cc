// The signer's trust, step by step: the timestamp first, because the time it
// proves decides when the chain is judged; then the chain; then revocation,
// whose verdict depends on both. Every later failure turns a trusted verdict
// into "..., but <why>", so that the reason always says all that went wrong.
#include "verify/signer_trust.h"

#include <ctime>
#include <optional>

#include "pki/certificate_info.h"
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

// What vouches for the signer, and the chain the revocation check follows.
struct Vouched {
  std::string by;              // "chains to ...", "the SHA-256 thumbprint ..."; empty: nothing
  std::vector<X509Ptr> chain;  // leaf to anchor; empty when none was built
};

Vouched ChainOrPin(const VerifyOptions& options, const SignerChain& signer,
                   const AnchorSet& anchors, std::optional<std::time_t> at,
                   std::vector<std::string>& problems) {
  Vouched vouched;
  if (!anchors.anchors.empty()) {
    ChainVerdict verdict = VerifyCertificateChain(signer.certificate, signer.otherCertificates,
                                                  anchors.Certificates(), at);
    if (verdict.trusted) {
      vouched.by = anchors.ChainsTo(verdict.anchor.get());
      vouched.chain = std::move(verdict.chain);
      return vouched;
    }
    problems.push_back("no chain to the anchors: " + verdict.reason);
  }
  if (!options.pinnedSha256) return vouched;
  if (Sha256Thumbprint(signer.certificate) != *options.pinnedSha256) {
    problems.push_back("the SHA-256 thumbprint is not the pinned one");
  } else if (const std::string problem = ValidityProblem(signer.certificate, at);
             !problem.empty()) {
    problems.push_back("pinned, but " + problem);
  } else {
    vouched.by = "the SHA-256 thumbprint is the pinned one";
  }
  return vouched;
}

// What keeps a signer that an anchor or pin vouches for from being trusted.
std::string UseProblem(const VerifyOptions& options, const SignerChain& signer, bool md2) {
  const SigningUsage usage = CheckSigningUsage(signer.certificate, options.strict);
  if (usage != SigningUsage::kAllowed) return SigningUsageText(usage);
  if (md2 && options.strict) return "the signature uses MD2, a broken digest";
  return {};
}

// The chain (or pin) verdict and the uses, into `trust`.
Vouched CheckTrust(const VerifyOptions& options, const SignerChain& signer, bool md2,
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
  // An anchor that could not be read fails trust whatever else matches.
  if (!anchors.problems.empty()) {
    trust.reason = JoinReasons(anchors.problems);
    return {};
  }
  std::vector<std::string> problems;
  Vouched vouched = ChainOrPin(options, signer, anchors, at, problems);
  if (vouched.by.empty()) {
    trust.reason = JoinReasons(problems);
  } else if (const std::string problem = UseProblem(options, signer, md2); !problem.empty()) {
    trust.reason = vouched.by + ", but " + problem;
  } else {
    trust.trusted = true;
    trust.reason = vouched.by;
  }
  return vouched;
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

void CheckSignerRevocation(const SignerChain& signer, const AnchorSet& anchors,
                           const Vouched& vouched, CrlCollection& crls,
                           const std::vector<RevocationFinding>& tsaFindings,
                           std::optional<std::time_t> signedAt, VerifyReport& report) {
  std::vector<RevocationFinding> findings;
  if (vouched.chain.empty()) {
    RevocationFinding finding;
    finding.problem = "no chain to an anchor to check it along";
    findings.push_back(finding);
  } else {
    findings = crls.Check(signer.certificate, signer.otherCertificates, anchors.Certificates(),
                          Pointers(vouched.chain), true);
  }
  // Assigned rather than emplaced: clang judges the nested struct not yet
  // default-constructible where the report declares its optional.
  report.revocation = VerifyReport::Revocation{};
  const std::string failure =
      JudgeRevocation(findings, tsaFindings, crls, signedAt, *report.revocation);
  if (!failure.empty()) AddTrustFailure(report.trust, failure);
}

}  // namespace

void CheckSignerTrust(const VerifyOptions& options, std::span<const std::uint8_t> message,
                      const SignerChain& signer, bool md2, Reporter* reporter,
                      VerifyReport& report) {
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
  if (signedAt && ValidityProblem(signer.certificate, *signedAt).empty()) at = signedAt;
  const Vouched vouched = CheckTrust(options, signer, md2, anchors, at, report.trust);
  if (crls) CheckSignerRevocation(signer, anchors, vouched, *crls, tsaFindings, signedAt, report);
  if (report.timestamp && !report.timestamp->valid)
    AddTrustFailure(report.trust, "the timestamp is invalid: " + report.timestamp->reason);
  if (options.requireTimestamp && !signedAt)
    AddTrustFailure(report.trust, "no valid, trusted timestamp");
}

}  // namespace brevick
