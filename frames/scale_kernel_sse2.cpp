// The row kernels on SSE2, which every x86-64 processor has. Channels are
// 16-bit lanes; the formula's 32-bit product shifted right by 16 is formed
// from the high half of a signed 16-bit product (see MultiplyHigh).
#include "frames/scale_kernels.h"

#ifdef CINELINK_X86_KERNELS

#include <emmintrin.h>

#include "frames/scale_to_fit.h"

namespace {

// (difference * weight) >> 16 for differences in -255..255 and weights in
// 0..65535, exactly as the 32-bit arithmetic shift gives it. Read as signed,
// a weight w of 32768 or more is w - 65536, so the signed high product is
// the wanted value less the difference: add it back for those lanes.
inline __m128i MultiplyHigh(__m128i difference, __m128i weight) {
  const __m128i high = _mm_mulhi_epi16(difference, weight);
  return _mm_add_epi16(high, _mm_and_si128(difference, _mm_srai_epi16(weight, 15)));
}

inline __m128i Load8(const Uint8 *bytes) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(bytes));
}

void AlongRow(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out) {
  const int32_t *columns = plan.ColumnIndices();
  const uint16_t *weights = plan.ColumnWeights();
  const int width = plan.Width();
  const __m128i zero = _mm_setzero_si128();
  int i = 0;
  // Two fitted pixels at a time, each loaded with its right neighbour.
  for (; i + 2 <= width; i += 2) {
    const __m128i first = Load8(sourceRow + columns[i] * 4);
    const __m128i second = Load8(sourceRow + columns[i + 1] * 4);
    // left0 left1 right0 right1
    const __m128i pixels =
        _mm_shuffle_epi32(_mm_unpacklo_epi64(first, second), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i left = _mm_unpacklo_epi8(pixels, zero);
    const __m128i right = _mm_unpackhi_epi8(pixels, zero);
    const __m128i weight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights + i * 4));
    const __m128i result = _mm_add_epi16(left, MultiplyHigh(_mm_sub_epi16(right, left), weight));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i * 4), result);
  }
  AlongRowFrom(plan, sourceRow, out, i);
}

void AlongRow24(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int16_t fourth) {
  const int32_t *columns = plan.ColumnIndices();
  const uint16_t *weights = plan.ColumnWeights();
  const int wide = plan.WideColumns24();
  const __m128i zero = _mm_setzero_si128();
  // Keeps the three colour channels of each pixel and sets the fourth.
  const __m128i colours = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  const __m128i fourths = _mm_set_epi16(fourth, 0, 0, 0, fourth, 0, 0, 0);
  int i = 0;
  for (; i + 2 <= wide; i += 2) {
    // Each: blue green red of the pixel, then of its right neighbour, then two more bytes.
    const __m128i first = _mm_unpacklo_epi8(Load8(sourceRow + columns[i] * 3), zero);
    const __m128i second = _mm_unpacklo_epi8(Load8(sourceRow + columns[i + 1] * 3), zero);
    const __m128i left = _mm_unpacklo_epi64(first, second);
    const __m128i right = _mm_unpacklo_epi64(_mm_srli_si128(first, 6), _mm_srli_si128(second, 6));
    const __m128i weight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights + i * 4));
    const __m128i result = _mm_add_epi16(left, MultiplyHigh(_mm_sub_epi16(right, left), weight));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i * 4),
                     _mm_or_si128(_mm_and_si128(result, colours), fourths));
  }
  AlongRow24From(plan, sourceRow, out, i, fourth);
}

void BetweenRows(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                 int count) {
  const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(weight));
  int k = 0;
  for (; k + 16 <= count; k += 16) {
    const __m128i upper0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(upper + k));
    const __m128i upper1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(upper + k + 8));
    const __m128i lower0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lower + k));
    const __m128i lower1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lower + k + 8));
    const __m128i result0 =
        _mm_add_epi16(upper0, MultiplyHigh(_mm_sub_epi16(lower0, upper0), factor));
    const __m128i result1 =
        _mm_add_epi16(upper1, MultiplyHigh(_mm_sub_epi16(lower1, upper1), factor));
    // Every result is already 0..255: the pack only narrows.
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k), _mm_packus_epi16(result0, result1));
  }
  BetweenRowsFrom(upper, lower, weight, out, k, count);
}

}  // namespace

ScaleRowKernel Sse2ScaleRowKernel() { return {AlongRow, AlongRow24, BetweenRows}; }

#endif
