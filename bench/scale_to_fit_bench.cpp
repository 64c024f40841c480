// ScaleToFit against a bilinear 32-bit to 32-bit sws_scale into the same
// fitted rectangle of the same destination, and the 24 to 32-bit conversion
// against SDL's blit, in one run. After the table, the ratio of each job's
// median to its anchor's (run with --benchmark_repetitions=N for medians).
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "frames/pixel_convert.h"
#include "frames/scale_to_fit.h"

namespace {

using SurfacePtr = std::unique_ptr<SDL_Surface, void (*)(SDL_Surface *)>;

SurfacePtr MakeSurface(int width, int height, int depth) {
  SurfacePtr surface(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, depth, 0x00FF0000,
                                          0x0000FF00, 0x000000FF, 0),
                     SDL_FreeSurface);
  std::mt19937 random(7);
  auto *bytes = static_cast<uint8_t *>(surface->pixels);
  for (size_t k = 0; k < static_cast<size_t>(height) * surface->pitch; ++k) {
    bytes[k] = static_cast<uint8_t>(random());
  }
  return surface;
}

struct Sizes {
  int sw, sh, dw, dh;
  explicit Sizes(const benchmark::State &state)
      : sw(static_cast<int>(state.range(0))),
        sh(static_cast<int>(state.range(1))),
        dw(static_cast<int>(state.range(2))),
        dh(static_cast<int>(state.range(3))) {}
};

void SetCounters(benchmark::State &state, const ScalePlan &plan) {
  state.SetItemsProcessed(state.iterations() * plan.Width() * plan.Height());
  state.SetLabel(std::to_string(plan.Width()) + "x" + std::to_string(plan.Height()) + " fitted");
}

template <int (*Scale)(SDL_Surface *, SDL_Surface *)>
void BM_Surfaces(benchmark::State &state) {
  const Sizes s(state);
  SurfacePtr source = MakeSurface(s.sw, s.sh, 32);
  SurfacePtr destination = MakeSurface(s.dw, s.dh, 32);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Scale(source.get(), destination.get()));
    benchmark::ClobberMemory();
  }
  ScalePlan plan;
  plan.Prepare(s.sw, s.sh, s.dw, s.dh);
  SetCounters(state, plan);
}

void BM_ScaleToFit(benchmark::State &state) { BM_Surfaces<ScaleToFit>(state); }
void BM_ScaleToFitReference(benchmark::State &state) { BM_Surfaces<ScaleToFitReference>(state); }

// The per-frame path: the plan made once; from a 24-bit source, the fused
// conversion and scale.
template <int kSourceDepth>
void BM_Plan(benchmark::State &state) {
  const Sizes s(state);
  SurfacePtr source = MakeSurface(s.sw, s.sh, kSourceDepth);
  SurfacePtr destination = MakeSurface(s.dw, s.dh, 32);
  ScalePlan plan;
  plan.Prepare(s.sw, s.sh, s.dw, s.dh);
  const auto *pixels = static_cast<const Uint8 *>(source->pixels);
  auto *out = static_cast<Uint8 *>(destination->pixels);
  for (auto _ : state) {
    if (kSourceDepth == 24) {
      RunScalePlan24(plan, pixels, source->pitch, out, destination->pitch, destination->format);
    } else {
      RunScalePlan(plan, pixels, source->pitch, out, destination->pitch);
    }
    benchmark::ClobberMemory();
  }
  SetCounters(state, plan);
}

void BM_RunScalePlan(benchmark::State &state) { BM_Plan<32>(state); }
void BM_RunScalePlan24(benchmark::State &state) { BM_Plan<24>(state); }

void BM_SwsScaleBilinear(benchmark::State &state) {
  const Sizes s(state);
  SurfacePtr source = MakeSurface(s.sw, s.sh, 32);
  SurfacePtr destination = MakeSurface(s.dw, s.dh, 32);
  ScalePlan fit;
  fit.Prepare(s.sw, s.sh, s.dw, s.dh);
  SwsContext *context = sws_getContext(s.sw, s.sh, AV_PIX_FMT_BGRA, fit.Width(), fit.Height(),
                                       AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const uint8_t *const sourcePlanes[1] = {static_cast<const uint8_t *>(source->pixels)};
  const int sourceStrides[1] = {source->pitch};
  uint8_t *const destinationPlanes[1] = {static_cast<uint8_t *>(destination->pixels) +
                                         fit.Top() * destination->pitch + fit.Left() * 4};
  const int destinationStrides[1] = {destination->pitch};
  for (auto _ : state) {
    benchmark::DoNotOptimize(sws_scale(context, sourcePlanes, sourceStrides, 0, s.sh,
                                       destinationPlanes, destinationStrides));
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  SetCounters(state, fit);
}

void ScaleSizes(benchmark::internal::Benchmark *benchmark) {
  benchmark->Args({640, 480, 1280, 720});
  benchmark->Args({1280, 720, 1920, 1080});
  benchmark->Args({1920, 1080, 1280, 720});
  benchmark->ArgNames({"sw", "sh", "dw", "dh"});
  benchmark->Unit(benchmark::kMillisecond);
}

// A 24-bit frame into the 32-bit display format at the frame's own size.
void BM_Convert24To32(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  SurfacePtr frame = MakeSurface(width, height, 24);
  SurfacePtr work = MakeSurface(width, height, 32);
  for (auto _ : state) {
    Convert24To32(static_cast<const Uint8 *>(frame->pixels), frame->pitch,
                  static_cast<Uint8 *>(work->pixels), work->pitch, width, height, work->format);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}

void BM_SdlBlit24To32(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  SurfacePtr frame = MakeSurface(width, height, 24);
  SurfacePtr work = MakeSurface(width, height, 32);
  for (auto _ : state) {
    benchmark::DoNotOptimize(SDL_UpperBlit(frame.get(), nullptr, work.get(), nullptr));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}

void FrameSizes(benchmark::internal::Benchmark *benchmark) {
  benchmark->Args({640, 480});
  benchmark->Args({1280, 720});
  benchmark->Args({1920, 1080});
  benchmark->ArgNames({"w", "h"});
  benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ScaleToFit)->Apply(ScaleSizes);
BENCHMARK(BM_RunScalePlan)->Apply(ScaleSizes);
BENCHMARK(BM_RunScalePlan24)->Apply(ScaleSizes);
BENCHMARK(BM_ScaleToFitReference)->Apply(ScaleSizes);
BENCHMARK(BM_SwsScaleBilinear)->Apply(ScaleSizes);
BENCHMARK(BM_Convert24To32)->Apply(FrameSizes);
BENCHMARK(BM_SdlBlit24To32)->Apply(FrameSizes);

// Keeps each job's median (or its only run) by name and arguments.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.aggregate_name.empty() ? run.repetitions <= 1 : run.aggregate_name == "median") {
        times_[{run.run_name.function_name, run.run_name.args}] = {run.GetAdjustedRealTime(),
                                                                   run.GetAdjustedCPUTime()};
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatio(const std::string &job, const std::string &anchor) const {
    for (const auto &[key, time] : times_) {
      const auto other = times_.find({anchor, key.second});
      if (key.first != job || other == times_.end()) {
        continue;
      }
      std::printf("%-24s / %-20s %-34s real %.3fx  cpu %.3fx\n", job.c_str(), anchor.c_str(),
                  key.second.c_str(), time.first / other->second.first,
                  time.second / other->second.second);
    }
  }

 private:
  std::map<std::pair<std::string, std::string>, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nMedian time ratios:\n");
  for (const char *job : {"BM_ScaleToFit", "BM_RunScalePlan", "BM_RunScalePlan24",
                          "BM_ScaleToFitReference"}) {
    reporter.PrintRatio(job, "BM_SwsScaleBilinear");
  }
  reporter.PrintRatio("BM_Convert24To32", "BM_SdlBlit24To32");
  benchmark::Shutdown();
  return 0;
}
