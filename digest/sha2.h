// digest/sha2.h: SHA-256, SHA-384 and SHA-512 of module files: SHA-256 by
// Brevick's own kernel where the CPU has the SHA extensions, the rest by
// OpenSSL. The only place below cms/ that calls OpenSSL's digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "digest/digest_algorithm.h"
#include "digest/sha256_lanes.h"

namespace brevick {

// Incremental SHA-2 digest: Update with pieces of any size, then Final.
// An object built for DigestAlgorithm::kMd2 digests nothing and gives an
// empty digest, so that a caller can feed it unconditionally.
class Sha2 {
 public:
  explicit Sha2(DigestAlgorithm algorithm);
  ~Sha2();
  Sha2(const Sha2&) = delete;
  Sha2& operator=(const Sha2&) = delete;

  // False after OpenSSL failed (then Final gives an empty digest).
  bool Ok() const { return ok; }
  void Update(const void* data, std::size_t sizeInBytes);
  // Starts a new message, as if just built, without allocating again.
  void Restart();
  // The digest (32, 48 or 64 bytes); empty for kMd2 or after a failure.
  std::vector<std::uint8_t> Final();
  // The SHA-256 state this object feeds, when it is Brevick's own rather
  // than OpenSSL's: callers with several messages under way may feed those
  // side by side (Sha256::UpdateStreams) instead of calling Update.
  Sha256* Own();

 private:
  struct Context;
  std::unique_ptr<Context> context;
  bool ok = true;
};

}  // namespace brevick
