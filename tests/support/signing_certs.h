// tests/support/signing_certs.h: throwaway keys, certificates and
// certificate stores for the signing tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cms/signed_message.h"
#include "digest/digest_algorithm.h"
#include "pki/openssl_handles.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {

using SubjectEntries = std::vector<std::pair<std::string, std::string>>;  // field, UTF-8 value

// One of four 1024-bit RSA keys kept in tests/data/signing; index 0 to 3.
// The caller does not own it.
EVP_PKEY* TestRsaKey(int index);
EvpPkeyPtr MakeEcKey();

// What a certificate carries beyond its key and subject. Extensions are in
// OpenSSL's configuration syntax ("critical,CA:TRUE", "codeSigning", ...);
// an empty one is left out.
struct CertSpec {
  long serial = 1;
  X509* issuer = nullptr;         // null: self-signed
  EVP_PKEY* issuerKey = nullptr;  // the issuer's key; null when self-signed
  long notBeforeDays = 0;         // relative to now
  long notAfterDays = 365;        // relative to now; negative: already expired
  long notAfterSeconds = 0;       // added to notAfterDays
  std::string basicConstraints = {};
  std::string keyUsage = {};
  std::string extendedKeyUsage = {};
  std::string altNameEmail = {};           // a subjectAltName email
  std::string crlDistributionPoints = {};  // "URI:http://..."
};
X509Ptr MakeCertificate(EVP_PKEY* key, const SubjectEntries& subject, const CertSpec& spec = {});

// The 2048-bit signer kept in tests/data/signing (valid until 2126, key
// usage digitalSignature, extended key usage codeSigning), and its key.
X509Ptr FixedSignerCertificate();
EvpPkeyPtr FixedSignerKey();
std::filesystem::path TestDataPath(const std::string& relative);
X509Ptr ReadPemCertificate(const std::filesystem::path& file);

std::string PemOf(X509* certificate);
std::string DerOf(X509* certificate);
// PKCS #8 PEM; encrypted with AES-256-CBC when a password is given.
std::string PemOf(EVP_PKEY* key, const char* password = nullptr);
// PKCS #12 with the empty password.
std::string Pkcs12Of(X509* certificate, EVP_PKEY* key);

// Sets (or, given nothing, unsets) an environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name;
  std::optional<std::string> saved;
};

// A data home in a temporary directory, pointed at by XDG_DATA_HOME while it
// lives, with helpers that fill its stores.
class StoreHome {
 public:
  StoreHome();

  const std::filesystem::path& Root() const { return temp.Path(); }
  std::filesystem::path StoresDirectory() const { return Root() / "brevick" / "certstores"; }
  // Creates the store directory (and the stores directory) when missing.
  void AddStore(const std::string& store) const { create_directories(StoresDirectory() / store); }
  void AddFile(const std::string& store, const std::string& fileName,
               const std::string& bytes) const;
  // Certificate and key in one PEM file.
  void AddPemWithKey(const std::string& store, const std::string& fileName, X509* certificate,
                     EVP_PKEY* key) const;

 private:
  TempDir temp;
  ScopedEnv dataHome;
};

// The whole signed message over `content` as the signing stage makes it: its
// frame around the content. Empty when signing fails.
std::vector<std::uint8_t> SignedMessage(X509* certificate, EVP_PKEY* key,
                                        std::span<const std::uint8_t> content,
                                        DigestAlgorithm algorithm = DigestAlgorithm::kMd2);
// The message a frame makes around `content`.
std::vector<std::uint8_t> Joined(const SignedMessageFrame& frame,
                                 std::span<const std::uint8_t> content);

}  // namespace brevick::testing
