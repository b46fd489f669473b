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

// Crypto result codes.
inline constexpr int kCryptoOk = 0;
inline constexpr int kCryptoCannotOpenStore = 1;
inline constexpr int kCryptoCannotSign = 2;
inline constexpr int kCryptoCannotDecode = 3;
inline constexpr int kCryptoNoSignerCertificate = 4;
inline constexpr int kCryptoCannotReadSigner = 5;
inline constexpr int kCryptoSignatureMismatch = 6;
inline constexpr int kCryptoNoSigningCertificate = 7;
inline constexpr int kCryptoNotSignedMessage = 8;
inline constexpr int kCryptoNoProvider = 9;
inline constexpr int kCryptoHashingFailed = 10;
inline constexpr int kCryptoCannotCreateHash = 11;
inline constexpr int kCryptoCannotReadDigest = 12;

// The store Sign uses when it is given no store name.
inline constexpr wchar_t kDefaultStoreName[] = L"MY";

// The operator's text for a result code; the empty text for 0, 11, 12 and
// any code outside the table.
const char* CryptoErrorText(int code);

// Records the text of the code in the error list (the empty text included).
void ReportCryptoError(int code);

class Crypto {
 public:
  virtual ~Crypto() = default;

  // Signs `data` with the first certificate of the store (the empty name
  // means "MY") whose subject contains `subjectText`. Returns 0 and the
  // message in `signedMessage`, or 1, 2 or 7 with `signedMessage` empty.
  virtual int Sign(const std::wstring& subjectText, std::span<const std::uint8_t> data,
                   std::vector<std::uint8_t>& signedMessage, const std::wstring& storeName) = 0;

  // Checks the signature of a message made by Sign against the certificate
  // it carries (no chain, validity or trust check). Returns 0, 1, 3, 4, 5, 6
  // or 8; `content` holds the signed content with 0 and 6, else is empty.
  virtual int Verify(std::span<const std::uint8_t> signedMessage, std::vector<std::uint8_t>& content) = 0;

  // SHA-1 of `data`. Returns 0 with the 20-byte digest, or 9, 10, 11 or 12.
  virtual int Hash(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& digest) = 0;
};

// The service over OpenSSL and the certificate stores. Holds nothing between
// calls; make one where it is needed.
class CryptoAPI : public Crypto {
 public:
  int Sign(const std::wstring& subjectText, std::span<const std::uint8_t> data,
           std::vector<std::uint8_t>& signedMessage, const std::wstring& storeName) override;
  int Verify(std::span<const std::uint8_t> signedMessage, std::vector<std::uint8_t>& content) override;
  int Hash(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& digest) override;
};

}  // namespace brevick
