// pki/crypto_result.h: the result codes of signing and checking a signed
// message, with their fixed texts. Operations that return one never print or
// throw, except std::bad_alloc, which goes up to the entry.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "digest/digest_algorithm.h"

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
  kCount  // not a result: the size of the text table
};

// The store signing opens when it is given no store name.
inline constexpr wchar_t kDefaultStoreName[] = L"MY";

// The operator's text for a result; the empty text for kOk.
const char* CryptoErrorText(CryptoResult code);

// The name and version of the cryptography library in use, as it reports
// itself ("OpenSSL 3.0.x ...").
std::string CryptoLibraryVersion();

}  // namespace brevick
