// Aspect-preserving, centred bilinear resampling of one 32-bit surface into
// another of any size.
#pragma once

#include <SDL.h>

// Scales the whole of `source` into the largest rectangle of `destination`
// that keeps the source's aspect ratio, centred; pixels outside that
// rectangle are never touched. Both surfaces must have 4 bytes per pixel in
// the same channel layout (each byte is interpolated on its own) and neither
// is locked.
//
// Returns 0 when done (a destination with no room gives an empty rectangle
// and is done), -1 when nothing was written: a position table could not be
// allocated, a surface is missing, the source is empty or a surface does not
// have 4 bytes per pixel.
int ScaleToFit(SDL_Surface *source, SDL_Surface *destination);
