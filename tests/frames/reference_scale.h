// A deliberately plain per-pixel bilinear fit used to check the scaler: the
// fit decided with exact integer products, each source position computed by
// multiplication, neighbours clamped to the last column and row. Shared by
// the tests and the differential fuzzer.
#pragma once

#include <SDL.h>

#include <algorithm>
#include <cstdint>

struct ReferenceFit {
  int width;
  int height;
  int left;
  int top;
};

inline ReferenceFit ReferenceFitFor(int sw, int sh, int dw, int dh) {
  ReferenceFit fit{};
  // dh / sh < dw / sw, without rounding.
  if (static_cast<int64_t>(dh) * sw < static_cast<int64_t>(dw) * sh) {
    fit.height = dh;
    fit.width = static_cast<int>(static_cast<int64_t>(dh) * sw / sh);
    fit.left = (dw - fit.width) / 2;
  } else {
    fit.width = dw;
    fit.height = static_cast<int>(static_cast<int64_t>(dw) * sh / sw);
    fit.top = (dh - fit.height) / 2;
  }
  return fit;
}

inline const Uint8 *ReferencePixel(const SDL_Surface *surface, int x, int y) {
  return static_cast<const Uint8 *>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch +
         x * 4;
}

inline void ReferenceScaleToFit(const SDL_Surface *source, SDL_Surface *destination) {
  const int sw = source->w;
  const int sh = source->h;
  const ReferenceFit fit = ReferenceFitFor(sw, sh, destination->w, destination->h);
  if (fit.width <= 0 || fit.height <= 0) {
    return;
  }
  // 16.16 steps spanning sw - 1 and sh - 1 source pixels.
  const int64_t stepX = (int64_t{65536} * (sw - 1)) / fit.width;
  const int64_t stepY = (int64_t{65536} * (sh - 1)) / fit.height;
  for (int j = 0; j < fit.height; ++j) {
    const int64_t py = j * stepY;
    const int y = static_cast<int>(py >> 16);
    const int ey = static_cast<int>(py & 0xFFFF);
    const int yBelow = std::min(y + 1, sh - 1);
    auto *out = static_cast<Uint8 *>(destination->pixels) +
                static_cast<ptrdiff_t>(fit.top + j) * destination->pitch + fit.left * 4;
    for (int i = 0; i < fit.width; ++i) {
      const int64_t px = i * stepX;
      const int x = static_cast<int>(px >> 16);
      const int ex = static_cast<int>(px & 0xFFFF);
      const int xRight = std::min(x + 1, sw - 1);
      for (int b = 0; b < 4; ++b) {
        const int p00 = ReferencePixel(source, x, y)[b];
        const int p01 = ReferencePixel(source, xRight, y)[b];
        const int p10 = ReferencePixel(source, x, yBelow)[b];
        const int p11 = ReferencePixel(source, xRight, yBelow)[b];
        const int upper = (p00 + (((p01 - p00) * ex) >> 16)) & 0xFF;
        const int lower = (p10 + (((p11 - p10) * ex) >> 16)) & 0xFF;
        out[i * 4 + b] = static_cast<Uint8>((upper + (((lower - upper) * ey) >> 16)) & 0xFF);
      }
    }
  }
}
