// Our own conversion of 4:2:0 pictures at the output's size into the graph's
// BGR24 rows: libswscale's special converter for it costs half as much again
// (bench_frame_converter), runs for every picture and gets the last row and
// column wrong at odd sizes. Chroma is taken from the nearest
// sample, as that converter does; the colour matrix and range scaling are
// libswscale's, kept to 13 and 14 fractional bits.
#pragma once

#include <cstddef>
#include <cstdint>

// The planes come from FFmpeg's decoding threads, handed over through its own
// synchronisation, which ThreadSanitizer cannot see in an uninstrumented
// library; it takes every read for a race, and checks each against its
// suppressions at a cost that stalls a 4K picture for seconds. The rows read
// uninstrumented, as libswscale's reads of the same planes did.
#if defined(__has_attribute)
#if __has_attribute(no_sanitize)
#define MEDIAGRAPH_READS_DECODER_PLANES __attribute__((no_sanitize("thread")))
#endif
#endif
#ifndef MEDIAGRAPH_READS_DECODER_PLANES
#define MEDIAGRAPH_READS_DECODER_PLANES
#endif

namespace mediagraph {

// Fixed-point weights for one colour matrix and range.
struct Yuv420Matrix {
  int16_t lumaOffset;  // 16 for limited range, 0 for full
  int16_t luma;        // the scale of luma above its offset; 2^14 is 1.0
  // Chroma weights (chroma less 128); 2^13 is 1.0. The green ones are negative.
  int16_t blueU;
  int16_t greenU;
  int16_t greenV;
  int16_t redV;
};

// `table` is libswscale's for the colour space (sws_getCoefficients: red from
// V, blue from U, green from U, green from V, 16.16, limited-range chroma).
Yuv420Matrix MakeYuv420Matrix(const int *table, bool fullRange);

// Converts one row of `width` pixels; `u` and `v` hold (width + 1) / 2
// samples. Blue, green, red from the lowest address.
using Yuv420Row = void(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *out,
                       int width, const Yuv420Matrix &matrix);

// The plain loop from pixel `first` on; the reference the vector row is
// tested against, and how it finishes its rows.
void Yuv420ToBgr24RowFrom(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *out,
                          int first, int width, const Yuv420Matrix &matrix);
Yuv420Row Yuv420ToBgr24RowScalar;
#if defined(__x86_64__) || defined(__i386__)
#define MEDIAGRAPH_X86_KERNELS 1
Yuv420Row Yuv420ToBgr24RowAvx2;
#endif

// The fastest row this processor runs.
Yuv420Row *ChosenYuv420Row();

struct Yuv420Picture {
  const uint8_t *planes[3];
  ptrdiff_t pitches[3];
  int width;
  int height;
};

// Writes the picture's rows from `top` on, `outPitch` apart (negative for
// bottom-up rows).
void Yuv420ToBgr24(const Yuv420Picture &picture, uint8_t *top, ptrdiff_t outPitch,
                   const Yuv420Matrix &matrix, Yuv420Row *row);

}  // namespace mediagraph
