// signing/evp_digest.cc
#include "signing/evp_digest.h"

namespace brevick {

std::optional<EvpDigest> EvpDigest::Create(const char* algorithm) {
  const OpenSslErrorScope errors;
  const EvpMdPtr digest(EVP_MD_fetch(nullptr, algorithm, nullptr));
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!digest || !ctx || EVP_DigestInit_ex(ctx.get(), digest.get(), nullptr) != 1)
    return std::nullopt;
  return EvpDigest(std::move(ctx));
}

bool EvpDigest::Update(const void* data, std::size_t sizeInBytes) {
  const OpenSslErrorScope errors;
  return EVP_DigestUpdate(context.get(), data, sizeInBytes) == 1;
}

std::vector<std::uint8_t> EvpDigest::Final() {
  const OpenSslErrorScope errors;
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) return {};
  digest.resize(size);
  return digest;
}

}  // namespace brevick
