// digest/digest_algorithm.h: the digest a run signs with, the name an
// operator gives it on the command line, and what OpenSSL calls it. The
// manifest's file digests, the signature and the timestamps take the same
// choice, so it lives below all of them, in one table.
#pragma once

#include <openssl/types.h>

#include <cstddef>
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
  kCount  // not an algorithm: the size of the table
};

// "md2", "sha256", "sha384" or "sha512": the option value and the name of the
// manifest's digest element alike.
std::string_view DigestName(DigestAlgorithm algorithm);

// The algorithm of that exact (lowercase) name; nothing for any other text.
std::optional<DigestAlgorithm> DigestByName(std::wstring_view name);

// The length of the algorithm's digest: 16, 32, 48 or 64 bytes.
std::size_t DigestSizeInBytes(DigestAlgorithm algorithm);

// OpenSSL's object identifier (NID) of the algorithm.
int DigestNid(DigestAlgorithm algorithm);

// The algorithm OpenSSL's NID stands for; nothing for any other digest.
std::optional<DigestAlgorithm> DigestByNid(int nid);

// OpenSSL's implementation; null for MD2, which OpenSSL 3 no longer has.
const EVP_MD* DigestEvp(DigestAlgorithm algorithm);

}  // namespace brevick
