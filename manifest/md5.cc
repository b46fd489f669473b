// manifest/md5.cc: MD5 (RFC 1321).
//
// MD5 is one long serial chain: every step needs the result of the one before,
// so speed comes from keeping that chain short, not from doing less work. The
// 64 steps are written out in full with their constants so that the compiler
// keeps the four state words in registers and folds each word-plus-constant
// sum off the chain.
#include "manifest/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brevick {
namespace {

using Word = std::uint32_t;

[[gnu::always_inline]] inline Word RotateLeft(Word value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

// In each step the message word and the constant are added first: neither
// depends on the previous step, so that sum is ready before `b` is. Only the
// mixing function's last operation, the rotation and two additions are left
// on the chain.

// F(b, c, d) = (b & c) | (~b & d), written as d ^ (b & (c ^ d)): one
// operation fewer, and c ^ d does not wait for b.
[[gnu::always_inline]] inline void StepF(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
  a += x + t;
  a += d ^ (b & (c ^ d));
  a = RotateLeft(a, s) + b;
}

// G(b, c, d) = (b & d) | (c & ~d). The two halves never share a bit, so "|"
// may be "+", and c & ~d, which does not wait for b, is added on its own.
[[gnu::always_inline]] inline void StepG(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
  a += x + t;
  a += c & ~d;
  a += b & d;
  a = RotateLeft(a, s) + b;
}

[[gnu::always_inline]] inline void StepH(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
  a += x + t;
  a += b ^ (c ^ d);
  a = RotateLeft(a, s) + b;
}

[[gnu::always_inline]] inline void StepI(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
  a += x + t;
  a += c ^ (b | ~d);
  a = RotateLeft(a, s) + b;
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
  Word a = state[0];
  Word b = state[1];
  Word c = state[2];
  Word d = state[3];
  for (; blockCount > 0; --blockCount, blocks += kMd5BlockSizeInBytes) {
    Word x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadWord(blocks + 4 * i);
    const Word aa = a, bb = b, cc = c, dd = d;

    StepF(a, b, c, d, x[0], 0xd76aa478, 7);
    StepF(d, a, b, c, x[1], 0xe8c7b756, 12);
    StepF(c, d, a, b, x[2], 0x242070db, 17);
    StepF(b, c, d, a, x[3], 0xc1bdceee, 22);
    StepF(a, b, c, d, x[4], 0xf57c0faf, 7);
    StepF(d, a, b, c, x[5], 0x4787c62a, 12);
    StepF(c, d, a, b, x[6], 0xa8304613, 17);
    StepF(b, c, d, a, x[7], 0xfd469501, 22);
    StepF(a, b, c, d, x[8], 0x698098d8, 7);
    StepF(d, a, b, c, x[9], 0x8b44f7af, 12);
    StepF(c, d, a, b, x[10], 0xffff5bb1, 17);
    StepF(b, c, d, a, x[11], 0x895cd7be, 22);
    StepF(a, b, c, d, x[12], 0x6b901122, 7);
    StepF(d, a, b, c, x[13], 0xfd987193, 12);
    StepF(c, d, a, b, x[14], 0xa679438e, 17);
    StepF(b, c, d, a, x[15], 0x49b40821, 22);

    StepG(a, b, c, d, x[1], 0xf61e2562, 5);
    StepG(d, a, b, c, x[6], 0xc040b340, 9);
    StepG(c, d, a, b, x[11], 0x265e5a51, 14);
    StepG(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    StepG(a, b, c, d, x[5], 0xd62f105d, 5);
    StepG(d, a, b, c, x[10], 0x02441453, 9);
    StepG(c, d, a, b, x[15], 0xd8a1e681, 14);
    StepG(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    StepG(a, b, c, d, x[9], 0x21e1cde6, 5);
    StepG(d, a, b, c, x[14], 0xc33707d6, 9);
    StepG(c, d, a, b, x[3], 0xf4d50d87, 14);
    StepG(b, c, d, a, x[8], 0x455a14ed, 20);
    StepG(a, b, c, d, x[13], 0xa9e3e905, 5);
    StepG(d, a, b, c, x[2], 0xfcefa3f8, 9);
    StepG(c, d, a, b, x[7], 0x676f02d9, 14);
    StepG(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    StepH(a, b, c, d, x[5], 0xfffa3942, 4);
    StepH(d, a, b, c, x[8], 0x8771f681, 11);
    StepH(c, d, a, b, x[11], 0x6d9d6122, 16);
    StepH(b, c, d, a, x[14], 0xfde5380c, 23);
    StepH(a, b, c, d, x[1], 0xa4beea44, 4);
    StepH(d, a, b, c, x[4], 0x4bdecfa9, 11);
    StepH(c, d, a, b, x[7], 0xf6bb4b60, 16);
    StepH(b, c, d, a, x[10], 0xbebfbc70, 23);
    StepH(a, b, c, d, x[13], 0x289b7ec6, 4);
    StepH(d, a, b, c, x[0], 0xeaa127fa, 11);
    StepH(c, d, a, b, x[3], 0xd4ef3085, 16);
    StepH(b, c, d, a, x[6], 0x04881d05, 23);
    StepH(a, b, c, d, x[9], 0xd9d4d039, 4);
    StepH(d, a, b, c, x[12], 0xe6db99e5, 11);
    StepH(c, d, a, b, x[15], 0x1fa27cf8, 16);
    StepH(b, c, d, a, x[2], 0xc4ac5665, 23);

    StepI(a, b, c, d, x[0], 0xf4292244, 6);
    StepI(d, a, b, c, x[7], 0x432aff97, 10);
    StepI(c, d, a, b, x[14], 0xab9423a7, 15);
    StepI(b, c, d, a, x[5], 0xfc93a039, 21);
    StepI(a, b, c, d, x[12], 0x655b59c3, 6);
    StepI(d, a, b, c, x[3], 0x8f0ccc92, 10);
    StepI(c, d, a, b, x[10], 0xffeff47d, 15);
    StepI(b, c, d, a, x[1], 0x85845dd1, 21);
    StepI(a, b, c, d, x[8], 0x6fa87e4f, 6);
    StepI(d, a, b, c, x[15], 0xfe2ce6e0, 10);
    StepI(c, d, a, b, x[6], 0xa3014314, 15);
    StepI(b, c, d, a, x[13], 0x4e0811a1, 21);
    StepI(a, b, c, d, x[4], 0xf7537e82, 6);
    StepI(d, a, b, c, x[11], 0xbd3af235, 10);
    StepI(c, d, a, b, x[2], 0x2ad7d2bb, 15);
    StepI(b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace brevick
