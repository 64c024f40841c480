// The row kernels on AVX2 (this file alone is compiled for it; RunScalePlan
// picks it only on processors that have it). The same lane arithmetic as
// the SSE2 kernel, twice as wide.
#include "frames/scale_kernels.h"

#ifdef CINELINK_X86_KERNELS

#include <immintrin.h>

#include "frames/scale_to_fit.h"

namespace {

// (difference * weight) >> 16 exactly; see the SSE2 kernel.
inline __m256i MultiplyHigh(__m256i difference, __m256i weight) {
  const __m256i high = _mm256_mulhi_epi16(difference, weight);
  return _mm256_add_epi16(high, _mm256_and_si256(difference, _mm256_srai_epi16(weight, 15)));
}

// Eight bytes at each of four fitted pixels of `bytes` bytes: the pixel,
// its right neighbour and, for 3-byte pixels, two more. The first two
// pixels go to the lower half.
template <int kBytes>
inline __m256i LoadFour(const Uint8 *sourceRow, const int32_t *columns) {
  auto pair = [&](int k) {
    const __m128i first =
        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(sourceRow + columns[k] * kBytes));
    return _mm_castpd_si128(
        _mm_loadh_pd(_mm_castsi128_pd(first),
                     reinterpret_cast<const double *>(sourceRow + columns[k + 1] * kBytes)));
  };
  return _mm256_inserti128_si256(_mm256_castsi128_si256(pair(0)), pair(2), 1);
}

void AlongRow(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out) {
  const int32_t *columns = plan.ColumnIndices();
  const uint16_t *weights = plan.ColumnWeights();
  const int width = plan.Width();
  const __m256i zero = _mm256_setzero_si256();
  int i = 0;
  for (; i + 4 <= width; i += 4) {
    // Per half: left0 left1 right0 right1.
    const __m256i pixels =
        _mm256_shuffle_epi32(LoadFour<4>(sourceRow, columns + i), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i left = _mm256_unpacklo_epi8(pixels, zero);
    const __m256i right = _mm256_unpackhi_epi8(pixels, zero);
    const __m256i weight = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(weights + i * 4));
    const __m256i result =
        _mm256_add_epi16(left, MultiplyHigh(_mm256_sub_epi16(right, left), weight));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i * 4), result);
  }
  AlongRowFrom(plan, sourceRow, out, i);
}

void AlongRow24(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int16_t fourth) {
  const int32_t *columns = plan.ColumnIndices();
  const uint16_t *weights = plan.ColumnWeights();
  const int wide = plan.WideColumns24();
  // Per half, from the eight bytes of two pixels: the blue, green and red
  // bytes of each pixel (or of its right neighbour) widened to 16 bits, the
  // fourth channel zero.
  const __m256i leftBytes = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, -1, 1, -1, 2, -1, -1, -1, 8, -1, 9, -1, 10, -1, -1, -1));
  const __m256i rightBytes = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(3, -1, 4, -1, 5, -1, -1, -1, 11, -1, 12, -1, 13, -1, -1, -1));
  const __m256i fourths = _mm256_set_epi16(fourth, 0, 0, 0, fourth, 0, 0, 0, fourth, 0, 0, 0,
                                           fourth, 0, 0, 0);
  int i = 0;
  for (; i + 4 <= wide; i += 4) {
    const __m256i pixels = LoadFour<3>(sourceRow, columns + i);
    const __m256i left = _mm256_shuffle_epi8(pixels, leftBytes);
    const __m256i right = _mm256_shuffle_epi8(pixels, rightBytes);
    const __m256i weight = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(weights + i * 4));
    const __m256i result =
        _mm256_add_epi16(left, MultiplyHigh(_mm256_sub_epi16(right, left), weight));
    // The fourth channel interpolated zero with zero.
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i * 4), _mm256_or_si256(result, fourths));
  }
  AlongRow24From(plan, sourceRow, out, i, fourth);
}

void BetweenRows(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                 int count) {
  const __m256i factor = _mm256_set1_epi16(static_cast<int16_t>(weight));
  int k = 0;
  for (; k + 32 <= count; k += 32) {
    const __m256i upper0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(upper + k));
    const __m256i upper1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(upper + k + 16));
    const __m256i lower0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lower + k));
    const __m256i lower1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lower + k + 16));
    const __m256i result0 =
        _mm256_add_epi16(upper0, MultiplyHigh(_mm256_sub_epi16(lower0, upper0), factor));
    const __m256i result1 =
        _mm256_add_epi16(upper1, MultiplyHigh(_mm256_sub_epi16(lower1, upper1), factor));
    // The pack works per 128-bit half; put the quarters back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(result0, result1),
                                                    _MM_SHUFFLE(3, 1, 2, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + k), packed);
  }
  BetweenRowsFrom(upper, lower, weight, out, k, count);
}

}  // namespace

ScaleRowKernel Avx2ScaleRowKernel() { return {AlongRow, AlongRow24, BetweenRows}; }

#endif
