// signing/evp_digest.h: an incremental SHA-2 digest through OpenSSL's EVP
// interface, for checking module files against SHA-2 values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "signing/openssl_handles.h"

namespace brevick {

class EvpDigest {
 public:
  // "SHA256", "SHA384", "SHA512", or any other name OpenSSL knows; nothing
  // when the algorithm is unavailable.
  static std::optional<EvpDigest> Create(const char* algorithm);

  // False when OpenSSL fails; the digest is then unusable.
  bool Update(const void* data, std::size_t sizeInBytes);
  // Empty when OpenSSL fails.
  std::vector<std::uint8_t> Final();

 private:
  explicit EvpDigest(EvpMdCtxPtr ctx) : context(std::move(ctx)) {}
  EvpMdCtxPtr context;
};

}  // namespace brevick
