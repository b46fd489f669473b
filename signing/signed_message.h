// signing/signed_message.h: the PKCS #7 signed-data message in DER, built
// and checked with OpenSSL's ASN.1 types and Brevick's own MD2:
//   digestAlgorithms           md2 (1.2.840.113549.2.2), parameters absent
//   contentInfo                data, the content itself (attached)
//   certificates               the signer's certificate only; no CRLs
//   signerInfo                 issuer and serial of that certificate, md2,
//                              no attributes, rsaEncryption, and the PKCS #1
//                              v1.5 signature of the DER DigestInfo
//                              {md2 with NULL parameters, MD2(content)}
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "signing/crypto.h"
#include "signing/openssl_handles.h"

namespace brevick {

// The DER DigestInfo that the RSA signature covers.
std::vector<std::uint8_t> Md2DigestInfo(std::span<const std::uint8_t> content);

// Builds the message; false when OpenSSL fails (the key cannot sign, say),
// `message` then being empty. The key must be RSA.
bool BuildSignedMessage(X509* certificate, EVP_PKEY* privateKey,
                        std::span<const std::uint8_t> content, std::vector<std::uint8_t>& message);

// Decodes the message and checks its first signature against the carried
// certificate that the signer names. Returns kOk, kCannotDecode,
// kNoSignerCertificate, kCannotReadSigner, kSignatureMismatch or
// kNotSignedMessage; `content` is filled with kOk and kSignatureMismatch only.
// BuildSignedMessage for content whose DigestInfo (Md2DigestInfo) the caller
// has computed already, so that a run digests its content once. The content
// is encoded straight from the caller's bytes.
bool BuildSignedMessageOver(X509* certificate, EVP_PKEY* privateKey,
                            std::span<const std::uint8_t> content,
                            std::span<const std::uint8_t> digestInfo,
                            std::vector<std::uint8_t>& message);

CryptoResult VerifySignedMessage(std::span<const std::uint8_t> message,
                                 std::vector<std::uint8_t>& content);

// Checks a message read back against what was signed, without digesting its
// content again: the carried content must equal `expectedContent` byte for
// byte, and the signature, recovered with the carried signer's key, must
// cover `expectedDigestInfo` (the content's Md2DigestInfo). Returns what
// VerifySignedMessage would; `contentMatches` tells whether a decoded
// message carried the expected content (kSignatureMismatch when not).
CryptoResult VerifySignedMessageOf(std::span<const std::uint8_t> message,
                                   std::span<const std::uint8_t> expectedContent,
                                   std::span<const std::uint8_t> expectedDigestInfo,
                                   bool& contentMatches);

}  // namespace brevick
