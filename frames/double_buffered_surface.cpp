#include "frames/double_buffered_surface.h"

#include <cstddef>
#include <cstring>

namespace {

size_t PixelBytes(const SDL_Surface *surface) {
  return static_cast<size_t>(surface->h) * surface->pitch;
}

// An empty surface has no pixel memory at all.
void CopyBytes(Uint8 *to, const Uint8 *from, size_t count) {
  if (count != 0) {
    std::memcpy(to, from, count);
  }
}

}  // namespace

DoubleBufferedSurface::~DoubleBufferedSurface() { Detach(); }

bool DoubleBufferedSurface::Attach(SDL_Surface *surface) {
  Detach();
  // SDL's allocator, so that either buffer may end up freed by SDL; one
  // byte more so that an empty surface still gets a buffer. Not written
  // here: every frame writes the picture and copies the rest before it is
  // shown, so the pages are first touched by the first frame, not the load.
  auto *const back = static_cast<Uint8 *>(SDL_malloc(PixelBytes(surface) + 1));
  if (back == nullptr) {
    return false;
  }
  surface_ = surface;
  back_ = back;
  return true;
}

SDL_Surface *DoubleBufferedSurface::Detach() {
  SDL_free(back_);
  back_ = nullptr;
  SDL_Surface *const surface = surface_;
  surface_ = nullptr;
  return surface;
}

void DoubleBufferedSurface::CopyOutside(int x, int y, int width, int height) {
  const auto *const shown = static_cast<const Uint8 *>(surface_->pixels);
  const ptrdiff_t pitch = surface_->pitch;
  const size_t rowBytes = static_cast<size_t>(surface_->w) * surface_->format->BytesPerPixel;
  const size_t left = static_cast<size_t>(x) * surface_->format->BytesPerPixel;
  const size_t right = left + static_cast<size_t>(width) * surface_->format->BytesPerPixel;
  // Rows above and below the picture are whole bars, contiguous in memory.
  CopyBytes(back_, shown, static_cast<size_t>(y) * pitch);
  const ptrdiff_t below = (y + height) * pitch;
  CopyBytes(back_ + below, shown + below, PixelBytes(surface_) - static_cast<size_t>(below));
  if (left == 0 && right >= rowBytes) {
    return;
  }
  for (int row = y; row < y + height; ++row) {
    const ptrdiff_t start = row * pitch;
    CopyBytes(back_ + start, shown + start, left);
    CopyBytes(back_ + start + right, shown + start + right, rowBytes - right);
  }
}

void DoubleBufferedSurface::Publish() {
  Uint8 *const shown = static_cast<Uint8 *>(surface_->pixels);
  // Everything drawn into the back buffer is visible to whoever loads the
  // new pointer.
  __atomic_store_n(&surface_->pixels, static_cast<void *>(back_), __ATOMIC_RELEASE);
  back_ = shown;
}
