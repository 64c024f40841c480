#include "frames/scale_to_fit.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

namespace {

bool HasFourBytePixels(const SDL_Surface *surface) {
  return surface->format != nullptr && surface->format->BytesPerPixel == 4 &&
         surface->pitch / 4 >= surface->w;
}

// Fills a 16.16 position table: each entry keeps its pixel's fraction in the
// low 16 bits and, in the high bits, how many whole source pixels to advance
// on arriving at it from the previous entry. Accumulating only the fraction
// keeps entry k's position at exactly k * step without any multiplication.
void FillSteps(int32_t *table, int count, int32_t step) {
  table[0] = 0;
  for (int k = 0; k < count; ++k) {
    table[k + 1] = (table[k] & 0xFFFF) + step;
  }
}

}  // namespace

int ScaleToFit(SDL_Surface *source, SDL_Surface *destination) {
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

  // Fit: the smaller of the two scale factors decides, ties go to width. The
  // products are taken in 64 bits so that large sizes cannot overflow; the
  // results equal 32-bit arithmetic wherever that does not overflow.
  int fw;
  int fh;
  if (static_cast<double>(dh) / sh < static_cast<double>(dw) / sw) {
    fh = dh;
    fw = static_cast<int>(static_cast<int64_t>(dh) * sw / sh);
  } else {
    fw = dw;
    fh = static_cast<int>(static_cast<int64_t>(dw) * sh / sw);
  }
  // Never past the destination, whatever rounding the double test saw.
  fw = std::min(fw, dw);
  fh = std::min(fh, dh);
  if (fw <= 0 || fh <= 0) {
    return 0;
  }
  // One of these is 0: the deciding side is filled.
  const int x0 = (dw - fw) / 2;
  const int y0 = (dh - fh) / 2;

  // Steps span sw - 1 and sh - 1 pixels, so the last fitted pixel stays short
  // of the last source column and row and its right and lower neighbours exist.
  const auto sx = static_cast<int32_t>(65536.0 * (sw - 1) / fw);
  const auto sy = static_cast<int32_t>(65536.0 * (sh - 1) / fh);

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
