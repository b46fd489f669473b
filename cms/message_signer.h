// cms/message_signer.h: who signed a signed-data message and with which
// digest, read from the message without checking the signature (the
// signature check is VerifySignedMessage's).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pki/openssl_handles.h"

namespace brevick {

struct MessageSigner {
  X509Ptr certificate;                     // the carried certificate the SignerInfo names
  std::vector<X509Ptr> otherCertificates;  // every other carried certificate, in order
  std::string digestAlgorithm;             // "md2", "sha256", ...; the dotted OID when unnamed
};

// Nothing when the bytes are not one whole signed-data message, it has no
// SignerInfo, or no carried certificate matches the first SignerInfo.
std::optional<MessageSigner> ReadMessageSigner(std::span<const std::uint8_t> message);

// The SignerInfo's digest algorithm alone, even when the signer's certificate
// is missing; empty when the message does not decode.
std::string MessageDigestAlgorithm(std::span<const std::uint8_t> message);

}  // namespace brevick
