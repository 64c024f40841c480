// A 24 to 32-bit pixel conversion that gives exactly SDL_UpperBlit's bytes
// for the frame path's formats, without a blit's per-call set-up.
#pragma once

#include <SDL.h>

#include <cstddef>

#include "frames/pixel_kernels.h"

// True when Convert24To32 reproduces SDL_UpperBlit of a plain 24-bit surface
// (masks R 0xFF0000, G 0x00FF00, B 0x0000FF: blue, green, red bytes in
// memory; no colour key, no surface alpha) into a surface of `destination`
// format: 32 bits with the same colour masks, and alpha either absent (SDL
// writes 0 into the fourth byte) or 0xFF000000 (SDL writes 0xFF). False for
// every other format; the caller then keeps SDL's blit.
bool CanConvert24To32(const SDL_PixelFormat *destination);

// The byte SDL writes into the fourth byte of each converted pixel.
Uint8 ConvertedFourthByte(const SDL_PixelFormat *format);

// Converts width x height pixels from 3-byte to 4-byte pixels in a format
// CanConvert24To32 accepts. Pitches are in bytes; a negative source pitch
// reads bottom-up rows top-down. Allocates nothing.
void Convert24To32(const Uint8 *source, ptrdiff_t sourcePitch, Uint8 *destination,
                   ptrdiff_t destinationPitch, int width, int height,
                   const SDL_PixelFormat *format);

// Convert24To32 with a given kernel, which must be available (the SSE2 one
// is the plain loop: without byte shuffles it gains nothing).
void Convert24To32With(PixelKernel kernel, const Uint8 *source, ptrdiff_t sourcePitch,
                       Uint8 *destination, ptrdiff_t destinationPitch, int width, int height,
                       const SDL_PixelFormat *format);
