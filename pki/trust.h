// pki/trust.h: whether a signer's certificate is trusted: anchors read
// from files, OpenSSL's chain verification now or at a time a timestamp
// proves, and the key usage a signing certificate must allow.
#pragma once

#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "pki/openssl_handles.h"

namespace brevick {

enum class CertificateFileResult {
  kOk,
  kCannotRead,    // with the errno in `error`
  kEmpty,         // no bytes, or PEM text without a certificate
  kCannotDecode,  // neither PEM certificates nor one DER certificate
  kCount
};

// "cannot be read", "holds no certificate", "does not decode"; empty for kOk.
const char* CertificateFileResultText(CertificateFileResult result);

// Every certificate of a file: PEM with one or more certificates (other PEM
// blocks and text between them are passed over), or one DER certificate.
// A PEM file with one certificate that does not decode fails as a whole, so
// that an anchor is never silently dropped. Only regular files are read; one
// larger than `maxSizeInBytes` is not (kCannotRead with EFBIG).
CertificateFileResult ReadCertificateFile(const std::string& path,
                                          std::vector<X509Ptr>& certificates, int& error,
                                          std::uint64_t maxSizeInBytes = kMaxBlockSizeInBytes);

struct ChainVerdict {
  bool trusted = false;
  std::string reason;  // OpenSSL's text for the failure; empty when trusted
  // The given anchor that vouched for the chain: the first certificate of
  // the chain, from the leaf up, that is one of the anchors.
  X509Ptr anchor;
  // The chain, leaf first and anchor last, when it was built.
  std::vector<X509Ptr> chain;
};

// Builds and checks a chain from `leaf` to one of `anchors` at `at` (the
// current time when absent), `intermediates` filling the gaps. Any anchor may
// end the chain, a self-signed root or not. A past time lets a signature that
// a timestamp dates be judged by the certificates as they were then.
ChainVerdict VerifyCertificateChain(X509* leaf, std::span<X509* const> intermediates,
                                    std::span<X509* const> anchors,
                                    std::optional<std::time_t> at = std::nullopt);

enum class SigningUsage {
  kAllowed,
  kNoDigitalSignature,  // a key usage extension without digitalSignature
  kNoCodeSigning,       // an extended key usage without codeSigning or anyExtendedKeyUsage
  kCount
};

const char* SigningUsageText(SigningUsage usage);

// Checks the key usage always, the extended key usage only when
// `requireCodeSigning` is set. Absent extensions allow everything.
SigningUsage CheckSigningUsage(X509* certificate, bool requireCodeSigning);

// Empty when `at` (the current time when absent) lies within the
// certificate's validity, else "certificate has expired" or "certificate is
// not yet valid".
std::string ValidityProblem(const X509* certificate, std::optional<std::time_t> at = std::nullopt);

}  // namespace brevick
