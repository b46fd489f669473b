// digest/md2.cc: MD2. The 18 rounds over the 48-byte state are one long chain
// of dependent S-box look-ups, so speed comes from keeping that chain short:
// a look-up, an xor, and straight on to the next look-up.
#include "digest/md2.h"

#include <algorithm>
#include <cstring>

namespace brevick {
namespace {

// The permutation of 0..255 built from the digits of pi.
constexpr std::uint8_t kPiSubstitution[256] = {
    0x29, 0x2e, 0x43, 0xc9, 0xa2, 0xd8, 0x7c, 0x01, 0x3d, 0x36, 0x54, 0xa1, 0xec, 0xf0, 0x06, 0x13,
    0x62, 0xa7, 0x05, 0xf3, 0xc0, 0xc7, 0x73, 0x8c, 0x98, 0x93, 0x2b, 0xd9, 0xbc, 0x4c, 0x82, 0xca,
    0x1e, 0x9b, 0x57, 0x3c, 0xfd, 0xd4, 0xe0, 0x16, 0x67, 0x42, 0x6f, 0x18, 0x8a, 0x17, 0xe5, 0x12,
    0xbe, 0x4e, 0xc4, 0xd6, 0xda, 0x9e, 0xde, 0x49, 0xa0, 0xfb, 0xf5, 0x8e, 0xbb, 0x2f, 0xee, 0x7a,
    0xa9, 0x68, 0x79, 0x91, 0x15, 0xb2, 0x07, 0x3f, 0x94, 0xc2, 0x10, 0x89, 0x0b, 0x22, 0x5f, 0x21,
    0x80, 0x7f, 0x5d, 0x9a, 0x5a, 0x90, 0x32, 0x27, 0x35, 0x3e, 0xcc, 0xe7, 0xbf, 0xf7, 0x97, 0x03,
    0xff, 0x19, 0x30, 0xb3, 0x48, 0xa5, 0xb5, 0xd1, 0xd7, 0x5e, 0x92, 0x2a, 0xac, 0x56, 0xaa, 0xc6,
    0x4f, 0xb8, 0x38, 0xd2, 0x96, 0xa4, 0x7d, 0xb6, 0x76, 0xfc, 0x6b, 0xe2, 0x9c, 0x74, 0x04, 0xf1,
    0x45, 0x9d, 0x70, 0x59, 0x64, 0x71, 0x87, 0x20, 0x86, 0x5b, 0xcf, 0x65, 0xe6, 0x2d, 0xa8, 0x02,
    0x1b, 0x60, 0x25, 0xad, 0xae, 0xb0, 0xb9, 0xf6, 0x1c, 0x46, 0x61, 0x69, 0x34, 0x40, 0x7e, 0x0f,
    0x55, 0x47, 0xa3, 0x23, 0xdd, 0x51, 0xaf, 0x3a, 0xc3, 0x5c, 0xf9, 0xce, 0xba, 0xc5, 0xea, 0x26,
    0x2c, 0x53, 0x0d, 0x6e, 0x85, 0x28, 0x84, 0x09, 0xd3, 0xdf, 0xcd, 0xf4, 0x41, 0x81, 0x4d, 0x52,
    0x6a, 0xdc, 0x37, 0xc8, 0x6c, 0xc1, 0xab, 0xfa, 0x24, 0xe1, 0x7b, 0x08, 0x0c, 0xbd, 0xb1, 0x4a,
    0x78, 0x88, 0x95, 0x8b, 0xe3, 0x63, 0xe8, 0x6d, 0xe9, 0xcb, 0xd5, 0xfe, 0x3b, 0x00, 0x1d, 0x39,
    0xf2, 0xef, 0xb7, 0x0e, 0x66, 0x58, 0xd0, 0xe4, 0xa6, 0x77, 0x72, 0xf8, 0xeb, 0x75, 0x4b, 0x0a,
    0x31, 0x44, 0x50, 0xb4, 0x8f, 0xed, 0x1f, 0x1a, 0xdb, 0x99, 0x8d, 0x33, 0x9f, 0x11, 0x83, 0x14,
};

constexpr unsigned kRounds = 18;

// The S-box again, each entry times 8 in a whole word, in a table aligned so
// that its address has the low 11 bits clear. The state then lives as that
// address or-ed with 8 times each byte: one entry's value xor a state word is
// the address of the next entry to read, so a step is a load from the previous
// result with plain base addressing and one xor (4 + 1 cycles on the AMD EPYC
// we build on; a base+index load, as a byte table needs, is a cycle slower),
// with nothing to scale or zero-extend between one look-up and the next.
constexpr std::uintptr_t kScale = 8;
constexpr std::uintptr_t kEntryBits = 0xff * kScale;
struct alignas(256 * kScale) ScaledSubstitution {
  std::uintptr_t entry[256];
};
constexpr ScaledSubstitution kScaledPi = [] {
  ScaledSubstitution table{};
  for (std::size_t j = 0; j < 256; ++j) table.entry[j] = kPiSubstitution[j] * kScale;
  return table;
}();

// The word at an address built from the table's address and 8 times an
// index. Turning that integer back into a pointer is the point of the scheme;
// what it can cost the optimiser (not knowing which object is read) does not
// matter for a read-only table.
inline std::uintptr_t EntryAt(std::uintptr_t address) {
  return *reinterpret_cast<const std::uintptr_t*>(address);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

void Md2::Update(std::span<const std::uint8_t> data) {
  const std::uint8_t* next = data.data();
  std::size_t left = data.size();
  if (pendingSizeInBytes > 0) {
    const std::size_t take = std::min(left, kBlockSizeInBytes - pendingSizeInBytes);
    std::memcpy(pending.data() + pendingSizeInBytes, next, take);
    pendingSizeInBytes += take;
    next += take;
    left -= take;
    if (pendingSizeInBytes < kBlockSizeInBytes) return;
    CompressBlock(pending.data());
    pendingSizeInBytes = 0;
  }
  for (; left >= kBlockSizeInBytes; next += kBlockSizeInBytes, left -= kBlockSizeInBytes) {
    CompressBlock(next);
  }
  if (left > 0) std::memcpy(pending.data(), next, left);
  pendingSizeInBytes = left;
}

Md2Digest Md2::Finish() {
  // Always at least one byte of padding, each byte holding the pad length.
  const auto padSize = static_cast<std::uint8_t>(kBlockSizeInBytes - pendingSizeInBytes);
  std::memset(pending.data() + pendingSizeInBytes, padSize, padSize);
  CompressBlock(pending.data());
  const std::array<std::uint8_t, kBlockSizeInBytes> finalChecksum = checksum;
  CompressBlock(finalChecksum.data());
  Md2Digest digest;
  std::memcpy(digest.data(), state.data(), digest.size());
  return digest;
}

void Md2::CompressBlock(const std::uint8_t* block) {
  const auto base = reinterpret_cast<std::uintptr_t>(kScaledPi.entry);
  std::uintptr_t x[48];
  for (std::size_t j = 0; j < 16; ++j) {
    x[j] = base | state[j] * kScale;
    x[16 + j] = base | block[j] * kScale;
    x[32 + j] = base | static_cast<std::uintptr_t>(block[j] ^ state[j]) * kScale;
  }
  // The step t = x[k] ^= S[t] is the whole cost of MD2: written out 48 times
  // so that the loop counter and the index arithmetic leave the chain, and
  // reading one array while writing the other, round by round, so that the
  // compiler keeps t (here p, the address of entry t) in a register instead of
  // xor-ing into memory and loading the word back, which would put a
  // store-to-load forward on every step.
#define BREVICK_MD2_STEP(to, from, k) \
  p = EntryAt(p) ^ (from)[k];         \
  (to)[k] = p
#define BREVICK_MD2_STEP8(to, from, k) \
  BREVICK_MD2_STEP(to, from, (k));     \
  BREVICK_MD2_STEP(to, from, (k) + 1); \
  BREVICK_MD2_STEP(to, from, (k) + 2); \
  BREVICK_MD2_STEP(to, from, (k) + 3); \
  BREVICK_MD2_STEP(to, from, (k) + 4); \
  BREVICK_MD2_STEP(to, from, (k) + 5); \
  BREVICK_MD2_STEP(to, from, (k) + 6); \
  BREVICK_MD2_STEP(to, from, (k) + 7)
#define BREVICK_MD2_ROUND(to, from) \
  BREVICK_MD2_STEP8(to, from, 0);   \
  BREVICK_MD2_STEP8(to, from, 8);   \
  BREVICK_MD2_STEP8(to, from, 16);  \
  BREVICK_MD2_STEP8(to, from, 24);  \
  BREVICK_MD2_STEP8(to, from, 32);  \
  BREVICK_MD2_STEP8(to, from, 40)
  std::uintptr_t y[48];
  std::uintptr_t p = base;  // t = 0; t moves by the round number between rounds
  static_assert(kRounds % 2 == 0, "rounds go in pairs, x to y and back");
  for (unsigned round = 0; round < kRounds; round += 2) {
    BREVICK_MD2_ROUND(y, x);
    p = base | ((p + round * kScale) & kEntryBits);
    BREVICK_MD2_ROUND(x, y);
    p = base | ((p + (round + 1) * kScale) & kEntryBits);
  }
#undef BREVICK_MD2_ROUND
#undef BREVICK_MD2_STEP8
#undef BREVICK_MD2_STEP
  for (std::size_t j = 0; j < state.size(); ++j) {
    state[j] = static_cast<std::uint8_t>((x[j] & kEntryBits) / kScale);
  }

  // The checksum runs beside the state; its previous byte chains the block in.
  std::uint8_t last = checksum[15];
  for (std::size_t j = 0; j < 16; ++j) {
    checksum[j] ^= kPiSubstitution[block[j] ^ last];
    last = checksum[j];
  }
}

Md2Digest ComputeMd2(std::span<const std::uint8_t> data) {
  Md2 md2;
  md2.Update(data);
  return md2.Finish();
}

}  // namespace brevick
