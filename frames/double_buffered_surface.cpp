#include "frames/double_buffered_surface.h"

#include <cstddef>
#include <cstring>
#include <system_error>

#include "platform/host/background_thread.h"
#include "platform/host/huge_pages.h"
#include "platform/host/thread_name.h"

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

// What the host put in `pixels`, loaded once.
void *LoadPixels(SDL_Surface *surface) {
  return __atomic_load_n(&surface->pixels, __ATOMIC_ACQUIRE);
}

}  // namespace

DoubleBufferedSurface::~DoubleBufferedSurface() { Detach(); }

bool DoubleBufferedSurface::Attach(SDL_Surface *surface) {
  Detach();
  // One byte more so that an empty surface (SDL gives it no pixels) still
  // gets buffers of its own. A big one on 2 MB pages, whose first touch
  // costs a fraction of 4 KB pages'; a small one from SDL's allocator, as
  // the first buffer (a 2 MB page would cost it more than its faults).
  // Every frame writes the picture and copies the rest before it is shown,
  // so what the copy holds until then does not matter; its first touch is
  // left to a thread, off the load and usually done before the first frame.
  const size_t bytes = PixelBytes(surface);
  constexpr size_t kBig = size_t(1) << 20;
  copyMapped_ = bytes >= kBig;
  auto *const copy = static_cast<Uint8 *>(copyMapped_ ? MapHugePageBlock(bytes + 1)
                                                      : SDL_malloc(bytes + 1));
  auto *const first = surface->pixels != nullptr ? static_cast<Uint8 *>(surface->pixels)
                                                 : static_cast<Uint8 *>(SDL_malloc(1));
  if (copy == nullptr || first == nullptr) {
    FreeCopy(copy, bytes);
    if (first != surface->pixels) {
      SDL_free(first);
    }
    return false;
  }
  surface->pixels = first;
  surface->flags |= SDL_PREALLOC;
  surface_ = surface;
  buffers_[0] = first;
  buffers_[1] = copy;
  shown_ = 0;
  drawing_ = -1;
  // A small buffer costs the first frame less than a thread costs the load.
  if (bytes >= kBig) {
    try {
      // The first buffer is SDL's, often never written yet either (so the
      // second frame, the first drawn into it, came 20 ms late at 1080p); the
      // host may write it meanwhile, so its pages are backed without a write.
      warm_ = std::thread([copy, first, bytes] {
        NameThisThread("cl-warm");
        RunInLongTurns();
        GiveWayToStarter();
        PopulatePages(first, bytes);
        std::memset(copy, 0, bytes);
      });
    } catch (const std::system_error &) {
      // No thread: the first frame touches the pages itself.
    }
  }
  return true;
}

void DoubleBufferedSurface::AwaitWarm() {
  if (warm_.joinable()) {
    warm_.join();
  }
}

SDL_Surface *DoubleBufferedSurface::Detach() {
  AwaitWarm();
  SDL_Surface *const surface = surface_;
  if (surface != nullptr) {
    const int shown = Showing(LoadPixels(surface));
    if (shown == 0) {
      FreeCopy(buffers_[1], PixelBytes(surface));
    } else if (shown == 1) {
      SDL_free(buffers_[0]);
    }
  }
  surface_ = nullptr;
  buffers_[0] = buffers_[1] = nullptr;
  drawing_ = -1;
  return surface;
}

void DoubleBufferedSurface::FreeCopy(Uint8 *copy, size_t bytes) const {
  if (copyMapped_) {
    UnmapHugePageBlock(copy, bytes + 1);
  } else {
    SDL_free(copy);
  }
}

int DoubleBufferedSurface::Showing(const void *pixels) const {
  if (pixels == buffers_[0]) {
    return 0;
  }
  return pixels == buffers_[1] ? 1 : -1;
}

Uint8 *DoubleBufferedSurface::BeginFrame() {
  const int shown = Showing(LoadPixels(surface_));
  if (shown < 0) {
    drawing_ = -1;
    return nullptr;
  }
  AwaitWarm();
  shown_ = shown;
  drawing_ = 1 - shown;
  return buffers_[drawing_];
}

void DoubleBufferedSurface::CopyOutside(int x, int y, int width, int height) {
  const Uint8 *const shown = buffers_[shown_];
  Uint8 *const back = buffers_[drawing_];
  const ptrdiff_t pitch = surface_->pitch;
  const size_t rowBytes = static_cast<size_t>(surface_->w) * surface_->format->BytesPerPixel;
  const size_t left = static_cast<size_t>(x) * surface_->format->BytesPerPixel;
  const size_t right = left + static_cast<size_t>(width) * surface_->format->BytesPerPixel;
  // Rows above and below the picture are whole bars, contiguous in memory.
  CopyBytes(back, shown, static_cast<size_t>(y) * pitch);
  const ptrdiff_t below = (y + height) * pitch;
  CopyBytes(back + below, shown + below, PixelBytes(surface_) - static_cast<size_t>(below));
  if (left == 0 && right >= rowBytes) {
    return;
  }
  for (int row = y; row < y + height; ++row) {
    const ptrdiff_t start = row * pitch;
    CopyBytes(back + start, shown + start, left);
    CopyBytes(back + start + right, shown + start + right, rowBytes - right);
  }
}

void DoubleBufferedSurface::Publish() {
  // Everything drawn into the buffer is visible to whoever loads the new
  // pointer.
  __atomic_store_n(&surface_->pixels, static_cast<void *>(buffers_[drawing_]), __ATOMIC_RELEASE);
  shown_ = drawing_;
  drawing_ = -1;
}
