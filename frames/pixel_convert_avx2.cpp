// The 24 to 32-bit conversion on AVX2 (this file alone is compiled for it;
// it runs only on processors that have it): eight pixels per byte shuffle.
#include "frames/pixel_convert_rows.h"

#ifdef CINELINK_X86_KERNELS

#include <immintrin.h>

#include <cstddef>

void Avx2Convert24To32Row(const Uint8 *in, Uint8 *out, int width, Uint32 fourth,
                          const Uint8 *next) {
  // Per half: four 3-byte pixels into four 4-byte ones, the top byte zero.
  const __m256i spread = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
  const __m256i fourths = _mm256_set1_epi32(static_cast<int>(fourth));
  // Spread over the row so that the requests never pile up; the last row
  // asks for its own bytes, which costs nothing.
  const char *ahead = reinterpret_cast<const char *>(next != nullptr ? next : in);
  int x = 0;
  // Each step reads 28 bytes for the 24 it converts: stay inside the row.
  for (; 3 * x + 28 <= 3 * width; x += 8) {
    const Uint8 *pixels = in + static_cast<ptrdiff_t>(x) * 3;
    _mm_prefetch(ahead + static_cast<ptrdiff_t>(x) * 3, _MM_HINT_T0);
    const __m256i bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + 12)), 1);
    const __m256i converted = _mm256_or_si256(_mm256_shuffle_epi8(bytes, spread), fourths);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + static_cast<ptrdiff_t>(x) * 4),
                        converted);
  }
  Convert24To32RowFrom(in, out, x, width, fourth);
}

#endif
