// tests/support/signing_certs.cc
#include "tests/support/signing_certs.h"

#include <openssl/pem.h>
#include <stdlib.h>

#include <array>
#include <functional>
#include <stdexcept>

#include "cms/signed_message.h"

namespace brevick::testing {
namespace {

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

// What `write` (PEM_write_bio_X509, i2d_X509_bio, ...) puts in a memory BIO.
std::string Written(const std::function<int(BIO*)>& write, const char* what) {
  const BioPtr bio(BIO_new(BIO_s_mem()));
  Require(bio && write(bio.get()) == 1, what);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

EvpPkeyPtr ReadKey(const std::string& relative) {
  const BioPtr bio(BIO_new_file(TestDataPath(relative).c_str(), "r"));
  EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  Require(key != nullptr, "a test key");
  return key;
}

void SetOrUnset(const char* name, const std::optional<std::string>& value) {
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

}  // namespace

// Read from tests/data rather than generated: every test process needs them,
// and generating four keys costs more than most tests.
EVP_PKEY* TestRsaKey(int index) {
  static std::array<EvpPkeyPtr, 4> keys;
  EvpPkeyPtr& key = keys.at(static_cast<std::size_t>(index));
  if (!key) key = ReadKey("signing/test_key_" + std::to_string(index) + ".pem");
  Require(EVP_PKEY_get_bits(key.get()) == 1024, "test RSA key");
  return key.get();
}

EvpPkeyPtr MakeEcKey() {
  EvpPkeyPtr key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "EC key generation");
  return key;
}

X509Ptr MakeCertificate(EVP_PKEY* key, const SubjectEntries& subject, const CertSpec& spec) {
  constexpr long kDay = 3600L * 24;
  X509Ptr cert(X509_new());
  Require(cert && X509_set_version(cert.get(), 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), spec.serial) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(cert.get()), spec.notBeforeDays * kDay) &&
              X509_gmtime_adj(X509_getm_notAfter(cert.get()),
                              spec.notAfterDays * kDay + spec.notAfterSeconds) &&
              X509_set_pubkey(cert.get(), key) == 1,
          "certificate fields");
  X509_NAME* name = X509_get_subject_name(cert.get());
  for (const auto& [field, value] : subject) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.c_str());
    Require(X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8, bytes, -1, -1, 0) == 1,
            "subject entry");
  }
  X509* issuer = spec.issuer != nullptr ? spec.issuer : cert.get();
  Require(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer)) == 1, "issuer");
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, cert.get(), nullptr, nullptr, 0);
  const std::string altName = spec.altNameEmail.empty() ? "" : "email:" + spec.altNameEmail;
  const std::pair<int, const std::string*> extensions[] = {
      {NID_basic_constraints, &spec.basicConstraints},
      {NID_key_usage, &spec.keyUsage},
      {NID_ext_key_usage, &spec.extendedKeyUsage},
      {NID_subject_alt_name, &altName},
      {NID_crl_distribution_points, &spec.crlDistributionPoints},
  };
  for (const auto& [nid, value] : extensions) {
    if (value->empty()) continue;
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value->c_str());
    Require(extension != nullptr && X509_add_ext(cert.get(), extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
  }
  EVP_PKEY* signingKey = spec.issuerKey != nullptr ? spec.issuerKey : key;
  Require(X509_sign(cert.get(), signingKey, EVP_sha256()) > 0, "certificate signature");
  return cert;
}

std::filesystem::path TestDataPath(const std::string& relative) {
  return std::filesystem::path(BREVICK_TEST_DATA) / relative;
}

X509Ptr ReadPemCertificate(const std::filesystem::path& file) {
  const BioPtr bio(BIO_new_file(file.c_str(), "r"));
  X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  Require(cert != nullptr, "a PEM certificate");
  return cert;
}

X509Ptr FixedSignerCertificate() {
  return ReadPemCertificate(TestDataPath("signing/fixed_signer.crt"));
}

EvpPkeyPtr FixedSignerKey() { return ReadKey("signing/fixed_signer.key"); }

std::string PemOf(X509* certificate) {
  return Written([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate); }, "PEM certificate");
}

std::string DerOf(X509* certificate) {
  return Written([&](BIO* bio) { return i2d_X509_bio(bio, certificate); }, "DER certificate");
}

std::string PemOf(EVP_PKEY* key, const char* password) {
  const EVP_CIPHER* cipher = password != nullptr ? EVP_aes_256_cbc() : nullptr;
  return Written(
      [&](BIO* bio) {
        return PEM_write_bio_PKCS8PrivateKey(bio, key, cipher, password, 0, nullptr,
                                             const_cast<char*>(password));
      },
      "PEM key");
}

std::string Pkcs12Of(X509* certificate, EVP_PKEY* key) {
  const Pkcs12Ptr bundle(PKCS12_create("", "test", key, certificate, nullptr, 0, 0, 0, 0, 0));
  return Written([&](BIO* bio) { return bundle ? i2d_PKCS12_bio(bio, bundle.get()) : 0; },
                 "PKCS #12");
}

ScopedEnv::ScopedEnv(const char* variable, const std::optional<std::string>& value)
    : name(variable) {
  if (const char* old = getenv(variable)) saved = old;
  SetOrUnset(variable, value);
}

ScopedEnv::~ScopedEnv() { SetOrUnset(name.c_str(), saved); }

StoreHome::StoreHome() : dataHome("XDG_DATA_HOME", temp.Path().string()) {}

void StoreHome::AddFile(const std::string& store, const std::string& fileName,
                        const std::string& bytes) const {
  temp.WriteFile("brevick/certstores/" + store + "/" + fileName, bytes);
}

void StoreHome::AddPemWithKey(const std::string& store, const std::string& fileName,
                              X509* certificate, EVP_PKEY* key) const {
  AddFile(store, fileName, PemOf(certificate) + PemOf(key));
}

std::vector<std::uint8_t> Joined(const SignedMessageFrame& frame,
                                 std::span<const std::uint8_t> content) {
  std::vector<std::uint8_t> message = frame.head;
  message.insert(message.end(), content.begin(), content.end());
  message.insert(message.end(), frame.tail.begin(), frame.tail.end());
  return message;
}

std::vector<std::uint8_t> SignedMessage(X509* certificate, EVP_PKEY* key,
                                        std::span<const std::uint8_t> content,
                                        DigestAlgorithm algorithm) {
  const std::vector<std::uint8_t> digestInfo = DigestInfo(algorithm, content);
  SignedMessageFrame frame;
  if (digestInfo.empty() ||
      !BuildSignedMessageFrame(certificate, key, content.size(), algorithm, digestInfo, frame)) {
    return {};
  }
  return Joined(frame, content);
}

}  // namespace brevick::testing
