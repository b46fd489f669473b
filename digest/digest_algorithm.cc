// digest/digest_algorithm.cc: the one table of digests, their names and
// OpenSSL's identifiers for them.
#include "digest/digest_algorithm.h"

#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <array>
#include <cstddef>
#include <string>

namespace brevick {
namespace {

struct DigestEntry {
  std::string_view name;
  int nid;
  std::size_t sizeInBytes;
  const EVP_MD* (*evp)();  // null for MD2, which is Brevick's own
};

// In the order of DigestAlgorithm.
// clang-format off
constexpr std::array<DigestEntry, 4> kDigests = {{
    {"md2",    NID_md2,    16, nullptr},
    {"sha256", NID_sha256, 32, EVP_sha256},
    {"sha384", NID_sha384, 48, EVP_sha384},
    {"sha512", NID_sha512, 64, EVP_sha512},
}};
// clang-format on
static_assert(kDigests.size() == static_cast<std::size_t>(DigestAlgorithm::kCount),
              "one entry per digest algorithm");

const DigestEntry& EntryOf(DigestAlgorithm algorithm) {
  return kDigests.at(static_cast<std::size_t>(algorithm));
}

}  // namespace

std::string_view DigestName(DigestAlgorithm algorithm) { return EntryOf(algorithm).name; }

std::optional<DigestAlgorithm> DigestByName(std::wstring_view name) {
  for (std::size_t i = 0; i < kDigests.size(); ++i) {
    const std::string_view candidate = kDigests[i].name;
    // The names are ASCII, so widening them byte by byte is exact.
    if (name == std::wstring(candidate.begin(), candidate.end())) {
      return static_cast<DigestAlgorithm>(i);
    }
  }
  return std::nullopt;
}

int DigestNid(DigestAlgorithm algorithm) { return EntryOf(algorithm).nid; }

std::size_t DigestSizeInBytes(DigestAlgorithm algorithm) { return EntryOf(algorithm).sizeInBytes; }

std::optional<DigestAlgorithm> DigestByNid(int nid) {
  for (std::size_t i = 0; i < kDigests.size(); ++i) {
    if (kDigests[i].nid == nid) return static_cast<DigestAlgorithm>(i);
  }
  return std::nullopt;
}

const EVP_MD* DigestEvp(DigestAlgorithm algorithm) {
  const DigestEntry& entry = EntryOf(algorithm);
  return entry.evp != nullptr ? entry.evp() : nullptr;
}

}  // namespace brevick
