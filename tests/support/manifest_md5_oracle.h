// tests/support/manifest_md5_oracle.h: OpenSSL's MD5, the yardstick that the
// tests hold Brevick's own digest against.
#pragma once

#include <string_view>

#include "digest/md5.h"

namespace brevick::testing {

Md5Digest OpenSslMd5(std::string_view bytes);

// Deterministic pseudo-random bytes, so that a failing length can be rerun.
std::string RandomBytes(std::size_t sizeInBytes, unsigned seed);

}  // namespace brevick::testing
