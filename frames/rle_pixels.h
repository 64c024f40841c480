// Decoding of run-length encoded bitmap pixel data (BI_RLE8, BI_RLE4).
#pragma once

#include <SDL.h>

// Decodes RLE8 (`eightBit`) or RLE4 data from `source` into `surface`, one
// byte per pixel, starting at the bottom row: the data is bottom-up. Writes
// that fall outside the surface's pixel memory are dropped; they are not
// clipped to the row, so a run past the end of a row goes on at the start of
// the next row in memory (the picture row below it).
//
// Returns 0 once the end-of-bitmap code has been read, 1 when the stream
// ends before it. Sets no error text.
int DecodeRlePixels(SDL_Surface *surface, SDL_RWops *source, bool eightBit);
