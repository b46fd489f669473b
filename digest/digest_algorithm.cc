// digest/digest_algorithm.cc: digest names.
#include "digest/digest_algorithm.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace brevick {
namespace {

constexpr std::array<std::string_view, 4> kDigestNames = {"md2", "sha256", "sha384", "sha512"};
static_assert(kDigestNames.size() == static_cast<std::size_t>(DigestAlgorithm::kCount),
              "one name per digest algorithm");

}  // namespace

std::string_view DigestName(DigestAlgorithm algorithm) {
  return kDigestNames.at(static_cast<std::size_t>(algorithm));
}

std::optional<DigestAlgorithm> DigestByName(std::wstring_view name) {
  for (std::size_t i = 0; i < kDigestNames.size(); ++i) {
    const std::string_view candidate = kDigestNames[i];
    // The names are ASCII, so widening them byte by byte is exact.
    if (name == std::wstring(candidate.begin(), candidate.end())) {
      return static_cast<DigestAlgorithm>(i);
    }
  }
  return std::nullopt;
}

}  // namespace brevick
