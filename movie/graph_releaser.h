// Lets go of a released movie's graph away from the game's thread. The last
// references on a graph join its threads and free its decoders, which waits
// for a picture still being decoded; the game must not wait for that.
//
// One thread for the process, started by the first hand-over; it releases the
// references in the order given, one hand-over after the other. At process
// exit (atexit) whatever is still queued is released before the libraries
// the graphs use go away.
#pragma once

#include <vector>

#include "platform/com/unknown.h"

class GraphReleaser {
 public:
  // Takes over one reference on each non-null entry. Any thread.
  static void HandOver(std::vector<IUnknown *> references);
  // Waits until everything handed over so far has been released.
  static void Drain();
};
