// base/digest_algorithm.h: the digest a run adds to MD2 signatures and MD5
// file values. kMd2 is the classic run: nothing beyond the MD5 values.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace brevick {

enum class DigestAlgorithm { kMd2, kSha256, kSha384, kSha512 };

inline constexpr std::array<std::string_view, 4> kDigestNames = {"md2", "sha256", "sha384",
                                                                 "sha512"};
static_assert(kDigestNames.size() == static_cast<std::size_t>(DigestAlgorithm::kSha512) + 1,
              "every digest algorithm has a name");

// The lowercase name used on the command line and as the manifest element.
inline std::string_view DigestName(DigestAlgorithm algorithm) {
  return kDigestNames[static_cast<std::size_t>(algorithm)];
}

}  // namespace brevick
