#include "frames/scale_geometry.h"

#include <algorithm>

FitRectangle FitInto(int sourceWidth, int sourceHeight, int destinationWidth,
                     int destinationHeight) {
  const int sw = sourceWidth;
  const int sh = sourceHeight;
  const int dw = destinationWidth;
  const int dh = destinationHeight;
  // The smaller of the two scale factors decides, ties go to width. The
  // products are taken in 64 bits so that large sizes cannot overflow; the
  // results equal 32-bit arithmetic wherever that does not overflow.
  FitRectangle fit;
  if (static_cast<double>(dh) / sh < static_cast<double>(dw) / sw) {
    fit.height = dh;
    fit.width = static_cast<int>(static_cast<int64_t>(dh) * sw / sh);
  } else {
    fit.width = dw;
    fit.height = static_cast<int>(static_cast<int64_t>(dw) * sh / sw);
  }
  // Never past the destination, whatever rounding the double test saw.
  fit.width = std::min(fit.width, dw);
  fit.height = std::min(fit.height, dh);
  if (fit.width <= 0 || fit.height <= 0) {
    return FitRectangle{};
  }
  // One of these is 0: the deciding side is filled.
  fit.left = (dw - fit.width) / 2;
  fit.top = (dh - fit.height) / 2;
  return fit;
}

int32_t FitStep(int sourceLength, int fitted) {
  // Steps span length - 1 pixels, so the last fitted pixel stays short of
  // the last source column or row and its right or lower neighbour exists.
  const double step = 65536.0 * (sourceLength - 1) / fitted;
  // A fit over 32767 times smaller has no 16.16 step in 32 bits. Saturate,
  // leaving room for the fraction that each table entry adds to it.
  constexpr int32_t kLargest = INT32_MAX - 0xFFFF;
  return step < kLargest ? static_cast<int32_t>(step) : kLargest;
}

void FillSteps(int32_t *table, int count, int32_t step) {
  // Accumulating only the fraction keeps entry k's position at exactly
  // k * step without any multiplication.
  table[0] = 0;
  for (int k = 0; k < count; ++k) {
    table[k + 1] = (table[k] & 0xFFFF) + step;
  }
}

bool HasFourBytePixels(const SDL_Surface *surface) {
  return surface->format != nullptr && surface->format->BytesPerPixel == 4 &&
         surface->pitch / 4 >= surface->w;
}
