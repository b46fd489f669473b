// verify/signer_trust.h: whether the signer of a message whose signature
// holds is trusted: its chain to the recipient's anchors (or a pinned
// thumbprint), judged at the time a trusted timestamp proves or now, its
// revocation status from CRLs, and the uses it must allow.
// Tested by tests/verify/verify_test.cc and tests/verify/revocation_test.cc.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/reporter.h"
#include "pki/openssl_handles.h"
#include "verify/verify.h"

namespace brevick {

// The certificate trust is checked for and the others carried with it,
// which may fill the gaps of its chain; owned by the message check.
struct SignerChain {
  X509* certificate = nullptr;
  std::vector<X509*> otherCertificates;
};

// Fills the report's timestamp, trust and revocation parts for the first
// signer of `message`. `md2`: a signature uses MD2, which --strict refuses.
// `reporter` (may be null) is told of each CRL download that fails.
void CheckSignerTrust(const VerifyOptions& options, std::span<const std::uint8_t> message,
                      const SignerChain& signer, bool md2, Reporter* reporter,
                      VerifyReport& report);

}  // namespace brevick
