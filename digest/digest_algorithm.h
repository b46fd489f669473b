// digest/digest_algorithm.h: the digest a run signs with, and the name an
// operator gives it on the command line. The manifest's file digests and the
// signature take the same choice, so it lives below both.
#pragma once

#include <optional>
#include <string_view>

namespace brevick {

// MD2 is the signed manifest's historic digest and stays the default: the
// consumers of the classic format verify nothing else.
enum class DigestAlgorithm {
  kMd2,
  kSha256,
  kSha384,
  kSha512,
  kCount  // not an algorithm: the size of the name table
};

// "md2", "sha256", "sha384" or "sha512": the option value and the name of the
// manifest's digest element alike.
std::string_view DigestName(DigestAlgorithm algorithm);

// The algorithm of that exact (lowercase) name; nothing for any other text.
std::optional<DigestAlgorithm> DigestByName(std::wstring_view name);

}  // namespace brevick
