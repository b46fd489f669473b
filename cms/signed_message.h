// cms/signed_message.h: the PKCS #7 signed-data message in DER, built
// and checked with OpenSSL's ASN.1 types, with Brevick's own MD2 (the
// default) or SHA-256/384/512 from OpenSSL:
//   digestAlgorithms           the digest (md2: 1.2.840.113549.2.2),
//                              parameters absent
//   contentInfo                data, the content itself (attached)
//   certificates               the signer's certificate only; no CRLs
//   signerInfo                 issuer and serial of that certificate, the
//                              digest, no attributes, rsaEncryption, and the
//                              PKCS #1 v1.5 signature of the DER DigestInfo
//                              {digest with NULL parameters, digest(content)}
// Without signed attributes, `openssl cms -verify` checks the SHA-2 forms
// as they are; no standard tool still checks MD2.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "digest/digest_algorithm.h"
#include "pki/crypto_result.h"
#include "pki/openssl_handles.h"

namespace brevick {

// Makes the RSA PKCS #1 v1.5 signature of a DER DigestInfo with a key this
// layer cannot reach itself (a token's); empty when it fails. The caller keeps
// the reason, so that this layer need not know where keys live.
using DigestInfoSigner =
    std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t> digestInfo)>;

// The DER DigestInfo that the RSA signature covers; empty if OpenSSL fails.
std::vector<std::uint8_t> DigestInfo(DigestAlgorithm algorithm,
                                     std::span<const std::uint8_t> content);

// The same around a digest of the content that the caller took itself (while
// the content was still being made, say); empty if OpenSSL fails.
std::vector<std::uint8_t> DigestInfoOfDigest(DigestAlgorithm algorithm,
                                             std::span<const std::uint8_t> digest);

// Builds the message over content whose DigestInfo (of `algorithm`) the
// caller has computed already, so that a run digests its content once; false
// when OpenSSL fails (the key cannot sign, say), `message` then being empty.
// The content is encoded straight from the caller's bytes. The key must be
// RSA. PKCS #1 v1.5 has no randomness: the same input gives the same bytes.
// With `keySigner`, the signature is made by it instead of with `privateKey`
// (which may then be null).
bool BuildSignedMessageOver(X509* certificate, EVP_PKEY* privateKey,
                            std::span<const std::uint8_t> content, DigestAlgorithm algorithm,
                            std::span<const std::uint8_t> digestInfo,
                            std::vector<std::uint8_t>& message,
                            const DigestInfoSigner* keySigner = nullptr);

// A message's DER split around its attached content: the message is head,
// then the content, then tail. A large content is written and checked
// where it lies instead of being copied into the message.
struct SignedMessageFrame {
  std::vector<std::uint8_t> head;  // up to the content's own octets
  std::vector<std::uint8_t> tail;  // the certificate and the signer after it
};

// The frame re-encoded for content of `contentSize` bytes: the lengths of
// everything that encloses the content change, nothing else. Nullopt when
// the frame is not a definite-length signed-data message with attached data
// content (its tail exactly what follows the content) or the size does not
// fit.
std::optional<SignedMessageFrame> ResizedFrame(const SignedMessageFrame& frame,
                                               std::uint64_t contentSize);

// Where the attached content lies in a definite-length message laid out as
// Brevick writes it (and as `openssl cms -sign -outform DER` does): its
// offset and size within `message`. Nothing for any other encoding.
struct ContentPlace {
  std::size_t offset = 0;
  std::size_t size = 0;
};
std::optional<ContentPlace> FindAttachedContent(std::span<const std::uint8_t> message);

// A whole message cut around its content: nullopt when it is not a
// definite-length signed-data message with attached data content.
std::optional<SignedMessageFrame> SplitFrame(std::span<const std::uint8_t> message);

// BuildSignedMessageOver without the content: only its size is needed, as
// the content's DigestInfo is given. The frame's head, the content and its
// tail make exactly the bytes BuildSignedMessageOver makes.
bool BuildSignedMessageFrame(X509* certificate, EVP_PKEY* privateKey, std::uint64_t contentSize,
                             DigestAlgorithm algorithm, std::span<const std::uint8_t> digestInfo,
                             SignedMessageFrame& frame,
                             const DigestInfoSigner* keySigner = nullptr);

// Checks the frame of a message read back whose content the caller has
// compared with the text signed already: decodes it with the content left
// out and checks the signature, with the carried signer's key, against
// `expectedDigestInfo`. Returns what VerifySignedMessageOf would for a
// message whose content matched.
CryptoResult VerifySignedFrame(const SignedMessageFrame& frame,
                               std::span<const std::uint8_t> expectedDigestInfo);

// Decodes the message and checks its first signature against the carried
// certificate that the signer names, with whichever of the four digests the
// signer used. Returns kOk, kCannotDecode,
// kNoSignerCertificate, kCannotReadSigner, kSignatureMismatch or
// kNotSignedMessage; `content` is filled with kOk and kSignatureMismatch only.
CryptoResult VerifySignedMessage(std::span<const std::uint8_t> message,
                                 std::vector<std::uint8_t>& content);

// Checks a message read back against what was signed, without digesting its
// content again: the carried content must equal `expectedContent` byte for
// byte, and the signature, recovered with the carried signer's key, must
// cover `expectedDigestInfo` (the content's DigestInfo). Returns what
// VerifySignedMessage would; `contentMatches` tells whether a decoded
// message carried the expected content (kSignatureMismatch when not).
CryptoResult VerifySignedMessageOf(std::span<const std::uint8_t> message,
                                   std::span<const std::uint8_t> expectedContent,
                                   std::span<const std::uint8_t> expectedDigestInfo,
                                   bool& contentMatches);

}  // namespace brevick
