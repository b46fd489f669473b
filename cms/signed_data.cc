// cms/signed_data.cc: the shared readers of a decoded signed-data message.
#include "cms/signed_data.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace brevick {

Pkcs7Ptr DecodeSignedData(std::span<const std::uint8_t> der, std::optional<int> contentNid) {
  if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  const unsigned char* next = der.data();
  Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(der.size())));
  if (!decoded || next != der.data() + der.size() || !PKCS7_type_is_signed(decoded.get()) ||
      decoded->d.sign == nullptr || decoded->d.sign->contents == nullptr)
    return nullptr;
  if (contentNid && OBJ_obj2nid(decoded->d.sign->contents->type) != *contentNid) return nullptr;
  return decoded;
}

X509* SignerCertificate(const PKCS7* message, const PKCS7_SIGNER_INFO* info) {
  const PKCS7_ISSUER_AND_SERIAL* wanted = info->issuer_and_serial;
  STACK_OF(X509)* carried = message->d.sign->cert;
  for (int i = 0; i < sk_X509_num(carried); ++i) {
    X509* candidate = sk_X509_value(carried, i);
    if (X509_NAME_cmp(X509_get_issuer_name(candidate), wanted->issuer) == 0 &&
        ASN1_INTEGER_cmp(X509_get0_serialNumber(candidate), wanted->serial) == 0)
      return candidate;
  }
  return nullptr;
}

std::string DottedOid(const ASN1_OBJECT* object) {
  char text[128];
  const int size = OBJ_obj2txt(text, sizeof text, object, 1);
  if (size <= 0) return {};
  return std::string(text, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof text - 1));
}

std::string AlgorithmName(const ASN1_OBJECT* algorithm) {
  const int nid = OBJ_obj2nid(algorithm);
  std::string name;
  if (const char* shortName = nid != NID_undef ? OBJ_nid2sn(nid) : nullptr) name = shortName;
  if (name.empty()) name = DottedOid(algorithm);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

std::vector<std::uint8_t> RecoveredDigestInfo(const PKCS7_SIGNER_INFO* info, X509* signer) {
  EVP_PKEY* publicKey = X509_get0_pubkey(signer);
  if (publicKey == nullptr || EVP_PKEY_get_base_id(publicKey) != EVP_PKEY_RSA) return {};
  const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(publicKey, nullptr));
  const unsigned char* signature = ASN1_STRING_get0_data(info->enc_digest);
  const auto signatureSize = static_cast<std::size_t>(ASN1_STRING_length(info->enc_digest));
  std::size_t size = 0;
  if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_verify_recover(context.get(), nullptr, &size, signature, signatureSize) != 1)
    return {};
  std::vector<std::uint8_t> recovered(size);
  if (EVP_PKEY_verify_recover(context.get(), recovered.data(), &size, signature, signatureSize) !=
      1)
    return {};
  recovered.resize(size);
  return recovered;
}

}  // namespace brevick
