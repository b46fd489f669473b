// pki/crypto_result.cc: the texts of the crypto result codes.
#include "pki/crypto_result.h"

#include <openssl/crypto.h>

#include <array>

namespace brevick {
namespace {

// Build logs are searched for these texts: each stays letter for letter.
constexpr std::array<const char*, 9> kCryptoErrorTexts = {
    "",                                                        // 0
    "Can't open certificate store",                            // 1
    "Can't sign data",                                         // 2
    "Error decoding data.",                                    // 3
    "Cannot get the certificate.",                             // 4
    "Error while verifying signature.",                        // 5
    "Message signature failed verification.",                  // 6
    "Could not find the specified signing certificate.",       // 7
    "Failed signature check. The data is not to be trusted.",  // 8
};
static_assert(kCryptoErrorTexts.size() == static_cast<std::size_t>(CryptoResult::kCount),
              "one text per crypto result code");

}  // namespace

const char* CryptoErrorText(CryptoResult code) {
  const auto index = static_cast<std::size_t>(code);
  return index < kCryptoErrorTexts.size() ? kCryptoErrorTexts[index] : "";
}

std::string CryptoLibraryVersion() { return OpenSSL_version(OPENSSL_VERSION); }

}  // namespace brevick
