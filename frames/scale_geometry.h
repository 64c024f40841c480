// The parts of the aspect-fit scaler's formula that do not touch pixels:
// the fitted rectangle and the 16.16 step tables. Shared by the reference
// scaler and the prepared plans so that both fit and step alike.
#pragma once

#include <SDL.h>

#include <cstdint>

struct FitRectangle {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The largest rectangle of the destination with the source's aspect ratio,
// centred. Sources must be at least 1 x 1. The width or height is 0 when the
// destination has no room.
FitRectangle FitInto(int sourceWidth, int sourceHeight, int destinationWidth,
                     int destinationHeight);

// The 16.16 step that spans `sourceLength - 1` source pixels in `fitted`
// destination pixels, truncated; saturated at INT32_MAX - 0xFFFF, so that
// adding a fraction to it never overflows.
int32_t FitStep(int sourceLength, int fitted);

// Fills a 16.16 position table of count + 1 entries: each entry keeps its
// pixel's fraction in the low 16 bits and, in the high bits, how many whole
// source pixels to advance on arriving at it from the previous entry.
void FillSteps(int32_t *table, int count, int32_t step);

// A surface the scaler can read or write: 4 bytes per pixel, rows that hold
// them.
bool HasFourBytePixels(const SDL_Surface *surface);
