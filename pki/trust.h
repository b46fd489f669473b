// pki/trust.h: whether a signer's certificate is trusted: OpenSSL's chain
// verification now or at a time a timestamp proves, and the uses and
// validity a signing certificate must have. Anchors come from
// pki/certificate_file.h.
#pragma once

#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pki/openssl_handles.h"

namespace brevick {

struct ChainVerdict {
  bool trusted = false;
  std::string reason;  // OpenSSL's text for the failure; empty when trusted
  // The given anchor that vouched for the chain: the first certificate of
  // the chain, from the leaf up, that is one of the anchors.
  X509Ptr anchor;
  // The chain, leaf first and anchor last, when it was built.
  std::vector<X509Ptr> chain;
};

// Builds and checks a chain from `leaf` to one of `anchors` at `at` (the
// current time when absent), `intermediates` filling the gaps. Any anchor may
// end the chain, a self-signed root or not. A past time lets a signature that
// a timestamp dates be judged by the certificates as they were then.
ChainVerdict VerifyCertificateChain(X509* leaf, std::span<X509* const> intermediates,
                                    std::span<X509* const> anchors,
                                    std::optional<std::time_t> at = std::nullopt);

enum class SigningUsage {
  kAllowed,
  kNoDigitalSignature,  // a key usage extension without digitalSignature
  kNoCodeSigning,       // an extended key usage without codeSigning or anyExtendedKeyUsage
  kCount
};

const char* SigningUsageText(SigningUsage usage);

// Checks the key usage always, the extended key usage only when
// `requireCodeSigning` is set. Absent extensions allow everything.
SigningUsage CheckSigningUsage(X509* certificate, bool requireCodeSigning);

// Empty when `at` (the current time when absent) lies within the
// certificate's validity, else "certificate has expired" or "certificate is
// not yet valid".
std::string ValidityProblem(const X509* certificate, std::optional<std::time_t> at = std::nullopt);

}  // namespace brevick
