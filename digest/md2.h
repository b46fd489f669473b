// digest/md2.h: the MD2 message digest (RFC 1319). OpenSSL 3 no longer
// carries MD2, yet the signed manifest format is fixed to it, so Brevick
// keeps its own, as it keeps its own MD5.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace brevick {

inline constexpr std::size_t kMd2DigestSizeInBytes = 16;
using Md2Digest = std::array<std::uint8_t, kMd2DigestSizeInBytes>;

// Incremental MD2: feed any number of Update calls, then Finish once.
class Md2 {
 public:
  void Update(std::span<const std::uint8_t> data);
  // Pads, folds in the checksum and returns the digest; the object is spent.
  Md2Digest Finish();

 private:
  static constexpr std::size_t kBlockSizeInBytes = 16;
  void CompressBlock(const std::uint8_t* block);

  std::array<std::uint8_t, 48> state{};
  std::array<std::uint8_t, kBlockSizeInBytes> checksum{};
  std::array<std::uint8_t, kBlockSizeInBytes> pending{};
  std::size_t pendingSizeInBytes = 0;
};

Md2Digest ComputeMd2(std::span<const std::uint8_t> data);

}  // namespace brevick
