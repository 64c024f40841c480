#include "frames/triple_buffered_surface.h"

#include <chrono>
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

TripleBufferedSurface::~TripleBufferedSurface() { Detach(); }

bool TripleBufferedSurface::Attach(SDL_Surface *surface) {
  Detach();
  // One byte more so that an empty surface (SDL gives it no pixels) still
  // gets buffers of its own. Big ones on 2 MB pages, whose first touch
  // costs a fraction of 4 KB pages'; small ones from SDL's allocator, as
  // the first buffer (a 2 MB page would cost them more than their faults).
  // Every frame writes the picture and copies the rest before it is shown,
  // so what the added buffers hold until then does not matter; their first
  // touch is left to a thread, off the load and usually done before the
  // first frame.
  const size_t bytes = PixelBytes(surface);
  constexpr size_t kBig = size_t(1) << 20;
  addedMapped_ = bytes >= kBig;
  const auto add = [&]() {
    return static_cast<Uint8 *>(addedMapped_ ? MapHugePageBlock(bytes + 1) : SDL_malloc(bytes + 1));
  };
  Uint8 *const added[2] = {add(), add()};
  auto *const first = surface->pixels != nullptr ? static_cast<Uint8 *>(surface->pixels)
                                                 : static_cast<Uint8 *>(SDL_malloc(1));
  if (added[0] == nullptr || added[1] == nullptr || first == nullptr) {
    FreeAdded(added[0], bytes);
    FreeAdded(added[1], bytes);
    if (first != surface->pixels) {
      SDL_free(first);
    }
    return false;
  }
  surface->pixels = first;
  surface->flags |= SDL_PREALLOC;
  surface_ = surface;
  buffers_[0] = first;
  buffers_[1] = added[0];
  buffers_[2] = added[1];
  shown_ = 0;
  drawing_ = -1;
  // A small buffer costs the first frame less than a thread costs the load.
  if (bytes >= kBig) {
    try {
      // The first buffer is SDL's, often never written yet either (so the
      // second frame, the first drawn into it, came 20 ms late at 1080p); the
      // host may write it meanwhile, so its pages are backed without a write.
      warm_ = std::thread([first, added0 = added[0], added1 = added[1], bytes] {
        NameThisThread("cl-warm");
        RunInLongTurns();
        GiveWayToStarter();
        PopulatePages(first, bytes);
        std::memset(added0, 0, bytes);
        std::memset(added1, 0, bytes);
      });
    } catch (const std::system_error &) {
      // No thread: the first frames touch the pages themselves.
    }
  }
  return true;
}

void TripleBufferedSurface::AwaitWarm() {
  if (warm_.joinable()) {
    warm_.join();
  }
}

SDL_Surface *TripleBufferedSurface::Detach() {
  AwaitWarm();
  SDL_Surface *const surface = surface_;
  if (surface != nullptr) {
    const int shown = Showing(LoadPixels(surface));
    // A blit that loaded the pointer just before the last publish may still
    // read the buffer it took off show: that one goes after a grace.
    const auto since = std::chrono::steady_clock::now() - lastPublish_;
    if (shown >= 0 && published_[1] != shown && since < kGrace) {
      std::this_thread::sleep_for(kGrace - since);
    }
    for (int k = 0; shown >= 0 && k < kBuffers; ++k) {
      if (k == shown) {
        continue;
      }
      if (k == 0) {
        SDL_free(buffers_[0]);
      } else {
        FreeAdded(buffers_[k], PixelBytes(surface));
      }
    }
  }
  surface_ = nullptr;
  for (int k = 0; k < kBuffers; ++k) {
    buffers_[k] = nullptr;
    published_[k] = k;
  }
  drawing_ = -1;
  return surface;
}

void TripleBufferedSurface::FreeAdded(Uint8 *buffer, size_t bytes) const {
  if (addedMapped_) {
    UnmapHugePageBlock(buffer, bytes + 1);
  } else {
    SDL_free(buffer);
  }
}

int TripleBufferedSurface::Showing(const void *pixels) const {
  for (int k = 0; k < kBuffers; ++k) {
    if (pixels == buffers_[k]) {
      return k;
    }
  }
  return -1;
}

Uint8 *TripleBufferedSurface::BeginFrame() {
  const int shown = Showing(LoadPixels(surface_));
  if (shown < 0) {
    drawing_ = -1;
    return nullptr;
  }
  AwaitWarm();
  shown_ = shown;
  // Longest off show; a host that put that one back reads it, and the one
  // before is the choice then (never the one published last).
  const int oldest = published_[kBuffers - 1];
  drawing_ = oldest != shown ? oldest : published_[kBuffers - 2];
  return buffers_[drawing_];
}

void TripleBufferedSurface::CopyOutside(int x, int y, int width, int height) {
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

void TripleBufferedSurface::Publish() {
  // Everything drawn into the buffer is visible to whoever loads the new
  // pointer.
  __atomic_store_n(&surface_->pixels, static_cast<void *>(buffers_[drawing_]), __ATOMIC_RELEASE);
  int at = 0;
  while (published_[at] != drawing_) {
    ++at;
  }
  for (; at > 0; --at) {
    published_[at] = published_[at - 1];
  }
  published_[0] = drawing_;
  lastPublish_ = std::chrono::steady_clock::now();
  shown_ = drawing_;
  drawing_ = -1;
}
