// IMovieStreams: a private interface of this graph manager telling its caller
// which of the movie's streams are played. A graph that does not answer it is
// taken to play no sound.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"

// {7C1E5A02-9B3D-4F6E-8A41-2D5C0B9E7F13}
DEFINE_GUID_CONST(IID_IMovieStreams, 0x7C1E5A02, 0x9B3D, 0x4F6E, 0x8A, 0x41, 0x2D, 0x5C, 0x0B, 0x9E,
                  0x7F, 0x13);

struct IMovieStreams : IUnknown {
  // S_OK when the movie's sound is played (it has a sound stream and the sound
  // output opened), S_FALSE when it is silent. Any thread.
  STDMETHOD(PlaysSound)() PURE;
};
