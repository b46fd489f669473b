// pki/certificate_info.h: what can be learnt about a certificate and its
// private key before anything is signed with them: thumbprints, validity, the
// uses the certificate allows, the key's type and size, and why a stored key
// cannot sign. Pure functions over OpenSSL objects; nothing here prints,
// records or reads files.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pki/openssl_handles.h"

namespace brevick {

// The two thumbprints operators copy from other tools: SHA-1 (20 bytes, the
// Windows certificate manager's) and SHA-256 (32 bytes, openssl's default).
enum class ThumbprintKind { kSha1, kSha256 };

// The digest of the certificate's DER encoding; empty if it cannot be encoded.
std::vector<std::uint8_t> Thumbprint(const X509* certificate, ThumbprintKind kind);

// Uppercase hexadecimal, two digits a byte, no separators.
std::wstring ThumbprintText(std::span<const std::uint8_t> bytes);

// Reads a thumbprint as operators paste it: 40 or 64 hexadecimal digits in
// either letter case, with any colons, blanks and tabs among them. Nothing
// for any other text.
std::optional<std::vector<std::uint8_t>> ParseThumbprint(std::wstring_view text);

// Whether the certificate's thumbprint of the wanted's length (20: SHA-1,
// 32: SHA-256) equals `wanted`.
bool HasThumbprint(const X509* certificate, std::span<const std::uint8_t> wanted);

enum class Validity { kCurrent, kNotYetValid, kExpired };

// The certificate's validity at `now`; a time that cannot be read counts as
// outside the period, on the side of the field it is in.
Validity ValidityAt(const X509* certificate, std::time_t now);

// "YYYY-MM-DD HH:MM:SS UTC"; "(unreadable)" when OpenSSL cannot read it.
std::wstring TimeText(const ASN1_TIME* time);

// The serial number in uppercase hexadecimal, as certificate tools show it.
std::wstring SerialText(const X509* certificate);

// A name's attribute values in certificate order, joined with ", ".
std::wstring NameValuesText(const X509_NAME* name);

// The issuer's attribute values in certificate order, joined with ", ".
std::wstring IssuerText(const X509* certificate);

// False only when a key usage extension is present without digitalSignature.
bool KeyUsageAllowsSigning(X509* certificate);

// False only when an extended key usage extension is present with neither
// codeSigning nor anyExtendedKeyUsage.
bool ExtendedKeyUsageAllowsCodeSigning(X509* certificate);

// The key's size in bits when it is RSA, else 0.
int RsaKeyBits(const EVP_PKEY* key);

// "RSA 2048 bits", "EC prime256v1 256 bits", "ED25519 256 bits"; "unknown"
// for a key OpenSSL cannot describe.
std::wstring KeyDescription(const EVP_PKEY* key);

// Keys shorter than this sign with a warning; NIST retired them in 2013.
inline constexpr int kMinimumRsaKeyBits = 2048;

// What the checks before signing can find; each is a warning, or an error
// when the operator asks for strictness.
enum class CertificateWarning {
  kNotYetValid,
  kExpired,
  kNoDigitalSignature,
  kNoCodeSigning,
  kWeakRsaKey,
  kCount  // not a warning: the size of the text table
};

// The warnings that apply to the certificate at `now`, in enumerator order.
std::vector<CertificateWarning> CheckSigningCertificate(X509* certificate, std::time_t now);

// One lowercase clause naming the certificate by `name`, e.g. "certificate
// 'X' expired on 2025-01-01 00:00:00 UTC"; no prefix, no full stop.
std::wstring CertificateWarningText(CertificateWarning warning, X509* certificate,
                                    std::wstring_view name);

// Why a stored certificate has no private key that can sign.
enum class KeyProblem {
  kNone,         // the key is there and can sign
  kNoKey,        // no key in the file and no <stem>.key beside it
  kEncrypted,    // the key is protected by a passphrase
  kNotRsa,       // the signature is PKCS #1 v1.5, which needs RSA
  kMismatch,     // the key is not the certificate's own
  kUnreadable,   // the key file cannot be read (see the error number)
  kUndecodable,  // the key file holds no private key OpenSSL can read
  kBadTokenUri,  // the key file names a token key with a URI that does not parse
  kCount         // not a problem: the size of the text table
};

struct KeyStatus {
  KeyProblem problem = KeyProblem::kNone;
  int error = 0;        // errno with kUnreadable
  std::string keyFile;  // the file the key was looked for in, as its bytes
  std::string detail;   // with kBadTokenUri: what is wrong with the URI
};

// "no private key file (signer.key)", "the private key is encrypted", ...,
// "the key file signer.key cannot be read: Permission denied"; empty for kNone.
std::wstring KeyProblemText(const KeyStatus& status);

// A key that can sign for the certificate: RSA and its own. Any other is
// kNotRsa or kMismatch; a null key is kNoKey.
KeyProblem CheckSigningKey(X509* certificate, EVP_PKEY* key);

}  // namespace brevick
