// The movie source's picture conversion (decoded YUV 4:2:0 to bottom-up BGR24
// in the sample buffer, upright or turned) against one plain sws_scale to
// top-down BGR24, and against libswscale's own slice threads (sws_scale_frame
// with "threads"), the alternative to one pass on the video thread.
//
// Times are wall clock; the CPU column is the whole process's, so threaded
// variants show what their threads cost too.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <random>
#include <vector>

#include "mediagraph/decode/av_handles.h"
#include "mediagraph/decode/frame_converter.h"

namespace {

using mediagraph::FrameConverter;

// A 4:2:0 picture of noise: the conversion costs the same for any content.
mediagraph::FramePtr MakePicture(int width, int height) {
  mediagraph::FramePtr frame = mediagraph::MakeFrame();
  frame->width = width;
  frame->height = height;
  frame->format = AV_PIX_FMT_YUV420P;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  std::mt19937 random(11);
  for (int plane = 0; plane < 3; ++plane) {
    const int rows = plane == 0 ? height : (height + 1) / 2;
    for (int y = 0; y < rows; ++y) {
      uint8_t *row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      for (int x = 0; x < frame->linesize[plane]; ++x) row[x] = static_cast<uint8_t>(random());
    }
  }
  return frame;
}

void SetPictures(benchmark::State &state) {
  state.SetItemsProcessed(state.iterations());
}

// Converts a random picture of the state's size over and over.
void TimeConversions(benchmark::State &state, FrameConverter &converter) {
  mediagraph::FramePtr picture =
      MakePicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<uint8_t> sample(converter.ImageSize());
  for (auto _ : state) {
    if (!converter.Convert(picture.get(), sample.data(), sample.size())) {
      state.SkipWithError("not converted");
      break;
    }
    benchmark::ClobberMemory();
  }
  SetPictures(state);
}

void BM_FrameConverter(benchmark::State &state) {
  FrameConverter converter(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  TimeConversions(state, converter);
}

// A phone's clip, recorded on its side: converted, then turned a quarter.
void BM_FrameConverterTurned(benchmark::State &state) {
  mediagraph::PictureShape shape = mediagraph::PictureShape::Square(
      static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  shape.transposed = true;
  shape.mirrorX = true;
  FrameConverter converter(shape);
  TimeConversions(state, converter);
}

// The anchor: one sws_scale into top-down rows, the library's plain call.
void BM_SwsScaleTopDown(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  mediagraph::FramePtr picture = MakePicture(width, height);
  mediagraph::SwsContextPtr scaler(sws_getContext(width, height, AV_PIX_FMT_YUV420P, width,
                                                  height, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                                                  nullptr, nullptr, nullptr));
  const int stride = FrameConverter::RowStride(width);
  std::vector<uint8_t> out(static_cast<size_t>(stride) * height);
  uint8_t *planes[4] = {out.data(), nullptr, nullptr, nullptr};
  int strides[4] = {stride, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(scaler.get(), picture->data, picture->linesize, 0, height, planes, strides);
    benchmark::ClobberMemory();
  }
  SetPictures(state);
}

// Bottom-up into the same buffer through sws_scale_frame, with
// range(2) slice threads.
void BM_SwsSliceThreads(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  mediagraph::FramePtr picture = MakePicture(width, height);
  mediagraph::SwsContextPtr scaler(sws_alloc_context());
  av_opt_set_int(scaler.get(), "srcw", width, 0);
  av_opt_set_int(scaler.get(), "srch", height, 0);
  av_opt_set_int(scaler.get(), "src_format", AV_PIX_FMT_YUV420P, 0);
  av_opt_set_int(scaler.get(), "dstw", width, 0);
  av_opt_set_int(scaler.get(), "dsth", height, 0);
  av_opt_set_int(scaler.get(), "dst_format", AV_PIX_FMT_BGR24, 0);
  av_opt_set_int(scaler.get(), "sws_flags", SWS_BILINEAR, 0);
  av_opt_set_int(scaler.get(), "threads", state.range(2), 0);
  if (sws_init_context(scaler.get(), nullptr, nullptr) < 0) {
    state.SkipWithError("no scaler");
    return;
  }
  const int stride = FrameConverter::RowStride(width);
  std::vector<uint8_t> out(static_cast<size_t>(stride) * height);
  mediagraph::FramePtr target = mediagraph::MakeFrame();
  target->width = width;
  target->height = height;
  target->format = AV_PIX_FMT_BGR24;
  target->data[0] = out.data() + static_cast<size_t>(stride) * (height - 1);
  target->linesize[0] = -stride;
  // A reference that frees nothing: the frame writes into our buffer.
  target->buf[0] = av_buffer_create(out.data(), static_cast<int>(out.size()),
                                    [](void *, uint8_t *) {}, nullptr, 0);
  for (auto _ : state) {
    if (sws_scale_frame(scaler.get(), target.get(), picture.get()) < 0) {
      state.SkipWithError("sws_scale_frame failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  SetPictures(state);
}

void Sizes(benchmark::internal::Benchmark *bench) {
  bench->Args({1920, 1080})->Args({1280, 720});
  bench->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
}

BENCHMARK(BM_FrameConverter)->Apply(Sizes);
BENCHMARK(BM_FrameConverterTurned)->Apply(Sizes);
BENCHMARK(BM_SwsScaleTopDown)->Apply(Sizes);
BENCHMARK(BM_SwsSliceThreads)
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Args({1920, 1080, 4})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
