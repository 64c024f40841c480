// The software surface that one frame's pixel data is read into.
#pragma once

#include <SDL.h>

#include "platform/media/structs.h"

// Whether SDL 1.2 can make a surface of this size and depth: it keeps the
// pitch in 16 bits and sizes the pixels as height x pitch in an int, and
// silently wraps either past its range.
bool SdlCanHoldSurface(int width, int height, int bitsPerPixel);

// The pitch SDL gives a 24-bit surface: rows padded to 4 bytes, which is
// also the renderer's stride.
constexpr int Rgb24Pitch(int width) { return (width * 3 + 3) & ~3; }

// Creates a software surface of the header's width and height in the
// frame's own pixel format: BI_RGB frames of 15, 16, 24 and 32 bits get
// their channel masks, every other depth or compression gets none, and 1-
// and 4-bit frames are widened to 8 bits. Returns null, without calling SDL,
// for empty or top-down sizes, sizes SDL cannot hold and depths other than
// 1, 4, 8, 15, 16, 24 and 32, which SDL cannot blit safely; null too when
// SDL fails.
SDL_Surface *CreateFrameSurface(const BITMAPINFOHEADER &header);
