// pki/certificate_file.cc: PEM, DER and PKCS #12 decoding over OpenSSL.
#include "pki/certificate_file.h"

#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

namespace brevick {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(PkiFileResult::kCount)> kResultTexts = {
    "", "cannot be read", "holds no certificate", "does not decode"};

bool Holds(std::span<const std::uint8_t> bytes, std::string_view text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// Refuses every passphrase request, so an encrypted block fails to load
// instead of OpenSSL prompting on the terminal of an unattended build.
int RefusePassphrase(char* /*buffer*/, int /*size*/, int /*verify*/, void* /*userData*/) {
  return -1;
}

BioPtr MemoryBio(std::span<const std::uint8_t> bytes) {
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

// Every PEM block of the kind `readPem` reads; a block that does not decode
// fails the whole.
template <typename Ptr, typename PemRead>
PkiFileResult DecodePemBlocks(std::span<const std::uint8_t> bytes, std::vector<Ptr>& objects,
                              PemRead readPem) {
  const BioPtr bio = MemoryBio(bytes);
  if (!bio) return PkiFileResult::kCannotDecode;
  ERR_clear_error();
  while (auto* object = readPem(bio.get(), nullptr, RefusePassphrase, nullptr))
    objects.emplace_back(object);
  // The loop ends at the input's end ("no start line") or at a block that
  // does not decode; only the first is a clean end.
  const unsigned long last = ERR_peek_last_error();
  if (ERR_GET_LIB(last) != ERR_LIB_PEM || ERR_GET_REASON(last) != PEM_R_NO_START_LINE) {
    objects.clear();
    return PkiFileResult::kCannotDecode;
  }
  return objects.empty() ? PkiFileResult::kEmpty : PkiFileResult::kOk;
}

// PEM blocks when the bytes have a PEM start line, else one DER object that
// takes every byte.
template <typename Ptr, typename PemRead, typename DerRead>
PkiFileResult DecodePemOrDer(std::span<const std::uint8_t> bytes, std::vector<Ptr>& objects,
                             PemRead readPem, DerRead readDer) {
  const OpenSslErrorScope errors;
  objects.clear();
  if (bytes.empty()) return PkiFileResult::kEmpty;
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    return PkiFileResult::kCannotDecode;
  if (Holds(bytes, "-----BEGIN")) return DecodePemBlocks(bytes, objects, readPem);
  const unsigned char* next = bytes.data();
  Ptr object(readDer(nullptr, &next, static_cast<long>(bytes.size())));
  if (!object || next != bytes.data() + bytes.size()) return PkiFileResult::kCannotDecode;
  objects.push_back(std::move(object));
  return PkiFileResult::kOk;
}

template <typename Decode, typename Objects>
PkiFileResult ReadAndDecode(const std::string& path, Objects& objects, int& error,
                            std::uint64_t maxSizeInBytes, Decode decode) {
  objects.clear();
  error = 0;
  std::vector<std::uint8_t> bytes;
  const FileResult read = ReadRegularFile(AT_FDCWD, path, bytes, maxSizeInBytes);
  if (!read.Ok()) {
    error = read.error;
    return PkiFileResult::kCannotRead;
  }
  return decode(bytes, objects);
}

}  // namespace

const char* CertificateFileResultText(CertificateFileResult result) {
  return kResultTexts.at(static_cast<std::size_t>(result));
}

const char* CrlFileResultText(CrlFileResult result) {
  return result == PkiFileResult::kEmpty ? "holds no CRL" : CertificateFileResultText(result);
}

CertificateFileResult DecodeCertificates(std::span<const std::uint8_t> bytes,
                                         std::vector<X509Ptr>& certificates) {
  return DecodePemOrDer(bytes, certificates, PEM_read_bio_X509, d2i_X509);
}

CertificateFileResult ReadCertificateFile(const std::string& path,
                                          std::vector<X509Ptr>& certificates, int& error,
                                          std::uint64_t maxSizeInBytes) {
  return ReadAndDecode(path, certificates, error, maxSizeInBytes, DecodeCertificates);
}

CrlFileResult DecodeCrls(std::span<const std::uint8_t> bytes, std::vector<X509CrlPtr>& crls) {
  return DecodePemOrDer(bytes, crls, PEM_read_bio_X509_CRL, d2i_X509_CRL);
}

CrlFileResult ReadCrlFile(const std::string& path, std::vector<X509CrlPtr>& crls, int& error) {
  return ReadAndDecode(path, crls, error, kMaxBlockSizeInBytes, DecodeCrls);
}

X509Ptr DecodeStoreCertificate(std::span<const std::uint8_t> bytes) {
  const OpenSslErrorScope errors;
  // OpenSSL's PEM reader looks for this line; without it, asking OpenSSL
  // costs time for nothing, which adds up over a store full of junk.
  if (Holds(bytes, "-----BEGIN")) {
    if (const BioPtr bio = MemoryBio(bytes)) {
      if (X509Ptr pem{PEM_read_bio_X509(bio.get(), nullptr, RefusePassphrase, nullptr)}) return pem;
    }
  }
  const unsigned char* next = bytes.data();
  X509Ptr der{d2i_X509(nullptr, &next, static_cast<long>(bytes.size()))};
  if (!der || next != bytes.data() + bytes.size()) return nullptr;
  return der;
}

bool HoldsPemKey(std::span<const std::uint8_t> bytes) { return Holds(bytes, "PRIVATE KEY-----"); }

EvpPkeyPtr DecodePemKey(std::span<const std::uint8_t> bytes, KeyProblem& problem) {
  const OpenSslErrorScope errors;
  problem = KeyProblem::kUndecodable;
  if (!HoldsPemKey(bytes)) return nullptr;
  if (Holds(bytes, "ENCRYPTED PRIVATE KEY-----") || Holds(bytes, "Proc-Type: 4,ENCRYPTED")) {
    problem = KeyProblem::kEncrypted;
    return nullptr;
  }
  const BioPtr bio = MemoryBio(bytes);
  if (!bio) return nullptr;
  EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, RefusePassphrase, nullptr));
  if (key) problem = KeyProblem::kNone;
  return key;
}

std::optional<Pkcs12Contents> DecodePkcs12(std::span<const std::uint8_t> bytes) {
  const OpenSslErrorScope errors;
  const unsigned char* next = bytes.data();
  const Pkcs12Ptr bundle{d2i_PKCS12(nullptr, &next, static_cast<long>(bytes.size()))};
  if (!bundle) return std::nullopt;
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* others = nullptr;
  const bool parsed = PKCS12_parse(bundle.get(), "", &key, &certificate, &others) == 1;
  Pkcs12Contents contents{X509Ptr(certificate), EvpPkeyPtr(key)};
  const X509StackPtr ownedOthers(others);
  if (!parsed || !contents.certificate) return std::nullopt;
  return contents;
}

}  // namespace brevick
