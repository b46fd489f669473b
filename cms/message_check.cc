// cms/message_check.cc: checking each SignerInfo of a received message.
// Brevick's own messages carry no attributes and one signer; what other
// tools make (signed attributes, several signers) is checked as RFC 5652
// says, so that a sound message is never a false tamper alarm and one bad
// signature among good ones is never passed over.
#include "cms/message_check.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <algorithm>

#include "base/file_io.h"
#include "cms/der.h"
#include "cms/signed_data.h"
#include "cms/signed_message.h"
#include "pki/certificate_info.h"

namespace brevick {
namespace {

// BER's length octet for "ends at an end-of-contents marker".
constexpr std::uint8_t kDerIndefiniteLength = 0x80;

// Decodes the message with its content left out, which then stays where it
// lies in `message`; null when the encoding is not one this can split.
Pkcs7Ptr DecodeAroundContent(std::span<const std::uint8_t> message, ContentPlace& place) {
  const std::optional<ContentPlace> found = FindAttachedContent(message);
  if (!found) return nullptr;
  const auto begin = message.begin();
  const SignedMessageFrame frame{
      {begin, begin + static_cast<std::ptrdiff_t>(found->offset)},
      {begin + static_cast<std::ptrdiff_t>(found->offset + found->size), message.end()}};
  const std::optional<SignedMessageFrame> empty = ResizedFrame(frame, 0);
  if (!empty) return nullptr;
  std::vector<std::uint8_t> shell = empty->head;
  shell.insert(shell.end(), empty->tail.begin(), empty->tail.end());
  Pkcs7Ptr decoded = DecodeSignedData(shell, NID_pkcs7_data);
  if (decoded) place = *found;
  return decoded;
}

// Decodes the message and finds its content: where it lies in `message`
// when the encoding allows, else in the decoded copy. False when it does not
// decode or is detached (then nothing here is signed).
bool DecodeWithContent(std::span<const std::uint8_t> message, MessageCheck& check) {
  ContentPlace place;
  check.decoded = DecodeAroundContent(message, place);
  if (check.decoded) {
    check.content = message.subspan(place.offset, place.size);
    return true;
  }
  check.decoded = DecodeSignedData(message, NID_pkcs7_data);
  if (!check.decoded) return false;
  const ASN1_OCTET_STRING* data = check.decoded->d.sign->contents->d.data;
  if (data == nullptr) return false;
  check.content = {ASN1_STRING_get0_data(data), static_cast<std::size_t>(ASN1_STRING_length(data))};
  return true;
}

// The DER of the signed attributes as a SET OF, which is what the signature
// covers (they are carried under an implicit [0] tag instead).
std::vector<std::uint8_t> SignedAttributesDer(const PKCS7_SIGNER_INFO* info) {
  unsigned char* der = nullptr;
  const int size = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(info->auth_attr), &der,
                                 ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
  if (size <= 0) return {};
  const OpenSslBytesPtr owned(der);
  return std::vector<std::uint8_t>(der, der + size);
}

// The message digest attribute must equal the content's digest and the
// content type attribute must name data: without them the attributes would
// bind the signature to nothing.
bool AttributesBindContent(PKCS7_SIGNER_INFO* info, DigestAlgorithm algorithm,
                           std::span<const std::uint8_t> content) {
  const ASN1_TYPE* type = PKCS7_get_signed_attribute(info, NID_pkcs9_contentType);
  if (type == nullptr || type->type != V_ASN1_OBJECT ||
      OBJ_obj2nid(type->value.object) != NID_pkcs7_data)
    return false;
  const ASN1_OCTET_STRING* carried = PKCS7_digest_from_attributes(info->auth_attr);
  if (carried == nullptr) return false;
  // The DigestInfo ends in the digest itself.
  const std::vector<std::uint8_t> digestInfo = DigestInfo(algorithm, content);
  const auto length = static_cast<std::size_t>(ASN1_STRING_length(carried));
  return !digestInfo.empty() && length > 0 && length < digestInfo.size() &&
         std::equal(digestInfo.end() - static_cast<std::ptrdiff_t>(length), digestInfo.end(),
                    ASN1_STRING_get0_data(carried));
}

std::string SigningTime(const PKCS7_SIGNER_INFO* info) {
  const ASN1_TYPE* time = PKCS7_get_signed_attribute(info, NID_pkcs9_signingTime);
  if (time == nullptr || (time->type != V_ASN1_UTCTIME && time->type != V_ASN1_GENERALIZEDTIME))
    return {};
  return Rfc3339Time(time->value.utctime);
}

SignerCheck CheckSigner(const PKCS7* message, PKCS7_SIGNER_INFO* info,
                        std::span<const std::uint8_t> content) {
  SignerCheck check;
  if (info == nullptr || info->issuer_and_serial == nullptr || info->digest_alg == nullptr)
    return check;  // kCannotReadSigner
  check.digest = AlgorithmName(info->digest_alg->algorithm);
  check.certificate = SignerCertificate(message, info);
  if (check.certificate == nullptr) {
    check.result = CryptoResult::kNoSignerCertificate;
    return check;
  }
  check.result = CryptoResult::kSignatureMismatch;
  const std::optional<DigestAlgorithm> algorithm =
      DigestByNid(OBJ_obj2nid(info->digest_alg->algorithm));
  if (!algorithm) return check;
  std::vector<std::uint8_t> attributes;
  check.signedAttributes = sk_X509_ATTRIBUTE_num(info->auth_attr) > 0;
  if (check.signedAttributes) {
    check.signingTime = SigningTime(info);
    attributes = SignedAttributesDer(info);
    if (attributes.empty() || !AttributesBindContent(info, *algorithm, content)) return check;
  }
  const std::vector<std::uint8_t> recovered = RecoveredDigestInfo(info, check.certificate);
  if (!recovered.empty() &&
      recovered == DigestInfo(*algorithm, check.signedAttributes ? attributes : content))
    check.result = CryptoResult::kOk;
  return check;
}

}  // namespace

std::optional<MessageHeader> ReadMessageHeader(std::span<const std::uint8_t> firstBytes) {
  if (firstBytes.empty()) return std::nullopt;
  MessageHeader header;
  header.sequence = firstBytes[0] == kDerSequenceTag;
  if (!header.sequence) return header;
  if (firstBytes.size() >= 2 && firstBytes[1] == kDerIndefiniteLength) {
    header.indefinite = true;
    return header;
  }
  const std::optional<DerHeader> der = ReadDerHeader(firstBytes);
  if (!der || der->contentSize > UINT64_MAX - der->headerSize) return std::nullopt;
  header.totalSize = der->headerSize + der->contentSize;
  return header;
}

MessageCheck CheckSignedMessage(std::span<const std::uint8_t> message) {
  const OpenSslErrorScope errors;
  MessageCheck check;
  if (message.empty() || message[0] != kDerSequenceTag) {
    check.result = CryptoResult::kNotSignedMessage;
    return check;
  }
  if (message.size() > kMaxBlockSizeInBytes) return check;  // kCannotDecode
  if (!DecodeWithContent(message, check)) return check;     // kCannotDecode
  STACK_OF(X509)* carried = check.decoded->d.sign->cert;
  for (int i = 0; i < sk_X509_num(carried); ++i)
    check.certificates.push_back(sk_X509_value(carried, i));
  STACK_OF(PKCS7_SIGNER_INFO)* infos = check.decoded->d.sign->signer_info;
  check.result =
      sk_PKCS7_SIGNER_INFO_num(infos) > 0 ? CryptoResult::kOk : CryptoResult::kCannotReadSigner;
  for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(infos); ++i) {
    check.signers.push_back(
        CheckSigner(check.decoded.get(), sk_PKCS7_SIGNER_INFO_value(infos, i), check.content));
    if (check.result == CryptoResult::kOk) check.result = check.signers.back().result;
  }
  return check;
}

}  // namespace brevick
