// Reading one frame's bottom-up bitmap pixel data into a top-down surface.
#pragma once

#include <SDL.h>

#include "platform/win32/types.h"

// The error text set when packed or run-length encoded data ends early.
inline constexpr const char kFrameReadError[] = "Error reading from BMP";

// Reads the pixel array of a bitmap described by `bitCount` and
// `compression` from `source` into `surface`, turning the bottom-up rows
// into top-down surface rows. Uncompressed rows (BI_RGB, BI_BITFIELDS or
// any value other than BI_RLE8 and BI_RLE4) are read one surface pitch per
// row; 1- and 4-bit pixels are widened to one byte each, which needs an
// 8-bit surface; RLE data goes through DecodeRlePixels. `stride` is the
// source row stride and only decides the padding after packed rows.
//
// Returns true when the whole frame was read. On false the SDL error text
// says why and the surface may hold part of the frame. Bytes beyond the
// frame are never read.
bool ReadFramePixels(SDL_Surface *surface, SDL_RWops *source, WORD bitCount, DWORD compression,
                     LONG stride);
