// cms/signed_data.h: reading a signed-data message through OpenSSL's types,
// the pieces that building, checking and timestamping a message all need:
// one decoder, the carried certificate a SignerInfo names, the name of its
// digest, and the DigestInfo its RSA signature recovers. Kept in one place
// so that every reader of a message accepts and refuses the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pki/openssl_handles.h"

namespace brevick {

// `der` decoded as one whole signed-data ContentInfo whose inner content is
// of type `contentNid` (any type when unset); null when it does not decode,
// bytes follow it (content no signature covers) or it is of another type.
Pkcs7Ptr DecodeSignedData(std::span<const std::uint8_t> der,
                          std::optional<int> contentNid = std::nullopt);

// The carried certificate of exactly the issuer and serial the SignerInfo
// names (one issuer may have issued several of those carried); owned by
// the message, null when none is carried.
X509* SignerCertificate(const PKCS7* message, const PKCS7_SIGNER_INFO* info);

// An algorithm identifier as reports show it: OpenSSL's short name in
// lowercase ("md2", "sha256"), or the dotted OID when it has none.
std::string AlgorithmName(const ASN1_OBJECT* algorithm);

// The identifier in dotted form ("1.3.6.1.4.1..."); empty when it has none.
std::string DottedOid(const ASN1_OBJECT* object);

// What the signer's RSA key signed, recovered from the SignerInfo's
// signature with PKCS #1 v1.5 padding: a DER DigestInfo when the signature
// is sound; empty when it cannot be recovered or the key is not RSA.
std::vector<std::uint8_t> RecoveredDigestInfo(const PKCS7_SIGNER_INFO* info, X509* signer);

}  // namespace brevick
