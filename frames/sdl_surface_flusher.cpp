#include "frames/sdl_surface_flusher.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include "frames/frame_pixels.h"
#include "frames/frame_surface.h"
#include "frames/pixel_convert.h"

namespace {

// Keeps a surface the host may hold alive until the process ends. Several
// movies' streaming threads may retire surfaces at once. The list itself is
// never destroyed, so the surfaces stay reachable through exit.
void RetireSurface(SDL_Surface *surface) {
  if (surface == nullptr) {
    return;
  }
  static std::mutex *const retiredLock = new std::mutex;
  static std::vector<SDL_Surface *> *const retired = new std::vector<SDL_Surface *>;
  std::lock_guard<std::mutex> guard(*retiredLock);
  retired->push_back(surface);
}

void FreeSurface(SDL_Surface *&surface) {
  if (surface != nullptr) {
    SDL_FreeSurface(surface);
    surface = nullptr;
  }
}

// A display-format surface of the given size, as SDL_DisplayFormat makes it of
// a 32-bit software surface; null when SDL cannot make it (no video mode yet,
// or no video at all). SDL_DisplayFormat is asked only of one pixel: on a
// whole surface it would clear and convert a template as big, and the load
// would write every page three times rather than once.
SDL_Surface *CreateDisplaySurface(LONG width, LONG height) {
  if (!SdlCanHoldSurface(width, height, 32)) {
    return nullptr;
  }
  SDL_Surface *const pixel = SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0x000000FF,
                                                  0x0000FF00, 0x00FF0000, 0xFF000000);
  if (pixel == nullptr) {
    return nullptr;
  }
  // SDL_DisplayFormat reads the video state without checking that video was
  // ever started; without a video surface there is no display format anyway.
  SDL_Surface *const probe =
      SDL_GetVideoSurface() != nullptr ? SDL_DisplayFormat(pixel) : nullptr;
  if (probe == nullptr) {
    SDL_FreeSurface(pixel);
    return nullptr;
  }
  const SDL_PixelFormat &format = *probe->format;
  // Cleared by SDL, as the converted clear template would have been.
  SDL_Surface *const display =
      SDL_CreateRGBSurface(probe->flags & SDL_HWSURFACE, width, height, format.BitsPerPixel,
                           format.Rmask, format.Gmask, format.Bmask, format.Amask);
  if (display != nullptr) {
    SDL_SetAlpha(display, probe->flags & (SDL_SRCALPHA | SDL_RLEACCELOK), format.alpha);
    if ((probe->flags & SDL_SRCCOLORKEY) != 0) {
      SDL_SetColorKey(display, probe->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK),
                      format.colorkey);
    }
  }
  // Freed only now: the new surface never takes the address of one freed.
  SDL_FreeSurface(probe);
  SDL_FreeSurface(pixel);
  return display;
}

// The scaler works on 4-byte pixels only, and the pixels are written
// directly, which video memory would not allow.
bool CanScaleInto(const SDL_Surface *surface) {
  return surface != nullptr && surface->format->BytesPerPixel == 4 &&
         (surface->flags & SDL_HWSURFACE) == 0;
}

}  // namespace

SDLSurfaceFlusher::SDLSurfaceFlusher(LONG width, LONG height)
    : targetWidth(width), targetHeight(height) {}

SDLSurfaceFlusher::~SDLSurfaceFlusher() { ReleaseSurfaces(); }

void SDLSurfaceFlusher::ReleaseSurfaces() {
  DropFramePath();
  outputSurface.store(nullptr);
  RetireSurface(output.Detach());
}

void SDLSurfaceFlusher::DropFramePath() {
  framesTaken = false;
  prepared = nullptr;
  FreeSurface(frameSurface);
  FreeSurface(workSurface);
  plan = ScalePlan();
}

bool SDLSurfaceFlusher::PrepareFormat(const BITMAPINFOHEADER *header) {
  if (header == nullptr) {
    return false;
  }
  ReleaseSurfaces();
  frameHeader = *header;
  SDL_Surface *shown = CreateDisplaySurface(targetWidth, targetHeight);
  // A display format the scaler cannot write: no surface rather than one
  // that never shows the movie. The host has not seen it yet.
  if (!CanScaleInto(shown) || !output.Attach(shown)) {
    FreeSurface(shown);
  }
  // Frames that cannot be taken leave the host its surface all the same.
  if (shown != nullptr && !PrepareFramePath(*shown)) {
    DropFramePath();
  }
  outputSurface.store(shown);
  return true;
}

bool SDLSurfaceFlusher::PrepareFramePath(const SDL_Surface &shown) {
  const LONG width = frameHeader.biWidth;
  const LONG height = frameHeader.biHeight;
  if (width < 1 || height < 1 ||
      !plan.Prepare(width, height, shown.w, shown.h, ScalePlan::SameSize::kCopy)) {
    return false;
  }
  directFrames = frameHeader.biBitCount == 24 && frameHeader.biCompression == BI_RGB &&
                 SdlCanHoldSurface(width, height, 24) && CanConvert24To32(shown.format);
  if (!directFrames) {
    frameSurface = CreateFrameSurface(frameHeader);
    workSurface = CreateDisplaySurface(width, height);
    if (frameSurface == nullptr || !CanScaleInto(workSurface)) {
      return false;
    }
  }
  framesTaken = true;
  return true;
}

void SDLSurfaceFlusher::PrepareFrame(BYTE *buffer, LONG length, LONG stride,
                                     const std::atomic<int> &abandon) {
  prepared = nullptr;
  preparedBack = DrawFrame(buffer, length, stride, &abandon);
  if (preparedBack != nullptr) {
    prepared = buffer;
    preparedLength = length;
  }
}

bool SDLSurfaceFlusher::FlushFrame(BYTE *buffer, LONG length, LONG stride) {
  // Drawn ahead, maybe long ago (a picture cued while paused): still the
  // buffer not on show, unless the host moved the pixels meanwhile.
  bool drawn = prepared != nullptr && prepared == buffer && preparedLength == length &&
               framesTaken && output.BeginFrame() == preparedBack;
  prepared = nullptr;
  if (!drawn && DrawFrame(buffer, length, stride) == nullptr) {
    return false;
  }
  // The bars now: the host may have drawn there since the picture was.
  output.CopyOutside(plan.Left(), plan.Top(), plan.Width(), plan.Height());
  output.Publish();
  return true;
}

Uint8 *SDLSurfaceFlusher::DrawFrame(BYTE *buffer, LONG length, LONG stride,
                                    const std::atomic<int> *abandon) {
  if (!framesTaken) {
    return nullptr;
  }
  // Not a frame that failed to read, so the surfaces stay.
  if (buffer == nullptr || length < 0) {
    return nullptr;
  }
  SDL_Surface *const shown = output.Surface();
  Uint8 *back = nullptr;
  if (directFrames) {
    // Bottom-up rows of the frame surface's pitch, read in place.
    const LONG pitch = Rgb24Pitch(frameHeader.biWidth);
    if (static_cast<int64_t>(pitch) * frameHeader.biHeight > length) {
      SDL_Error(SDL_EFREAD);
      ReleaseSurfaces();
      return nullptr;
    }
    back = output.BeginFrame();
    if (back == nullptr) {
      return nullptr;  // the host replaced the pixels (see the header)
    }
    if (!RunScalePlan24(plan, buffer + static_cast<ptrdiff_t>(frameHeader.biHeight - 1) * pitch,
                        -pitch, back, shown->pitch, shown->format, abandon)) {
      return nullptr;  // given up half drawn; the buffer is not on show
    }
  } else {
    SDL_RWops *const stream = SDL_RWFromMem(buffer, length);
    if (stream == nullptr) {
      return nullptr;
    }
    const bool complete = ReadFramePixels(frameSurface, stream, frameHeader.biBitCount,
                                          frameHeader.biCompression, stride);
    SDL_RWclose(stream);
    if (!complete) {
      ReleaseSurfaces();
      return nullptr;
    }
    // Into the display format at the frame's own size, then fitted.
    SDL_UpperBlit(frameSurface, nullptr, workSurface, nullptr);
    back = output.BeginFrame();
    if (back == nullptr) {
      return nullptr;
    }
    RunScalePlan(plan, static_cast<const Uint8 *>(workSurface->pixels), workSurface->pitch, back,
                 shown->pitch);
  }
  return back;
}

void SDLSurfaceFlusher::NotifyStopped() {}

SDL_Surface *SDLSurfaceFlusher::OutputSurface() const { return outputSurface.load(); }
