// cms/message_check.h: the recipient's check of a signed-data message:
// every SignerInfo against the carried certificate it names, with or
// without signed attributes, the content taken where it lies in the
// message's own bytes whenever its encoding allows, so that a large message
// is never held twice.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pki/crypto_result.h"
#include "pki/openssl_handles.h"

namespace brevick {

// What the first bytes of a file say about it as a DER message.
struct MessageHeader {
  bool sequence = false;        // it begins as a SEQUENCE (0x30)
  bool indefinite = false;      // BER with an indefinite length: the size is unknown
  std::uint64_t totalSize = 0;  // header and content, for a definite length
};

// Reads the outer header from at least the first 10 bytes of a file (fewer
// when the file is shorter); nothing when they are cut short or malformed.
std::optional<MessageHeader> ReadMessageHeader(std::span<const std::uint8_t> firstBytes);

struct SignerCheck {
  CryptoResult result = CryptoResult::kCannotReadSigner;  // kOk when the signature holds
  X509* certificate = nullptr;  // the carried certificate it names, owned by the check
  std::string digest;           // "md2", "sha256", ...; the dotted OID when unnamed
  bool signedAttributes = false;
  std::string signingTime;  // "YYYY-MM-DDThh:mm:ssZ" from signed attributes; may be empty
};

struct MessageCheck {
  // kOk only when there is a SignerInfo and every one holds; otherwise the
  // decoding failure, or the first failing signer's result.
  CryptoResult result = CryptoResult::kCannotDecode;
  std::vector<SignerCheck> signers;       // in message order
  std::vector<X509*> certificates;        // every carried certificate, owned by the check
  std::span<const std::uint8_t> content;  // into the message or into `decoded`
  Pkcs7Ptr decoded;
};

// Decodes `message` (which must outlive the result: the content may point
// into it) and checks each SignerInfo. With signed attributes, as RFC 5652
// has it: the content type must be data, the message digest must equal the
// content's digest, and the signature covers the DER of the attributes as a
// SET; the signing time is only reported. Without them the signature covers
// the content's DigestInfo. Never throws but std::bad_alloc.
MessageCheck CheckSignedMessage(std::span<const std::uint8_t> message);

}  // namespace brevick
