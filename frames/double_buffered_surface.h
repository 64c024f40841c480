// The host's output surface with its pixels in two buffers, so that a frame
// is always drawn where the host is not reading.
#pragma once

#include <SDL.h>

// The surface struct never changes and the host may hold it; only its pixel
// pointer moves. The buffer on show always belongs to the surface, as SDL
// expects (SDL_FreeSurface frees it); the other, the back buffer, belongs to
// this object. Publishing swaps the two with one release store of the
// surface's `pixels`, so a reader that loads the pointer once (as a blit
// does) sees one whole frame.
//
// Threads: Attach and Detach run where the format is set up or given up,
// BackBuffer, CopyOutside and Publish on the drawing (streaming) thread; the
// caller orders the two. The host may read the surface on any thread.
class DoubleBufferedSurface {
 public:
  DoubleBufferedSurface() = default;
  ~DoubleBufferedSurface();
  DoubleBufferedSurface(const DoubleBufferedSurface &) = delete;
  DoubleBufferedSurface &operator=(const DoubleBufferedSurface &) = delete;

  // Takes on `surface` (a software surface with SDL's own pixels) and
  // allocates the back buffer, left unwritten until the first frame (see
  // CopyOutside). False, with nothing taken on, when the buffer cannot be
  // allocated.
  bool Attach(SDL_Surface *surface);
  // Frees the back buffer and lets go of the surface, which keeps the
  // buffer on show. Returns the surface (null when none was attached).
  SDL_Surface *Detach();

  SDL_Surface *Surface() const { return surface_; }
  Uint8 *BackBuffer() const { return back_; }
  // Copies from the buffer on show into the back buffer every pixel outside
  // the rectangle, so that what the host drew around the picture stays.
  void CopyOutside(int x, int y, int width, int height);
  // Shows the back buffer; the buffer shown until now becomes the back one.
  void Publish();

 private:
  SDL_Surface *surface_ = nullptr;
  Uint8 *back_ = nullptr;
};
