// ScaleToFit against a bilinear 32-bit to 32-bit sws_scale into the same
// fitted rectangle of the same destination.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <random>

#include "frames/scale_to_fit.h"

namespace {

using SurfacePtr = std::unique_ptr<SDL_Surface, void (*)(SDL_Surface *)>;

SurfacePtr MakeSurface(int width, int height) {
  SurfacePtr surface(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 32, 0x00FF0000,
                                          0x0000FF00, 0x000000FF, 0xFF000000),
                     SDL_FreeSurface);
  std::mt19937 random(7);
  auto *bytes = static_cast<uint8_t *>(surface->pixels);
  for (size_t k = 0; k < static_cast<size_t>(height) * surface->pitch; ++k) {
    bytes[k] = static_cast<uint8_t>(random());
  }
  return surface;
}

struct Fit {
  int width, height, left, top;
};

// The same fit ScaleToFit makes.
Fit FitFor(int sw, int sh, int dw, int dh) {
  if (static_cast<double>(dh) / sh < static_cast<double>(dw) / sw) {
    const int fw = dh * sw / sh;
    return {fw, dh, (dw - fw) / 2, 0};
  }
  const int fh = dw * sh / sw;
  return {dw, fh, 0, (dh - fh) / 2};
}

void SetCounters(benchmark::State &state, const Fit &fit) {
  state.SetItemsProcessed(state.iterations() * fit.width * fit.height);
  state.SetLabel(std::to_string(fit.width) + "x" + std::to_string(fit.height) + " fitted");
}

void BM_ScaleToFit(benchmark::State &state) {
  const int sw = static_cast<int>(state.range(0));
  const int sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2));
  const int dh = static_cast<int>(state.range(3));
  SurfacePtr source = MakeSurface(sw, sh);
  SurfacePtr destination = MakeSurface(dw, dh);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ScaleToFit(source.get(), destination.get()));
    benchmark::ClobberMemory();
  }
  SetCounters(state, FitFor(sw, sh, dw, dh));
}

void BM_SwsScaleBilinear(benchmark::State &state) {
  const int sw = static_cast<int>(state.range(0));
  const int sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2));
  const int dh = static_cast<int>(state.range(3));
  SurfacePtr source = MakeSurface(sw, sh);
  SurfacePtr destination = MakeSurface(dw, dh);
  const Fit fit = FitFor(sw, sh, dw, dh);
  SwsContext *context = sws_getContext(sw, sh, AV_PIX_FMT_BGRA, fit.width, fit.height,
                                       AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const uint8_t *const sourcePlanes[1] = {static_cast<const uint8_t *>(source->pixels)};
  const int sourceStrides[1] = {source->pitch};
  uint8_t *const destinationPlanes[1] = {static_cast<uint8_t *>(destination->pixels) +
                                         fit.top * destination->pitch + fit.left * 4};
  const int destinationStrides[1] = {destination->pitch};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        sws_scale(context, sourcePlanes, sourceStrides, 0, sh, destinationPlanes, destinationStrides));
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  SetCounters(state, fit);
}

void Sizes(benchmark::internal::Benchmark *benchmark) {
  benchmark->Args({640, 480, 1280, 720});
  benchmark->Args({1280, 720, 1920, 1080});
  benchmark->Args({1920, 1080, 1280, 720});
  benchmark->ArgNames({"sw", "sh", "dw", "dh"});
  benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ScaleToFit)->Apply(Sizes);
BENCHMARK(BM_SwsScaleBilinear)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
