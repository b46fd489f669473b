// Fuzzes signature verification on arbitrary bytes; the seeds are real signed
// manifests, so mutations reach every field of the message.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "signing/crypto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> content;
  const brevick::CryptoResult code = brevick::CryptoAPI().Verify(std::span(data, size), content);
  // Content is handed out exactly with success and with a failed signature.
  const bool gaveContent =
      code == brevick::CryptoResult::kOk || code == brevick::CryptoResult::kSignatureMismatch;
  if (!gaveContent && !content.empty()) __builtin_trap();
  return 0;
}
