#include "fuzz/reference_oracle.h"

#include "tests/frames/reference_scale.h"

void OracleScaleToFit(const SDL_Surface *source, SDL_Surface *destination) {
  ReferenceScaleToFit(source, destination);
}
