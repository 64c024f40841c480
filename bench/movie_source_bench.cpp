// The movie source's decode-and-deliver throughput on a 1280x720 H.264 movie
// with no clock (as fast as it goes) beside the ffmpeg command decoding the
// same file with the same (automatic) thread count; and the sound-to-picture
// offset over a 60 s movie played through the graph in real time, from the
// renderer's statistics and the sound's heard position.
//
// The movies are made with the ffmpeg command into a temporary directory at
// start-up. Run a Release build on an otherwise idle machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "mediagraph/source/movie_source.h"
#include "mediagraph/source/movie_source_filter.h"
#include "platform/media/media.h"
#include "renderer/base_video_renderer.h"

namespace {

// The movies' directory, removed when the program ends.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "movie-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

std::string Directory() {
  static const ScratchDirectory dir;
  return dir.Path().empty() ? std::string("/tmp") : dir.Path();
}

bool Ffmpeg(const std::string &arguments) {
  return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments).c_str()) ==
         0;
}

// 10 s of a moving test picture at 1280x720, 25 pictures a second.
const std::string &HdMovie() {
  static const std::string path = [] {
    const std::string file = Directory() + "/hd.mp4";
    Ffmpeg("-f lavfi -i testsrc2=s=1280x720:r=25:d=10 -c:v libx264 -preset veryfast "
           "-pix_fmt yuv420p '" + file + "'");
    return file;
  }();
  return path;
}

// 60 s with sound: a small moving picture and a tone.
const std::string &LongMovie() {
  static const std::string path = [] {
    const std::string file = Directory() + "/long.mp4";
    Ffmpeg("-f lavfi -i testsrc2=s=320x240:r=25:d=60 -f lavfi -i sine=f=440:d=60 "
           "-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac '" + file + "'");
    return file;
  }();
  return path;
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

// {8E0A2F61-4C7B-4B9D-A3E2-61D5C0F7B912}
constexpr CLSID kCountingSinkClass = {
    0x8E0A2F61, 0x4C7B, 0x4B9D, {0xA3, 0xE2, 0x61, 0xD5, 0xC0, 0xF7, 0xB9, 0x12}};

// Takes every RGB24 picture at once and counts it; notes the end of stream.
class CountingSink final : public CBaseFilter {
 public:
  CountingSink() : CBaseFilter(L"counting sink", nullptr, &lock_, kCountingSinkClass), pin_(this) {}
  int PinCount() override { return 1; }
  CBasePin *PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
  IPin *Input() { return static_cast<IPin *>(&pin_); }

  void Reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    ended_ = false;
    pictures_ = 0;
  }
  int64_t AwaitEnd() {
    std::unique_lock<std::mutex> hold(mutex_);
    ended_changed_.wait(hold, [this] { return ended_; });
    return pictures_;
  }

 private:
  class Pin final : public CBaseInputPin {
   public:
    explicit Pin(CountingSink *sink)
        : CBaseInputPin(L"counting input", sink, &sink->lock_, nullptr, L"In"), sink_(sink) {}
    HRESULT TestMediaType(const AM_MEDIA_TYPE *type) override {
      return type->subtype == MEDIASUBTYPE_RGB24 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Receive(IMediaSample *sample) override {
      const HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr != S_OK) return hr;
      std::lock_guard<std::mutex> hold(sink_->mutex_);
      ++sink_->pictures_;
      return S_OK;
    }
    STDMETHODIMP EndOfStream() override {
      std::lock_guard<std::mutex> hold(sink_->mutex_);
      sink_->ended_ = true;
      sink_->ended_changed_.notify_all();
      return S_OK;
    }

   private:
    CountingSink *const sink_;
  };

  CriticalLock lock_;
  Pin pin_;
  std::mutex mutex_;
  std::condition_variable ended_changed_;
  bool ended_ = false;
  int64_t pictures_ = 0;
};

void BM_SourceDecodeAndDeliver(benchmark::State &state) {
  CoInitialize(nullptr);
  MovieSource *source = nullptr;
  if (FAILED(CreateMovieSource(Wide(HdMovie()).c_str(), &source))) {
    state.SkipWithError("cannot open the movie");
    return;
  }
  auto *sink = new CountingSink();
  sink->NonDelegatingUnknown()->AddRef();
  source->VideoPin()->Connect(sink->Input(), nullptr);
  int64_t pictures = 0;
  for (auto _ : state) {
    sink->Reset();
    LONGLONG zero = 0;
    source->Seeking()->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning);
    sink->Run(0);
    source->Filter()->Run(0);
    pictures += sink->AwaitEnd();
    source->Filter()->Stop();
    sink->Stop();
  }
  state.counters["pictures/s"] =
      benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
  source->VideoPin()->Disconnect();
  sink->Input()->Disconnect();
  source->Release();
  sink->NonDelegatingUnknown()->Release();
  CoUninitialize();
}
BENCHMARK(BM_SourceDecodeAndDeliver)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The same file through the ffmpeg command: plain decoding, and decoding with
// the conversion to BGR24 that the source does too.
void BM_FfmpegNull(benchmark::State &state, const char *conversion) {
  const std::string command = std::string("-i '") + HdMovie() + "' " + conversion + " -f null -";
  for (auto _ : state) {
    if (!Ffmpeg(command)) state.SkipWithError("ffmpeg failed");
  }
  state.counters["pictures/s"] =
      benchmark::Counter(250.0 * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_FfmpegNull, decode_only, "")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_FfmpegNull, decode_to_bgr24, "-pix_fmt bgr24")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// {2B7D4E90-6A13-4F58-8C0D-9E4B1F3A7C26}
constexpr CLSID kQuietRendererClass = {
    0x2B7D4E90, 0x6A13, 0x4F58, {0x8C, 0x0D, 0x9E, 0x4B, 0x1F, 0x3A, 0x7C, 0x26}};

// A video renderer that draws nothing: the framework's timing and statistics,
// and the wall-clock time of every draw.
class QuietRenderer final : public CBaseVideoRenderer {
 public:
  QuietRenderer() : CBaseVideoRenderer(kQuietRendererClass, L"quiet renderer", nullptr, nullptr) {}
  HRESULT DrawSample(IMediaSample *) override {
    std::lock_guard<std::mutex> hold(drawsLock_);
    draws_.push_back(std::chrono::steady_clock::now());
    return S_OK;
  }
  std::vector<std::chrono::steady_clock::time_point> Draws() {
    std::lock_guard<std::mutex> hold(drawsLock_);
    return draws_;
  }
  HRESULT ValidateMediaType(const AM_MEDIA_TYPE *type) override {
    return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24 &&
                   type->formattype == FORMAT_VideoInfo && type->pbFormat != nullptr
               ? S_OK
               : E_FAIL;
  }

 private:
  std::mutex drawsLock_;
  std::vector<std::chrono::steady_clock::time_point> draws_;
};

// A 1 s movie, 25 pictures a second, looped as the movie library loops a
// repetitive movie: seek to 0 at EC_COMPLETE. The gap is how much longer the
// last picture of one round stays up than a picture's duration (negative:
// shorter, when EC_COMPLETE comes before that picture's time is over).
std::string ShortMovie(bool sound) {
  const std::string file = Directory() + (sound ? "/short.mp4" : "/short-silent.mp4");
  if (!std::filesystem::exists(file)) {
    Ffmpeg(std::string("-f lavfi -i testsrc2=s=320x240:r=25:d=1 ") +
           (sound ? "-f lavfi -i sine=f=440:d=1 -c:a aac " : "") +
           "-c:v libx264 -preset veryfast -pix_fmt yuv420p '" + file + "'");
  }
  return file;
}

void BM_LoopGap(benchmark::State &state, bool sound) {
  constexpr int kRounds = 6;
  constexpr int kPictures = 25;
  CoInitialize(nullptr);
  for (auto _ : state) {
    IGraphBuilder *graph = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void **>(&graph));
    auto *renderer = new QuietRenderer();
    IBaseFilter *rendererFilter = static_cast<IBaseFilter *>(renderer);
    rendererFilter->AddRef();
    graph->AddFilter(rendererFilter, L"TEXTURERENDERER");
    if (FAILED(graph->RenderFile(Wide(ShortMovie(sound)).c_str(), nullptr))) {
      state.SkipWithError("the movie did not render");
      break;
    }
    IMediaControl *control = nullptr;
    IMediaEvent *events = nullptr;
    IMediaPosition *position = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&events));
    graph->QueryInterface(IID_IMediaPosition, reinterpret_cast<void **>(&position));
    control->Run();
    for (int round = 0; round < kRounds;) {
      LONG code = 0;
      LONG_PTR p1 = 0;
      LONG_PTR p2 = 0;
      if (events->GetEvent(&code, &p1, &p2, 10000) != S_OK) break;
      if (code != EC_COMPLETE) continue;
      if (++round < kRounds) position->put_CurrentPosition(0.0);
    }
    control->Stop();
    const auto draws = renderer->Draws();
    double worst = -1e9;
    double sum = 0.0;
    int gaps = 0;
    for (size_t i = kPictures; i + 1 <= draws.size() && gaps < kRounds - 1; i += kPictures) {
      const double held =
          std::chrono::duration<double, std::milli>(draws[i] - draws[i - 1]).count() - 40.0;
      worst = std::max(worst, held);
      sum += held;
      ++gaps;
    }
    state.counters["pictures_drawn"] = static_cast<double>(draws.size());
    state.counters["loop_gap_ms_mean"] = gaps > 0 ? sum / gaps : 0.0;
    state.counters["loop_gap_ms_max"] = gaps > 0 ? worst : 0.0;
    position->Release();
    control->Release();
    events->Release();
    graph->Release();
    rendererFilter->Release();
  }
  CoUninitialize();
}
BENCHMARK_CAPTURE(BM_LoopGap, with_sound, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_LoopGap, picture_only, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Plays the 60 s movie through the graph. Every half second: how late the
// sound is heard against the clock. At the end: how late the renderer drew
// the pictures on average. The offset is sound lateness minus picture
// lateness: positive when the picture is ahead of the sound.
void BM_SoundPictureOffset(benchmark::State &state) {
  CoInitialize(nullptr);
  for (auto _ : state) {
    IGraphBuilder *graph = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void **>(&graph));
    auto *renderer = new QuietRenderer();
    IBaseFilter *rendererFilter = static_cast<IBaseFilter *>(renderer);
    rendererFilter->AddRef();
    graph->AddFilter(rendererFilter, L"TEXTURERENDERER");
    const std::wstring path = Wide(LongMovie());
    if (graph->RenderFile(path.c_str(), nullptr) != S_OK) {
      state.SkipWithError("the movie did not render with sound");
      break;
    }
    IBaseFilter *sourceFilter = nullptr;
    graph->FindFilterByName(path.c_str(), &sourceFilter);
    auto *source = dynamic_cast<mediagraph::CMovieSourceFilter *>(sourceFilter);
    IMediaControl *control = nullptr;
    IMediaEvent *events = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&events));
    control->Run();

    double sum = 0.0;
    double low = 1e9;
    double high = -1e9;
    int samples = 0;
    REFERENCE_TIME lastClock = 0;
    for (;;) {
      LONG code = 0;
      LONG_PTR p1 = 0;
      LONG_PTR p2 = 0;
      if (events->GetEvent(&code, &p1, &p2, 500) == S_OK && code == EC_COMPLETE) break;
      REFERENCE_TIME clock = 0;
      REFERENCE_TIME heard = 0;
      if (source != nullptr && source->LastHeard(&clock, &heard) && clock != lastClock) {
        lastClock = clock;
        const double late = static_cast<double>(clock - source->StartTime() - heard) / 10000.0;
        sum += late;
        low = std::min(low, late);
        high = std::max(high, late);
        ++samples;
      }
    }
    int pictureLate = 0;
    int pictureSpread = 0;
    int drawn = 0;
    IQualProp *quality = nullptr;
    rendererFilter->QueryInterface(IID_IQualProp, reinterpret_cast<void **>(&quality));
    quality->get_AvgSyncOffset(&pictureLate);
    quality->get_DevSyncOffset(&pictureSpread);
    quality->get_FramesDrawn(&drawn);
    quality->Release();
    const double soundLate = samples > 0 ? sum / samples : 0.0;
    state.counters["sound_late_ms_mean"] = soundLate;
    state.counters["sound_late_ms_min"] = low;
    state.counters["sound_late_ms_max"] = high;
    state.counters["picture_late_ms_mean"] = pictureLate;
    state.counters["picture_late_ms_dev"] = pictureSpread;
    state.counters["offset_ms_mean"] = soundLate - pictureLate;
    state.counters["pictures_drawn"] = drawn;
    control->Stop();
    control->Release();
    events->Release();
    sourceFilter->Release();
    graph->Release();
    rendererFilter->Release();
  }
  CoUninitialize();
}
BENCHMARK(BM_SoundPictureOffset)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
