// The plain per-pixel fit, built apart from the fuzzer without coverage or
// sanitizers: it is the oracle, not code under test. Instrumented, it took
// half of every run and steered the fuzzer into its own branches.
#pragma once

#include <SDL.h>

void OracleScaleToFit(const SDL_Surface *source, SDL_Surface *destination);
