// tests/support/manifest_md5_oracle.cc
#include "tests/support/manifest_md5_oracle.h"

#include <openssl/evp.h>

#include <random>
#include <string>

namespace brevick::testing {

Md5Digest OpenSslMd5(std::string_view bytes) {
  Md5Digest digest{};
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_md5(), nullptr);
  return digest;
}

std::string RandomBytes(std::size_t sizeInBytes, unsigned seed) {
  std::mt19937 engine(seed);
  std::string bytes(sizeInBytes, '\0');
  for (char& byte : bytes) byte = static_cast<char>(engine() & 0xff);
  return bytes;
}

}  // namespace brevick::testing
