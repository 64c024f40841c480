// The software surface that one frame's pixel data is read into.
#pragma once

#include <SDL.h>

#include "platform/media/structs.h"

// SDL 1.2 keeps a surface's pitch in 16 bits, so a 32-bit surface can be at
// most this wide; heights are held to the same bound.
constexpr int kMaxSurfaceSide = 16383;

// Creates a software surface of the header's width and height in the
// frame's own pixel format: BI_RGB frames of 15, 16, 24 and 32 bits get
// their channel masks, every other depth or compression gets none, and 1-
// and 4-bit frames are widened to 8 bits. Returns null, without calling SDL,
// for sizes outside 1..kMaxSurfaceSide and for depths other than 1, 4, 8,
// 15, 16, 24 and 32, which SDL cannot blit safely; null too when SDL fails.
SDL_Surface *CreateFrameSurface(const BITMAPINFOHEADER &header);
