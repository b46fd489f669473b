// cms/message_signer.cc
#include "cms/message_signer.h"

#include <openssl/objects.h>

#include <algorithm>
#include <cctype>

#include "base/file_io.h"

namespace brevick {
namespace {

Pkcs7Ptr DecodeWholeMessage(std::span<const std::uint8_t> message) {
  if (message.empty() || message.size() > kMaxBlockSizeInBytes) return nullptr;
  const unsigned char* next = message.data();
  Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
  if (!decoded || next != message.data() + message.size()) return nullptr;
  if (!PKCS7_type_is_signed(decoded.get()) || decoded->d.sign == nullptr) return nullptr;
  return decoded;
}

const PKCS7_SIGNER_INFO* FirstSignerInfo(const PKCS7* message) {
  const PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(message->d.sign->signer_info, 0);
  if (info == nullptr || info->issuer_and_serial == nullptr || info->digest_alg == nullptr)
    return nullptr;
  return info;
}

std::string AlgorithmName(const ASN1_OBJECT* algorithm) {
  const int nid = OBJ_obj2nid(algorithm);
  std::string name;
  if (nid != NID_undef) {
    if (const char* shortName = OBJ_nid2sn(nid)) name = shortName;
  }
  if (name.empty()) {
    char text[128];
    const int size = OBJ_obj2txt(text, sizeof text, algorithm, 1);
    if (size > 0)
      name.assign(text, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof text - 1));
  }
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

}  // namespace

std::optional<MessageSigner> ReadMessageSigner(std::span<const std::uint8_t> message) {
  const OpenSslErrorScope errors;
  const Pkcs7Ptr decoded = DecodeWholeMessage(message);
  if (!decoded) return std::nullopt;
  const PKCS7_SIGNER_INFO* info = FirstSignerInfo(decoded.get());
  if (info == nullptr) return std::nullopt;
  MessageSigner signer;
  signer.digestAlgorithm = AlgorithmName(info->digest_alg->algorithm);
  STACK_OF(X509)* carried = decoded->d.sign->cert;
  for (int i = 0; i < sk_X509_num(carried); ++i) {
    X509* candidate = sk_X509_value(carried, i);
    const bool isSigner =
        !signer.certificate &&
        X509_NAME_cmp(X509_get_issuer_name(candidate), info->issuer_and_serial->issuer) == 0 &&
        ASN1_INTEGER_cmp(X509_get0_serialNumber(candidate), info->issuer_and_serial->serial) == 0;
    if (X509_up_ref(candidate) != 1) return std::nullopt;
    X509Ptr owned(candidate);
    if (isSigner) {
      signer.certificate = std::move(owned);
    } else {
      signer.otherCertificates.push_back(std::move(owned));
    }
  }
  if (!signer.certificate) return std::nullopt;
  return signer;
}

std::string MessageDigestAlgorithm(std::span<const std::uint8_t> message) {
  const OpenSslErrorScope errors;
  const Pkcs7Ptr decoded = DecodeWholeMessage(message);
  if (!decoded) return {};
  const PKCS7_SIGNER_INFO* info = FirstSignerInfo(decoded.get());
  return info != nullptr ? AlgorithmName(info->digest_alg->algorithm) : std::string();
}

}  // namespace brevick
