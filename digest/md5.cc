// digest/md5.cc: MD5 (RFC 1321).
//
// MD5 is one long serial chain: every step needs the result of the one before,
// so speed comes from keeping that chain short, not from doing less work, and
// from running other messages' chains beside it when there are some (two
// scalar chains here, eight or sixteen vector lanes in md5_lanes.cc). The 64
// steps are written out in full with their constants so that the compiler
// keeps the state words in registers and folds each word-plus-constant sum
// off the chain.
#include "digest/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brevick {
namespace {

using Word = std::uint32_t;

constexpr std::size_t kFewestMessagesForVectors = 5;

[[gnu::always_inline]] inline Word RotateLeft(Word value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

// Each step works on `Lanes` messages at once, one independent chain per
// message: a core has room to run two chains side by side nearly as fast as
// one. The state words are arrays indexed by lane.
//
// In each step the message word and the constant are added first: neither
// depends on the previous step, so that sum is ready before `b` is. Only the
// mixing function's last operation, the rotation and two additions are left
// on the chain.

// F(b, c, d) = (b & c) | (~b & d), written as d ^ (b & (c ^ d)): one
// operation fewer, and c ^ d does not wait for b.
template <int Lanes>
[[gnu::always_inline]] inline void StepF(Word* a, const Word* b, const Word* c, const Word* d,
                                         const Word* x, int k, Word t, int s) {
  for (int lane = 0; lane < Lanes; ++lane) {
    a[lane] += x[16 * lane + k] + t;
    a[lane] += d[lane] ^ (b[lane] & (c[lane] ^ d[lane]));
    a[lane] = RotateLeft(a[lane], s) + b[lane];
  }
}

// G(b, c, d) = (b & d) | (c & ~d). The two halves never share a bit, so "|"
// may be "+", and c & ~d, which does not wait for b, is added on its own.
template <int Lanes>
[[gnu::always_inline]] inline void StepG(Word* a, const Word* b, const Word* c, const Word* d,
                                         const Word* x, int k, Word t, int s) {
  for (int lane = 0; lane < Lanes; ++lane) {
    a[lane] += x[16 * lane + k] + t;
    a[lane] += c[lane] & ~d[lane];
    a[lane] += b[lane] & d[lane];
    a[lane] = RotateLeft(a[lane], s) + b[lane];
  }
}

template <int Lanes>
[[gnu::always_inline]] inline void StepH(Word* a, const Word* b, const Word* c, const Word* d,
                                         const Word* x, int k, Word t, int s) {
  for (int lane = 0; lane < Lanes; ++lane) {
    a[lane] += x[16 * lane + k] + t;
    a[lane] += b[lane] ^ (c[lane] ^ d[lane]);
    a[lane] = RotateLeft(a[lane], s) + b[lane];
  }
}

template <int Lanes>
[[gnu::always_inline]] inline void StepI(Word* a, const Word* b, const Word* c, const Word* d,
                                         const Word* x, int k, Word t, int s) {
  for (int lane = 0; lane < Lanes; ++lane) {
    a[lane] += x[16 * lane + k] + t;
    a[lane] += c[lane] ^ (b[lane] | ~d[lane]);
    a[lane] = RotateLeft(a[lane], s) + b[lane];
  }
}

[[gnu::always_inline]] inline Word LoadWord(const std::uint8_t* bytes) {
  Word word;
  std::memcpy(&word, bytes, sizeof word);  // any alignment; MD5 words are little-endian
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  return word;
}

[[gnu::always_inline]] inline void StoreWord(std::uint8_t* bytes, Word word) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  std::memcpy(bytes, &word, sizeof word);
}

// The four rounds of 16 steps each.
template <int Lanes>
[[gnu::always_inline]] inline void RoundF(Word* a, Word* b, Word* c, Word* d, const Word* x) {
  StepF<Lanes>(a, b, c, d, x, 0, 0xd76aa478, 7);
  StepF<Lanes>(d, a, b, c, x, 1, 0xe8c7b756, 12);
  StepF<Lanes>(c, d, a, b, x, 2, 0x242070db, 17);
  StepF<Lanes>(b, c, d, a, x, 3, 0xc1bdceee, 22);
  StepF<Lanes>(a, b, c, d, x, 4, 0xf57c0faf, 7);
  StepF<Lanes>(d, a, b, c, x, 5, 0x4787c62a, 12);
  StepF<Lanes>(c, d, a, b, x, 6, 0xa8304613, 17);
  StepF<Lanes>(b, c, d, a, x, 7, 0xfd469501, 22);
  StepF<Lanes>(a, b, c, d, x, 8, 0x698098d8, 7);
  StepF<Lanes>(d, a, b, c, x, 9, 0x8b44f7af, 12);
  StepF<Lanes>(c, d, a, b, x, 10, 0xffff5bb1, 17);
  StepF<Lanes>(b, c, d, a, x, 11, 0x895cd7be, 22);
  StepF<Lanes>(a, b, c, d, x, 12, 0x6b901122, 7);
  StepF<Lanes>(d, a, b, c, x, 13, 0xfd987193, 12);
  StepF<Lanes>(c, d, a, b, x, 14, 0xa679438e, 17);
  StepF<Lanes>(b, c, d, a, x, 15, 0x49b40821, 22);
}

template <int Lanes>
[[gnu::always_inline]] inline void RoundG(Word* a, Word* b, Word* c, Word* d, const Word* x) {
  StepG<Lanes>(a, b, c, d, x, 1, 0xf61e2562, 5);
  StepG<Lanes>(d, a, b, c, x, 6, 0xc040b340, 9);
  StepG<Lanes>(c, d, a, b, x, 11, 0x265e5a51, 14);
  StepG<Lanes>(b, c, d, a, x, 0, 0xe9b6c7aa, 20);
  StepG<Lanes>(a, b, c, d, x, 5, 0xd62f105d, 5);
  StepG<Lanes>(d, a, b, c, x, 10, 0x02441453, 9);
  StepG<Lanes>(c, d, a, b, x, 15, 0xd8a1e681, 14);
  StepG<Lanes>(b, c, d, a, x, 4, 0xe7d3fbc8, 20);
  StepG<Lanes>(a, b, c, d, x, 9, 0x21e1cde6, 5);
  StepG<Lanes>(d, a, b, c, x, 14, 0xc33707d6, 9);
  StepG<Lanes>(c, d, a, b, x, 3, 0xf4d50d87, 14);
  StepG<Lanes>(b, c, d, a, x, 8, 0x455a14ed, 20);
  StepG<Lanes>(a, b, c, d, x, 13, 0xa9e3e905, 5);
  StepG<Lanes>(d, a, b, c, x, 2, 0xfcefa3f8, 9);
  StepG<Lanes>(c, d, a, b, x, 7, 0x676f02d9, 14);
  StepG<Lanes>(b, c, d, a, x, 12, 0x8d2a4c8a, 20);
}

template <int Lanes>
[[gnu::always_inline]] inline void RoundH(Word* a, Word* b, Word* c, Word* d, const Word* x) {
  StepH<Lanes>(a, b, c, d, x, 5, 0xfffa3942, 4);
  StepH<Lanes>(d, a, b, c, x, 8, 0x8771f681, 11);
  StepH<Lanes>(c, d, a, b, x, 11, 0x6d9d6122, 16);
  StepH<Lanes>(b, c, d, a, x, 14, 0xfde5380c, 23);
  StepH<Lanes>(a, b, c, d, x, 1, 0xa4beea44, 4);
  StepH<Lanes>(d, a, b, c, x, 4, 0x4bdecfa9, 11);
  StepH<Lanes>(c, d, a, b, x, 7, 0xf6bb4b60, 16);
  StepH<Lanes>(b, c, d, a, x, 10, 0xbebfbc70, 23);
  StepH<Lanes>(a, b, c, d, x, 13, 0x289b7ec6, 4);
  StepH<Lanes>(d, a, b, c, x, 0, 0xeaa127fa, 11);
  StepH<Lanes>(c, d, a, b, x, 3, 0xd4ef3085, 16);
  StepH<Lanes>(b, c, d, a, x, 6, 0x04881d05, 23);
  StepH<Lanes>(a, b, c, d, x, 9, 0xd9d4d039, 4);
  StepH<Lanes>(d, a, b, c, x, 12, 0xe6db99e5, 11);
  StepH<Lanes>(c, d, a, b, x, 15, 0x1fa27cf8, 16);
  StepH<Lanes>(b, c, d, a, x, 2, 0xc4ac5665, 23);
}

template <int Lanes>
[[gnu::always_inline]] inline void RoundI(Word* a, Word* b, Word* c, Word* d, const Word* x) {
  StepI<Lanes>(a, b, c, d, x, 0, 0xf4292244, 6);
  StepI<Lanes>(d, a, b, c, x, 7, 0x432aff97, 10);
  StepI<Lanes>(c, d, a, b, x, 14, 0xab9423a7, 15);
  StepI<Lanes>(b, c, d, a, x, 5, 0xfc93a039, 21);
  StepI<Lanes>(a, b, c, d, x, 12, 0x655b59c3, 6);
  StepI<Lanes>(d, a, b, c, x, 3, 0x8f0ccc92, 10);
  StepI<Lanes>(c, d, a, b, x, 10, 0xffeff47d, 15);
  StepI<Lanes>(b, c, d, a, x, 1, 0x85845dd1, 21);
  StepI<Lanes>(a, b, c, d, x, 8, 0x6fa87e4f, 6);
  StepI<Lanes>(d, a, b, c, x, 15, 0xfe2ce6e0, 10);
  StepI<Lanes>(c, d, a, b, x, 6, 0xa3014314, 15);
  StepI<Lanes>(b, c, d, a, x, 13, 0x4e0811a1, 21);
  StepI<Lanes>(a, b, c, d, x, 4, 0xf7537e82, 6);
  StepI<Lanes>(d, a, b, c, x, 11, 0xbd3af235, 10);
  StepI<Lanes>(c, d, a, b, x, 2, 0x2ad7d2bb, 15);
  StepI<Lanes>(b, c, d, a, x, 9, 0xeb86d391, 21);
}

// Runs the compression function over `blockCount` whole blocks of each of
// `Lanes` messages, `blocks[lane]` pointing at that message's blocks.
template <int Lanes>
void CompressBlocks(Word (*states)[4], const std::uint8_t* const* blocks, std::size_t blockCount) {
  Word a[Lanes], b[Lanes], c[Lanes], d[Lanes];
  for (int lane = 0; lane < Lanes; ++lane) {
    a[lane] = states[lane][0];
    b[lane] = states[lane][1];
    c[lane] = states[lane][2];
    d[lane] = states[lane][3];
  }
  for (std::size_t block = 0; block < blockCount; ++block) {
    Word x[16 * Lanes];
    for (int lane = 0; lane < Lanes; ++lane) {
      const std::uint8_t* words = blocks[lane] + block * kMd5BlockSizeInBytes;
      for (int i = 0; i < 16; ++i) x[16 * lane + i] = LoadWord(words + 4 * i);
    }
    Word aa[Lanes], bb[Lanes], cc[Lanes], dd[Lanes];
    for (int lane = 0; lane < Lanes; ++lane) {
      aa[lane] = a[lane];
      bb[lane] = b[lane];
      cc[lane] = c[lane];
      dd[lane] = d[lane];
    }

    RoundF<Lanes>(a, b, c, d, x);
    RoundG<Lanes>(a, b, c, d, x);
    RoundH<Lanes>(a, b, c, d, x);
    RoundI<Lanes>(a, b, c, d, x);

    for (int lane = 0; lane < Lanes; ++lane) {
      a[lane] += aa[lane];
      b[lane] += bb[lane];
      c[lane] += cc[lane];
      d[lane] += dd[lane];
    }
  }
  for (int lane = 0; lane < Lanes; ++lane) {
    states[lane][0] = a[lane];
    states[lane][1] = b[lane];
    states[lane][2] = c[lane];
    states[lane][3] = d[lane];
  }
}

}  // namespace

Md5::Md5() { Reset(); }

void Md5::Reset() {
  state[0] = 0x67452301;
  state[1] = 0xefcdab89;
  state[2] = 0x98badcfe;
  state[3] = 0x10325476;
  messageSizeInBytes = 0;
  pendingSizeInBytes = 0;
}

void Md5::Update(const void* data, std::size_t sizeInBytes) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  messageSizeInBytes += sizeInBytes;
  if (pendingSizeInBytes > 0) {
    const std::size_t taken = std::min(sizeInBytes, kMd5BlockSizeInBytes - pendingSizeInBytes);
    std::memcpy(pending + pendingSizeInBytes, bytes, taken);
    pendingSizeInBytes += taken;
    bytes += taken;
    sizeInBytes -= taken;
    if (pendingSizeInBytes < kMd5BlockSizeInBytes) return;
    ProcessBlocks(pending, 1);
    pendingSizeInBytes = 0;
  }
  // Whole blocks straight from the caller's buffer: no copy on the hot path.
  const std::size_t blockCount = sizeInBytes / kMd5BlockSizeInBytes;
  if (blockCount > 0) ProcessBlocks(bytes, blockCount);
  const std::size_t rest = sizeInBytes % kMd5BlockSizeInBytes;
  if (rest > 0) std::memcpy(pending, bytes + blockCount * kMd5BlockSizeInBytes, rest);
  pendingSizeInBytes = rest;
}

Md5Digest Md5::Final() {
  // The bit length is taken before the padding is fed, which would count it.
  const std::uint64_t messageSizeInBits = messageSizeInBytes * 8;
  std::uint8_t padding[2 * kMd5BlockSizeInBytes] = {0x80};
  // 0x80, then zeros up to 56 bytes past a block boundary, then the length.
  const std::size_t zerosAndMark = (pendingSizeInBytes < 56 ? 56 : 120) - pendingSizeInBytes;
  for (int i = 0; i < 8; ++i) {
    padding[zerosAndMark + i] = static_cast<std::uint8_t>(messageSizeInBits >> (8 * i));
  }
  Update(padding, zerosAndMark + 8);

  Md5Digest digest;
  for (int i = 0; i < 4; ++i) StoreWord(digest.data() + 4 * i, state[i]);
  Reset();
  return digest;
}

Md5Digest Md5::Of(const void* data, std::size_t sizeInBytes) {
  Md5 md5;
  md5.Update(data, sizeInBytes);
  return md5.Final();
}

void Md5::ProcessBlocks(const std::uint8_t* blocks, std::size_t blockCount) {
  CompressBlocks<1>(&state, &blocks, blockCount);
}

void Md5::UpdateLanes(Md5Kernel kernel, std::span<Md5* const> digests,
                      std::span<const std::uint8_t* const> blocks, std::size_t sizeInBytes) {
  const std::size_t blockCount = sizeInBytes / kMd5BlockSizeInBytes;
  const bool whole = std::none_of(digests.begin(), digests.end(),
                                  [](const Md5* md5) { return md5->pendingSizeInBytes != 0; });
  std::size_t done = 0;
  if (whole && blockCount > 0) {
    CompressLanes(kernel, digests, blocks, blockCount);
    done = blockCount * kMd5BlockSizeInBytes;
    for (Md5* md5 : digests) md5->messageSizeInBytes += done;
  }
  for (std::size_t i = 0; i < digests.size(); ++i)
    digests[i]->Update(blocks[i] + done, sizeInBytes - done);
}

void Md5::CompressLanes(Md5Kernel kernel, std::span<Md5* const> digests,
                        std::span<const std::uint8_t* const> blocks, std::size_t blockCount) {
  Word states[kMd5MaxLanes][4];
  const std::uint8_t* starts[kMd5MaxLanes];
  const std::size_t count = digests.size();
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(states[i], digests[i]->state, sizeof states[i]);
    starts[i] = blocks[i];
  }
  if (kernel == Md5Kernel::kAvx512 && !CpuHasAvx512()) kernel = Md5Kernel::kAvx2;
  if (kernel == Md5Kernel::kAvx2 && !CpuHasAvx2()) kernel = Md5Kernel::kTwoLanes;
  // A vector kernel's lanes outrun pairs of scalar chains from five
  // messages up (measured: sixteen lanes give 7x one chain, eight 2.8x, two
  // 2x); idle lanes digest the first message again, into states nobody reads.
  const bool vector = kernel == Md5Kernel::kAvx2 || kernel == Md5Kernel::kAvx512;
  if (vector && count >= kFewestMessagesForVectors) {
    for (std::size_t i = count; i < static_cast<std::size_t>(LaneCount(kernel)); ++i) {
      std::memcpy(states[i], states[0], sizeof states[i]);
      starts[i] = starts[0];
    }
    if (kernel == Md5Kernel::kAvx512)
      CompressSixteenLanesAvx512(states, starts, blockCount);
    else
      CompressEightLanesAvx2(states, starts, blockCount);
  } else {
    std::size_t i = 0;
    for (; kernel != Md5Kernel::kScalar && i + 2 <= count; i += 2)
      CompressBlocks<2>(states + i, starts + i, blockCount);
    for (; i < count; ++i) CompressBlocks<1>(states + i, starts + i, blockCount);
  }
  for (std::size_t i = 0; i < count; ++i)
    std::memcpy(digests[i]->state, states[i], sizeof states[i]);
}

}  // namespace brevick
