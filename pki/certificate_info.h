// pki/certificate_info.h: everything Brevick reads from a certificate, in one
// place so that every mode shows a field the same way: thumbprints and their
// parsing, names, serial number, times and validity, the uses the certificate
// allows, the key's description, and whether a key can sign for it. Where the
// store listing and the verify report show a field in different documented
// forms, one function renders both, named by a style. Pure functions over
// OpenSSL objects; nothing here prints, records or reads files.
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
inline constexpr std::size_t kSha1ThumbprintSize = 20;
inline constexpr std::size_t kSha256ThumbprintSize = 32;

// The digest of the certificate's DER encoding; empty if it cannot be encoded.
std::vector<std::uint8_t> Thumbprint(const X509* certificate, ThumbprintKind kind);

// Uppercase hexadecimal, two digits a byte, no separators: the listing's form.
std::wstring ThumbprintText(std::span<const std::uint8_t> bytes);

// The lowercase hexadecimal SHA-256 thumbprint, the form the verify report
// shows and `--signer` compares; empty when it cannot be computed.
std::string Sha256Thumbprint(const X509* certificate);

// Reads a thumbprint as operators paste it, for every option that takes one:
// 40 or 64 hexadecimal digits in either letter case, with any colons, blanks
// and tabs among them. Nothing for any other text.
std::optional<std::vector<std::uint8_t>> ParseThumbprint(std::wstring_view text);

// Whether the certificate's thumbprint of the wanted's length (20: SHA-1,
// 32: SHA-256) equals `wanted`.
bool HasThumbprint(const X509* certificate, std::span<const std::uint8_t> wanted);

enum class Validity { kCurrent, kNotYetValid, kExpired };

// The certificate's validity at `now`; a time that cannot be read counts as
// outside the period, on the side of the field it is in.
Validity ValidityAt(const X509* certificate, std::time_t now);

// The two documented forms of a time: the store listing's
// "2026-01-31 12:00:00 UTC" and the verify report's "2026-01-31T12:00:00Z".
enum class TimeStyle { kListing, kRfc3339 };

// The time in UTC. One that cannot be read is "(unreadable)" in the
// listing's style, which an operator reads, and empty in the report's, which
// a program reads.
std::string TimeText(const ASN1_TIME* time, TimeStyle style);
std::string TimeText(std::time_t time, TimeStyle style);
// The time as seconds since the epoch; nothing when it cannot be read.
std::optional<std::time_t> TimeOf(const ASN1_TIME* time);

// The verify report's forms, which most callers want.
inline std::string Rfc3339Time(const ASN1_TIME* time) {
  return TimeText(time, TimeStyle::kRfc3339);
}
inline std::string UtcTimeText(std::time_t time) { return TimeText(time, TimeStyle::kRfc3339); }

// The serial number in uppercase hexadecimal, as certificate tools show it;
// empty when it cannot be read.
std::string SerialText(const X509* certificate);
// Any ASN.1 integer in that form (a timestamp's serial, say).
std::string IntegerText(const ASN1_INTEGER* integer);

// A name's attribute values in certificate order, joined with ", ": how a
// subject is matched and listed.
std::wstring NameValuesText(const X509_NAME* name);
std::wstring SubjectText(const X509* certificate);
std::wstring IssuerText(const X509* certificate);

// A name in RFC 2253 form ("CN=Signer,O=Example"), UTF-8 kept as it is: how
// the verify report names a certificate. Empty when it cannot be rendered.
std::string DistinguishedNameText(const X509_NAME* name);

// The first commonName, organizationalUnitName, organizationName or
// emailAddress of the subject, in that order of preference; else the first
// e-mail address of subjectAltName; else the empty text.
std::wstring SimpleDisplayName(const X509* certificate);

// False only when a key usage extension is present without digitalSignature.
bool KeyUsageAllowsSigning(X509* certificate);

// False only when an extended key usage extension is present with neither
// codeSigning nor anyExtendedKeyUsage.
bool ExtendedKeyUsageAllowsCodeSigning(X509* certificate);

// The key's size in bits when it is RSA, else 0.
int RsaKeyBits(const EVP_PKEY* key);

// The listing's "RSA 2048 bits", "EC prime256v1 256 bits" ("unknown" without
// a key), and the verify report's "RSA 2048", "EC 256" (empty without one).
enum class KeyStyle { kListing, kReport };
std::string KeyDescription(const EVP_PKEY* key, KeyStyle style);

// What a recipient is shown about a certificate, as plain UTF-8 text.
struct SignerDetails {
  std::string subject;    // RFC 2253 form, UTF-8: "CN=Signer,O=Example"
  std::string issuer;     // the same form
  std::string serial;     // uppercase hexadecimal, no separators
  std::string sha256;     // lowercase hexadecimal thumbprint of the DER certificate
  std::string sha1;       // the same with SHA-1
  std::string notBefore;  // "2026-01-31T12:00:00Z"
  std::string notAfter;
  std::string key;  // "RSA 2048", "EC 256", ...
};

// Never fails: a field OpenSSL cannot render is left empty.
SignerDetails DescribeCertificate(const X509* certificate);

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
