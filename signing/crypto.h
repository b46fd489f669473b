// signing/crypto.h: the crypto service. Signs bytes with a certificate of the
// current user's stores, verifies such a signed message, and hashes. Every
// operation returns a crypto result code and never prints or throws, except
// std::bad_alloc, which goes up to the entry.
//
// The signed form is an attached PKCS #7 signed-data message (DER) carrying
// the signer's certificate, digested with MD2.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brevick {

// Crypto result codes. The numbers are the service's own, kept because test
// tables and peers read them.
enum class CryptoResult : int {
  kOk = 0,
  kCannotOpenStore = 1,
  kCannotSign = 2,
  kCannotDecode = 3,
  kNoSignerCertificate = 4,
  kCannotReadSigner = 5,
  kSignatureMismatch = 6,
  kNoSigningCertificate = 7,
  kNotSignedMessage = 8,
  kNoProvider = 9,
  kHashingFailed = 10,
  kCannotCreateHash = 11,
  kCannotReadDigest = 12,
  kCount  // not a result: the size of the text table
};

// The store Sign uses when it is given no store name.
inline constexpr wchar_t kDefaultStoreName[] = L"MY";

// The operator's text for a result; the empty text for kOk,
// kCannotCreateHash and kCannotReadDigest.
const char* CryptoErrorText(CryptoResult code);

// Records the text of the result in the error list (the empty text included).
void ReportCryptoError(CryptoResult code);

// The name and version of the cryptography library in use, as it reports
// itself ("OpenSSL 3.0.x ...").
std::string CryptoLibraryVersion();

// The service over OpenSSL and the certificate stores. Holds nothing between
// calls; make one where it is needed.
class CryptoAPI {
 public:
  // Signs `data` with the first certificate of the store (the empty name
  // means "MY") whose subject contains `subjectText`. Returns kOk and the
  // message in `signedMessage`, or kCannotOpenStore, kCannotSign or
  // kNoSigningCertificate with `signedMessage` empty.
  CryptoResult Sign(const std::wstring& subjectText, std::span<const std::uint8_t> data,
                    std::vector<std::uint8_t>& signedMessage, const std::wstring& storeName);

  // The same for data whose DigestInfo (Md2DigestInfo of signed_message.h)
  // the caller has computed already: the data is not digested again.
  CryptoResult Sign(const std::wstring& subjectText, std::span<const std::uint8_t> data,
                    std::span<const std::uint8_t> digestInfo,
                    std::vector<std::uint8_t>& signedMessage, const std::wstring& storeName);

  // Checks the signature of a message made by Sign against the certificate
  // it carries (no chain, validity or trust check). `content` holds the
  // signed content with kOk and kSignatureMismatch, else is empty.
  CryptoResult Verify(std::span<const std::uint8_t> signedMessage,
                      std::vector<std::uint8_t>& content);

  // SHA-1 of `data`: kOk with the 20-byte digest, or kNoProvider,
  // kHashingFailed, kCannotCreateHash or kCannotReadDigest.
  CryptoResult Hash(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& digest);
};

}  // namespace brevick
