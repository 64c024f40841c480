// Drives the whole frame sink, from format to output surface, with fuzzed
// headers, target sizes and frame bytes on SDL's dummy video driver.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <cstdlib>
#include <vector>

#include "frames/sdl_surface_flusher.h"
#include "platform/media/structs.h"

namespace {

constexpr WORD kBitCounts[] = {0, 1, 2, 4, 8, 15, 16, 24, 32, 64};
constexpr DWORD kCompressions[] = {BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS, 7};
constexpr size_t kHeaderBytes = 8;

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
  for (int k = 0; k < frames; ++k) {
    const bool shown = flusher.FlushFrame(buffer.data(), static_cast<LONG>(buffer.size()), stride);
    if (shown && flusher.OutputSurface() == nullptr) {
      __builtin_trap();
    }
  }
  return 0;
}
