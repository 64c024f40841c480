// The host's output surface with its pixels in three buffers, so that a frame
// is always drawn where the host is not reading.
#pragma once

#include <SDL.h>

#include <chrono>
#include <cstddef>
#include <thread>

// The surface struct never changes and the host may hold it; only its pixel
// pointer moves between three buffers that this object owns (the surface is
// marked SDL_PREALLOC, so SDL never frees or replaces them: not when it
// RLE-encodes a colour-keyed surface, not in SDL_FreeSurface). Publishing
// stores the drawn buffer in the surface's `pixels` with one release store,
// so a reader that loads the pointer once (as a blit does) sees one whole
// frame.
//
// Why three: the next frame is drawn ahead as soon as one is shown. Into the
// buffer just taken off show, it overwrote what a blit that had loaded the
// pointer a moment before was still reading (1 read of 2.2 million, of two
// rows, saw two frames; a whole blit takes a millisecond or two). Into the
// one taken off show a frame earlier, a blit has a frame's time.
//
// The host may rewrite `pixels` without atomics (SDL_LockSurface and
// SDL_UnlockSurface do pixels += offset), and a rewrite overlapping a
// publish puts an older buffer back on show. So each frame starts from the
// pointer loaded now, compared with the buffers: the frame goes into the one
// longest off show that is not on show now. A pointer that is none of them
// (the host replaced the pixels) takes no frame at all.
//
// Threads: Attach and Detach run where the format is set up or given up,
// BeginFrame, CopyOutside and Publish on the drawing (streaming) thread; the
// caller orders the two. The host may lock, fill, colour-key and read the
// surface on any thread.
class TripleBufferedSurface {
 public:
  TripleBufferedSurface() = default;
  ~TripleBufferedSurface();
  TripleBufferedSurface(const TripleBufferedSurface &) = delete;
  TripleBufferedSurface &operator=(const TripleBufferedSurface &) = delete;

  // Takes on `surface` (a software surface with SDL's own pixels, not yet
  // seen by the host): its pixels become the first buffer, two more are
  // allocated and first touched by a thread of its own, so that neither the
  // load nor the first frames pay for their pages.
  // False, with nothing taken on, when they cannot be allocated.
  bool Attach(SDL_Surface *surface);
  // Lets go of the surface, which keeps the buffer on show for good, and
  // frees the others (the one the last publish took off show no sooner than
  // kGrace after it: this may sleep); when the surface shows none of them,
  // all are left to it. Returns the surface (null when none was attached).
  SDL_Surface *Detach();

  SDL_Surface *Surface() const { return surface_; }
  // Picks the buffer for the next frame and returns it; null when the
  // surface shows none of the buffers, and then nothing may be drawn or
  // published.
  Uint8 *BeginFrame();
  // Copies from the buffer on show into the frame's buffer every pixel
  // outside the rectangle, so that what the host drew around the picture
  // stays. After a successful BeginFrame.
  void CopyOutside(int x, int y, int width, int height);
  // Shows the frame's buffer. After a successful BeginFrame.
  void Publish();

 private:
  static constexpr int kBuffers = 3;
  // Longer than any blit of a surface takes.
  static constexpr std::chrono::milliseconds kGrace{100};

  // Which of the buffers `pixels` is, or -1 for none.
  int Showing(const void *pixels) const;

  // Waits for the added buffers' first touch.
  void AwaitWarm();
  // Frees an added buffer (of `bytes` pixel bytes) with what allocated it.
  void FreeAdded(Uint8 *buffer, size_t bytes) const;

  std::thread warm_;  // touching the added buffers after Attach, until joined
  SDL_Surface *surface_ = nullptr;
  Uint8 *buffers_[kBuffers] = {nullptr, nullptr, nullptr};  // [0]: SDL's own
  int published_[kBuffers] = {0, 1, 2};  // buffers by their last publish, latest first
  int shown_ = 0;    // the buffer on show when the frame began
  int drawing_ = -1;  // the frame's buffer, -1 between frames
  std::chrono::steady_clock::time_point lastPublish_;
  bool addedMapped_ = false;  // the added buffers are 2 MB-page blocks
};
