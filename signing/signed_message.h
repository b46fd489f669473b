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
#include "signing/pkcs11_uri.h"

namespace brevick {

// The DER DigestInfo that the RSA signature covers.
std::vector<std::uint8_t> Md2DigestInfo(std::span<const std::uint8_t> content);

// Builds the message; false when OpenSSL fails (the key cannot sign, say),
// `message` then being empty. The key must be RSA. With `tokenKey`, the
// signature is made on that PKCS #11 token instead of with `privateKey`
// (which may then be null), and a failure's reason goes to standard error.
bool BuildSignedMessage(X509* certificate, EVP_PKEY* privateKey,
                        std::span<const std::uint8_t> content, std::vector<std::uint8_t>& message,
                        const Pkcs11Uri* tokenKey = nullptr);

// Decodes the message and checks its first signature against the carried
// certificate that the signer names. Returns kOk, kCannotDecode,
// kNoSignerCertificate, kCannotReadSigner, kSignatureMismatch or
// kNotSignedMessage; `content` is filled with kOk and kSignatureMismatch only.
CryptoResult VerifySignedMessage(std::span<const std::uint8_t> message,
                                 std::vector<std::uint8_t>& content);

}  // namespace brevick
