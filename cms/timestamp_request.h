// cms/timestamp_request.h: the two messages of an RFC 3161 exchange with a
// time-stamp authority: the request Brevick sends (version 1, the imprint of
// a signature value, a fresh 64-bit nonce, certReq true) and the answer's
// status and token. The HTTP transport is base/http_client's; checking the
// token against the request is cms/timestamp_token's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "digest/digest_algorithm.h"

namespace brevick {

struct TimestampRequest {
  std::vector<std::uint8_t> der;  // the TimeStampReq to POST
  DigestAlgorithm digest = DigestAlgorithm::kSha256;
  std::uint64_t nonce = 0;
};

// The request over the digest of `signatureValue`; nothing when `digest` is
// not SHA-256/384/512 or OpenSSL fails (no randomness for the nonce, say).
std::optional<TimestampRequest> MakeTimestampRequest(std::span<const std::uint8_t> signatureValue,
                                                     DigestAlgorithm digest);

struct TimestampReply {
  bool isResponse = false;          // the bytes decode as a TimeStampResp
  std::vector<std::uint8_t> token;  // DER; set when the status is granted(WithMods)
  // Empty with a token; else "rejected by the TSA (status rejection,
  // failInfo badAlg: <the TSA's text>)" and the like.
  std::string failure;
};

TimestampReply ReadTimestampReply(std::span<const std::uint8_t> response);

}  // namespace brevick
