// digest/sha2.cc: the OpenSSL EVP calls behind Sha2.
#include "digest/sha2.h"

#include <openssl/evp.h>

namespace brevick {
namespace {

struct EvpMdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct Sha2::Context {
  std::unique_ptr<EVP_MD_CTX, EvpMdContextFree> evp;
  const EVP_MD* digest = nullptr;
};

Sha2::Sha2(DigestAlgorithm algorithm) {
  // MD2 has no EVP digest in OpenSSL 3, so it stays without a context here.
  const EVP_MD* digest = DigestEvp(algorithm);
  if (digest == nullptr) return;
  context = std::make_unique<Context>();
  context->evp.reset(EVP_MD_CTX_new());
  context->digest = digest;
  Restart();
}

void Sha2::Restart() {
  if (!context) return;
  ok = context->evp != nullptr &&
       EVP_DigestInit_ex(context->evp.get(), context->digest, nullptr) == 1;
}

Sha2::~Sha2() = default;

void Sha2::Update(const void* data, std::size_t sizeInBytes) {
  if (!context || !ok) return;
  ok = EVP_DigestUpdate(context->evp.get(), data, sizeInBytes) == 1;
}

std::vector<std::uint8_t> Sha2::Final() {
  if (!context || !ok) return {};
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  ok = EVP_DigestFinal_ex(context->evp.get(), digest.data(), &length) == 1;
  if (!ok) return {};
  digest.resize(length);
  return digest;
}

}  // namespace brevick
