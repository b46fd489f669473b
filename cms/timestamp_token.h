// cms/timestamp_token.h: RFC 3161 time-stamp tokens as a signed message
// carries them: read from the signer's unsigned attributes, and checked
// against the signature they are meant to cover. A token says "this
// signature existed at genTime", signed by a time-stamp authority (TSA).
// Checked here: the imprint is the digest of this signature's octets, the
// token is signed by the certificate it carries and names (ESS), that
// certificate may stamp time (extended key usage timeStamping) and genTime
// lies within its validity. Not checked here: whether the TSA is trusted
// (its chain), which the caller decides at genTime with its own anchors.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "digest/digest_algorithm.h"
#include "pki/openssl_handles.h"

namespace brevick {

enum class TimestampFault {
  kNone,
  kMalformed,                  // not a DER time-stamp token
  kNoTsaCertificate,           // the certificate that signed it is not carried
  kSignatureInvalid,           // the token's own signature does not verify
  kNoTimeStamping,             // the TSA certificate lacks the timeStamping usage
  kSigningCertificateUnnamed,  // no ESS attribute binds the token to that certificate
  kOutsideValidity,            // genTime outside the TSA certificate's validity
  kDigestMismatch,             // imprint made with another digest than the one asked for
  kImprintMismatch,            // the imprint is not over this signature
  kNonceMismatch,              // not the answer to the request that was sent
};

// What a token says, as far as it could be read, and the first fault found.
struct TimestampToken {
  std::time_t time = 0;                    // genTime, UTC, whole seconds
  std::string timeText;                    // genTime as "YYYY-MM-DDTHH:MM:SSZ"
  X509Ptr tsaCertificate;                  // the carried certificate that signed the token
  std::vector<X509Ptr> otherCertificates;  // every other carried certificate
  std::string digest;  // of the imprint: "sha256", "sha384", "sha512", or the OID
  std::string policy;  // the TSA's policy, dotted OID
  std::string serial;  // the token's serial number, uppercase hexadecimal
  TimestampFault fault = TimestampFault::kMalformed;
  std::string reason;  // the fault in words; empty when valid

  bool Valid() const { return fault == TimestampFault::kNone; }
};

// What the answer to one request must repeat; unset fields are not checked.
struct TimestampExpectation {
  std::optional<DigestAlgorithm> digest;
  std::optional<std::uint64_t> nonce;
};

// Decodes the DER token (a ContentInfo) and checks it against the octets of
// the signature value it should cover. The imprint may be SHA-256, -384 or
// -512 whatever was asked, unless `expected` names one.
TimestampToken CheckTimestampToken(std::span<const std::uint8_t> token,
                                   std::span<const std::uint8_t> signatureValue,
                                   const TimestampExpectation& expected = {});

// The first signer of a signed-data message: its signature value and the
// DER tokens its unsigned attributes carry (id-aa-timeStampToken), in order.
struct SignerTimestamps {
  std::vector<std::uint8_t> signatureValue;
  std::vector<std::vector<std::uint8_t>> tokens;
  bool hasUnsignedAttributes = false;  // any at all, tokens or others
};

// Nothing when the bytes are not one whole signed-data message with a signer.
std::optional<SignerTimestamps> ReadSignerTimestamps(std::span<const std::uint8_t> message);

// The message with `token` added to its signer's unsigned attributes as
// id-aa-timeStampToken; every other byte stays as it was, so taking the
// attribute out again gives `message` back. Nothing when the message is not
// a definite-length signed-data message with one signer that has no
// unsigned attributes yet.
std::optional<std::vector<std::uint8_t>> WithTimestampToken(std::span<const std::uint8_t> message,
                                                            std::span<const std::uint8_t> token);

}  // namespace brevick
