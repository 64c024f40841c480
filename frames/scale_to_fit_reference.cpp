// The scaler exactly as its formula reads: one pixel at a time, positions
// walked through the two step tables. Slow, and kept as the reference that
// every kernel is compared against.
#include "frames/scale_to_fit.h"

#include <cstdint>
#include <memory>
#include <new>

#include "frames/scale_geometry.h"

int ScaleToFitReference(SDL_Surface *source, SDL_Surface *destination) {
  if (source == nullptr || destination == nullptr) {
    return -1;
  }
  const int sw = source->w;
  const int sh = source->h;
  const int dw = destination->w;
  const int dh = destination->h;
  // The fit divides by the source size.
  if (sw < 1 || sh < 1 || !HasFourBytePixels(source) || !HasFourBytePixels(destination)) {
    return -1;
  }

  const FitRectangle fit = FitInto(sw, sh, dw, dh);
  const int fw = fit.width;
  const int fh = fit.height;
  if (fw <= 0 || fh <= 0) {
    return 0;
  }
  const int x0 = fit.left;
  const int y0 = fit.top;
  const int32_t sx = FitStep(sw, fw);
  const int32_t sy = FitStep(sh, fh);

  std::unique_ptr<int32_t[]> columns(new (std::nothrow) int32_t[static_cast<size_t>(fw) + 1]);
  if (!columns) {
    return -1;
  }
  std::unique_ptr<int32_t[]> rows(new (std::nothrow) int32_t[static_cast<size_t>(fh) + 1]);
  if (!rows) {
    return -1;
  }
  FillSteps(columns.get(), fw, sx);
  FillSteps(rows.get(), fh, sy);

  // A source one pixel wide or high has no right or lower neighbour; its
  // weight is always zero there, so the pixel itself stands in for it and the
  // result is unchanged.
  const ptrdiff_t sourcePitch = source->pitch;
  const ptrdiff_t right = sw > 1 ? 4 : 0;
  const ptrdiff_t below = sh > 1 ? sourcePitch : 0;
  const size_t destinationStride = destination->pitch / 4;

  const auto *sourceRow = static_cast<const Uint8 *>(source->pixels);
  auto *destinationPixels = static_cast<Uint8 *>(destination->pixels);
  int ly = 0;
  for (int j = 0; j < fh; ++j) {
    const Uint8 *c00 = sourceRow;
    const int32_t ey = rows[j] & 0xFFFF;
    Uint8 *out = destinationPixels + (destinationStride * static_cast<size_t>(y0 + j) + x0) * 4;
    int lx = 0;
    for (int i = 0; i < fw; ++i) {
      const int32_t ex = columns[i] & 0xFFFF;
      const Uint8 *c01 = c00 + right;
      const Uint8 *c10 = c00 + below;
      const Uint8 *c11 = c10 + right;
      // 16-bit fractions, 32-bit products, arithmetic shifts, no rounding
      // term: along the row first, then between the two rows.
      for (int b = 0; b < 4; ++b) {
        const int32_t t1 = (c00[b] + (((c01[b] - c00[b]) * ex) >> 16)) & 0xFF;
        const int32_t t2 = (c10[b] + (((c11[b] - c10[b]) * ex) >> 16)) & 0xFF;
        out[b] = static_cast<Uint8>((t1 + (((t2 - t1) * ey) >> 16)) & 0xFF);
      }
      int32_t step = columns[i + 1] >> 16;
      lx += step;
      if (lx >= sw) {
        step = 0;
      }
      c00 += static_cast<ptrdiff_t>(step) * 4;
      out += 4;
    }
    int32_t step = rows[j + 1] >> 16;
    ly += step;
    if (ly >= sh) {
      step = 0;
    }
    sourceRow += static_cast<ptrdiff_t>(step) * sourcePitch;
  }
  return 0;
}
