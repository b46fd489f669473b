// Which CRLs a check has and what they say about both chains. The verdict
// is fail-closed: a recipient who asked for revocation checking and cannot
// get an answer is told "unknown" and the signer is not trusted.
#include "verify/revocation_check.h"

#include <algorithm>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/utf8.h"
#include "pki/certificate_info.h"

namespace brevick {
namespace {

const RevocationFinding* FirstUnknown(const std::vector<RevocationFinding>& findings) {
  for (const RevocationFinding& finding : findings)
    if (finding.kind == RevocationFinding::Kind::kUnknown) return &finding;
  return nullptr;
}

// "Content-Type text/html, first bytes \"<!DOCTYPE html>\"": enough to see
// what answered instead of a CRL (a proxy's page, an error text).
std::string DescribeBody(const HttpResponse& response) {
  constexpr std::size_t kShownBytes = 16;
  std::string text =
      "Content-Type " + (response.contentType.empty() ? "none" : response.contentType) + ", ";
  if (response.body.empty()) return text + "empty body";
  text += "first bytes \"";
  const std::size_t shown = std::min(response.body.size(), kShownBytes);
  for (std::size_t i = 0; i < shown; ++i) {
    const std::uint8_t byte = response.body[i];
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      text += "\\x" + HexText(std::span(&byte, 1));
    }
  }
  return text + "\"";
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
                                                    std::span<X509* const> chain,
                                                    bool leafRequired) {
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
  request.leafRequired = leafRequired;
  return CheckRevocation(request);
}

void CrlCollection::Fetch(X509* certificate) {
  const std::vector<std::string> urls = CrlDistributionUrls(certificate);
  // A certificate without an http distribution point simply has no CRL to
  // fetch; when one is required, the check says so.
  if (urls.empty()) return;
  // Certificates of one issuer name the same CRL: it is fetched once.
  for (const std::string& url : urls)
    if (!tried.insert(url).second) return;
  HttpOptions http;
  http.timeoutSeconds = options.timeoutSeconds;
  std::string lastFailure;
  const TryOutcome outcome = TryInTurn(
      urls, RetryPlan{options.rounds, options.waitSeconds},
      [&](const std::string& url) { return FetchOne(url, http); },
      [&](const std::string& url, const std::string& reason) {
        lastFailure = url + ": " + reason;
        if (reporter != nullptr) reporter->Notice(ToWide("crl: " + lastFailure));
      });
  if (!outcome.servedBy) {
    problems.push_back("no CRL could be fetched for " +
                       DistinguishedNameText(X509_get_subject_name(certificate)) + " (" +
                       lastFailure + ")");
  } else if (outcome.failedTries > 0 && reporter != nullptr) {
    const std::size_t tries = outcome.failedTries;
    reporter->Notice(ToWide("crl: served by " + urls[*outcome.servedBy] + " after " +
                            std::to_string(tries) +
                            (tries == 1 ? " failed try" : " failed tries")));
  }
}

std::optional<std::string> CrlCollection::FetchOne(const std::string& url,
                                                   const HttpOptions& http) {
  const HttpResponse response = HttpGet(url, http);
  if (!response.Ok()) return response.failure;
  std::vector<X509CrlPtr> fetched;
  if (DecodeCrls(response.body, fetched) != CrlFileResult::kOk)
    return "not a CRL (" + DescribeBody(response) + ")";
  for (X509CrlPtr& crl : fetched) crls.push_back({std::move(crl), url});
  return std::nullopt;
}

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
  // A file or download that failed explains a missing CRL better than the
  // missing CRL does.
  const RevocationFinding* unknown = FirstUnknown(signerFindings);
  if (unknown == nullptr) unknown = FirstUnknown(tsaFindings);
  if (!crls.Problems().empty()) {
    revocation.error = crls.Problems().front();
  } else if (unknown != nullptr) {
    revocation.error = unknown->problem;
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
