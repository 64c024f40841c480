// Scales fuzzed sizes and pixels with the chosen kernel and with every other
// kernel this CPU has, and checks every destination byte against the
// straightforward per-pixel reference, bars included.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "frames/pixel_convert.h"
#include "frames/scale_kernels.h"
#include "frames/scale_to_fit.h"
#include "fuzz/reference_oracle.h"

namespace {

using SurfacePtr = std::unique_ptr<SDL_Surface, void (*)(SDL_Surface *)>;

// A 32-bit surface over exactly height * pitch bytes: the last row ends
// where the allocation does.
SurfacePtr Wrap(std::vector<uint8_t> &pixels, int width, int height, int pitch) {
  return SurfacePtr(SDL_CreateRGBSurfaceFrom(pixels.data(), width, height, 32, pitch, 0x000000FF,
                                             0x0000FF00, 0x00FF0000, 0xFF000000),
                    SDL_FreeSurface);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) {
    return 0;
  }
  const int sw = 1 + data[0] % 96;
  const int sh = 1 + data[1] % 96;
  const int dw = data[2] % 193;
  const int dh = data[3] % 193;
  const int sourcePitch = (sw + data[4] % 3) * 4;
  const int destinationPitch = (dw + data[5] % 3) * 4;
  const bool withAlpha = (data[5] & 0x80) != 0;
  data += 6;
  size -= 6;

  std::vector<uint8_t> sourcePixels(static_cast<size_t>(sourcePitch) * sh);
  for (size_t k = 0; k < sourcePixels.size(); ++k) {
    sourcePixels[k] = size != 0 ? static_cast<uint8_t>(data[k % size] + k / size) : 0;
  }
  std::vector<uint8_t> scaledPixels(static_cast<size_t>(destinationPitch) * dh, 0xA5);
  std::vector<uint8_t> expectedPixels = scaledPixels;
  if (scaledPixels.empty()) {
    scaledPixels.resize(1);  // SDL wants an address even for no pixels
    expectedPixels.resize(1);
  }
  const std::vector<uint8_t> untouched = scaledPixels;

  SurfacePtr source = Wrap(sourcePixels, sw, sh, sourcePitch);
  SurfacePtr scaled = Wrap(scaledPixels, dw, dh, destinationPitch);
  SurfacePtr expected = Wrap(expectedPixels, dw, dh, destinationPitch);
  if (!source || !scaled || !expected) {
    return 0;
  }
  if (ScaleToFit(source.get(), scaled.get()) != 0) {
    __builtin_trap();
  }
  OracleScaleToFit(source.get(), expected.get());
  if (scaledPixels != expectedPixels) {
    __builtin_trap();
  }
  ScalePlan plan;
  if (!plan.Prepare(sw, sh, dw, dh)) {
    __builtin_trap();
  }
  for (const PixelKernel kernel : AvailablePixelKernels()) {
    std::vector<uint8_t> pixels = untouched;
    RunScalePlanWith(kernel, plan, sourcePixels.data(), sourcePitch, pixels.data(),
                     destinationPitch);
    if (pixels != expectedPixels) {
      __builtin_trap();
    }
  }

  // The source's first sw * 3 bytes of each row as 3-byte pixels, rows of
  // exactly that length: scaling them must equal converting, then scaling.
  const int framePitch = sw * 3;
  std::vector<uint8_t> frame(static_cast<size_t>(framePitch) * sh);
  for (int y = 0; y < sh; ++y) {
    std::memcpy(&frame[static_cast<size_t>(y) * framePitch],
                &sourcePixels[static_cast<size_t>(y) * sourcePitch], static_cast<size_t>(framePitch));
  }
  static const SurfacePtr formats[2] = {
      SurfacePtr(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0),
                 SDL_FreeSurface),
      SurfacePtr(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000),
                 SDL_FreeSurface)};
  const SDL_PixelFormat *format = formats[withAlpha ? 1 : 0]->format;
  Convert24To32With(PixelKernel::kScalar, frame.data(), framePitch, sourcePixels.data(),
                    sourcePitch, sw, sh, format);
  std::copy(untouched.begin(), untouched.end(), expectedPixels.begin());
  OracleScaleToFit(source.get(), expected.get());
  for (const PixelKernel kernel : AvailablePixelKernels()) {
    std::vector<uint8_t> pixels = untouched;
    RunScalePlan24With(kernel, plan, frame.data(), framePitch, pixels.data(), destinationPitch,
                       format);
    if (pixels != expectedPixels) {
      __builtin_trap();
    }
  }
  return 0;
}
