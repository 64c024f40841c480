// Watches and steers two SDL calls of the frame path: the test executable
// defines them, so the library's calls come here and are passed on to SDL.
#pragma once

#include <SDL.h>

// The next SDL_RWFromMem returns null, as when SDL cannot allocate.
void FailNextStreamOpen();
int StreamOpenCount();

// Whether `surface` was ever handed to SDL_FreeSurface since the last
// ForgetFreedSurfaces.
bool WasFreed(const SDL_Surface *surface);
void ForgetFreedSurfaces();
