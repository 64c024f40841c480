#include "frames/pixel_convert.h"
#include "frames/pixel_convert_rows.h"
#include "frames/prefetch_row.h"

#include <cstdint>
#include <cstring>

void Convert24To32RowFrom(const Uint8 *in, Uint8 *out, int first, int width, Uint32 fourth) {
  in += static_cast<ptrdiff_t>(first) * 3;
  out += static_cast<ptrdiff_t>(first) * 4;
  for (int x = first; x < width; ++x) {
    // Blue, green, red in memory is 0x00RRGGBB read little-endian: the
    // destination's layout for the low three bytes.
    const Uint32 pixel = in[0] | (Uint32{in[1]} << 8) | (Uint32{in[2]} << 16) | fourth;
    std::memcpy(out, &pixel, 4);
    in += 3;
    out += 4;
  }
}

namespace {

void ConvertRow(const Uint8 *in, Uint8 *out, int width, Uint32 fourth, const Uint8 *next) {
  if (next != nullptr) {
    PrefetchRow(next, static_cast<size_t>(width) * 3);
  }
  Convert24To32RowFrom(in, out, 0, width, fourth);
}

}  // namespace

// The source's full opacity when the destination has an alpha channel,
// nothing otherwise.
Uint8 ConvertedFourthByte(const SDL_PixelFormat *format) { return format->Amask != 0 ? 0xFF : 0; }

bool CanConvert24To32(const SDL_PixelFormat *destination) {
  if (destination == nullptr || destination->BitsPerPixel != 32 ||
      destination->BytesPerPixel != 4 || destination->palette != nullptr) {
    return false;
  }
  if (SDL_BYTEORDER != SDL_LIL_ENDIAN) {
    return false;
  }
  return destination->Rmask == 0x00FF0000 && destination->Gmask == 0x0000FF00 &&
         destination->Bmask == 0x000000FF &&
         (destination->Amask == 0 || destination->Amask == 0xFF000000);
}

void Convert24To32With(PixelKernel kernel, const Uint8 *source, ptrdiff_t sourcePitch,
                       Uint8 *destination, ptrdiff_t destinationPitch, int width, int height,
                       const SDL_PixelFormat *format) {
  Convert24To32Row *convertRow = ConvertRow;
#ifdef CINELINK_X86_KERNELS
  if (kernel == PixelKernel::kAvx2) {
    convertRow = Avx2Convert24To32Row;
  }
#endif
  const Uint32 fourth = Uint32{ConvertedFourthByte(format)} << 24;
  for (int y = 0; y < height; ++y) {
    const Uint8 *next = y + 1 < height ? source + (y + 1) * sourcePitch : nullptr;
    convertRow(source + y * sourcePitch, destination + y * destinationPitch, width, fourth, next);
  }
}

void Convert24To32(const Uint8 *source, ptrdiff_t sourcePitch, Uint8 *destination,
                   ptrdiff_t destinationPitch, int width, int height,
                   const SDL_PixelFormat *format) {
  Convert24To32With(ChosenPixelKernel(), source, sourcePitch, destination, destinationPitch, width,
                    height, format);
}
