// app/signer_choice.h: which certificate signs, and how.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/timestamping.h"
#include "digest/digest_algorithm.h"

namespace brevick {

// The first certificate of the store (file order) whose subject contains
// `subject`, ignoring case, and whose thumbprint is `thumbprint` when one is
// given. The empty subject matches every certificate; the empty store name
// means the default store.
struct SignerChoice {
  std::wstring subject;
  std::wstring storeName;
  std::vector<std::uint8_t> thumbprint{};  // SHA-1 (20 bytes), SHA-256 (32) or none
  DigestAlgorithm digest = DigestAlgorithm::kMd2;
  bool strict = false;            // a warning about the certificate stops the signing
  TimestampSettings timestamp{};  // the TSAs to ask for a token over the signature
};

}  // namespace brevick
