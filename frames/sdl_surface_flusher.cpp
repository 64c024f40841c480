#include "frames/sdl_surface_flusher.h"

#include <mutex>
#include <vector>

#include "frames/frame_pixels.h"
#include "frames/frame_surface.h"
#include "frames/scale_to_fit.h"

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

// A display-format surface of the given size, made from a 32-bit software
// template; null when SDL cannot make it (no video mode yet, or no video at all).
SDL_Surface *CreateDisplaySurface(LONG width, LONG height) {
  if (width < 0 || width > kMaxSurfaceSide || height < 0 || height > kMaxSurfaceSide) {
    return nullptr;
  }
  SDL_Surface *const templateSurface = SDL_CreateRGBSurface(
      SDL_SWSURFACE, width, height, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  if (templateSurface == nullptr) {
    return nullptr;
  }
  // SDL_DisplayFormat reads the video state without checking that video was
  // ever started; without a video surface there is no display format anyway.
  SDL_Surface *const displaySurface =
      SDL_GetVideoSurface() != nullptr ? SDL_DisplayFormat(templateSurface) : nullptr;
  SDL_FreeSurface(templateSurface);
  return displaySurface;
}

// The scaler works on 4-byte pixels only.
bool HasFourBytePixels(const SDL_Surface *surface) {
  return surface != nullptr && surface->format->BytesPerPixel == 4;
}

}  // namespace

SDLSurfaceFlusher::SDLSurfaceFlusher(LONG width, LONG height)
    : targetWidth(width), targetHeight(height) {}

SDLSurfaceFlusher::~SDLSurfaceFlusher() { DropSurfaces(); }

void SDLSurfaceFlusher::DropSurfaces() {
  FreeSurface(frameSurface);
  FreeSurface(workSurface);
  RetireSurface(outputSurface.exchange(nullptr));
}

bool SDLSurfaceFlusher::PrepareFormat(const BITMAPINFOHEADER *header) {
  if (header == nullptr) {
    return false;
  }
  DropSurfaces();
  frameHeader = *header;
  frameSurface = CreateFrameSurface(frameHeader);
  workSurface = CreateDisplaySurface(frameHeader.biWidth, frameHeader.biHeight);
  SDL_Surface *output = CreateDisplaySurface(targetWidth, targetHeight);
  if (!HasFourBytePixels(workSurface) || !HasFourBytePixels(output)) {
    // A display format the scaler cannot write: refuse frames rather than
    // show them garbled. The host has not seen either surface yet.
    FreeSurface(workSurface);
    FreeSurface(output);
  }
  outputSurface.store(output);
  return true;
}

bool SDLSurfaceFlusher::FlushFrame(BYTE *buffer, LONG length, LONG stride) {
  SDL_Surface *const output = outputSurface.load();
  if (frameSurface == nullptr || workSurface == nullptr || output == nullptr) {
    return false;
  }
  // Not a frame that failed to read, so the surfaces stay.
  if (buffer == nullptr || length < 0) {
    return false;
  }
  SDL_RWops *const stream = SDL_RWFromMem(buffer, length);
  if (stream == nullptr) {
    return false;
  }
  const bool complete = ReadFramePixels(frameSurface, stream, frameHeader.biBitCount,
                                        frameHeader.biCompression, stride);
  SDL_RWclose(stream);
  if (!complete) {
    DropSurfaces();
    return false;
  }
  // Into the display format at the frame's own size, then fitted.
  SDL_UpperBlit(frameSurface, nullptr, workSurface, nullptr);
  ScaleToFit(workSurface, output);
  return true;
}

void SDLSurfaceFlusher::NotifyStopped() {}

void SDLSurfaceFlusher::ReleaseSurfaces() {
  FreeSurface(frameSurface);
  RetireSurface(outputSurface.exchange(nullptr));
}

SDL_Surface *SDLSurfaceFlusher::OutputSurface() const { return outputSurface.load(); }
