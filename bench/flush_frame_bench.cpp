// The whole FlushFrame of an RGB24 frame into a 1920x1080 output (convert,
// scale, show) against one sws_scale from bottom-up BGR24 straight to the
// 32-bit output format, for a 1280x720 frame, a 1920x1080 one (the same-size
// path) and a 3840x2160 one.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "frames/sdl_surface_flusher.h"
#include "platform/media/structs.h"

namespace {

constexpr int kOutputWidth = 1920;
constexpr int kOutputHeight = 1080;

int Stride(int width) { return (width * 3 + 3) / 4 * 4; }

std::vector<BYTE> MakeFrame(int width, int height) {
  std::vector<BYTE> frame(static_cast<size_t>(Stride(width)) * height);
  std::mt19937 random(8);
  for (BYTE &b : frame) {
    b = static_cast<BYTE>(random());
  }
  return frame;
}

// Writes a buffer larger than the last-level cache outside the timing.
void EvictCachesIfCold(benchmark::State &state) {
  if (state.range(2) == 0) {
    return;
  }
  state.PauseTiming();
  static std::vector<uint8_t> sweep(size_t{96} << 20);
  for (size_t i = 0; i < sweep.size(); i += 64) {
    ++sweep[i];
  }
  benchmark::DoNotOptimize(sweep.data());
  state.ResumeTiming();
}

BITMAPINFOHEADER FrameHeader(int width, int height) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  return header;
}

void BM_FlushFrame(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  std::vector<BYTE> frame = MakeFrame(width, height);
  // Sinks live as long as the process in the library; one per size.
  auto *flusher = new SDLSurfaceFlusher(kOutputWidth, kOutputHeight);
  const BITMAPINFOHEADER header = FrameHeader(width, height);
  flusher->PrepareFormat(&header);
  for (auto _ : state) {
    EvictCachesIfCold(state);
    if (!flusher->FlushFrame(frame.data(), static_cast<LONG>(frame.size()), Stride(width))) {
      state.SkipWithError("frame refused");
      break;
    }
    benchmark::ClobberMemory();
  }
  flusher->ReleaseSurfaces();
  state.SetItemsProcessed(state.iterations());
}

void BM_SwsScaleFromBottomUpBgr24(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  std::vector<BYTE> frame = MakeFrame(width, height);
  const SDL_PixelFormat *display = SDL_GetVideoSurface()->format;
  // The 32-bit display format as swscale names it (little-endian bytes).
  const AVPixelFormat outputFormat =
      display->Rmask == 0x00FF0000 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_RGB0;
  std::vector<uint8_t> output(static_cast<size_t>(kOutputWidth) * 4 * kOutputHeight);
  SwsContext *context = sws_getContext(width, height, AV_PIX_FMT_BGR24, kOutputWidth,
                                       kOutputHeight, outputFormat, SWS_BILINEAR, nullptr,
                                       nullptr, nullptr);
  if (context == nullptr) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  // Bottom-up rows: start at the last buffer row and step backwards.
  const uint8_t *const sourcePlanes[1] = {frame.data() +
                                          static_cast<size_t>(height - 1) * Stride(width)};
  const int sourceStrides[1] = {-Stride(width)};
  uint8_t *const outputPlanes[1] = {output.data()};
  const int outputStrides[1] = {kOutputWidth * 4};
  for (auto _ : state) {
    EvictCachesIfCold(state);
    benchmark::DoNotOptimize(sws_scale(context, sourcePlanes, sourceStrides, 0, height,
                                       outputPlanes, outputStrides));
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  state.SetItemsProcessed(state.iterations());
}

void FrameSizes(benchmark::internal::Benchmark *benchmark) {
  for (int cold = 0; cold < 2; ++cold) {
    benchmark->Args({1280, 720, cold})->Args({kOutputWidth, kOutputHeight, cold});
    benchmark->Args({3840, 2160, cold});
  }
  benchmark->ArgNames({"width", "height", "cold"});
}

BENCHMARK(BM_FlushFrame)->Apply(FrameSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwsScaleFromBottomUpBgr24)->Apply(FrameSizes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  if (SDL_Init(SDL_INIT_VIDEO) != 0 || SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE) == nullptr) {
    std::fprintf(stderr, "no 32-bit video mode: %s\n", SDL_GetError());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  SDL_Quit();
  return 0;
}
