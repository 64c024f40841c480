// ILoopHint: a private interface of this graph manager, for the one caller
// that knows ahead of time whether the movie will be played again from its
// start when it ends (the movie instance's repetitive flag).
//
// Told so, the graph prepares every end for the seek to the start that will
// follow: the sound of the movie's start is queued right behind its end from
// the first pass on, so the first wrap is as seamless as the later ones. Told
// the opposite, an end is left to fall silent. The hint changes nothing else:
// the end is still notified, and the caller still seeks (or stops) itself.
// A graph that does not answer this interface is simply not told.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"

// {40D43F6F-32B5-4A04-9E6D-9824058189C5}
DEFINE_GUID_CONST(IID_ILoopHint, 0x40D43F6F, 0x32B5, 0x4A04, 0x9E, 0x6D, 0x98, 0x24, 0x05, 0x81,
                  0x89, 0xC5);

struct ILoopHint : IUnknown {
  // Whether the movie is to loop at its next end (any thread; the last call wins).
  STDMETHOD(SetRepetitive)(BOOL repetitive) PURE;
};
