// The timestamp's verdict. The token's own checks are the cms layer's; what
// is decided here is whom the recipient trusts to tell the time, and the
// TSA's chain is judged at the token's time, as the signer's is afterwards:
// a TSA certificate that has expired since still vouches for what it stamped
// while it was valid, but one that has been revoked does not.
#include "verify/timestamp_check.h"

#include "cms/timestamp_token.h"
#include "pki/certificate_info.h"
#include "pki/trust.h"

namespace brevick {
namespace {

std::vector<X509*> Pointers(const std::vector<X509Ptr>& certificates) {
  std::vector<X509*> pointers;
  pointers.reserve(certificates.size());
  for (const X509Ptr& certificate : certificates) pointers.push_back(certificate.get());
  return pointers;
}

std::string JoinReasons(const std::vector<std::string>& reasons) {
  std::string joined;
  for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "; ") + reason;
  return joined;
}

// Empty when no finding speaks against the TSA; otherwise why not.
std::string RevocationProblem(const std::vector<RevocationFinding>& findings) {
  for (const RevocationFinding& finding : findings) {
    if (finding.kind == RevocationFinding::Kind::kRevoked) {
      return std::string("the TSA certificate") + (finding.depth > 0 ? " " + finding.subject : "") +
             " was revoked on " + UtcTimeText(finding.revokedAt) + " (" + finding.reason + ")";
    }
  }
  if (!findings.empty()) return "its revocation status is unknown: " + findings.front().problem;
  return {};
}

// Whether the valid `token` is trusted, with the reason either way.
bool TrustTsa(const TimestampToken& token, const AnchorSet& anchors, CrlCollection* crls,
              std::vector<RevocationFinding>& findings, std::string& reason) {
  if (anchors.anchors.empty() && anchors.problems.empty()) {
    reason = "not checked against any trust anchor";
    return false;
  }
  if (!anchors.problems.empty()) {
    reason = JoinReasons(anchors.problems);
    return false;
  }
  const std::vector<X509*> others = Pointers(token.otherCertificates);
  const std::vector<X509*> anchorCertificates = anchors.Certificates();
  const ChainVerdict verdict =
      VerifyCertificateChain(token.tsaCertificate.get(), others, anchorCertificates, token.time);
  if (!verdict.trusted) {
    reason = "no chain to the anchors: " + verdict.reason;
    return false;
  }
  if (crls != nullptr) {
    findings = crls->Check(token.tsaCertificate.get(), others, anchorCertificates,
                           Pointers(verdict.chain), false);
    reason = RevocationProblem(findings);
    if (!reason.empty()) return false;
  }
  reason = anchors.ChainsTo(verdict.anchor.get());
  return true;
}

}  // namespace

std::optional<std::time_t> CheckTimestamp(std::span<const std::uint8_t> message,
                                          const AnchorSet& tsaAnchors, CrlCollection* crls,
                                          std::vector<RevocationFinding>& tsaFindings,
                                          std::optional<VerifyReport::Timestamp>& timestamp) {
  const std::optional<SignerTimestamps> carried = ReadSignerTimestamps(message);
  if (!carried || carried->tokens.empty()) return std::nullopt;
  timestamp = VerifyReport::Timestamp{};  // not emplace(): see signer_trust.cc
  VerifyReport::Timestamp& report = *timestamp;
  if (carried->tokens.size() > 1) {
    // Two tokens could say two times; which one to believe is no choice a
    // recipient should have to make.
    report.reason = "more than one token";
    return std::nullopt;
  }
  const TimestampToken token = CheckTimestampToken(carried->tokens[0], carried->signatureValue);
  report.time = token.timeText;
  report.digest = token.digest;
  report.policy = token.policy;
  report.serial = token.serial;
  if (token.tsaCertificate) report.tsa = DescribeCertificate(token.tsaCertificate.get());
  if (!token.Valid()) {
    report.reason = token.reason;
    return std::nullopt;
  }
  report.valid = true;
  report.trusted = TrustTsa(token, tsaAnchors, crls, tsaFindings, report.reason);
  if (!report.trusted) return std::nullopt;
  return token.time;
}

}  // namespace brevick
