#include "frames/frame_surface.h"

#include <climits>
#include <cstdint>

namespace {

struct ChannelMasks {
  Uint32 red;
  Uint32 green;
  Uint32 blue;
  Uint32 alpha;
};

ChannelMasks MasksFor(const BITMAPINFOHEADER &header) {
  if (header.biCompression != BI_RGB) {
    return {0, 0, 0, 0};
  }
  switch (header.biBitCount) {
    case 15:
    case 16:
      return {0x7C00, 0x03E0, 0x001F, 0};
    case 24:
      // Blue at the lowest address, as the rows arrive.
      return {0xFF0000, 0x00FF00, 0x0000FF, 0};
    case 32:
      return {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};
    default:
      return {0, 0, 0, 0};
  }
}

bool IsSupportedDepth(WORD bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 15:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      // Other depths make SDL index small palettes with whole bytes, or
      // describe pixels no blitter handles.
      return false;
  }
}

}  // namespace

bool SdlCanHoldSurface(int width, int height, int bitsPerPixel) {
  if (width < 0 || height < 0 || bitsPerPixel < 1) {
    return false;
  }
  const int64_t bytesPerPixel = (bitsPerPixel + 7) / 8;
  // Packed depths are widened to bytes before they reach SDL.
  const int64_t pitch = (width * bytesPerPixel + 3) & ~int64_t{3};
  return pitch <= UINT16_MAX && height * pitch <= INT_MAX;
}

SDL_Surface *CreateFrameSurface(const BITMAPINFOHEADER &header) {
  if (header.biWidth < 1 || header.biHeight < 1 || !IsSupportedDepth(header.biBitCount)) {
    return nullptr;
  }
  const int depth = (header.biBitCount == 1 || header.biBitCount == 4) ? 8 : header.biBitCount;
  if (!SdlCanHoldSurface(header.biWidth, header.biHeight, depth)) {
    return nullptr;
  }
  const ChannelMasks masks = MasksFor(header);
  return SDL_CreateRGBSurface(SDL_SWSURFACE, header.biWidth, header.biHeight, depth, masks.red,
                              masks.green, masks.blue, masks.alpha);
}
