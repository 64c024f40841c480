// The host's output surface with its pixels in two buffers, so that a frame
// is always drawn where the host is not reading.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <thread>

// The surface struct never changes and the host may hold it; only its pixel
// pointer moves between two buffers that this object owns (the surface is
// marked SDL_PREALLOC, so SDL never frees or replaces them: not when it
// RLE-encodes a colour-keyed surface, not in SDL_FreeSurface). Publishing
// stores the drawn buffer in the surface's `pixels` with one release store,
// so a reader that loads the pointer once (as a blit does) sees one whole
// frame.
//
// The host may rewrite `pixels` without atomics (SDL_LockSurface and
// SDL_UnlockSurface do pixels += offset), and a rewrite overlapping a
// publish puts the older buffer back on show. So each frame starts from the
// pointer loaded now, compared with the two buffers: the frame goes into the
// other one. A pointer that is neither (the host replaced the pixels) takes
// no frame at all.
//
// Threads: Attach and Detach run where the format is set up or given up,
// BeginFrame, CopyOutside and Publish on the drawing (streaming) thread; the
// caller orders the two. The host may lock, fill, colour-key and read the
// surface on any thread.
class DoubleBufferedSurface {
 public:
  DoubleBufferedSurface() = default;
  ~DoubleBufferedSurface();
  DoubleBufferedSurface(const DoubleBufferedSurface &) = delete;
  DoubleBufferedSurface &operator=(const DoubleBufferedSurface &) = delete;

  // Takes on `surface` (a software surface with SDL's own pixels, not yet
  // seen by the host): its pixels become the first buffer, a second one is
  // allocated and first touched by a thread of its own, so that neither the
  // load nor the first frame pays for its pages.
  // False, with nothing taken on, when the second cannot be
  // allocated.
  bool Attach(SDL_Surface *surface);
  // Lets go of the surface, which keeps the buffer on show for good, and
  // frees the other one; when the surface shows neither, both are left to
  // it. Returns the surface (null when none was attached).
  SDL_Surface *Detach();

  SDL_Surface *Surface() const { return surface_; }
  // Picks the buffer the host is not reading for the next frame and returns
  // it; null when the surface shows neither buffer, and then nothing may be
  // drawn or published.
  Uint8 *BeginFrame();
  // Copies from the buffer on show into the frame's buffer every pixel
  // outside the rectangle, so that what the host drew around the picture
  // stays. After a successful BeginFrame.
  void CopyOutside(int x, int y, int width, int height);
  // Shows the frame's buffer. After a successful BeginFrame.
  void Publish();

 private:
  // Which of the buffers `pixels` is, or -1 for neither.
  int Showing(const void *pixels) const;

  // Waits for the second buffer's first touch.
  void AwaitWarm();
  // Frees the second buffer (of `bytes` pixel bytes) with what allocated it.
  void FreeCopy(Uint8 *copy, size_t bytes) const;

  std::thread warm_;  // touching the second buffer after Attach, until joined
  SDL_Surface *surface_ = nullptr;
  Uint8 *buffers_[2] = {nullptr, nullptr};
  int shown_ = 0;    // the buffer on show when the frame began
  int drawing_ = -1;  // the frame's buffer, -1 between frames
  bool copyMapped_ = false;  // the second buffer is a 2 MB-page block
};
