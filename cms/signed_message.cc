// cms/signed_message.cc: assembling and checking the signed-data message.
// OpenSSL 3 cannot digest with MD2, so PKCS7_sign and PKCS7_signatureVerify
// are of no use here: the structures are filled field by field, and the RSA
// step signs (or recovers) the DigestInfo with no digest of its own. The
// SHA-2 forms go the same way, so that all four share one layout.
#include "cms/signed_message.h"

#include <openssl/objects.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <optional>

#include "base/file_io.h"
#include "cms/der.h"
#include "digest/md2.h"
#include "pki/cert_store.h"
#include "pki/crypto_result.h"

namespace brevick {
namespace {

// Eight length octets hold any size; more never occur.
constexpr std::size_t kMaxLengthOctets = 8;
// Content no larger than this cannot make any enclosing length overflow.
constexpr std::uint64_t kMaxFramedContentSize = std::uint64_t{1} << 62;
constexpr long kSignedDataVersion = 1;
constexpr long kSignerInfoVersion = 1;

struct DigestKind {
  int nid;
  const EVP_MD* (*sha)();  // null for MD2, which is Brevick's own
};

DigestKind KindOf(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha256:
      return {NID_sha256, EVP_sha256};
    case DigestAlgorithm::kSha384:
      return {NID_sha384, EVP_sha384};
    case DigestAlgorithm::kSha512:
      return {NID_sha512, EVP_sha512};
    default:
      return {NID_md2, nullptr};
  }
}

std::optional<DigestAlgorithm> AlgorithmOfNid(int nid) {
  for (const DigestAlgorithm algorithm : {DigestAlgorithm::kMd2, DigestAlgorithm::kSha256,
                                          DigestAlgorithm::kSha384, DigestAlgorithm::kSha512}) {
    if (KindOf(algorithm).nid == nid) return algorithm;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> ComputeDigest(DigestAlgorithm algorithm,
                                        std::span<const std::uint8_t> content) {
  const DigestKind kind = KindOf(algorithm);
  if (kind.sha == nullptr) {
    const Md2Digest md2 = ComputeMd2(content);
    return std::vector<std::uint8_t>(md2.begin(), md2.end());
  }
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_Digest(content.data(), content.size(), digest.data(), &size, kind.sha(), nullptr) != 1) {
    return {};
  }
  digest.resize(size);
  return digest;
}

// The digest with absent parameters, as in digestAlgorithms and the SignerInfo.
X509AlgorPtr DigestAlgorithmIdentifier(DigestAlgorithm algorithm) {
  X509AlgorPtr identifier(X509_ALGOR_new());
  if (!identifier || X509_ALGOR_set0(identifier.get(), OBJ_nid2obj(KindOf(algorithm).nid),
                                     V_ASN1_UNDEF, nullptr) != 1) {
    return nullptr;
  }
  return identifier;
}

std::vector<std::uint8_t> RsaSign(EVP_PKEY* privateKey, const DigestInfoSigner* keySigner,
                                  std::span<const std::uint8_t> digestInfo) {
  // A key held elsewhere (a token) signs the same DigestInfo there, with the same padding.
  if (keySigner != nullptr && *keySigner) return (*keySigner)(digestInfo);
  // No signature digest is set: PKCS #1 v1.5 padding is applied to the
  // DigestInfo as given, which is the old RSA_private_encrypt.
  const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(privateKey, nullptr));
  std::size_t size = 0;
  if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_sign(context.get(), nullptr, &size, digestInfo.data(), digestInfo.size()) != 1) {
    return {};
  }
  std::vector<std::uint8_t> signature(size);
  if (EVP_PKEY_sign(context.get(), signature.data(), &size, digestInfo.data(), digestInfo.size()) !=
      1) {
    return {};
  }
  signature.resize(size);
  return signature;
}

Pkcs7SignerInfoPtr SignerInfo(X509* certificate, DigestAlgorithm algorithm,
                              const std::vector<std::uint8_t>& signature) {
  Pkcs7SignerInfoPtr info(PKCS7_SIGNER_INFO_new());
  if (!info || ASN1_INTEGER_set(info->version, kSignerInfoVersion) != 1 ||
      X509_NAME_set(&info->issuer_and_serial->issuer, X509_get_issuer_name(certificate)) != 1) {
    return nullptr;
  }
  ASN1_INTEGER* serial = ASN1_INTEGER_dup(X509_get0_serialNumber(certificate));
  if (serial == nullptr) return nullptr;
  ASN1_INTEGER_free(info->issuer_and_serial->serial);
  info->issuer_and_serial->serial = serial;
  if (X509_ALGOR_set0(info->digest_alg, OBJ_nid2obj(KindOf(algorithm).nid), V_ASN1_UNDEF,
                      nullptr) != 1 ||
      X509_ALGOR_set0(info->digest_enc_alg, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr) !=
          1 ||
      ASN1_OCTET_STRING_set(info->enc_digest, signature.data(),
                            static_cast<int>(signature.size())) != 1) {
    return nullptr;
  }
  return info;
}

// The signed-data frame: version, digest, the content and the certificate.
Pkcs7Ptr SignedDataShell(X509* certificate, DigestAlgorithm algorithm,
                         std::span<const std::uint8_t> content) {
  Pkcs7Ptr message(PKCS7_new());
  if (!message || PKCS7_set_type(message.get(), NID_pkcs7_signed) != 1 ||
      ASN1_INTEGER_set(message->d.sign->version, kSignedDataVersion) != 1 ||
      PKCS7_content_new(message.get(), NID_pkcs7_data) != 1 ||
      ASN1_OCTET_STRING_set(message->d.sign->contents->d.data, content.data(),
                            static_cast<int>(content.size())) != 1 ||
      PKCS7_add_certificate(message.get(), certificate) != 1) {
    return nullptr;
  }
  X509AlgorPtr digestAlgorithm = DigestAlgorithmIdentifier(algorithm);
  if (!digestAlgorithm ||
      sk_X509_ALGOR_push(message->d.sign->md_algs, digestAlgorithm.get()) <= 0) {
    return nullptr;
  }
  static_cast<void>(digestAlgorithm.release());  // the stack owns it now
  return message;
}

X509* FindCarriedCertificate(PKCS7* message, const PKCS7_ISSUER_AND_SERIAL* wanted) {
  STACK_OF(X509)* carried = message->d.sign->cert;
  for (int i = 0; i < sk_X509_num(carried); ++i) {
    X509* candidate = sk_X509_value(carried, i);
    if (X509_NAME_cmp(X509_get_issuer_name(candidate), wanted->issuer) == 0 &&
        ASN1_INTEGER_cmp(X509_get0_serialNumber(candidate), wanted->serial) == 0) {
      return candidate;
    }
  }
  return nullptr;
}

// What the signer's key signed, recovered from the signature: a DigestInfo
// when the message is sound; empty when it cannot be recovered or the
// message names a digest Brevick does not sign with.
std::vector<std::uint8_t> RecoveredDigestInfo(const PKCS7_SIGNER_INFO* info, X509* signer) {
  if (!AlgorithmOfNid(OBJ_obj2nid(info->digest_alg->algorithm))) return {};
  EVP_PKEY* publicKey = X509_get0_pubkey(signer);
  if (publicKey == nullptr || EVP_PKEY_get_base_id(publicKey) != EVP_PKEY_RSA) return {};
  const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(publicKey, nullptr));
  const unsigned char* signature = ASN1_STRING_get0_data(info->enc_digest);
  const auto signatureSize = static_cast<std::size_t>(ASN1_STRING_length(info->enc_digest));
  std::size_t size = 0;
  if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_verify_recover(context.get(), nullptr, &size, signature, signatureSize) != 1) {
    return {};
  }
  std::vector<std::uint8_t> recovered(size);
  if (EVP_PKEY_verify_recover(context.get(), recovered.data(), &size, signature, signatureSize) !=
      1) {
    return {};
  }
  recovered.resize(size);
  return recovered;
}

// Compares what the signer's key signed, algorithm included, with the
// DigestInfo of the content as it stands now.
bool SignatureMatches(const PKCS7_SIGNER_INFO* info, X509* signer,
                      std::span<const std::uint8_t> content) {
  const std::vector<std::uint8_t> recovered = RecoveredDigestInfo(info, signer);
  if (recovered.empty()) return false;
  const std::optional<DigestAlgorithm> algorithm =
      AlgorithmOfNid(OBJ_obj2nid(info->digest_alg->algorithm));
  return algorithm && recovered == DigestInfo(*algorithm, content);
}

// Lends the caller's content to the message's data field for as long as it
// lives, so that encoding needs no copy of its own; the field is emptied
// again before the message is freed.
class BorrowedContent {
 public:
  BorrowedContent(ASN1_OCTET_STRING* field, std::span<const std::uint8_t> content) : data(field) {
    // set0 never writes through the pointer; i2d only reads it.
    ASN1_STRING_set0(data, const_cast<std::uint8_t*>(content.data()),
                     static_cast<int>(content.size()));
  }
  // set0 would free the borrowed bytes: the fields are cleared directly.
  ~BorrowedContent() {
    data->data = nullptr;
    data->length = 0;
  }
  BorrowedContent(const BorrowedContent&) = delete;
  BorrowedContent& operator=(const BorrowedContent&) = delete;

 private:
  ASN1_OCTET_STRING* data;
};

// The signed-data message with attached data content, or null (code 3).
Pkcs7Ptr DecodeSignedData(std::span<const std::uint8_t> message) {
  const unsigned char* next = message.data();
  Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
  // Bytes after the message would be content that no signature covers.
  if (!decoded || next != message.data() + message.size()) return nullptr;
  if (!PKCS7_type_is_signed(decoded.get()) || decoded->d.sign == nullptr) return nullptr;
  const PKCS7* inner = decoded->d.sign->contents;
  if (inner == nullptr || !PKCS7_type_is_data(inner) || inner->d.data == nullptr) return nullptr;
  return decoded;
}

// The way from a message's first octet to its content: ContentInfo
// {type, [0] SignedData {version, digestAlgorithms, ContentInfo {type, [0]
// OCTET STRING ...}, certificates, signerInfos}}. Each step is a header of
// `tag`, then `skipped` whole elements before the next step's header.
struct PathStep {
  std::uint8_t tag;
  int skipped;
};
constexpr PathStep kPathToContent[] = {{kDerSequenceTag, 1},
                                       {kDerExplicitZeroTag, 0},
                                       {kDerSequenceTag, 2},
                                       {kDerSequenceTag, 1},
                                       {kDerExplicitZeroTag, 0}};
constexpr std::size_t kPathLength = std::size(kPathToContent);

// A message's head as read from its first octet: the length each step
// declares and the elements skipped after its header.
struct ParsedHead {
  std::array<std::uint64_t, kPathLength> lengths{};
  std::array<std::span<const std::uint8_t>, kPathLength> skipped{};
  std::size_t headSize = 0;  // up to the content's own octets
  std::uint64_t contentSize = 0;
};

std::optional<ParsedHead> ParseHead(std::span<const std::uint8_t> bytes) {
  ParsedHead parsed;
  std::size_t at = 0;
  for (std::size_t step = 0; step < kPathLength; ++step) {
    const std::optional<DerHeader> header = ReadDerHeader(bytes.subspan(at));
    if (!header || header->tag != kPathToContent[step].tag) return std::nullopt;
    parsed.lengths[step] = header->contentSize;
    at += header->headerSize;
    const std::size_t start = at;
    for (int i = 0; i < kPathToContent[step].skipped; ++i) {
      const std::optional<DerHeader> element = ReadDerHeader(bytes.subspan(at));
      if (!element || element->contentSize > bytes.size() - at - element->headerSize)
        return std::nullopt;
      at += element->headerSize + static_cast<std::size_t>(element->contentSize);
    }
    parsed.skipped[step] = bytes.subspan(start, at - start);
  }
  const std::optional<DerHeader> content = ReadDerHeader(bytes.subspan(at));
  if (!content || content->tag != kDerOctetStringTag) return std::nullopt;
  parsed.headSize = at + content->headerSize;
  parsed.contentSize = content->contentSize;
  return parsed;
}

}  // namespace

std::optional<SignedMessageFrame> ResizedFrame(const SignedMessageFrame& frame,
                                               std::uint64_t contentSize) {
  const std::optional<ParsedHead> parsed = ParseHead(frame.head);
  if (!parsed || parsed->headSize != frame.head.size() || contentSize > kMaxFramedContentSize ||
      parsed->contentSize > kMaxFramedContentSize) {
    return std::nullopt;
  }
  // What each step holds after the next step's element: all of it is in
  // the tail, innermost first.
  std::array<std::uint64_t, kPathLength> after{};
  std::uint64_t inner = DerHeaderSize(parsed->contentSize) + parsed->contentSize;
  std::uint64_t tailSize = 0;
  for (std::size_t step = kPathLength; step-- > 0;) {
    const std::uint64_t before = parsed->skipped[step].size() + inner;
    if (parsed->lengths[step] < before) return std::nullopt;
    after[step] = parsed->lengths[step] - before;
    tailSize += after[step];
    inner = DerHeaderSize(parsed->lengths[step]) + parsed->lengths[step];
  }
  if (tailSize != frame.tail.size()) return std::nullopt;

  std::array<std::uint64_t, kPathLength> lengths{};
  inner = DerHeaderSize(contentSize) + contentSize;
  for (std::size_t step = kPathLength; step-- > 0;) {
    lengths[step] = parsed->skipped[step].size() + inner + after[step];
    inner = DerHeaderSize(lengths[step]) + lengths[step];
  }
  SignedMessageFrame resized;
  resized.head.reserve(frame.head.size() + kPathLength * kMaxLengthOctets);
  for (std::size_t step = 0; step < kPathLength; ++step) {
    AppendDerHeader(resized.head, kPathToContent[step].tag, lengths[step]);
    resized.head.insert(resized.head.end(), parsed->skipped[step].begin(),
                        parsed->skipped[step].end());
  }
  AppendDerHeader(resized.head, kDerOctetStringTag, contentSize);
  resized.tail = frame.tail;
  return resized;
}

std::optional<ContentPlace> FindAttachedContent(std::span<const std::uint8_t> message) {
  const std::optional<ParsedHead> parsed = ParseHead(message);
  if (!parsed || parsed->contentSize > message.size() - parsed->headSize) return std::nullopt;
  return ContentPlace{parsed->headSize, static_cast<std::size_t>(parsed->contentSize)};
}

std::optional<SignedMessageFrame> SplitFrame(std::span<const std::uint8_t> message) {
  const std::optional<ParsedHead> parsed = ParseHead(message);
  if (!parsed || parsed->contentSize > message.size() - parsed->headSize) return std::nullopt;
  const auto contentEnd = parsed->headSize + static_cast<std::size_t>(parsed->contentSize);
  SignedMessageFrame frame{
      {message.begin(), message.begin() + static_cast<std::ptrdiff_t>(parsed->headSize)},
      {message.begin() + static_cast<std::ptrdiff_t>(contentEnd), message.end()}};
  // The lengths must account for exactly the bytes around the content.
  if (!ResizedFrame(frame, parsed->contentSize)) return std::nullopt;
  return frame;
}

std::vector<std::uint8_t> DigestInfo(DigestAlgorithm algorithm,
                                     std::span<const std::uint8_t> content) {
  const std::vector<std::uint8_t> digest = ComputeDigest(algorithm, content);
  const X509SigPtr digestInfo(X509_SIG_new());
  if (digest.empty() || !digestInfo) return {};
  X509_ALGOR* digestAlgorithm = nullptr;
  ASN1_OCTET_STRING* digestField = nullptr;
  X509_SIG_getm(digestInfo.get(), &digestAlgorithm, &digestField);
  if (X509_ALGOR_set0(digestAlgorithm, OBJ_nid2obj(KindOf(algorithm).nid), V_ASN1_NULL, nullptr) !=
          1 ||
      ASN1_OCTET_STRING_set(digestField, digest.data(), static_cast<int>(digest.size())) != 1) {
    return {};
  }
  unsigned char* der = nullptr;
  const int size = i2d_X509_SIG(digestInfo.get(), &der);
  if (size <= 0) return {};
  const OpenSslBytesPtr owned(der);
  return std::vector<std::uint8_t>(der, der + size);
}

bool BuildSignedMessageOver(X509* certificate, EVP_PKEY* privateKey,
                            std::span<const std::uint8_t> content, DigestAlgorithm algorithm,
                            std::span<const std::uint8_t> digestInfo,
                            std::vector<std::uint8_t>& message, const DigestInfoSigner* keySigner) {
  message.clear();
  if (content.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  const std::vector<std::uint8_t> signature = RsaSign(privateKey, keySigner, digestInfo);
  if (signature.empty()) return false;
  Pkcs7Ptr signedData = SignedDataShell(certificate, algorithm, {});
  Pkcs7SignerInfoPtr info = SignerInfo(certificate, algorithm, signature);
  if (!signedData || !info ||
      sk_PKCS7_SIGNER_INFO_push(signedData->d.sign->signer_info, info.get()) <= 0) {
    return false;
  }
  static_cast<void>(info.release());  // the message owns it now
  const BorrowedContent borrowed(signedData->d.sign->contents->d.data, content);
  const int size = i2d_PKCS7(signedData.get(), nullptr);
  if (size <= 0) return false;
  message.resize(static_cast<std::size_t>(size));
  unsigned char* out = message.data();
  if (i2d_PKCS7(signedData.get(), &out) != size) {
    message.clear();
    return false;
  }
  return true;
}

bool BuildSignedMessageFrame(X509* certificate, EVP_PKEY* privateKey, std::uint64_t contentSize,
                             DigestAlgorithm algorithm, std::span<const std::uint8_t> digestInfo,
                             SignedMessageFrame& frame, const DigestInfoSigner* keySigner) {
  frame = {};
  if (contentSize > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return false;
  // The message with no content: its lengths are then set for the real size.
  std::vector<std::uint8_t> empty;
  if (!BuildSignedMessageOver(certificate, privateKey, {}, algorithm, digestInfo, empty, keySigner))
    return false;
  const std::optional<ParsedHead> parsed = ParseHead(empty);
  if (!parsed || parsed->contentSize != 0) return false;
  const auto headEnd = empty.begin() + static_cast<std::ptrdiff_t>(parsed->headSize);
  const SignedMessageFrame emptyFrame{{empty.begin(), headEnd}, {headEnd, empty.end()}};
  std::optional<SignedMessageFrame> resized = ResizedFrame(emptyFrame, contentSize);
  if (!resized) return false;
  frame = std::move(*resized);
  return true;
}

CryptoResult VerifySignedFrame(const SignedMessageFrame& frame,
                               std::span<const std::uint8_t> expectedDigestInfo) {
  const std::optional<SignedMessageFrame> empty = ResizedFrame(frame, 0);
  if (!empty) return CryptoResult::kCannotDecode;
  std::vector<std::uint8_t> message = empty->head;
  message.insert(message.end(), empty->tail.begin(), empty->tail.end());
  bool contentMatches = false;
  return VerifySignedMessageOf(message, {}, expectedDigestInfo, contentMatches);
}

CryptoResult VerifySignedMessage(std::span<const std::uint8_t> message,
                                 std::vector<std::uint8_t>& content) {
  content.clear();
  if (message.empty() || message[0] != kDerSequenceTag) return CryptoResult::kNotSignedMessage;
  if (message.size() > kMaxBlockSizeInBytes) return CryptoResult::kCannotDecode;
  const Pkcs7Ptr decoded = DecodeSignedData(message);
  if (!decoded) return CryptoResult::kCannotDecode;
  const ASN1_OCTET_STRING* carriedContent = decoded->d.sign->contents->d.data;
  const unsigned char* contentBytes = ASN1_STRING_get0_data(carriedContent);
  const std::span<const std::uint8_t> signedContent(
      contentBytes, static_cast<std::size_t>(ASN1_STRING_length(carriedContent)));

  const PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(decoded->d.sign->signer_info, 0);
  if (info == nullptr || info->issuer_and_serial == nullptr) return CryptoResult::kCannotReadSigner;
  X509* signer = FindCarriedCertificate(decoded.get(), info->issuer_and_serial);
  if (signer == nullptr || SimpleDisplayName(signer).empty())
    return CryptoResult::kNoSignerCertificate;

  const CryptoResult result = SignatureMatches(info, signer, signedContent)
                                  ? CryptoResult::kOk
                                  : CryptoResult::kSignatureMismatch;
  content.assign(signedContent.begin(), signedContent.end());
  return result;
}

CryptoResult VerifySignedMessageOf(std::span<const std::uint8_t> message,
                                   std::span<const std::uint8_t> expectedContent,
                                   std::span<const std::uint8_t> expectedDigestInfo,
                                   bool& contentMatches) {
  contentMatches = false;
  if (message.empty() || message[0] != kDerSequenceTag) return CryptoResult::kNotSignedMessage;
  if (message.size() > kMaxBlockSizeInBytes) return CryptoResult::kCannotDecode;
  const Pkcs7Ptr decoded = DecodeSignedData(message);
  if (!decoded) return CryptoResult::kCannotDecode;
  const ASN1_OCTET_STRING* carriedContent = decoded->d.sign->contents->d.data;
  const std::span<const std::uint8_t> signedContent(
      ASN1_STRING_get0_data(carriedContent),
      static_cast<std::size_t>(ASN1_STRING_length(carriedContent)));

  const PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(decoded->d.sign->signer_info, 0);
  if (info == nullptr || info->issuer_and_serial == nullptr) return CryptoResult::kCannotReadSigner;
  X509* signer = FindCarriedCertificate(decoded.get(), info->issuer_and_serial);
  if (signer == nullptr || SimpleDisplayName(signer).empty())
    return CryptoResult::kNoSignerCertificate;

  contentMatches = std::equal(signedContent.begin(), signedContent.end(), expectedContent.begin(),
                              expectedContent.end());
  if (!contentMatches) return CryptoResult::kSignatureMismatch;
  const std::vector<std::uint8_t> recovered = RecoveredDigestInfo(info, signer);
  return !recovered.empty() && std::equal(recovered.begin(), recovered.end(),
                                          expectedDigestInfo.begin(), expectedDigestInfo.end())
             ? CryptoResult::kOk
             : CryptoResult::kSignatureMismatch;
}

}  // namespace brevick
