// Time-stamp tokens: decoded and checked with OpenSSL's TS and PKCS7 types,
// and spliced into a signed message by hand. OpenSSL's own token check
// (TS_RESP_verify_token) insists on a trusted chain now and says little
// about what failed; here each check is one step with its own reason, and
// trust is left to the caller. The splice works on the DER bytes so that
// nothing but the new attribute changes: re-encoding a decoded message could
// rewrite a producer's non-canonical bytes under its signature. Tested by
// tests/cms/timestamp_token_test.cc with tokens from `openssl ts -reply`.
#include "cms/timestamp_token.h"

#include <openssl/ess.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "cms/der.h"
#include "cms/signed_data.h"
#include "digest/sha2.h"
#include "pki/certificate_info.h"

namespace brevick {
namespace {

struct TsTstInfoFree {
  void operator()(TS_TST_INFO* info) const { TS_TST_INFO_free(info); }
};
struct BioChainFree {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};
struct EssSigningCertFree {
  void operator()(ESS_SIGNING_CERT* cert) const { ESS_SIGNING_CERT_free(cert); }
};
struct EssSigningCertV2Free {
  void operator()(ESS_SIGNING_CERT_V2* cert) const { ESS_SIGNING_CERT_V2_free(cert); }
};
struct X509RefStackFree {
  void operator()(STACK_OF(X509) * certs) const { sk_X509_free(certs); }
};
using TsTstInfoPtr = std::unique_ptr<TS_TST_INFO, TsTstInfoFree>;
using BioChainPtr = std::unique_ptr<BIO, BioChainFree>;
using EssSigningCertPtr = std::unique_ptr<ESS_SIGNING_CERT, EssSigningCertFree>;
using EssSigningCertV2Ptr = std::unique_ptr<ESS_SIGNING_CERT_V2, EssSigningCertV2Free>;
// A stack that borrows its certificates.
using X509RefStackPtr = std::unique_ptr<STACK_OF(X509), X509RefStackFree>;

// id-aa-timeStampToken, 1.2.840.113549.1.9.16.2.14, as DER.
constexpr std::array<std::uint8_t, 13> kTimeStampTokenOid = {
    0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x02, 0x0E};
constexpr std::uint8_t kUnsignedAttributesTag = 0xA1;  // [1] IMPLICIT SET OF Attribute

struct Fault {
  TimestampFault fault;
  std::string reason;
};

TimestampToken Failed(TimestampToken token, Fault fault) {
  token.fault = fault.fault;
  token.reason = std::move(fault.reason);
  return token;
}

// The imprint's digest: SHA-2 only, as MD2 is long broken.
std::optional<DigestAlgorithm> ImprintDigest(int nid) {
  const std::optional<DigestAlgorithm> digest = DigestByNid(nid);
  if (digest == DigestAlgorithm::kMd2) return std::nullopt;
  return digest;
}

// Fills what the TSTInfo and the carried certificates say; false when the
// token holds no readable TSTInfo or not exactly one signer.
bool ReadFields(PKCS7* token, TimestampToken& out) {
  const TsTstInfoPtr info(PKCS7_to_TS_TST_INFO(token));
  if (!info) return false;
  const std::optional<std::time_t> time = TimeOf(TS_TST_INFO_get_time(info.get()));
  if (!time) return false;
  out.time = *time;
  out.timeText = UtcTimeText(out.time);
  const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(TS_TST_INFO_get_msg_imprint(info.get()));
  const std::optional<DigestAlgorithm> digest = ImprintDigest(OBJ_obj2nid(algorithm->algorithm));
  out.digest = digest ? std::string(DigestName(*digest)) : DottedOid(algorithm->algorithm);
  out.policy = DottedOid(TS_TST_INFO_get_policy_id(info.get()));
  out.serial = IntegerText(TS_TST_INFO_get_serial(info.get()));

  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(token);
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) return false;
  X509* signer = PKCS7_cert_from_signer_info(token, sk_PKCS7_SIGNER_INFO_value(signers, 0));
  STACK_OF(X509)* carried = token->d.sign->cert;
  for (int i = 0; i < sk_X509_num(carried); ++i) {
    X509* certificate = sk_X509_value(carried, i);
    if (X509_up_ref(certificate) != 1) return false;
    X509Ptr owned(certificate);
    (certificate == signer ? out.tsaCertificate : out.otherCertificates.emplace_back()) =
        std::move(owned);
  }
  return true;
}

// The token's signature over its signed attributes, and their message
// digest over the TSTInfo, checked with the TSA certificate's key.
bool SignatureVerifies(PKCS7* token, X509* tsaCertificate) {
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(token), 0);
  const BioChainPtr content(PKCS7_dataInit(token, nullptr));
  if (!content) return false;
  std::array<char, 4096> buffer;
  while (BIO_read(content.get(), buffer.data(), static_cast<int>(buffer.size())) > 0) {
  }
  return PKCS7_signatureVerify(content.get(), token, signer, tsaCertificate) == 1;
}

bool HasTimeStampingUsage(X509* certificate) {
  return (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0 &&
         (X509_get_extended_key_usage(certificate) & XKU_TIMESTAMP) != 0;
}

template <typename T>
T* DecodeSignedAttribute(PKCS7_SIGNER_INFO* signer, int nid,
                         T* (*decode)(T**, const unsigned char**, long)) {
  const ASN1_TYPE* value = PKCS7_get_signed_attribute(signer, nid);
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* der = value->value.sequence->data;
  return decode(nullptr, &der, value->value.sequence->length);
}

// Whether the ESS signing-certificate attribute (either version) names the
// certificate that verified the signature, so that another certificate of
// the same key cannot be put in its place.
bool SigningCertificateNamed(PKCS7* token, const TimestampToken& fields) {
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(token), 0);
  const EssSigningCertPtr v1(
      DecodeSignedAttribute(signer, NID_id_smime_aa_signingCertificate, d2i_ESS_SIGNING_CERT));
  const EssSigningCertV2Ptr v2(
      DecodeSignedAttribute(signer, NID_id_smime_aa_signingCertificateV2, d2i_ESS_SIGNING_CERT_V2));
  const X509RefStackPtr chain(sk_X509_new_null());
  if (!chain || sk_X509_push(chain.get(), fields.tsaCertificate.get()) <= 0) return false;
  for (const X509Ptr& other : fields.otherCertificates) {
    if (sk_X509_push(chain.get(), other.get()) <= 0) return false;
  }
  return OSSL_ESS_check_signing_certs(v1.get(), v2.get(), chain.get(), 1) == 1;
}

bool WithinValidity(X509* certificate, std::time_t time) {
  return X509_cmp_time(X509_get0_notBefore(certificate), &time) < 0 &&
         X509_cmp_time(X509_get0_notAfter(certificate), &time) > 0;
}

// The checks that tie the token to this signature and this request.
std::optional<Fault> ImprintOrNonceFault(PKCS7* token, std::span<const std::uint8_t> signatureValue,
                                         const TimestampExpectation& expected,
                                         const std::string& digestName) {
  const TsTstInfoPtr info(PKCS7_to_TS_TST_INFO(token));
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
  const std::optional<DigestAlgorithm> digest =
      ImprintDigest(OBJ_obj2nid(TS_MSG_IMPRINT_get_algo(imprint)->algorithm));
  if (!digest) {
    return Fault{TimestampFault::kDigestMismatch,
                 "imprint made with " + digestName + ", not SHA-256, SHA-384 or SHA-512"};
  }
  if (expected.digest && *expected.digest != *digest) {
    return Fault{TimestampFault::kDigestMismatch, "imprint made with " + digestName + ", not " +
                                                      std::string(DigestName(*expected.digest))};
  }
  Sha2 sha(*digest);
  sha.Update(signatureValue.data(), signatureValue.size());
  const std::vector<std::uint8_t> wanted = sha.Final();
  const ASN1_OCTET_STRING* got = TS_MSG_IMPRINT_get_msg(imprint);
  const unsigned char* gotBytes = ASN1_STRING_get0_data(got);
  if (wanted.empty() ||
      !std::equal(wanted.begin(), wanted.end(), gotBytes, gotBytes + ASN1_STRING_length(got))) {
    return Fault{TimestampFault::kImprintMismatch, "imprint mismatch: not over this signature"};
  }
  if (!expected.nonce) return std::nullopt;
  const ASN1_INTEGER* nonce = TS_TST_INFO_get_nonce(info.get());
  std::uint64_t value = 0;
  if (nonce == nullptr || ASN1_INTEGER_get_uint64(&value, nonce) != 1 || value != *expected.nonce)
    return Fault{TimestampFault::kNonceMismatch, "nonce mismatch: not the answer to this request"};
  return std::nullopt;
}

// The checks of the token on its own, in the order that names the most
// basic fault first.
std::optional<Fault> TokenFault(PKCS7* token, const TimestampToken& fields) {
  if (!fields.tsaCertificate)
    return Fault{TimestampFault::kNoTsaCertificate, "the token does not carry the TSA certificate"};
  if (!SignatureVerifies(token, fields.tsaCertificate.get()))
    return Fault{TimestampFault::kSignatureInvalid, "token signature invalid"};
  if (!HasTimeStampingUsage(fields.tsaCertificate.get()))
    return Fault{TimestampFault::kNoTimeStamping, "TSA certificate lacks timeStamping"};
  if (!SigningCertificateNamed(token, fields)) {
    return Fault{TimestampFault::kSigningCertificateUnnamed,
                 "the token does not name the TSA certificate that signed it"};
  }
  if (!WithinValidity(fields.tsaCertificate.get(), fields.time)) {
    return Fault{TimestampFault::kOutsideValidity,
                 "genTime " + fields.timeText + " outside the TSA certificate's validity"};
  }
  return std::nullopt;
}

// One element of a DER buffer: where it starts and what its header says.
struct Element {
  std::size_t start = 0;
  DerHeader header;
  std::size_t ContentStart() const { return start + header.headerSize; }
  std::size_t End() const { return ContentStart() + static_cast<std::size_t>(header.contentSize); }
};

// The elements one after another in bytes [from, to); nothing when they do
// not fill it exactly.
std::optional<std::vector<Element>> Children(std::span<const std::uint8_t> bytes, std::size_t from,
                                             std::size_t to) {
  std::vector<Element> children;
  for (std::size_t at = from; at < to;) {
    const std::optional<DerHeader> header = ReadDerHeader(bytes.subspan(at, to - at));
    if (!header || header->contentSize > to - at - header->headerSize) return std::nullopt;
    children.push_back({at, *header});
    at = children.back().End();
  }
  return children;
}

// The elements from the message's ContentInfo down to its one SignerInfo,
// outermost first; nothing for any other shape.
std::optional<std::vector<Element>> PathToSignerInfo(std::span<const std::uint8_t> message) {
  const std::optional<std::vector<Element>> top = Children(message, 0, message.size());
  if (!top || top->size() != 1 || top->front().header.tag != kDerSequenceTag) return std::nullopt;
  std::vector<Element> path{top->front()};
  // ContentInfo {type, [0] {SignedData {..., signerInfos SET {SignerInfo}}}}:
  // the wanted child at each step is the last one, of this tag.
  for (const std::uint8_t tag :
       {kDerExplicitZeroTag, kDerSequenceTag, kDerSetTag, kDerSequenceTag}) {
    const std::optional<std::vector<Element>> children =
        Children(message, path.back().ContentStart(), path.back().End());
    if (!children || children->empty() || children->back().header.tag != tag) return std::nullopt;
    // Exactly one signer: with more, which one a token belongs to is unclear.
    if (path.back().header.tag == kDerSetTag && children->size() != 1) return std::nullopt;
    path.push_back(children->back());
  }
  return path;
}

}  // namespace

TimestampToken CheckTimestampToken(std::span<const std::uint8_t> tokenBytes,
                                   std::span<const std::uint8_t> signatureValue,
                                   const TimestampExpectation& expected) {
  const OpenSslErrorScope errors;
  TimestampToken out;
  const Pkcs7Ptr token = DecodeSignedData(tokenBytes, NID_id_smime_ct_TSTInfo);
  if (!token || !ReadFields(token.get(), out))
    return Failed(std::move(out), {TimestampFault::kMalformed, "not a time-stamp token"});
  std::optional<Fault> fault = TokenFault(token.get(), out);
  if (!fault) fault = ImprintOrNonceFault(token.get(), signatureValue, expected, out.digest);
  if (fault) return Failed(std::move(out), std::move(*fault));
  out.fault = TimestampFault::kNone;
  return out;
}

std::optional<SignerTimestamps> ReadSignerTimestamps(std::span<const std::uint8_t> message) {
  const OpenSslErrorScope errors;
  const Pkcs7Ptr decoded = DecodeSignedData(message);
  if (!decoded) return std::nullopt;
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(decoded.get()), 0);
  if (signer == nullptr || signer->enc_digest == nullptr) return std::nullopt;
  SignerTimestamps found;
  const unsigned char* signature = ASN1_STRING_get0_data(signer->enc_digest);
  found.signatureValue.assign(signature, signature + ASN1_STRING_length(signer->enc_digest));
  found.hasUnsignedAttributes = sk_X509_ATTRIBUTE_num(signer->unauth_attr) > 0;
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer->unauth_attr); ++i) {
    X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer->unauth_attr, i);
    if (OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute)) != NID_id_smime_aa_timeStampToken)
      continue;
    for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
      const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
      if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
        found.tokens.emplace_back();  // present but unreadable: a token that fails its check
        continue;
      }
      const unsigned char* der = value->value.sequence->data;
      found.tokens.emplace_back(der, der + value->value.sequence->length);
    }
  }
  return found;
}

std::optional<std::vector<std::uint8_t>> WithTimestampToken(std::span<const std::uint8_t> message,
                                                            std::span<const std::uint8_t> token) {
  const std::optional<std::vector<Element>> whole = Children(token, 0, token.size());
  if (!whole || whole->size() != 1) return std::nullopt;
  const std::optional<std::vector<Element>> path = PathToSignerInfo(message);
  if (!path) return std::nullopt;
  const Element& signerInfo = path->back();
  const std::optional<std::vector<Element>> fields =
      Children(message, signerInfo.ContentStart(), signerInfo.End());
  if (!fields || fields->empty() || fields->back().header.tag == kUnsignedAttributesTag)
    return std::nullopt;

  // [1] { Attribute { type, SET { token } } }
  std::vector<std::uint8_t> values;
  AppendDerHeader(values, kDerSetTag, token.size());
  values.insert(values.end(), token.begin(), token.end());
  std::vector<std::uint8_t> attribute;
  AppendDerHeader(attribute, kDerSequenceTag, kTimeStampTokenOid.size() + values.size());
  attribute.insert(attribute.end(), kTimeStampTokenOid.begin(), kTimeStampTokenOid.end());
  attribute.insert(attribute.end(), values.begin(), values.end());
  std::vector<std::uint8_t> added;
  AppendDerHeader(added, kUnsignedAttributesTag, attribute.size());
  added.insert(added.end(), attribute.begin(), attribute.end());

  // Every element on the path grows by what its child grew, headers included.
  const std::size_t levels = path->size();
  std::vector<std::uint64_t> newSizes(levels);
  std::uint64_t grown = added.size();
  for (std::size_t i = levels; i-- > 0;) {
    const Element& element = (*path)[i];
    newSizes[i] = element.header.contentSize + grown;
    grown = DerHeaderSize(newSizes[i]) + newSizes[i] - (element.End() - element.start);
  }
  std::vector<std::uint8_t> out;
  out.reserve(message.size() + grown);
  for (std::size_t i = 0; i < levels; ++i) {
    const Element& element = (*path)[i];
    AppendDerHeader(out, element.header.tag, newSizes[i]);
    const std::size_t upTo = i + 1 < levels ? (*path)[i + 1].start : element.End();
    out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>(element.ContentStart()),
               message.begin() + static_cast<std::ptrdiff_t>(upTo));
  }
  out.insert(out.end(), added.begin(), added.end());
  for (std::size_t i = levels - 1; i-- > 0;) {
    out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>((*path)[i + 1].End()),
               message.begin() + static_cast<std::ptrdiff_t>((*path)[i].End()));
  }
  return out;
}

}  // namespace brevick
