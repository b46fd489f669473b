// digest/sha256_lanes.h: SHA-256 on the CPU's SHA extensions, several
// messages side by side.
//
// The SHA-256 round instruction takes several cycles to give its result but
// can start again sooner, so one message's chain leaves the unit idle most of
// the time: interleaving the rounds of independent messages (the files a
// hashing thread has under way) fills it. Where the CPU lacks the extensions,
// SHA-256 stays with OpenSSL (Sha2 chooses).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace brevick {

inline constexpr std::size_t kSha256BlockSizeInBytes = 64;
inline constexpr std::size_t kSha256DigestSizeInBytes = 32;
// The most messages interleaved on the SHA extensions, and the messages of
// the AVX-512 kernel.
inline constexpr int kSha256MaxStreams = 4;
inline constexpr int kSha256WideLanes = 16;

using Sha256Digest = std::array<std::uint8_t, kSha256DigestSizeInBytes>;

// Whether this CPU runs the SHA extensions (and SSE4.1, which their use needs).
bool CpuHasShaNi();
// Whether this CPU (and its operating system) runs AVX-512 F and BW code.
bool CpuHasAvx512Bw();

// Whether SHA-256 is computed here rather than by OpenSSL: where the CPU has
// the SHA extensions, unless BREVICK_MD5_LANES is "plain" (the path of a CPU
// without any of the extensions the digests use). Read on every call, so that
// tests can switch paths in-process.
bool UseOwnSha256();

// Incremental SHA-256 on the SHA extensions: only to be used where
// CpuHasShaNi(). Holds at most one partial block.
class Sha256 {
 public:
  Sha256() { Reset(); }

  void Update(const void* data, std::size_t sizeInBytes);
  // Pads, digests the rest and starts over, so the object can be reused.
  Sha256Digest Final();

  // Feeds `sizeInBytes` bytes to each digest, digests[i] reading blocks[i]:
  // the same as digests[i]->Update(blocks[i], sizeInBytes) for every i, but
  // the messages' whole blocks go through the compression function several
  // at once: up to `streams` (1, 2 or 4) interleaved on the SHA extensions,
  // or sixteen in AVX-512 lanes when `streams` is 16 (and the CPU has them,
  // else four); 0 picks the fastest for this CPU and this many messages.
  // Digests all distinct.
  static void UpdateStreams(std::span<Sha256* const> digests,
                            std::span<const std::uint8_t* const> blocks, std::size_t sizeInBytes,
                            int streams = 0);

 private:
  void Reset();

  std::uint32_t state[8];
  std::uint64_t messageSizeInBytes;
  std::uint8_t pending[kSha256BlockSizeInBytes];  // the partial block not yet digested
  std::size_t pendingSizeInBytes;
};

}  // namespace brevick
