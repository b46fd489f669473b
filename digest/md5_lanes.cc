// digest/md5_lanes.cc: the eight-lane AVX2 and sixteen-lane AVX-512 MD5
// kernels and the run-time choice of kernel.
//
// Each kernel is compiled for its instructions by a target attribute on its
// functions alone, never by a flag for the whole file: code the compiler emits for
// shared inline functions must stay runnable on every x86-64 CPU, and only
// CpuHasAvx2() and CpuHasAvx512() decide whether a kernel runs.
#include "digest/md5_lanes.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "digest/wide_transpose.h"
#define BREVICK_MD5_AVX2 1
#endif

namespace brevick {

#if BREVICK_MD5_AVX2

namespace {

#define BREVICK_AVX2_INLINE [[gnu::always_inline, gnu::target("avx2")]] inline

using Vector = __m256i;

template <int Bits>
BREVICK_AVX2_INLINE Vector RotateLeft(Vector value) {
  return _mm256_or_si256(_mm256_slli_epi32(value, Bits), _mm256_srli_epi32(value, 32 - Bits));
}

BREVICK_AVX2_INLINE Vector Add(Vector x, Vector y) { return _mm256_add_epi32(x, y); }

// The four mixing functions, written as in the scalar kernel: the part that
// does not wait for `b` first.
BREVICK_AVX2_INLINE Vector MixF(Vector b, Vector c, Vector d) {
  return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
}
BREVICK_AVX2_INLINE Vector MixH(Vector b, Vector c, Vector d) {
  return _mm256_xor_si256(b, _mm256_xor_si256(c, d));
}
BREVICK_AVX2_INLINE Vector MixI(Vector b, Vector c, Vector d) {
  // c ^ (b | ~d): ~d as d ^ all-ones, since AVX2 has no "or not".
  return _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
}

// The constant of each of the 64 steps, eight times over: a vector load
// adds it, rather than instructions that spread it across the lanes.
alignas(32) constexpr std::uint32_t kStepConstants[64][8] = {
    {0xd76aa478, 0xd76aa478, 0xd76aa478, 0xd76aa478, 0xd76aa478, 0xd76aa478, 0xd76aa478,
     0xd76aa478},
    {0xe8c7b756, 0xe8c7b756, 0xe8c7b756, 0xe8c7b756, 0xe8c7b756, 0xe8c7b756, 0xe8c7b756,
     0xe8c7b756},
    {0x242070db, 0x242070db, 0x242070db, 0x242070db, 0x242070db, 0x242070db, 0x242070db,
     0x242070db},
    {0xc1bdceee, 0xc1bdceee, 0xc1bdceee, 0xc1bdceee, 0xc1bdceee, 0xc1bdceee, 0xc1bdceee,
     0xc1bdceee},
    {0xf57c0faf, 0xf57c0faf, 0xf57c0faf, 0xf57c0faf, 0xf57c0faf, 0xf57c0faf, 0xf57c0faf,
     0xf57c0faf},
    {0x4787c62a, 0x4787c62a, 0x4787c62a, 0x4787c62a, 0x4787c62a, 0x4787c62a, 0x4787c62a,
     0x4787c62a},
    {0xa8304613, 0xa8304613, 0xa8304613, 0xa8304613, 0xa8304613, 0xa8304613, 0xa8304613,
     0xa8304613},
    {0xfd469501, 0xfd469501, 0xfd469501, 0xfd469501, 0xfd469501, 0xfd469501, 0xfd469501,
     0xfd469501},
    {0x698098d8, 0x698098d8, 0x698098d8, 0x698098d8, 0x698098d8, 0x698098d8, 0x698098d8,
     0x698098d8},
    {0x8b44f7af, 0x8b44f7af, 0x8b44f7af, 0x8b44f7af, 0x8b44f7af, 0x8b44f7af, 0x8b44f7af,
     0x8b44f7af},
    {0xffff5bb1, 0xffff5bb1, 0xffff5bb1, 0xffff5bb1, 0xffff5bb1, 0xffff5bb1, 0xffff5bb1,
     0xffff5bb1},
    {0x895cd7be, 0x895cd7be, 0x895cd7be, 0x895cd7be, 0x895cd7be, 0x895cd7be, 0x895cd7be,
     0x895cd7be},
    {0x6b901122, 0x6b901122, 0x6b901122, 0x6b901122, 0x6b901122, 0x6b901122, 0x6b901122,
     0x6b901122},
    {0xfd987193, 0xfd987193, 0xfd987193, 0xfd987193, 0xfd987193, 0xfd987193, 0xfd987193,
     0xfd987193},
    {0xa679438e, 0xa679438e, 0xa679438e, 0xa679438e, 0xa679438e, 0xa679438e, 0xa679438e,
     0xa679438e},
    {0x49b40821, 0x49b40821, 0x49b40821, 0x49b40821, 0x49b40821, 0x49b40821, 0x49b40821,
     0x49b40821},
    {0xf61e2562, 0xf61e2562, 0xf61e2562, 0xf61e2562, 0xf61e2562, 0xf61e2562, 0xf61e2562,
     0xf61e2562},
    {0xc040b340, 0xc040b340, 0xc040b340, 0xc040b340, 0xc040b340, 0xc040b340, 0xc040b340,
     0xc040b340},
    {0x265e5a51, 0x265e5a51, 0x265e5a51, 0x265e5a51, 0x265e5a51, 0x265e5a51, 0x265e5a51,
     0x265e5a51},
    {0xe9b6c7aa, 0xe9b6c7aa, 0xe9b6c7aa, 0xe9b6c7aa, 0xe9b6c7aa, 0xe9b6c7aa, 0xe9b6c7aa,
     0xe9b6c7aa},
    {0xd62f105d, 0xd62f105d, 0xd62f105d, 0xd62f105d, 0xd62f105d, 0xd62f105d, 0xd62f105d,
     0xd62f105d},
    {0x02441453, 0x02441453, 0x02441453, 0x02441453, 0x02441453, 0x02441453, 0x02441453,
     0x02441453},
    {0xd8a1e681, 0xd8a1e681, 0xd8a1e681, 0xd8a1e681, 0xd8a1e681, 0xd8a1e681, 0xd8a1e681,
     0xd8a1e681},
    {0xe7d3fbc8, 0xe7d3fbc8, 0xe7d3fbc8, 0xe7d3fbc8, 0xe7d3fbc8, 0xe7d3fbc8, 0xe7d3fbc8,
     0xe7d3fbc8},
    {0x21e1cde6, 0x21e1cde6, 0x21e1cde6, 0x21e1cde6, 0x21e1cde6, 0x21e1cde6, 0x21e1cde6,
     0x21e1cde6},
    {0xc33707d6, 0xc33707d6, 0xc33707d6, 0xc33707d6, 0xc33707d6, 0xc33707d6, 0xc33707d6,
     0xc33707d6},
    {0xf4d50d87, 0xf4d50d87, 0xf4d50d87, 0xf4d50d87, 0xf4d50d87, 0xf4d50d87, 0xf4d50d87,
     0xf4d50d87},
    {0x455a14ed, 0x455a14ed, 0x455a14ed, 0x455a14ed, 0x455a14ed, 0x455a14ed, 0x455a14ed,
     0x455a14ed},
    {0xa9e3e905, 0xa9e3e905, 0xa9e3e905, 0xa9e3e905, 0xa9e3e905, 0xa9e3e905, 0xa9e3e905,
     0xa9e3e905},
    {0xfcefa3f8, 0xfcefa3f8, 0xfcefa3f8, 0xfcefa3f8, 0xfcefa3f8, 0xfcefa3f8, 0xfcefa3f8,
     0xfcefa3f8},
    {0x676f02d9, 0x676f02d9, 0x676f02d9, 0x676f02d9, 0x676f02d9, 0x676f02d9, 0x676f02d9,
     0x676f02d9},
    {0x8d2a4c8a, 0x8d2a4c8a, 0x8d2a4c8a, 0x8d2a4c8a, 0x8d2a4c8a, 0x8d2a4c8a, 0x8d2a4c8a,
     0x8d2a4c8a},
    {0xfffa3942, 0xfffa3942, 0xfffa3942, 0xfffa3942, 0xfffa3942, 0xfffa3942, 0xfffa3942,
     0xfffa3942},
    {0x8771f681, 0x8771f681, 0x8771f681, 0x8771f681, 0x8771f681, 0x8771f681, 0x8771f681,
     0x8771f681},
    {0x6d9d6122, 0x6d9d6122, 0x6d9d6122, 0x6d9d6122, 0x6d9d6122, 0x6d9d6122, 0x6d9d6122,
     0x6d9d6122},
    {0xfde5380c, 0xfde5380c, 0xfde5380c, 0xfde5380c, 0xfde5380c, 0xfde5380c, 0xfde5380c,
     0xfde5380c},
    {0xa4beea44, 0xa4beea44, 0xa4beea44, 0xa4beea44, 0xa4beea44, 0xa4beea44, 0xa4beea44,
     0xa4beea44},
    {0x4bdecfa9, 0x4bdecfa9, 0x4bdecfa9, 0x4bdecfa9, 0x4bdecfa9, 0x4bdecfa9, 0x4bdecfa9,
     0x4bdecfa9},
    {0xf6bb4b60, 0xf6bb4b60, 0xf6bb4b60, 0xf6bb4b60, 0xf6bb4b60, 0xf6bb4b60, 0xf6bb4b60,
     0xf6bb4b60},
    {0xbebfbc70, 0xbebfbc70, 0xbebfbc70, 0xbebfbc70, 0xbebfbc70, 0xbebfbc70, 0xbebfbc70,
     0xbebfbc70},
    {0x289b7ec6, 0x289b7ec6, 0x289b7ec6, 0x289b7ec6, 0x289b7ec6, 0x289b7ec6, 0x289b7ec6,
     0x289b7ec6},
    {0xeaa127fa, 0xeaa127fa, 0xeaa127fa, 0xeaa127fa, 0xeaa127fa, 0xeaa127fa, 0xeaa127fa,
     0xeaa127fa},
    {0xd4ef3085, 0xd4ef3085, 0xd4ef3085, 0xd4ef3085, 0xd4ef3085, 0xd4ef3085, 0xd4ef3085,
     0xd4ef3085},
    {0x04881d05, 0x04881d05, 0x04881d05, 0x04881d05, 0x04881d05, 0x04881d05, 0x04881d05,
     0x04881d05},
    {0xd9d4d039, 0xd9d4d039, 0xd9d4d039, 0xd9d4d039, 0xd9d4d039, 0xd9d4d039, 0xd9d4d039,
     0xd9d4d039},
    {0xe6db99e5, 0xe6db99e5, 0xe6db99e5, 0xe6db99e5, 0xe6db99e5, 0xe6db99e5, 0xe6db99e5,
     0xe6db99e5},
    {0x1fa27cf8, 0x1fa27cf8, 0x1fa27cf8, 0x1fa27cf8, 0x1fa27cf8, 0x1fa27cf8, 0x1fa27cf8,
     0x1fa27cf8},
    {0xc4ac5665, 0xc4ac5665, 0xc4ac5665, 0xc4ac5665, 0xc4ac5665, 0xc4ac5665, 0xc4ac5665,
     0xc4ac5665},
    {0xf4292244, 0xf4292244, 0xf4292244, 0xf4292244, 0xf4292244, 0xf4292244, 0xf4292244,
     0xf4292244},
    {0x432aff97, 0x432aff97, 0x432aff97, 0x432aff97, 0x432aff97, 0x432aff97, 0x432aff97,
     0x432aff97},
    {0xab9423a7, 0xab9423a7, 0xab9423a7, 0xab9423a7, 0xab9423a7, 0xab9423a7, 0xab9423a7,
     0xab9423a7},
    {0xfc93a039, 0xfc93a039, 0xfc93a039, 0xfc93a039, 0xfc93a039, 0xfc93a039, 0xfc93a039,
     0xfc93a039},
    {0x655b59c3, 0x655b59c3, 0x655b59c3, 0x655b59c3, 0x655b59c3, 0x655b59c3, 0x655b59c3,
     0x655b59c3},
    {0x8f0ccc92, 0x8f0ccc92, 0x8f0ccc92, 0x8f0ccc92, 0x8f0ccc92, 0x8f0ccc92, 0x8f0ccc92,
     0x8f0ccc92},
    {0xffeff47d, 0xffeff47d, 0xffeff47d, 0xffeff47d, 0xffeff47d, 0xffeff47d, 0xffeff47d,
     0xffeff47d},
    {0x85845dd1, 0x85845dd1, 0x85845dd1, 0x85845dd1, 0x85845dd1, 0x85845dd1, 0x85845dd1,
     0x85845dd1},
    {0x6fa87e4f, 0x6fa87e4f, 0x6fa87e4f, 0x6fa87e4f, 0x6fa87e4f, 0x6fa87e4f, 0x6fa87e4f,
     0x6fa87e4f},
    {0xfe2ce6e0, 0xfe2ce6e0, 0xfe2ce6e0, 0xfe2ce6e0, 0xfe2ce6e0, 0xfe2ce6e0, 0xfe2ce6e0,
     0xfe2ce6e0},
    {0xa3014314, 0xa3014314, 0xa3014314, 0xa3014314, 0xa3014314, 0xa3014314, 0xa3014314,
     0xa3014314},
    {0x4e0811a1, 0x4e0811a1, 0x4e0811a1, 0x4e0811a1, 0x4e0811a1, 0x4e0811a1, 0x4e0811a1,
     0x4e0811a1},
    {0xf7537e82, 0xf7537e82, 0xf7537e82, 0xf7537e82, 0xf7537e82, 0xf7537e82, 0xf7537e82,
     0xf7537e82},
    {0xbd3af235, 0xbd3af235, 0xbd3af235, 0xbd3af235, 0xbd3af235, 0xbd3af235, 0xbd3af235,
     0xbd3af235},
    {0x2ad7d2bb, 0x2ad7d2bb, 0x2ad7d2bb, 0x2ad7d2bb, 0x2ad7d2bb, 0x2ad7d2bb, 0x2ad7d2bb,
     0x2ad7d2bb},
    {0xeb86d391, 0xeb86d391, 0xeb86d391, 0xeb86d391, 0xeb86d391, 0xeb86d391, 0xeb86d391,
     0xeb86d391},
};

enum class Round { kF, kG, kH, kI };

template <Round R, int Bits>
BREVICK_AVX2_INLINE void Step(Vector& a, Vector b, Vector c, Vector d, Vector word, int step) {
  // The word plus the constant does not wait for the chain.
  a = Add(a, Add(word, _mm256_load_si256(reinterpret_cast<const Vector*>(kStepConstants[step]))));
  if constexpr (R == Round::kF) a = Add(a, MixF(b, c, d));
  if constexpr (R == Round::kG) {
    // c & ~d does not wait for b: added on its own, as the halves share no bit.
    a = Add(a, _mm256_andnot_si256(d, c));
    a = Add(a, _mm256_and_si256(b, d));
  }
  if constexpr (R == Round::kH) a = Add(a, MixH(b, c, d));
  if constexpr (R == Round::kI) a = Add(a, MixI(b, c, d));
  a = Add(RotateLeft<Bits>(a), b);
}

// Turns eight rows (one per message, eight words each) into eight columns
// (one per word, eight messages each).
BREVICK_AVX2_INLINE void Transpose(Vector* rows) {
  const Vector t0 = _mm256_unpacklo_epi32(rows[0], rows[1]);
  const Vector t1 = _mm256_unpackhi_epi32(rows[0], rows[1]);
  const Vector t2 = _mm256_unpacklo_epi32(rows[2], rows[3]);
  const Vector t3 = _mm256_unpackhi_epi32(rows[2], rows[3]);
  const Vector t4 = _mm256_unpacklo_epi32(rows[4], rows[5]);
  const Vector t5 = _mm256_unpackhi_epi32(rows[4], rows[5]);
  const Vector t6 = _mm256_unpacklo_epi32(rows[6], rows[7]);
  const Vector t7 = _mm256_unpackhi_epi32(rows[6], rows[7]);
  const Vector u0 = _mm256_unpacklo_epi64(t0, t2);
  const Vector u1 = _mm256_unpackhi_epi64(t0, t2);
  const Vector u2 = _mm256_unpacklo_epi64(t1, t3);
  const Vector u3 = _mm256_unpackhi_epi64(t1, t3);
  const Vector u4 = _mm256_unpacklo_epi64(t4, t6);
  const Vector u5 = _mm256_unpackhi_epi64(t4, t6);
  const Vector u6 = _mm256_unpacklo_epi64(t5, t7);
  const Vector u7 = _mm256_unpackhi_epi64(t5, t7);
  rows[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  rows[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  rows[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  rows[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  rows[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  rows[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  rows[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  rows[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// The sixteen words of one block of each message, word k of message i in
// lane i of x[k].
BREVICK_AVX2_INLINE void LoadWords(const std::uint8_t* const* blocks, std::size_t offset,
                                   Vector* x) {
  for (int lane = 0; lane < 8; ++lane) {
    const std::uint8_t* block = blocks[lane] + offset;
    x[lane] = _mm256_loadu_si256(reinterpret_cast<const Vector*>(block));
    x[8 + lane] = _mm256_loadu_si256(reinterpret_cast<const Vector*>(block + 32));
  }
  Transpose(x);
  Transpose(x + 8);
}

BREVICK_AVX2_INLINE void RoundF(Vector& a, Vector& b, Vector& c, Vector& d, const Vector* x) {
  using enum Round;
  Step<kF, 7>(a, b, c, d, x[0], 0);
  Step<kF, 12>(d, a, b, c, x[1], 1);
  Step<kF, 17>(c, d, a, b, x[2], 2);
  Step<kF, 22>(b, c, d, a, x[3], 3);
  Step<kF, 7>(a, b, c, d, x[4], 4);
  Step<kF, 12>(d, a, b, c, x[5], 5);
  Step<kF, 17>(c, d, a, b, x[6], 6);
  Step<kF, 22>(b, c, d, a, x[7], 7);
  Step<kF, 7>(a, b, c, d, x[8], 8);
  Step<kF, 12>(d, a, b, c, x[9], 9);
  Step<kF, 17>(c, d, a, b, x[10], 10);
  Step<kF, 22>(b, c, d, a, x[11], 11);
  Step<kF, 7>(a, b, c, d, x[12], 12);
  Step<kF, 12>(d, a, b, c, x[13], 13);
  Step<kF, 17>(c, d, a, b, x[14], 14);
  Step<kF, 22>(b, c, d, a, x[15], 15);
}

BREVICK_AVX2_INLINE void RoundG(Vector& a, Vector& b, Vector& c, Vector& d, const Vector* x) {
  using enum Round;
  Step<kG, 5>(a, b, c, d, x[1], 16);
  Step<kG, 9>(d, a, b, c, x[6], 17);
  Step<kG, 14>(c, d, a, b, x[11], 18);
  Step<kG, 20>(b, c, d, a, x[0], 19);
  Step<kG, 5>(a, b, c, d, x[5], 20);
  Step<kG, 9>(d, a, b, c, x[10], 21);
  Step<kG, 14>(c, d, a, b, x[15], 22);
  Step<kG, 20>(b, c, d, a, x[4], 23);
  Step<kG, 5>(a, b, c, d, x[9], 24);
  Step<kG, 9>(d, a, b, c, x[14], 25);
  Step<kG, 14>(c, d, a, b, x[3], 26);
  Step<kG, 20>(b, c, d, a, x[8], 27);
  Step<kG, 5>(a, b, c, d, x[13], 28);
  Step<kG, 9>(d, a, b, c, x[2], 29);
  Step<kG, 14>(c, d, a, b, x[7], 30);
  Step<kG, 20>(b, c, d, a, x[12], 31);
}

BREVICK_AVX2_INLINE void RoundH(Vector& a, Vector& b, Vector& c, Vector& d, const Vector* x) {
  using enum Round;
  Step<kH, 4>(a, b, c, d, x[5], 32);
  Step<kH, 11>(d, a, b, c, x[8], 33);
  Step<kH, 16>(c, d, a, b, x[11], 34);
  Step<kH, 23>(b, c, d, a, x[14], 35);
  Step<kH, 4>(a, b, c, d, x[1], 36);
  Step<kH, 11>(d, a, b, c, x[4], 37);
  Step<kH, 16>(c, d, a, b, x[7], 38);
  Step<kH, 23>(b, c, d, a, x[10], 39);
  Step<kH, 4>(a, b, c, d, x[13], 40);
  Step<kH, 11>(d, a, b, c, x[0], 41);
  Step<kH, 16>(c, d, a, b, x[3], 42);
  Step<kH, 23>(b, c, d, a, x[6], 43);
  Step<kH, 4>(a, b, c, d, x[9], 44);
  Step<kH, 11>(d, a, b, c, x[12], 45);
  Step<kH, 16>(c, d, a, b, x[15], 46);
  Step<kH, 23>(b, c, d, a, x[2], 47);
}

BREVICK_AVX2_INLINE void RoundI(Vector& a, Vector& b, Vector& c, Vector& d, const Vector* x) {
  using enum Round;
  Step<kI, 6>(a, b, c, d, x[0], 48);
  Step<kI, 10>(d, a, b, c, x[7], 49);
  Step<kI, 15>(c, d, a, b, x[14], 50);
  Step<kI, 21>(b, c, d, a, x[5], 51);
  Step<kI, 6>(a, b, c, d, x[12], 52);
  Step<kI, 10>(d, a, b, c, x[3], 53);
  Step<kI, 15>(c, d, a, b, x[10], 54);
  Step<kI, 21>(b, c, d, a, x[1], 55);
  Step<kI, 6>(a, b, c, d, x[8], 56);
  Step<kI, 10>(d, a, b, c, x[15], 57);
  Step<kI, 15>(c, d, a, b, x[6], 58);
  Step<kI, 21>(b, c, d, a, x[13], 59);
  Step<kI, 6>(a, b, c, d, x[4], 60);
  Step<kI, 10>(d, a, b, c, x[11], 61);
  Step<kI, 15>(c, d, a, b, x[2], 62);
  Step<kI, 21>(b, c, d, a, x[9], 63);
}

BREVICK_AVX2_INLINE void CompressOneBlock(Vector& a, Vector& b, Vector& c, Vector& d,
                                          const Vector* x) {
  const Vector aa = a, bb = b, cc = c, dd = d;
  RoundF(a, b, c, d, x);
  RoundG(a, b, c, d, x);
  RoundH(a, b, c, d, x);
  RoundI(a, b, c, d, x);
  a = Add(a, aa);
  b = Add(b, bb);
  c = Add(c, cc);
  d = Add(d, dd);
}

}  // namespace

[[gnu::target("avx2")]] void CompressEightLanesAvx2(std::uint32_t (*states)[4],
                                                    const std::uint8_t* const* blocks,
                                                    std::size_t blockCount) {
  alignas(32) std::uint32_t words[4][8];
  for (int lane = 0; lane < 8; ++lane) {
    for (int i = 0; i < 4; ++i) words[i][lane] = states[lane][i];
  }
  Vector a = _mm256_load_si256(reinterpret_cast<const Vector*>(words[0]));
  Vector b = _mm256_load_si256(reinterpret_cast<const Vector*>(words[1]));
  Vector c = _mm256_load_si256(reinterpret_cast<const Vector*>(words[2]));
  Vector d = _mm256_load_si256(reinterpret_cast<const Vector*>(words[3]));
  for (std::size_t block = 0; block < blockCount; ++block) {
    Vector x[16];
    LoadWords(blocks, block * 64, x);
    CompressOneBlock(a, b, c, d, x);
  }
  _mm256_store_si256(reinterpret_cast<Vector*>(words[0]), a);
  _mm256_store_si256(reinterpret_cast<Vector*>(words[1]), b);
  _mm256_store_si256(reinterpret_cast<Vector*>(words[2]), c);
  _mm256_store_si256(reinterpret_cast<Vector*>(words[3]), d);
  for (int lane = 0; lane < 8; ++lane) {
    for (int i = 0; i < 4; ++i) states[lane][i] = words[i][lane];
  }
}

bool CpuHasAvx2() {
  // Checks the operating system's support for the wide registers as well.
  static const bool hasAvx2 = __builtin_cpu_supports("avx2");
  return hasAvx2;
}

// The sixteen-lane kernel: AVX-512 rotates in one instruction (vprold) and
// mixes b, c and d in one (vpternlogd), so each step's chain is four
// instructions long where AVX2 needs seven, and each register holds twice
// the messages.
// GCC 12's AVX-512 unpack and shuffle intrinsics pass an undefined vector
// as their unused merge source, which it then warns of as maybe uninitialized
// wherever they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

#define BREVICK_AVX512_INLINE [[gnu::always_inline, gnu::target("avx512f")]] inline

using Wide = __m512i;

// The truth tables of F, G, H and I over (b, c, d) for vpternlogd, whose
// operands' bits index the table as b * 4 + c * 2 + d.
constexpr int kMixTables[4] = {0xCA, 0xE4, 0x96, 0x39};

template <Round R, int Bits, int Step>
BREVICK_AVX512_INLINE void WideStep(Wide& a, Wide b, Wide c, Wide d, Wide word) {
  constexpr int kConstant = static_cast<int>(kStepConstants[Step][0]);
  constexpr int kMix = kMixTables[static_cast<int>(R)];
  // The word plus the constant does not wait for the chain.
  a = _mm512_add_epi32(a, _mm512_add_epi32(word, _mm512_set1_epi32(kConstant)));
  a = _mm512_add_epi32(a, _mm512_ternarylogic_epi32(b, c, d, kMix));
  a = _mm512_add_epi32(_mm512_rol_epi32(a, Bits), b);
}

// The message words of each step, and its rotation, round by round.
constexpr int kWordOfStep[64] = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,  // F
                                 1, 6, 11, 0,  5,  10, 15, 4,  9,  14, 3,  8,  13, 2,  7,  12,  // G
                                 5, 8, 11, 14, 1,  4,  7,  10, 13, 0,  3,  6,  9,  12, 15, 2,   // H
                                 0, 7, 14, 5,  12, 3,  10, 1,  8,  15, 6,  13, 4,  11, 2,  9};  // I
constexpr int kRotations[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Four steps of round R from step `First`: a, d, c and b in turn.
template <Round R, int First>
BREVICK_AVX512_INLINE void WideQuad(Wide& a, Wide& b, Wide& c, Wide& d, const Wide* x) {
  constexpr int r = static_cast<int>(R);
  WideStep<R, kRotations[r][0], First>(a, b, c, d, x[kWordOfStep[First]]);
  WideStep<R, kRotations[r][1], First + 1>(d, a, b, c, x[kWordOfStep[First + 1]]);
  WideStep<R, kRotations[r][2], First + 2>(c, d, a, b, x[kWordOfStep[First + 2]]);
  WideStep<R, kRotations[r][3], First + 3>(b, c, d, a, x[kWordOfStep[First + 3]]);
}

template <Round R>
BREVICK_AVX512_INLINE void WideRound(Wide& a, Wide& b, Wide& c, Wide& d, const Wide* x) {
  constexpr int first = 16 * static_cast<int>(R);
  WideQuad<R, first>(a, b, c, d, x);
  WideQuad<R, first + 4>(a, b, c, d, x);
  WideQuad<R, first + 8>(a, b, c, d, x);
  WideQuad<R, first + 12>(a, b, c, d, x);
}

}  // namespace

[[gnu::target("avx512f")]] void CompressSixteenLanesAvx512(std::uint32_t (*states)[4],
                                                           const std::uint8_t* const* blocks,
                                                           std::size_t blockCount) {
  alignas(64) std::uint32_t words[4][16];
  for (int lane = 0; lane < 16; ++lane) {
    for (int i = 0; i < 4; ++i) words[i][lane] = states[lane][i];
  }
  Wide a = _mm512_load_si512(words[0]);
  Wide b = _mm512_load_si512(words[1]);
  Wide c = _mm512_load_si512(words[2]);
  Wide d = _mm512_load_si512(words[3]);
  for (std::size_t block = 0; block < blockCount; ++block) {
    Wide x[16];
    for (int lane = 0; lane < 16; ++lane) x[lane] = _mm512_loadu_si512(blocks[lane] + block * 64);
    TransposeWide(x);
    const Wide aa = a, bb = b, cc = c, dd = d;
    WideRound<Round::kF>(a, b, c, d, x);
    WideRound<Round::kG>(a, b, c, d, x);
    WideRound<Round::kH>(a, b, c, d, x);
    WideRound<Round::kI>(a, b, c, d, x);
    a = _mm512_add_epi32(a, aa);
    b = _mm512_add_epi32(b, bb);
    c = _mm512_add_epi32(c, cc);
    d = _mm512_add_epi32(d, dd);
  }
  _mm512_store_si512(words[0], a);
  _mm512_store_si512(words[1], b);
  _mm512_store_si512(words[2], c);
  _mm512_store_si512(words[3], d);
  for (int lane = 0; lane < 16; ++lane) {
    for (int i = 0; i < 4; ++i) states[lane][i] = words[i][lane];
  }
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool CpuHasAvx512() {
  // Checks the operating system's support for the wide registers as well.
  static const bool hasAvx512 = __builtin_cpu_supports("avx512f");
  return hasAvx512;
}

#else

void CompressEightLanesAvx2(std::uint32_t (*)[4], const std::uint8_t* const*, std::size_t) {
  std::abort();  // never chosen: CpuHasAvx2() is false
}

bool CpuHasAvx2() { return false; }

void CompressSixteenLanesAvx512(std::uint32_t (*)[4], const std::uint8_t* const*, std::size_t) {
  std::abort();  // never chosen: CpuHasAvx512() is false
}

bool CpuHasAvx512() { return false; }

#endif

Md5Kernel ChosenMd5Kernel() {
  const Md5Kernel widest = CpuHasAvx512() ? Md5Kernel::kAvx512
                           : CpuHasAvx2() ? Md5Kernel::kAvx2
                                          : Md5Kernel::kTwoLanes;
  const char* forced = std::getenv("BREVICK_MD5_LANES");
  if (forced == nullptr) return widest;
  const std::string_view lanes(forced);
  if (lanes == "1") return Md5Kernel::kScalar;
  if (lanes == "2" || lanes == "plain") return Md5Kernel::kTwoLanes;
  if (lanes == "8" && CpuHasAvx2()) return Md5Kernel::kAvx2;
  return widest;
}

}  // namespace brevick
