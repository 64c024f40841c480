#include "frames/frame_pixels.h"

#include <algorithm>
#include <cstdint>

#include "frames/rle_pixels.h"
#include "platform/media/structs.h"

namespace {

// Padding after each stream row, so that rows start on 4-byte boundaries.
int RowPadding(int rowBytes) {
  const int r = rowBytes & 3;
  return r != 0 ? 4 - r : 0;
}

}  // namespace

bool ReadFramePixels(SDL_Surface *surface, SDL_RWops *source, WORD bitCount, DWORD compression,
                     LONG stride) {
  if (surface == nullptr || source == nullptr) {
    SDL_SetError("%s", kFrameReadError);
    return false;
  }
  if (compression == BI_RLE8 || compression == BI_RLE4) {
    if (DecodeRlePixels(surface, source, compression == BI_RLE8) != 0) {
      SDL_SetError("%s", kFrameReadError);
      return false;
    }
    return true;
  }

  const int pitch = surface->pitch;
  if (surface->h <= 0 || pitch == 0) {
    return true;
  }
  // Packed 1- and 4-bit pixels are widened to one byte each.
  const int expand = (bitCount == 1 || bitCount == 4) ? bitCount : 0;
  const int pad = RowPadding(expand != 0 ? static_cast<int>(stride) : pitch);
  // A widened pixel never lands past its own surface row.
  const int widened = std::min(surface->w, pitch);

  // The first stream row is the bottom of the picture.
  auto *const top = static_cast<Uint8 *>(surface->pixels);
  for (Uint8 *row = top + static_cast<ptrdiff_t>(surface->h - 1) * pitch;; row -= pitch) {
    if (expand == 0) {
      if (SDL_RWread(source, row, 1, pitch) != pitch) {
        SDL_Error(SDL_EFREAD);
        return false;
      }
    } else {
      const int perByte = 8 / expand;
      Uint8 packed = 0;
      for (int i = 0; i < surface->w; ++i) {
        if (i % perByte == 0 && SDL_RWread(source, &packed, 1, 1) != 1) {
          SDL_SetError("%s", kFrameReadError);
          return false;
        }
        // Leftmost pixel in the most significant bits.
        if (i < widened) {
          row[i] = static_cast<Uint8>(packed >> (8 - expand));
        }
        packed = static_cast<Uint8>(packed << expand);
      }
    }
    // Padding is skipped on a best-effort basis: a frame may end without it.
    for (int k = 0; k < pad; ++k) {
      Uint8 discard;
      if (SDL_RWread(source, &discard, 1, 1) != 1) {
        break;
      }
    }
    if (row == top) {
      break;
    }
  }
  return true;
}
