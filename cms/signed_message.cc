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
#include "cms/signed_data.h"
#include "digest/md2.h"
#include "pki/cert_store.h"
#include "pki/crypto_result.h"

namespace brevick {
namespace {

// Content no larger than this cannot make any enclosing length overflow.
constexpr std::uint64_t kMaxFramedContentSize = std::uint64_t{1} << 62;
constexpr long kSignedDataVersion = 1;
constexpr long kSignerInfoVersion = 1;

std::vector<std::uint8_t> ComputeDigest(DigestAlgorithm algorithm,
                                        std::span<const std::uint8_t> content) {
  const EVP_MD* sha = DigestEvp(algorithm);
  if (sha == nullptr) {
    const Md2Digest md2 = ComputeMd2(content);
    return std::vector<std::uint8_t>(md2.begin(), md2.end());
  }
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_Digest(content.data(), content.size(), digest.data(), &size, sha, nullptr) != 1) {
    return {};
  }
  digest.resize(size);
  return digest;
}

// The digest with absent parameters, as in digestAlgorithms and the SignerInfo.
X509AlgorPtr DigestAlgorithmIdentifier(DigestAlgorithm algorithm) {
  X509AlgorPtr identifier(X509_ALGOR_new());
  if (!identifier || X509_ALGOR_set0(identifier.get(), OBJ_nid2obj(DigestNid(algorithm)),
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
  if (X509_ALGOR_set0(info->digest_alg, OBJ_nid2obj(DigestNid(algorithm)), V_ASN1_UNDEF, nullptr) !=
          1 ||
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

// The digest the SignerInfo names, when it is one Brevick signs with.
std::optional<DigestAlgorithm> SignerDigest(const PKCS7_SIGNER_INFO* info) {
  return DigestByNid(OBJ_obj2nid(info->digest_alg->algorithm));
}

// Compares what the signer's key signed, algorithm included, with the
// DigestInfo of the content as it stands now.
bool SignatureMatches(const PKCS7_SIGNER_INFO* info, X509* signer,
                      std::span<const std::uint8_t> content) {
  const std::optional<DigestAlgorithm> algorithm = SignerDigest(info);
  if (!algorithm) return false;
  const std::vector<std::uint8_t> recovered = RecoveredDigestInfo(info, signer);
  return !recovered.empty() && recovered == DigestInfo(*algorithm, content);
}

// Whether `digestInfo` is a DigestInfo made with `algorithm`: every byte but
// the digest value is the same whatever the content.
bool IsDigestInfoOf(DigestAlgorithm algorithm, std::span<const std::uint8_t> digestInfo) {
  const std::size_t digestSize = DigestSizeInBytes(algorithm);
  const std::vector<std::uint8_t> sample =
      DigestInfoOfDigest(algorithm, std::vector<std::uint8_t>(digestSize));
  return !sample.empty() && digestInfo.size() == sample.size() &&
         std::equal(sample.begin(), sample.end() - static_cast<std::ptrdiff_t>(digestSize),
                    digestInfo.begin());
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

// A message decoded for checking, with its first signer and that signer's
// carried certificate.
struct DecodedMessage {
  Pkcs7Ptr decoded;
  std::span<const std::uint8_t> content;  // into `decoded`
  const PKCS7_SIGNER_INFO* info = nullptr;
  X509* signer = nullptr;
};

// Decodes a signed-data message with attached data content and finds its
// first signer's certificate; kOk, or why the message cannot be checked.
CryptoResult DecodeForCheck(std::span<const std::uint8_t> message, DecodedMessage& out) {
  if (message.empty() || message[0] != kDerSequenceTag) return CryptoResult::kNotSignedMessage;
  if (message.size() > kMaxBlockSizeInBytes) return CryptoResult::kCannotDecode;
  out.decoded = DecodeSignedData(message, NID_pkcs7_data);
  const ASN1_OCTET_STRING* data = out.decoded ? out.decoded->d.sign->contents->d.data : nullptr;
  if (data == nullptr) return CryptoResult::kCannotDecode;
  out.content = {ASN1_STRING_get0_data(data), static_cast<std::size_t>(ASN1_STRING_length(data))};
  out.info = sk_PKCS7_SIGNER_INFO_value(out.decoded->d.sign->signer_info, 0);
  if (out.info == nullptr || out.info->issuer_and_serial == nullptr)
    return CryptoResult::kCannotReadSigner;
  out.signer = SignerCertificate(out.decoded.get(), out.info);
  if (out.signer == nullptr || SimpleDisplayName(out.signer).empty())
    return CryptoResult::kNoSignerCertificate;
  return CryptoResult::kOk;
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
  resized.head.reserve(frame.head.size() + kPathLength * kDerMaxLengthOctets);
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
  return DigestInfoOfDigest(algorithm, ComputeDigest(algorithm, content));
}

std::vector<std::uint8_t> DigestInfoOfDigest(DigestAlgorithm algorithm,
                                             std::span<const std::uint8_t> digest) {
  const X509SigPtr digestInfo(X509_SIG_new());
  if (digest.empty() || !digestInfo) return {};
  X509_ALGOR* digestAlgorithm = nullptr;
  ASN1_OCTET_STRING* digestField = nullptr;
  X509_SIG_getm(digestInfo.get(), &digestAlgorithm, &digestField);
  if (X509_ALGOR_set0(digestAlgorithm, OBJ_nid2obj(DigestNid(algorithm)), V_ASN1_NULL, nullptr) !=
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
  DecodedMessage decoded;
  if (const CryptoResult code = DecodeForCheck(message, decoded); code != CryptoResult::kOk)
    return code;
  const CryptoResult result = SignatureMatches(decoded.info, decoded.signer, decoded.content)
                                  ? CryptoResult::kOk
                                  : CryptoResult::kSignatureMismatch;
  content.assign(decoded.content.begin(), decoded.content.end());
  return result;
}

CryptoResult VerifySignedMessageOf(std::span<const std::uint8_t> message,
                                   std::span<const std::uint8_t> expectedContent,
                                   std::span<const std::uint8_t> expectedDigestInfo,
                                   bool& contentMatches) {
  contentMatches = false;
  DecodedMessage decoded;
  if (const CryptoResult code = DecodeForCheck(message, decoded); code != CryptoResult::kOk)
    return code;
  contentMatches = std::equal(decoded.content.begin(), decoded.content.end(),
                              expectedContent.begin(), expectedContent.end());
  // A SignerInfo that names another digest than the one signed would fail
  // every other verifier, though the signature itself recovers.
  const std::optional<DigestAlgorithm> algorithm = SignerDigest(decoded.info);
  if (!contentMatches || !algorithm || !IsDigestInfoOf(*algorithm, expectedDigestInfo))
    return CryptoResult::kSignatureMismatch;
  const std::vector<std::uint8_t> recovered = RecoveredDigestInfo(decoded.info, decoded.signer);
  return !recovered.empty() && std::equal(recovered.begin(), recovered.end(),
                                          expectedDigestInfo.begin(), expectedDigestInfo.end())
             ? CryptoResult::kOk
             : CryptoResult::kSignatureMismatch;
}

}  // namespace brevick
