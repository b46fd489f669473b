// digest/md5.h: the MD5 message digest (RFC 1321), Brevick's own, used to
// fingerprint every module file in the release manifest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "digest/md5_lanes.h"

namespace brevick {

inline constexpr std::size_t kMd5DigestSizeInBytes = 16;
inline constexpr std::size_t kMd5BlockSizeInBytes = 64;

using Md5Digest = std::array<std::uint8_t, kMd5DigestSizeInBytes>;

// Incremental MD5: feed the message in pieces of any size with Update, then
// take the digest with Final. Holds at most one partial 64-byte block, so a
// message of any length is digested in constant memory.
class Md5 {
 public:
  Md5();

  void Update(const void* data, std::size_t sizeInBytes);
  // Pads, digests the rest and starts over, so the object can be reused.
  Md5Digest Final();

  // One-shot convenience for whole messages held in memory.
  static Md5Digest Of(const void* data, std::size_t sizeInBytes);

  // Feeds `sizeInBytes` bytes to each digest at once, digests[i] reading
  // blocks[i]: the same as digests[i]->Update(blocks[i], sizeInBytes) for
  // every i, but several times as fast where none holds a partial block,
  // since `kernel` runs the messages' serial chains side by side. At most
  // LaneCount(kernel) digests, all distinct; ChosenMd5Kernel() gives the
  // fastest kernel this CPU runs.
  static void UpdateLanes(Md5Kernel kernel, std::span<Md5* const> digests,
                          std::span<const std::uint8_t* const> blocks, std::size_t sizeInBytes);

 private:
  void Reset();
  // Runs the compression function over `blockCount` whole 64-byte blocks.
  void ProcessBlocks(const std::uint8_t* blocks, std::size_t blockCount);
  // The whole blocks of UpdateLanes, states taken and put back.
  static void CompressLanes(Md5Kernel kernel, std::span<Md5* const> digests,
                            std::span<const std::uint8_t* const> blocks, std::size_t blockCount);

  std::uint32_t state[4];
  std::uint64_t messageSizeInBytes;
  std::uint8_t pending[kMd5BlockSizeInBytes];  // the partial block not yet digested
  std::size_t pendingSizeInBytes;
};

}  // namespace brevick
