// One row of the 24 to 32-bit conversion, per kernel.
#pragma once

#include <SDL.h>

#include "frames/pixel_kernels.h"

// Converts `width` blue, green, red pixels into 0x00RRGGBB pixels with
// `fourth` in the top byte, and asks for the row at `next` (when not null)
// to be fetched into the cache meanwhile.
using Convert24To32Row = void(const Uint8 *in, Uint8 *out, int width, Uint32 fourth,
                              const Uint8 *next);

// The plain loop from pixel `first` on: the vector kernels finish rows with it.
void Convert24To32RowFrom(const Uint8 *in, Uint8 *out, int first, int width, Uint32 fourth);

#ifdef CINELINK_X86_KERNELS
Convert24To32Row Avx2Convert24To32Row;
#endif
