// CRLs and revocation. OpenSSL finds each certificate's CRL, checks the
// CRL's signature and currency and looks the certificate up; its verify
// callback turns what it finds into findings instead of stopping at the
// first, because a revocation after a trusted timestamp is no fault and
// certificates whose CRL was not asked for are passed over.
#include "pki/revocation.h"

#include <openssl/x509_vfy.h>

#include <algorithm>
#include <array>
#include <optional>

#include "pki/certificate_info.h"

namespace brevick {
namespace {

// RFC 5280's CRLReason names; 7 is unused there.
constexpr std::array<const char*, 11> kReasonNames = {
    "unspecified",   "keyCompromise",        "cACompromise",    "affiliationChanged",
    "superseded",    "cessationOfOperation", "certificateHold", "unused",
    "removeFromCRL", "privilegeWithdrawn",   "aACompromise"};

// Carries the request and the findings through OpenSSL's callback.
struct CheckState {
  const RevocationRequest* request = nullptr;
  std::vector<RevocationFinding> findings;
};

std::string SourceOf(const CheckState& state, const X509_CRL* crl) {
  for (const SourcedCrl& given : state.request->crls)
    if (given.crl.get() == crl) return given.source;
  return "(unnamed)";
}

std::string GivenCrls(const CheckState& state) {
  std::string given;
  for (const SourcedCrl& crl : state.request->crls) {
    given += given.empty() ? "; given: " : ", ";
    given += crl.source + " from " + DistinguishedNameText(X509_CRL_get_issuer(crl.crl.get()));
  }
  return given;
}

void AddRevoked(CheckState& state, X509_STORE_CTX* context, int depth) {
  X509* certificate = X509_STORE_CTX_get_current_cert(context);
  X509_CRL* crl = X509_STORE_CTX_get0_current_crl(context);
  RevocationFinding finding;
  finding.kind = RevocationFinding::Kind::kRevoked;
  finding.depth = depth;
  finding.subject = DistinguishedNameText(X509_get_subject_name(certificate));
  finding.reason = kReasonNames[0];
  X509_REVOKED* entry = nullptr;
  if (crl != nullptr && X509_CRL_get0_by_cert(crl, &entry, certificate) > 0 && entry != nullptr) {
    finding.revokedAt = TimeOf(X509_REVOKED_get0_revocationDate(entry)).value_or(0);
    const Asn1EnumeratedPtr reason(static_cast<ASN1_ENUMERATED*>(
        X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
    const long code = reason ? ASN1_ENUMERATED_get(reason.get()) : 0;
    if (code >= 0 && code < static_cast<long>(kReasonNames.size()))
      finding.reason = kReasonNames[static_cast<std::size_t>(code)];
    const Asn1GeneralizedTimePtr invalid(static_cast<ASN1_GENERALIZEDTIME*>(
        X509_REVOKED_get_ext_d2i(entry, NID_invalidity_date, nullptr, nullptr)));
    if (invalid) {
      const std::optional<std::time_t> since = TimeOf(invalid.get());
      if (since && *since < finding.revokedAt) finding.revokedAt = *since;
    }
  }
  state.findings.push_back(std::move(finding));
}

void AddUnknown(CheckState& state, X509_STORE_CTX* context, int depth, std::string problem) {
  X509* certificate = X509_STORE_CTX_get_current_cert(context);
  RevocationFinding finding;
  finding.depth = depth;
  finding.subject = DistinguishedNameText(X509_get_subject_name(certificate));
  finding.problem = std::move(problem);
  // One certificate can fail the same way on several passes of OpenSSL's
  // loop; one line each is enough.
  for (const RevocationFinding& seen : state.findings)
    if (seen.depth == depth && seen.problem == finding.problem) return;
  state.findings.push_back(std::move(finding));
}

bool IsCrlError(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
    case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
    case X509_V_ERR_CRL_PATH_VALIDATION_ERROR:
      return true;
    default:
      return false;
  }
}

int OnVerifyStep(int ok, X509_STORE_CTX* context) {
  if (ok == 1) return 1;
  auto* state = static_cast<CheckState*>(X509_STORE_CTX_get_app_data(context));
  const int error = X509_STORE_CTX_get_error(context);
  const int depth = X509_STORE_CTX_get_error_depth(context);
  const int top = sk_X509_num(X509_STORE_CTX_get0_chain(context)) - 1;
  // The anchor is trusted because the recipient named it; there is nothing
  // above it to revoke it. A lone self-signed leaf is still checked.
  const bool atAnchor = depth > 0 && depth == top;
  if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID ||
      (atAnchor && (error == X509_V_ERR_UNABLE_TO_GET_CRL || IsCrlError(error)))) {
    return 1;  // validity is the chain check's business, at its own time
  }
  if (error == X509_V_ERR_CERT_REVOKED) {
    AddRevoked(*state, context, depth);
  } else if (error == X509_V_ERR_UNABLE_TO_GET_CRL) {
    if ((depth == 0 && state->request->leafRequired) || state->request->everyCertificate) {
      X509* certificate = X509_STORE_CTX_get_current_cert(context);
      AddUnknown(*state, context, depth,
                 "no CRL from " + DistinguishedNameText(X509_get_issuer_name(certificate)) +
                     " for " + DistinguishedNameText(X509_get_subject_name(certificate)) +
                     GivenCrls(*state));
    }
  } else if (IsCrlError(error)) {
    AddUnknown(*state, context, depth,
               "CRL " + SourceOf(*state, X509_STORE_CTX_get0_current_crl(context)) + ": " +
                   X509_verify_cert_error_string(error));
  } else {
    AddUnknown(*state, context, depth,
               std::string("the chain cannot be checked: ") + X509_verify_cert_error_string(error));
    return 0;
  }
  return 1;
}

}  // namespace

std::vector<RevocationFinding> CheckRevocation(const RevocationRequest& request) {
  const OpenSslErrorScope errors;
  CheckState state;
  state.request = &request;
  // The context borrows the store, the stacks and the CRLs: it goes first.
  const X509StorePtr store(X509_STORE_new());
  const X509StackPtr untrusted(sk_X509_new_null());
  const X509CrlBorrowingStackPtr crls(sk_X509_CRL_new_null());
  const X509StoreCtxPtr context(X509_STORE_CTX_new());
  bool ready = store && context && untrusted && crls;
  for (X509* anchor : request.anchors)
    ready = ready && X509_STORE_add_cert(store.get(), anchor) == 1;
  for (X509* intermediate : request.intermediates) {
    ready = ready && X509_up_ref(intermediate) == 1;
    ready = ready && sk_X509_push(untrusted.get(), intermediate) > 0;
  }
  // The stack borrows the CRLs; the request owns them.
  for (const SourcedCrl& crl : request.crls)
    ready = ready && sk_X509_CRL_push(crls.get(), crl.crl.get()) > 0;
  if (ready) {
    // Every certificate is looked at; the callback decides which ones need
    // their CRL.
    X509_STORE_set_flags(
        store.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    ready = X509_STORE_CTX_init(context.get(), store.get(), request.leaf, untrusted.get()) == 1;
  }
  if (!ready) {
    RevocationFinding finding;
    finding.problem = "the revocation check could not start";
    return {finding};
  }
  X509_STORE_CTX_set0_crls(context.get(), crls.get());
  X509_STORE_CTX_set_verify_cb(context.get(), OnVerifyStep);
  X509_STORE_CTX_set_app_data(context.get(), &state);
  X509_verify_cert(context.get());
  std::stable_sort(
      state.findings.begin(), state.findings.end(),
      [](const RevocationFinding& a, const RevocationFinding& b) { return a.depth < b.depth; });
  return std::move(state.findings);
}

std::vector<std::string> CrlDistributionUrls(X509* certificate) {
  const OpenSslErrorScope errors;
  std::vector<std::string> urls;
  const DistPointsPtr points(static_cast<CRL_DIST_POINTS*>(
      X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr)));
  if (!points) return urls;
  for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
    const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
    if (point->distpoint == nullptr || point->distpoint->type != 0) continue;
    const GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int k = 0; k < sk_GENERAL_NAME_num(names); ++k) {
      const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, k);
      if (name->type != GEN_URI) continue;
      const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
      std::string url(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                      static_cast<std::size_t>(ASN1_STRING_length(uri)));
      if (url.starts_with("http://")) urls.push_back(std::move(url));
    }
  }
  return urls;
}

}  // namespace brevick
