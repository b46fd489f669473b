// pki/revocation.h: whether the certificates of a chain have been revoked,
// judged from certificate revocation lists (CRLs, read by
// pki/certificate_file.h from files and downloads): OpenSSL's CRL checks with each certificate's
// verdict kept as data, so that the caller can weigh a revocation against the time a signature was
// made. Tested by tests/verify/revocation_test.cc.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "pki/certificate_file.h"
#include "pki/openssl_handles.h"

namespace brevick {

// A CRL and where it came from (a path or a URL), which every problem names.
struct SourcedCrl {
  X509CrlPtr crl;
  std::string source;
};

// What became of one certificate of the chain that is not plainly good.
struct RevocationFinding {
  enum class Kind { kRevoked, kUnknown } kind = Kind::kUnknown;
  int depth = 0;        // 0 the leaf, counting up towards the anchor
  std::string subject;  // the certificate's subject, RFC 2253
  // kRevoked: the revocation date, or the key's invalidity date when the CRL
  // gives an earlier one: from then on signatures by the key prove nothing.
  std::time_t revokedAt = 0;
  std::string reason;   // kRevoked: "keyCompromise", ...; "unspecified" without one
  std::string problem;  // kUnknown: why, naming the CRL when one is at fault
};

struct RevocationRequest {
  X509* leaf = nullptr;
  std::span<X509* const> intermediates;
  std::span<X509* const> anchors;
  std::span<const SourcedCrl> crls;
  // Every certificate below the anchor needs a CRL from its issuer; otherwise
  // only the leaf does (when `leafRequired`), and the others are checked when
  // their issuer's CRL is among `crls`.
  bool everyCertificate = false;
  bool leafRequired = true;
};

// Checks the chain from `leaf` to an anchor against `crls` at the current
// time: a CRL counts only when its issuer signed it and it is current now.
// The certificates' own validity periods are not judged here (the chain's
// check does that, perhaps at another time). Findings come leaf first; none
// means that every certificate checked is not revoked.
std::vector<RevocationFinding> CheckRevocation(const RevocationRequest& request);

// The CRL distribution point URLs of a certificate that use http, in order.
std::vector<std::string> CrlDistributionUrls(X509* certificate);

}  // namespace brevick
