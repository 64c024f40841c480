// The row kernels behind RunScalePlan. A fitted row is made in two passes:
// each of its two source rows is interpolated along the row into 16-bit
// channels (kept in the plan's scratch rows, so the next fitted row can
// reuse them), then the two are interpolated into the destination. Every
// kernel gives exactly the bytes of the scaler's formula.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "frames/pixel_kernels.h"

class ScalePlan;

struct ScaleRowKernel {
  // Interpolates the plan's fitted columns along one source row of 4-byte
  // pixels (the row holds the plan's source width, at least 2 pixels):
  // Width() * 4 channels.
  void (*alongRow)(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out);
  // The same from 3-byte pixels; every pixel's fourth channel is `fourth`
  // (interpolating a constant gives the constant).
  void (*alongRow24)(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int16_t fourth);
  // out[k] = upper[k] + (((lower[k] - upper[k]) * weight) >> 16) for
  // `count` channels.
  void (*betweenRows)(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                      int count);
};

ScaleRowKernel ScalarScaleRowKernel();
#ifdef CINELINK_X86_KERNELS
ScaleRowKernel Sse2ScaleRowKernel();
ScaleRowKernel Avx2ScaleRowKernel();
#endif

// The scalar passes from fitted column `first` and from channel `first` on:
// the vector kernels finish their rows with them.
void AlongRowFrom(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int first);
void AlongRow24From(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int first,
                    int16_t fourth);
void BetweenRowsFrom(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                     int first, int count);

// The row functions of a kernel; the scalar ones when it is not built here.
ScaleRowKernel ScaleRowKernelFor(PixelKernel kernel);

// RunScalePlan and RunScalePlan24 with a given kernel, which must be
// available.
void RunScalePlanWith(PixelKernel kernel, const ScalePlan &plan, const Uint8 *source,
                      ptrdiff_t sourcePitch, Uint8 *destination, ptrdiff_t destinationPitch);
bool RunScalePlan24With(PixelKernel kernel, const ScalePlan &plan, const Uint8 *source,
                        ptrdiff_t sourcePitch, Uint8 *destination, ptrdiff_t destinationPitch,
                        const SDL_PixelFormat *format,
                        const std::atomic<int> *abandon = nullptr);
