// digest/wide_transpose.h: the 16 x 16 transpose of 32-bit words that the
// sixteen-lane AVX-512 kernels (MD5 and SHA-256) load their blocks through.
//
// A kernel reads one 64-byte block of each of sixteen messages (a row each)
// but works on one word of every message at a time (a column each).
// Included only by files that compile AVX-512 code under a target attribute.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace brevick {

// Turns sixteen rows (one block per message) into sixteen columns (one word
// of every message each): pairs of words, then quadruples, then the 128-bit
// quarters that hold word k of four messages each are gathered into place.
[[gnu::always_inline, gnu::target("avx512f")]] inline void TransposeWide(__m512i* rows) {
  __m512i t[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_epi32(rows[2 * i], rows[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_epi32(rows[2 * i], rows[2 * i + 1]);
  }
  // rows[4 * i + j], quarter q: word 4q + j of messages 4i to 4i + 3.
  for (int i = 0; i < 4; ++i) {
    rows[4 * i] = _mm512_unpacklo_epi64(t[4 * i], t[4 * i + 2]);
    rows[4 * i + 1] = _mm512_unpackhi_epi64(t[4 * i], t[4 * i + 2]);
    rows[4 * i + 2] = _mm512_unpacklo_epi64(t[4 * i + 1], t[4 * i + 3]);
    rows[4 * i + 3] = _mm512_unpackhi_epi64(t[4 * i + 1], t[4 * i + 3]);
  }
  for (int j = 0; j < 4; ++j) {
    const __m512i low01 = _mm512_shuffle_i32x4(rows[j], rows[4 + j], 0x44);
    const __m512i high01 = _mm512_shuffle_i32x4(rows[j], rows[4 + j], 0xEE);
    const __m512i low23 = _mm512_shuffle_i32x4(rows[8 + j], rows[12 + j], 0x44);
    const __m512i high23 = _mm512_shuffle_i32x4(rows[8 + j], rows[12 + j], 0xEE);
    t[j] = _mm512_shuffle_i32x4(low01, low23, 0x88);
    t[4 + j] = _mm512_shuffle_i32x4(low01, low23, 0xDD);
    t[8 + j] = _mm512_shuffle_i32x4(high01, high23, 0x88);
    t[12 + j] = _mm512_shuffle_i32x4(high01, high23, 0xDD);
  }
  for (int k = 0; k < 16; ++k) rows[k] = t[k];
}

}  // namespace brevick

#endif
