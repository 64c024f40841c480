// The 4:2:0 to BGR24 row on AVX2 (this file alone is compiled for it; it runs
// only on processors that have it): 32 pixels a step in 16-bit lanes.
#include "mediagraph/decode/yuv420_to_bgr24.h"

#ifdef MEDIAGRAPH_X86_KERNELS

#include <immintrin.h>

#include <cstring>

namespace mediagraph {

namespace {

// Each of 16 chroma terms for its two pixels: pixels 0-15 and 16-31.
void Spread(__m256i terms, __m256i *first, __m256i *second) {
  const __m256i ordered = _mm256_permute4x64_epi64(terms, 0xD8);
  *first = _mm256_unpacklo_epi16(ordered, ordered);
  *second = _mm256_unpackhi_epi16(ordered, ordered);
}

// 32 bytes of one channel from two halves of 16-bit sums.
__m256i Bytes(__m256i first, __m256i second) {
  return _mm256_permute4x64_epi64(
      _mm256_packus_epi16(_mm256_srai_epi16(first, 6), _mm256_srai_epi16(second, 6)), 0xD8);
}

struct Weights {
  __m256i offset, luma, blueU, greenU, greenV, redV, middle, half, pack;
};

// Converts the 32 pixels from `y` (16 chroma samples from `u` and `v`) into
// the 96 bytes at `out`, writing 4 spare bytes after them.
MEDIAGRAPH_READS_DECODER_PLANES inline void Step(const uint8_t *y, const uint8_t *u,
                                                 const uint8_t *v, uint8_t *out,
                                                 const Weights &w) {
  const __m256i uc = _mm256_slli_epi16(
      _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(u))),
                       w.middle),
      8);
  const __m256i vc = _mm256_slli_epi16(
      _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v))),
                       w.middle),
      8);
  __m256i blue[2], green[2], red[2];
  Spread(_mm256_mulhrs_epi16(uc, w.blueU), &blue[0], &blue[1]);
  Spread(_mm256_adds_epi16(_mm256_mulhrs_epi16(uc, w.greenU), _mm256_mulhrs_epi16(vc, w.greenV)),
         &green[0], &green[1]);
  Spread(_mm256_mulhrs_epi16(vc, w.redV), &red[0], &red[1]);

  const __m256i lumaBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(y));
  const __m128i lumaHalves[2] = {_mm256_castsi256_si128(lumaBytes),
                                 _mm256_extracti128_si256(lumaBytes, 1)};
  for (int h = 0; h < 2; ++h) {
    const __m256i base = _mm256_adds_epi16(
        _mm256_mulhrs_epi16(
            _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(lumaHalves[h]), w.offset), 7),
            w.luma),
        w.half);
    blue[h] = _mm256_adds_epi16(base, blue[h]);
    green[h] = _mm256_adds_epi16(base, green[h]);
    red[h] = _mm256_adds_epi16(base, red[h]);
  }
  const __m256i b = Bytes(blue[0], blue[1]);
  const __m256i g = Bytes(green[0], green[1]);
  const __m256i r = Bytes(red[0], red[1]);

  // Lanes hold pixels 0-7 | 16-23 and 8-15 | 24-31.
  const __m256i blueGreenLow = _mm256_unpacklo_epi8(b, g);
  const __m256i blueGreenHigh = _mm256_unpackhi_epi8(b, g);
  const __m256i redLow = _mm256_unpacklo_epi8(r, _mm256_setzero_si256());
  const __m256i redHigh = _mm256_unpackhi_epi8(r, _mm256_setzero_si256());
  // Four pixels per lane: 0-3 | 16-19, 4-7 | 20-23, 8-11 | 24-27, 12-15 | 28-31.
  const __m256i quads[4] = {
      _mm256_shuffle_epi8(_mm256_unpacklo_epi16(blueGreenLow, redLow), w.pack),
      _mm256_shuffle_epi8(_mm256_unpackhi_epi16(blueGreenLow, redLow), w.pack),
      _mm256_shuffle_epi8(_mm256_unpacklo_epi16(blueGreenHigh, redHigh), w.pack),
      _mm256_shuffle_epi8(_mm256_unpackhi_epi16(blueGreenHigh, redHigh), w.pack)};
  // In address order, so that each store's four spare bytes are overwritten.
  for (int q = 0; q < 4; ++q) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 12 * q), _mm256_castsi256_si128(quads[q]));
  }
  for (int q = 0; q < 4; ++q) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 48 + 12 * q),
                     _mm256_extracti128_si256(quads[q], 1));
  }
}

}  // namespace

MEDIAGRAPH_READS_DECODER_PLANES
void Yuv420ToBgr24RowAvx2(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *out,
                          int width, const Yuv420Matrix &matrix) {
  const Weights w{_mm256_set1_epi16(matrix.lumaOffset),
                  _mm256_set1_epi16(matrix.luma),
                  _mm256_set1_epi16(matrix.blueU),
                  _mm256_set1_epi16(matrix.greenU),
                  _mm256_set1_epi16(matrix.greenV),
                  _mm256_set1_epi16(matrix.redV),
                  _mm256_set1_epi16(128),
                  _mm256_set1_epi16(32),
                  // Four 0x00RRGGBB pixels per 128-bit lane into their twelve bytes.
                  _mm256_broadcastsi128_si256(
                      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1))};
  int x = 0;
  // Steps write 4 bytes past their pixels: stay inside the row.
  for (; 3 * (x + 32) + 4 <= 3 * width; x += 32) {
    Step(y + x, u + x / 2, v + x / 2, out + static_cast<ptrdiff_t>(x) * 3, w);
  }
  // The row's end: one more step over the last whole chroma pairs, into a
  // spare buffer, and the plain loop for an odd last pixel.
  if (width >= 32 && x < width) {
    const int last = (width - 32) & ~1;
    alignas(32) uint8_t spare[112];
    Step(y + last, u + last / 2, v + last / 2, spare, w);
    const int end = last + 32;
    std::memcpy(out + static_cast<ptrdiff_t>(x) * 3, spare + (x - last) * 3,
                static_cast<size_t>(end - x) * 3);
    x = end;
  }
  Yuv420ToBgr24RowFrom(y, u, v, out, x, width, matrix);
}

}  // namespace mediagraph

#endif
