// verify/timestamp_check.h: the signer's RFC 3161 timestamp as a recipient
// judges it: valid (over this very signature, signed by the TSA certificate
// it carries, which may stamp time, at a time within that certificate's
// validity) and trusted (the TSA chains to an anchor at the token's time and
// is not revoked). Only a valid, trusted timestamp proves when the signature
// was made. Tested by tests/verify/revocation_test.cc.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <vector>

#include "pki/revocation.h"
#include "verify/anchors.h"
#include "verify/revocation_check.h"
#include "verify/verify_report.h"

namespace brevick {

// Fills `timestamp` (left empty when the signer carries no token) and returns
// the time a valid, trusted token proves. With `crls` (null when revocation
// was not asked for) the TSA's chain is checked too; its findings go to
// `tsaFindings` for the revocation verdict.
std::optional<std::time_t> CheckTimestamp(std::span<const std::uint8_t> message,
                                          const AnchorSet& tsaAnchors, CrlCollection* crls,
                                          std::vector<RevocationFinding>& tsaFindings,
                                          std::optional<VerifyReport::Timestamp>& timestamp);

}  // namespace brevick
