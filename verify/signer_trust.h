// verify/signer_trust.h: whether the signer of a message whose signature
// holds is trusted: its chain to the recipient's anchors (or a pinned
// thumbprint), judged at the time a trusted timestamp proves or now, its
// revocation status from CRLs, and the key usage it must allow.
// Tested by tests/verify/verify_test.cc and tests/verify/revocation_test.cc.
#pragma once

#include <cstdint>
#include <span>

#include "base/reporter.h"
#include "cms/message_signer.h"
#include "verify/verify.h"

namespace brevick {

// Fills the report's timestamp, trust and revocation parts. `reporter` (may
// be null) is told of each CRL download that fails.
void CheckSignerTrust(const VerifyOptions& options, std::span<const std::uint8_t> message,
                      const MessageSigner& signer, Reporter* reporter, VerifyReport& report);

}  // namespace brevick
