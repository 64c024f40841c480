// Drives the whole frame sink, from format to output surface, with fuzzed
// headers, target sizes and frame bytes on SDL's dummy video driver. A 24-bit
// frame, converted without SDL, must show exactly what SDL's own read and
// blit followed by the reference scaler (or a copy, at the same size) give.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "frames/frame_pixels.h"
#include "frames/frame_surface.h"
#include "frames/scale_to_fit.h"
#include "frames/sdl_surface_flusher.h"
#include "platform/media/structs.h"

namespace {

constexpr WORD kBitCounts[] = {0, 1, 2, 4, 8, 15, 16, 24, 32, 64};
constexpr DWORD kCompressions[] = {BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS, 7};
constexpr size_t kHeaderBytes = 8;

// The output SDL's path gives for a 24-bit frame drawn over `shown`.
SDL_Surface *ShownBySdl(const BITMAPINFOHEADER &header, std::vector<BYTE> &buffer,
                        SDL_Surface *shown) {
  SDL_Surface *frame = CreateFrameSurface(header);
  SDL_RWops *stream = SDL_RWFromMem(buffer.data(), static_cast<int>(buffer.size()));
  ReadFramePixels(frame, stream, 24, BI_RGB, 0);
  SDL_RWclose(stream);
  SDL_Surface *work = SDL_DisplayFormat(frame);
  SDL_Surface *expected = SDL_DisplayFormat(shown);
  ScalePlan plan;
  plan.Prepare(frame->w, frame->h, shown->w, shown->h, ScalePlan::SameSize::kCopy);
  if (plan.Copies()) {
    SDL_Rect at{static_cast<Sint16>(plan.Left()), static_cast<Sint16>(plan.Top()), 0, 0};
    SDL_BlitSurface(work, nullptr, expected, &at);
  } else {
    ScaleToFitReference(work, expected);
  }
  SDL_FreeSurface(work);
  SDL_FreeSurface(frame);
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) != 0 || SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE) == nullptr) {
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHeaderBytes) {
    return 0;
  }
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biBitCount = kBitCounts[data[0] % std::size(kBitCounts)];
  header.biCompression = kCompressions[data[1] % std::size(kCompressions)];
  header.biWidth = static_cast<int8_t>(data[2]) % 48;  // negative and zero too
  header.biHeight = static_cast<int8_t>(data[3]) % 48;
  // Each run retires its output surface for good; small targets keep that
  // memory bounded over a long run.
  const LONG targetWidth = data[4] % 24;
  const LONG targetHeight = data[5] % 24;
  const LONG stride = static_cast<int8_t>(data[6]);
  const int frames = 1 + data[7] % 3;

  SDLSurfaceFlusher flusher(targetWidth, targetHeight);
  flusher.PrepareFormat(&header);
  std::vector<BYTE> buffer(data + kHeaderBytes, data + size);
  bool shown = false;
  for (int k = 0; k < frames; ++k) {
    shown = flusher.FlushFrame(buffer.data(), static_cast<LONG>(buffer.size()), stride);
    if (shown && flusher.OutputSurface() == nullptr) {
      __builtin_trap();
    }
  }
  SDL_Surface *output = flusher.OutputSurface();
  if (shown && output->w > 0 && header.biBitCount == 24 && header.biCompression == BI_RGB) {
    SDL_Surface *expected = ShownBySdl(header, buffer, output);
    for (int y = 0; y < output->h; ++y) {
      if (std::memcmp(static_cast<Uint8 *>(output->pixels) + y * output->pitch,
                      static_cast<Uint8 *>(expected->pixels) + y * expected->pitch,
                      static_cast<size_t>(output->w) * 4) != 0) {
        __builtin_trap();
      }
    }
    SDL_FreeSurface(expected);
  }
  return 0;
}
