// pki/certificate_file.h: the one loader of certificates, keys and CRLs from
// the bytes of files (PEM, DER, PKCS #12), for trust files, CRL files and
// store files alike, so that every reader accepts and refuses the same. A
// trust or CRL file fails as a whole when one of its PEM blocks does not
// decode, so that an anchor or a revocation is never silently dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "pki/certificate_info.h"
#include "pki/openssl_handles.h"

namespace brevick {

enum class PkiFileResult {
  kOk,
  kCannotRead,    // with the errno in `error`
  kEmpty,         // no bytes, or PEM text without an object of the kind wanted
  kCannotDecode,  // neither PEM blocks that all decode nor one DER object
  kCount
};
// The names callers use for what they read.
using CertificateFileResult = PkiFileResult;
using CrlFileResult = PkiFileResult;

// "cannot be read", "holds no certificate", "does not decode"; empty for kOk.
const char* CertificateFileResultText(CertificateFileResult result);
// The same, with "holds no CRL".
const char* CrlFileResultText(CrlFileResult result);

// Every certificate in `bytes`: PEM with one or more certificates (other PEM
// blocks and text between them are passed over), or one DER certificate.
CertificateFileResult DecodeCertificates(std::span<const std::uint8_t> bytes,
                                         std::vector<X509Ptr>& certificates);

// DecodeCertificates over a regular file's bytes; a file larger than
// `maxSizeInBytes` is not read (kCannotRead with EFBIG).
CertificateFileResult ReadCertificateFile(const std::string& path,
                                          std::vector<X509Ptr>& certificates, int& error,
                                          std::uint64_t maxSizeInBytes = kMaxBlockSizeInBytes);

// Every CRL in `bytes`, read as DecodeCertificates reads certificates.
CrlFileResult DecodeCrls(std::span<const std::uint8_t> bytes, std::vector<X509CrlPtr>& crls);

// DecodeCrls over a regular file's bytes.
CrlFileResult ReadCrlFile(const std::string& path, std::vector<X509CrlPtr>& crls, int& error);

// The certificate of a store's certificate file: its first PEM certificate,
// else the whole file as one DER certificate; null when neither decodes.
X509Ptr DecodeStoreCertificate(std::span<const std::uint8_t> bytes);

// Whether the bytes hold a PEM private key block, encrypted or not.
bool HoldsPemKey(std::span<const std::uint8_t> bytes);

// The PEM private key in `bytes`, or null and why there is none usable
// (kEncrypted or kUndecodable). A passphrase is never asked for.
EvpPkeyPtr DecodePemKey(std::span<const std::uint8_t> bytes, KeyProblem& problem);

struct Pkcs12Contents {
  X509Ptr certificate;
  EvpPkeyPtr key;  // null when the bundle holds none
};

// A PKCS #12 bundle with the empty password; nothing when it does not decode
// or holds no certificate.
std::optional<Pkcs12Contents> DecodePkcs12(std::span<const std::uint8_t> bytes);

}  // namespace brevick
