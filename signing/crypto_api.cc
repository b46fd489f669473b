// signing/crypto_api.cc: the crypto service over OpenSSL and the certificate
// stores, with the table of its result texts.
#include <openssl/crypto.h>

#include <array>

#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "signing/cert_store.h"
#include "signing/crypto.h"
#include "signing/openssl_handles.h"
#include "signing/signed_message.h"
#include "signing/signer.h"

namespace brevick {
namespace {

// Build logs are searched for these texts: each stays letter for letter.
constexpr std::array<const char*, 13> kCryptoErrorTexts = {
    "",                                                                  // 0
    "Can't open certificate store",                                      // 1
    "Can't sign data",                                                   // 2
    "Error decoding data.",                                              // 3
    "Cannot get the certificate.",                                       // 4
    "Error while verifying signature.",                                  // 5
    "Message signature failed verification.",                            // 6
    "Could not find the specified signing certificate.",                 // 7
    "Failed signature check. The data is not to be trusted.",            // 8
    "Could not find the default cryptographic provider on the system.",  // 9
    "Error while hashing data.",                                         // 10
    "",                                                                  // 11
    "",                                                                  // 12
};
static_assert(kCryptoErrorTexts.size() == static_cast<std::size_t>(CryptoResult::kCount),
              "one text per crypto result code");

}  // namespace

const char* CryptoErrorText(CryptoResult code) {
  const auto index = static_cast<std::size_t>(code);
  return index < kCryptoErrorTexts.size() ? kCryptoErrorTexts[index] : "";
}

std::string CryptoLibraryVersion() { return OpenSSL_version(OPENSSL_VERSION); }

void ReportCryptoError(CryptoResult code) { RecordError(ToWide(CryptoErrorText(code))); }

CryptoResult CryptoAPI::Sign(const std::wstring& subjectText, std::span<const std::uint8_t> data,
                             std::vector<std::uint8_t>& signedMessage,
                             const std::wstring& storeName, DigestAlgorithm digest) {
  const OpenSslErrorScope errorScope;
  signedMessage.clear();
  const std::optional<CertStore> store =
      CertStore::Open(storeName.empty() ? kDefaultStoreName : storeName);
  if (!store) return CryptoResult::kCannotOpenStore;
  SignerChoice choice;
  choice.subject = subjectText;
  const std::optional<StoredCertificate> signer = FindSigner(*store, choice).chosen;
  if (!signer || SimpleDisplayName(signer->certificate.get()).empty())
    return CryptoResult::kNoSigningCertificate;
  if (!signer->HasKey() || data.size() > kMaxBlockSizeInBytes) return CryptoResult::kCannotSign;
  if (!BuildSignedMessage(signer->certificate.get(), signer->privateKey.get(), data, digest,
                          signedMessage, signer->tokenKey ? &*signer->tokenKey : nullptr)) {
    return CryptoResult::kCannotSign;
  }
  return CryptoResult::kOk;
}

CryptoResult CryptoAPI::Verify(std::span<const std::uint8_t> signedMessage,
                               std::vector<std::uint8_t>& content) {
  const OpenSslErrorScope errorScope;
  return VerifySignedMessage(signedMessage, content);
}

CryptoResult CryptoAPI::Hash(std::span<const std::uint8_t> data,
                             std::vector<std::uint8_t>& digest) {
  const OpenSslErrorScope errorScope;
  digest.clear();
  const EvpMdPtr sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
  if (!sha1) return CryptoResult::kNoProvider;
  const EvpMdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), sha1.get(), nullptr) != 1)
    return CryptoResult::kCannotCreateHash;
  if (data.size() > kMaxBlockSizeInBytes ||
      EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1) {
    return CryptoResult::kHashingFailed;
  }
  const int size = EVP_MD_get_size(sha1.get());
  if (size <= 0) return CryptoResult::kCannotReadDigest;
  digest.resize(static_cast<std::size_t>(size));
  unsigned int written = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &written) != 1 || written != digest.size()) {
    digest.clear();
    return CryptoResult::kCannotReadDigest;
  }
  return CryptoResult::kOk;
}

}  // namespace brevick
