// digest/sha256_lanes.cc: SHA-256 (FIPS 180-4): on the SHA extensions one,
// two or four messages interleaved, in AVX-512 registers sixteen at once, and
// the padding of each message alone.
//
// As with the MD5 kernels, each kernel is compiled for its instructions by a
// target attribute on its functions alone, so that nothing the compiler
// shares with other files needs them; only CpuHasShaNi() and
// CpuHasAvx512Bw() decide whether one runs.
#include "digest/sha256_lanes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

#include "digest/wide_transpose.h"
#define BREVICK_SHA_NI 1
#endif

namespace brevick {
namespace {

#if BREVICK_SHA_NI

#define BREVICK_SHA_INLINE [[gnu::always_inline, gnu::target("sha,sse4.1")]] inline
#define BREVICK_SHA_TARGET [[gnu::target("sha,sse4.1")]]

alignas(16) constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The state as the round instruction keeps it: A, B, E, F in one register
// and C, D, G, H in the other, each with its first word highest.
struct Halves {
  __m128i abef;
  __m128i cdgh;
};

BREVICK_SHA_INLINE Halves LoadState(const std::uint32_t* state) {
  const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)),
                                         0xB1);  // C D A B, lowest first
  const __m128i efgh =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  return {_mm_alignr_epi8(dcba, efgh, 8), _mm_blend_epi16(efgh, dcba, 0xF0)};
}

BREVICK_SHA_INLINE void StoreState(Halves halves, std::uint32_t* state) {
  const __m128i feba = _mm_shuffle_epi32(halves.abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(halves.cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// Four rounds of group `G` (0 to 15) for each of `N` messages: first the
// group's four schedule words (loaded for the first four groups, expanded from
// the four groups before for the rest, which `words` holds by group modulo 4),
// then the rounds.
template <int N, int G>
BREVICK_SHA_INLINE void Group(Halves* halves, __m128i (*words)[N],
                              const std::uint8_t* const* blocks, std::size_t offset) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i constants =
      _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * G));
  for (int s = 0; s < N; ++s) {
    __m128i& w = words[G % 4][s];
    if constexpr (G < 4) {
      w = _mm_shuffle_epi8(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[s] + offset + 16 * G)), byteSwap);
    } else {
      const __m128i previous = words[(G + 3) % 4][s];
      const __m128i sevenBack = _mm_alignr_epi8(previous, words[(G + 2) % 4][s], 4);
      w = _mm_sha256msg2_epu32(
          _mm_add_epi32(_mm_sha256msg1_epu32(w, words[(G + 1) % 4][s]), sevenBack), previous);
    }
    const __m128i input = _mm_add_epi32(w, constants);
    halves[s].cdgh = _mm_sha256rnds2_epu32(halves[s].cdgh, halves[s].abef, input);
    halves[s].abef =
        _mm_sha256rnds2_epu32(halves[s].abef, halves[s].cdgh, _mm_shuffle_epi32(input, 0x0E));
  }
}

template <int N, int... G>
BREVICK_SHA_INLINE void AllGroups(Halves* halves, __m128i (*words)[N],
                                  const std::uint8_t* const* blocks, std::size_t offset,
                                  std::integer_sequence<int, G...>) {
  (Group<N, G>(halves, words, blocks, offset), ...);
}

// A block of each of `N` messages at a time: every group's round
// instructions of different messages follow one another, each waiting only
// for its own message's previous result.
template <int N>
BREVICK_SHA_TARGET void CompressStreams(std::uint32_t (*states)[8],
                                        const std::uint8_t* const* blocks, std::size_t blockCount) {
  Halves halves[N];
  for (int s = 0; s < N; ++s) halves[s] = LoadState(states[s]);
  for (std::size_t block = 0; block < blockCount; ++block) {
    Halves before[N];
    __m128i words[4][N];
    for (int s = 0; s < N; ++s) before[s] = halves[s];
    AllGroups<N>(halves, words, blocks, block * kSha256BlockSizeInBytes,
                 std::make_integer_sequence<int, 16>());
    for (int s = 0; s < N; ++s) {
      halves[s].abef = _mm_add_epi32(halves[s].abef, before[s].abef);
      halves[s].cdgh = _mm_add_epi32(halves[s].cdgh, before[s].cdgh);
    }
  }
  for (int s = 0; s < N; ++s) StoreState(halves[s], states[s]);
}

// Sixteen messages at once, one in each 32-bit lane of the AVX-512
// registers: no SHA instructions, but AVX-512 rotates in one instruction and
// mixes three inputs in one (vpternlogd), and runs sixteen chains where the
// SHA unit runs one.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define BREVICK_WIDE_INLINE [[gnu::always_inline, gnu::target("avx512f,avx512bw")]] inline

using Wide = __m512i;

template <int A, int B, int C, int Shift>
BREVICK_WIDE_INLINE Wide RotateXor(Wide x) {
  // ror A ^ ror B ^ (ror C, or shr C when Shift)
  const Wide third = Shift ? _mm512_srli_epi32(x, C) : _mm512_ror_epi32(x, C);
  return _mm512_ternarylogic_epi32(_mm512_ror_epi32(x, A), _mm512_ror_epi32(x, B), third, 0x96);
}

// Round T, the eight state words held in v by (role - T) modulo 8, so that
// no round moves a register; the schedule word is made in place in the ring
// of sixteen.
template <int T>
BREVICK_WIDE_INLINE void WideRound(Wide* v, Wide* x, const std::uint32_t* constants) {
  constexpr int r = T % 8;
  Wide& a = v[(8 - r) % 8];
  Wide& b = v[(9 - r) % 8];
  Wide& c = v[(10 - r) % 8];
  Wide& d = v[(11 - r) % 8];
  Wide& e = v[(12 - r) % 8];
  Wide& f = v[(13 - r) % 8];
  Wide& g = v[(14 - r) % 8];
  Wide& h = v[(15 - r) % 8];
  Wide& w = x[T % 16];
  if constexpr (T >= 16) {
    w = _mm512_add_epi32(
        _mm512_add_epi32(w, RotateXor<7, 18, 3, 1>(x[(T + 1) % 16])),
        _mm512_add_epi32(x[(T + 9) % 16], RotateXor<17, 19, 10, 1>(x[(T + 14) % 16])));
  }
  const Wide input = _mm512_add_epi32(w, _mm512_set1_epi32(static_cast<int>(constants[T])));
  Wide t1 = _mm512_add_epi32(
      _mm512_add_epi32(h, input),
      _mm512_add_epi32(RotateXor<6, 11, 25, 0>(e), _mm512_ternarylogic_epi32(e, f, g, 0xCA)));
  d = _mm512_add_epi32(d, t1);
  h = _mm512_add_epi32(
      t1, _mm512_add_epi32(RotateXor<2, 13, 22, 0>(a), _mm512_ternarylogic_epi32(a, b, c, 0xE8)));
}

template <int... T>
BREVICK_WIDE_INLINE void WideRounds(Wide* v, Wide* x, const std::uint32_t* constants,
                                    std::integer_sequence<int, T...>) {
  (WideRound<T>(v, x, constants), ...);
}

[[gnu::target("avx512f,avx512bw")]] void CompressSixteen(std::uint32_t (*states)[8],
                                                         const std::uint8_t* const* blocks,
                                                         std::size_t blockCount) {
  // Read through a pointer the compiler cannot see into, each constant is
  // broadcast from memory; seen as a known value, it was moved through a
  // general register in every round, which cost 2% of the kernel's speed.
  const std::uint32_t* constants = kRoundConstants;
  asm("" : "+r"(constants));
  alignas(64) std::uint32_t words[8][16];
  for (int lane = 0; lane < 16; ++lane) {
    for (int i = 0; i < 8; ++i) words[i][lane] = states[lane][i];
  }
  Wide v[8];
  for (int i = 0; i < 8; ++i) v[i] = _mm512_load_si512(words[i]);
  const Wide byteSwap = _mm512_set_epi64(
      0x0c0d0e0f08090a0bLL, 0x0405060700010203LL, 0x0c0d0e0f08090a0bLL, 0x0405060700010203LL,
      0x0c0d0e0f08090a0bLL, 0x0405060700010203LL, 0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  for (std::size_t block = 0; block < blockCount; ++block) {
    Wide x[16];
    for (int lane = 0; lane < 16; ++lane)
      x[lane] = _mm512_shuffle_epi8(_mm512_loadu_si512(blocks[lane] + block * 64), byteSwap);
    TransposeWide(x);
    Wide before[8];
    for (int i = 0; i < 8; ++i) before[i] = v[i];
    WideRounds(v, x, constants, std::make_integer_sequence<int, 64>());
    for (int i = 0; i < 8; ++i) v[i] = _mm512_add_epi32(v[i], before[i]);
  }
  for (int i = 0; i < 8; ++i) _mm512_store_si512(words[i], v[i]);
  for (int lane = 0; lane < 16; ++lane) {
    for (int i = 0; i < 8; ++i) states[lane][i] = words[i][lane];
  }
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#else

template <int N>
void CompressStreams(std::uint32_t (*)[8], const std::uint8_t* const*, std::size_t) {
  std::abort();  // never chosen: CpuHasShaNi() is false
}

void CompressSixteen(std::uint32_t (*)[8], const std::uint8_t* const*, std::size_t) {
  std::abort();  // never chosen: CpuHasAvx512Bw() is false
}

#endif

// Whole blocks of up to sixteen messages: in the sixteen AVX-512 lanes when
// `streams` is 16 (idle lanes digest the first message again, into states
// nobody reads), else on the SHA extensions in groups of at most `streams`.
void Compress(std::uint32_t (*states)[8], const std::uint8_t* const* blocks, std::size_t count,
              std::size_t blockCount, int streams) {
  if (streams == kSha256WideLanes) {
    std::uint32_t all[kSha256WideLanes][8];
    const std::uint8_t* starts[kSha256WideLanes];
    for (std::size_t i = 0; i < std::size(all); ++i) {
      const std::size_t from = i < count ? i : 0;
      std::memcpy(all[i], states[from], sizeof all[i]);
      starts[i] = blocks[from];
    }
    CompressSixteen(all, starts, blockCount);
    for (std::size_t i = 0; i < count; ++i) std::memcpy(states[i], all[i], sizeof all[i]);
    return;
  }
  std::size_t i = 0;
  for (; streams >= 4 && i + 4 <= count; i += 4)
    CompressStreams<4>(states + i, blocks + i, blockCount);
  for (; streams >= 2 && i + 2 <= count; i += 2)
    CompressStreams<2>(states + i, blocks + i, blockCount);
  for (; i < count; ++i) CompressStreams<1>(states + i, blocks + i, blockCount);
}

constexpr std::size_t kFewestMessagesForWideLanes = 14;

void StoreBigEndian(std::uint8_t* bytes, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
}

}  // namespace

bool CpuHasShaNi() {
#if BREVICK_SHA_NI
  // From CPUID itself: not every compiler's __builtin_cpu_supports knows "sha".
  static const bool hasShaNi = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_SSE4_1) == 0) return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_SHA) != 0;
  }();
  return hasShaNi;
#else
  return false;
#endif
}

bool CpuHasAvx512Bw() {
#if BREVICK_SHA_NI
  static const bool hasAvx512Bw =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return hasAvx512Bw;
#else
  return false;
#endif
}

bool UseOwnSha256() {
  const char* forced = std::getenv("BREVICK_MD5_LANES");
  return CpuHasShaNi() && (forced == nullptr || std::string_view(forced) != "plain");
}

void Sha256::Reset() {
  constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(state, kInitial, sizeof state);
  messageSizeInBytes = 0;
  pendingSizeInBytes = 0;
}

void Sha256::Update(const void* data, std::size_t sizeInBytes) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  messageSizeInBytes += sizeInBytes;
  if (pendingSizeInBytes > 0) {
    const std::size_t taken = std::min(sizeInBytes, kSha256BlockSizeInBytes - pendingSizeInBytes);
    std::memcpy(pending + pendingSizeInBytes, bytes, taken);
    pendingSizeInBytes += taken;
    bytes += taken;
    sizeInBytes -= taken;
    if (pendingSizeInBytes < kSha256BlockSizeInBytes) return;
    const std::uint8_t* block = pending;
    Compress(&state, &block, 1, 1, 1);
    pendingSizeInBytes = 0;
  }
  // Whole blocks straight from the caller's buffer: no copy on the hot path.
  const std::size_t blockCount = sizeInBytes / kSha256BlockSizeInBytes;
  if (blockCount > 0) Compress(&state, &bytes, 1, blockCount, 1);
  const std::size_t rest = sizeInBytes % kSha256BlockSizeInBytes;
  if (rest > 0) std::memcpy(pending, bytes + blockCount * kSha256BlockSizeInBytes, rest);
  pendingSizeInBytes = rest;
}

Sha256Digest Sha256::Final() {
  // The bit length is taken before the padding is fed, which would count it.
  const std::uint64_t messageSizeInBits = messageSizeInBytes * 8;
  std::uint8_t padding[2 * kSha256BlockSizeInBytes] = {0x80};
  // 0x80, then zeros up to 56 bytes past a block boundary, then the length.
  const std::size_t zerosAndMark = (pendingSizeInBytes < 56 ? 56 : 120) - pendingSizeInBytes;
  StoreBigEndian(padding + zerosAndMark, messageSizeInBits, 8);
  Update(padding, zerosAndMark + 8);
  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) StoreBigEndian(digest.data() + 4 * i, state[i], 4);
  Reset();
  return digest;
}

void Sha256::UpdateStreams(std::span<Sha256* const> digests,
                           std::span<const std::uint8_t* const> blocks, std::size_t sizeInBytes,
                           int streams) {
  if (streams == 0) {
    // Sixteen lanes outrun four interleaved streams only when nearly full
    // (measured: 2.2x and 1.85x OpenSSL's one message).
    streams = CpuHasAvx512Bw() && digests.size() >= kFewestMessagesForWideLanes ? kSha256WideLanes
                                                                                : kSha256MaxStreams;
  }
  if (streams == kSha256WideLanes && !CpuHasAvx512Bw()) streams = kSha256MaxStreams;
  const std::size_t blockCount = sizeInBytes / kSha256BlockSizeInBytes;
  const bool whole = std::none_of(digests.begin(), digests.end(), [](const Sha256* digest) {
    return digest->pendingSizeInBytes != 0;
  });
  std::size_t done = 0;
  if (whole && blockCount > 0) {
    done = blockCount * kSha256BlockSizeInBytes;
    std::uint32_t states[kSha256WideLanes][8];
    const auto group = static_cast<std::size_t>(streams == kSha256WideLanes ? kSha256WideLanes
                                                                            : kSha256MaxStreams);
    for (std::size_t first = 0; first < digests.size(); first += group) {
      const std::size_t count = std::min<std::size_t>(group, digests.size() - first);
      for (std::size_t i = 0; i < count; ++i)
        std::memcpy(states[i], digests[first + i]->state, sizeof states[i]);
      Compress(states, blocks.data() + first, count, blockCount, streams);
      for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(digests[first + i]->state, states[i], sizeof states[i]);
        digests[first + i]->messageSizeInBytes += done;
      }
    }
  }
  // A partial block pending, or the bytes past the whole blocks: each alone.
  for (std::size_t i = 0; i < digests.size(); ++i)
    digests[i]->Update(blocks[i] + done, sizeInBytes - done);
}

}  // namespace brevick
