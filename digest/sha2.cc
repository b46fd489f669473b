// digest/sha2.cc: the OpenSSL EVP calls behind Sha2, or Brevick's SHA-256.
#include "digest/sha2.h"

#include <openssl/evp.h>

#include <optional>

namespace brevick {
namespace {

struct EvpMdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct Sha2::Context {
  std::unique_ptr<EVP_MD_CTX, EvpMdContextFree> evp;
  const EVP_MD* digest = nullptr;
  std::optional<Sha256> own;  // in place of `evp`
};

Sha2::Sha2(DigestAlgorithm algorithm) {
  // MD2 has no EVP digest in OpenSSL 3, so it stays without a context here.
  const EVP_MD* digest = DigestEvp(algorithm);
  if (digest == nullptr) return;
  context = std::make_unique<Context>();
  if (algorithm == DigestAlgorithm::kSha256 && UseOwnSha256()) {
    context->own.emplace();
    return;
  }
  context->evp.reset(EVP_MD_CTX_new());
  context->digest = digest;
  Restart();
}

void Sha2::Restart() {
  if (!context) return;
  if (context->own) {
    context->own.emplace();
    return;
  }
  ok = context->evp != nullptr &&
       EVP_DigestInit_ex(context->evp.get(), context->digest, nullptr) == 1;
}

Sha2::~Sha2() = default;

void Sha2::Update(const void* data, std::size_t sizeInBytes) {
  if (!context || !ok) return;
  if (context->own) {
    context->own->Update(data, sizeInBytes);
    return;
  }
  ok = EVP_DigestUpdate(context->evp.get(), data, sizeInBytes) == 1;
}

std::vector<std::uint8_t> Sha2::Final() {
  if (!context || !ok) return {};
  if (context->own) {
    const Sha256Digest digest = context->own->Final();
    return {digest.begin(), digest.end()};
  }
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  ok = EVP_DigestFinal_ex(context->evp.get(), digest.data(), &length) == 1;
  if (!ok) return {};
  digest.resize(length);
  return digest;
}

Sha256* Sha2::Own() { return context && context->own ? &*context->own : nullptr; }

}  // namespace brevick
