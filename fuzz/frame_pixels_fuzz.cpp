// Reads fuzzed pixel data for every kind of frame header into the surface
// the frame sink would make for it.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "frames/frame_pixels.h"
#include "frames/frame_surface.h"
#include "platform/media/structs.h"

namespace {

constexpr WORD kBitCounts[] = {1, 4, 8, 15, 16, 24, 32};
constexpr DWORD kCompressions[] = {BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS, 4, 0xFFFFFFFF};
constexpr size_t kHeaderBytes = 5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHeaderBytes) {
    return 0;
  }
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biBitCount = kBitCounts[data[0] % std::size(kBitCounts)];
  header.biCompression = kCompressions[data[1] % std::size(kCompressions)];
  header.biWidth = 1 + data[2] % 64;
  header.biHeight = 1 + data[3] % 64;
  const LONG stride = static_cast<int8_t>(data[4]);

  std::unique_ptr<SDL_Surface, void (*)(SDL_Surface *)> surface(CreateFrameSurface(header),
                                                                SDL_FreeSurface);
  if (!surface) {
    return 0;
  }
  // An exact-size copy, so that reading one byte too many is caught.
  std::vector<uint8_t> pixels(data + kHeaderBytes, data + size);
  SDL_RWops *stream = SDL_RWFromMem(pixels.data(), static_cast<int>(pixels.size()));
  if (stream == nullptr) {
    return 0;
  }
  ReadFramePixels(surface.get(), stream, header.biBitCount, header.biCompression, stride);
  if (SDL_RWtell(stream) > static_cast<int>(pixels.size())) {
    __builtin_trap();
  }
  SDL_RWclose(stream);
  return 0;
}
