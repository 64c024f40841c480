// How long each export keeps the game's thread, as a game calls them: a 60 Hz
// loop over a looping 2 s H.264+AAC movie at 720p, 1080p and 4K into a
// 1920x1080 surface. For every export the median, 99th percentile and maximum
// of its wall time over all rounds; and the time from the call of Movie_Play
// to the first new picture on the surface. The anchor, measured in the same
// run: the time libavcodec takes to decode one picture of the same file (with
// the automatic thread count the graph uses), the median over the rounds.
//
//   build-rel/bench/bench_export_latency [--rounds 7] [--play-after-ms 0] [--size 4K]
//
// --size: that size alone (720p, 1080p or 4K); run in a fresh process, its
// first round is a game's first movie. --each: every round's first picture.
// --play-after-ms: ticks of the game between the load and the first play (a
// game that shows the movie a little after loading it finds its first picture
// cued). --calls: every call on stderr, its time and its start on the
// monotonic clock in ms, to match with a scheduler trace (perf -k mono).
// --slow: the same for calls and ticks over 2 ms and first pictures over
// 66 ms only, listed after the run so that writing them does not disturb it.
//
// SDL runs on its dummy driver and OpenAL on its null one unless the
// environment says otherwise. Run it on an otherwise idle machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <SDL.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "movie/cinelink.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double MonotonicMs(Clock::time_point at) {
  return std::chrono::duration<double, std::milli>(at.time_since_epoch()).count();
}

struct Size {
  const char *name;
  int width, height;
};

constexpr Size kSizes[] = {{"720p", 1280, 720}, {"1080p", 1920, 1080}, {"4K", 3840, 2160}};
constexpr int kSurfaceWidth = 1920;
constexpr int kSurfaceHeight = 1080;
constexpr int kTickMs = 16;

std::string MakeMovie(const std::string &dir, const Size &size) {
  const std::string file = dir + "/" + size.name + ".mp4";
  if (std::filesystem::exists(file)) return file;
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=" +
      std::to_string(size.width) + "x" + std::to_string(size.height) +
      ":r=30:d=2 -f lavfi -i sine=f=440:d=2:sample_rate=48000 -c:v libx264 -preset veryfast "
      "-pix_fmt yuv420p -c:a aac -ac 2 '" + file + ".part.mp4'";
  if (std::system(command.c_str()) != 0) return {};
  std::filesystem::rename(file + ".part.mp4", file);
  return file;
}

// The anchor: libavcodec's time for one picture, over the whole file.
double DecodeMsPerPicture(const std::string &path) {
  AVFormatContext *format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return -1;
  avformat_find_stream_info(format, nullptr);
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    avformat_close_input(&format);
    return -1;
  }
  const AVCodecParameters *par = format->streams[index]->codecpar;
  const AVCodec *codec = avcodec_find_decoder(par->codec_id);
  AVCodecContext *context = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(context, par);
  context->thread_count = 0;
  avcodec_open2(context, codec, nullptr);
  AVPacket *packet = av_packet_alloc();
  AVFrame *frame = av_frame_alloc();
  int pictures = 0;
  const auto start = Clock::now();
  const auto drain = [&] {
    while (avcodec_receive_frame(context, frame) == 0) {
      ++pictures;
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index) avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    drain();
  }
  avcodec_send_packet(context, nullptr);
  drain();
  const double ms = MsSince(start) / std::max(1, pictures);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
  avformat_close_input(&format);
  return ms;
}

bool printCalls = false;
bool printSlow = false;
constexpr double kSlowMs = 2.0;
constexpr double kFirstPictureSlowMs = 66.0;  // the 1080p target; 4K's is 80

class Samples {
 public:
  // `at`: the start on the monotonic clock in ms, where it is known.
  void Add(const std::string &name, double ms, double at = -1, double slowMs = kSlowMs) {
    if (times_.find(name) == times_.end()) order_.push_back(name);
    times_[name].push_back(ms);
    if (printSlow && at >= 0 && ms > slowMs) slow_.push_back({name, ms, at});
  }
  template <typename F>
  auto Time(const std::string &name, F call) {
    const auto start = Clock::now();
    auto result = call();
    const double ms = MsSince(start);
    const double at = MonotonicMs(start);
    Add(name, ms, at);
    if (printCalls) std::fprintf(stderr, "CALL %s %.3f at %.3f\n", name.c_str(), ms, at);
    return result;
  }
  // `anchor`: the decode of one picture; each median is also given in those.
  void Print(const char *title, double anchor) const {
    std::printf("%-34s %9s %9s %9s %6s %9s\n", title, "median", "p99", "max", "n", "/decode");
    for (const std::string &name : order_) {
      std::vector<double> t = times_.at(name);
      std::sort(t.begin(), t.end());
      const auto at = [&t](double q) {
        return t[std::min(t.size() - 1, size_t(q * double(t.size())))];
      };
      std::printf("%-34s %9.3f %9.3f %9.3f %6zu %9.2f\n", name.c_str(), at(0.5), at(0.99),
                  t.back(), t.size(), at(0.5) / anchor);
    }
    for (const SlowCall &call : slow_) {
      std::printf("SLOW %s %.3f at %.3f\n", call.name.c_str(), call.ms, call.at);
    }
  }

 private:
  struct SlowCall {
    std::string name;
    double ms, at;
  };
  std::vector<std::string> order_;
  std::map<std::string, std::vector<double>> times_;
  std::vector<SlowCall> slow_;
};

// The game's frame: the three calls a game makes every tick.
void Tick(Samples *samples, int movie) {
  const auto start = Clock::now();
  samples->Time("Movie_CheckVideoStatus", [movie] {
    Movie_CheckVideoStatus(movie);
    return 0;
  });
  samples->Time("Movie_GetSurface", [movie] { return Movie_GetSurface(movie); });
  samples->Time("Movie_GetState", [movie] { return Movie_GetState(movie); });
  samples->Add("  the three, per tick", MsSince(start), MonotonicMs(start));
  std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
}

void Ticks(Samples *samples, int movie, int count) {
  for (int i = 0; i < count; ++i) Tick(samples, movie);
}

// Plays and waits for the surface's pixels to change (a new picture): the
// time from the call to that picture, -1 when none came within 2 s.
double FirstPicture(Samples *samples, int movie, Clock::time_point *startOut) {
  const SDL_Surface *surface = Movie_GetSurface(movie);
  const void *before = surface != nullptr ? surface->pixels : nullptr;
  const auto start = Clock::now();
  *startOut = start;
  samples->Time("Movie_Play (first)", [movie] { return Movie_Play(movie); });
  while (MsSince(start) < 2000) {
    surface = Movie_GetSurface(movie);
    if (surface != nullptr && surface->pixels != before) return MsSince(start);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return -1;
}

int playAfterMs = 0;
const char *onlySize = nullptr;
bool printEach = false;

void Round(const std::string &path, Samples *samples) {
  const int movie = samples->Time("Movie_Load", [&path] {
    return Movie_Load(path.c_str(), kSurfaceWidth, kSurfaceHeight);
  });
  Movie_SetRepetitive(movie, 1);
  Movie_SetVolume(movie, 90);
  if (playAfterMs > 0) Ticks(samples, movie, (playAfterMs + kTickMs - 1) / kTickMs);
  Clock::time_point played;
  const double first = FirstPicture(samples, movie, &played);
  samples->Add("first picture after Movie_Play", first, MonotonicMs(played), kFirstPictureSlowMs);
  if (printEach) std::printf("round's first picture: %.1f ms\n", first);
  Ticks(samples, movie, 150);  // 2.4 s: across a wrap
  samples->Time("Movie_Pause", [movie] { return Movie_Pause(movie); });
  Ticks(samples, movie, 3);
  samples->Time("Movie_Play", [movie] { return Movie_Play(movie); });
  Ticks(samples, movie, 10);
  samples->Time("Movie_Reset", [movie] { return Movie_Reset(movie); });
  Ticks(samples, movie, 10);
  samples->Time("Movie_Stop", [movie] { return Movie_Stop(movie); });
  Ticks(samples, movie, 3);
  samples->Time("Movie_Play", [movie] { return Movie_Play(movie); });
  Ticks(samples, movie, 10);
  samples->Time("Movie_Release", [movie] { return Movie_Release(movie); });
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = 7;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--each") == 0) printEach = true;
    if (std::strcmp(argv[i], "--calls") == 0) printCalls = true;
    if (std::strcmp(argv[i], "--slow") == 0) printSlow = true;
    if (i + 1 == argc) break;
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--play-after-ms") == 0) playAfterMs = std::max(0, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--size") == 0) onlySize = argv[i + 1];
  }
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("ALSOFT_DRIVERS", "null", 0);
  setenv("CINELINK_NO_DIALOG", "1", 0);
  if (SDL_Init(SDL_INIT_VIDEO) != 0 ||
      SDL_SetVideoMode(kSurfaceWidth, kSurfaceHeight, 32, SDL_SWSURFACE) == nullptr) {
    std::fprintf(stderr, "no 32-bit video mode: %s\n", SDL_GetError());
    return 1;
  }
  const std::string dir =
      (std::filesystem::temp_directory_path() / "cinelink-export-latency").string();
  std::filesystem::create_directories(dir);
  for (const Size &size : kSizes) {
    if (onlySize != nullptr && std::strcmp(onlySize, size.name) != 0) continue;
    const std::string path = MakeMovie(dir, size);
    if (path.empty()) {
      std::fprintf(stderr, "ffmpeg could not make the %s movie\n", size.name);
      return 1;
    }
    Samples samples;
    std::vector<double> decode;
    for (int round = 0; round < rounds; ++round) {
      decode.push_back(DecodeMsPerPicture(path));
      Round(path, &samples);
    }
    std::sort(decode.begin(), decode.end());
    char title[96];
    std::snprintf(title, sizeof title, "%s into %dx%d, %d rounds, ms", size.name, kSurfaceWidth,
                  kSurfaceHeight, rounds);
    const double anchor = decode[decode.size() / 2];
    samples.Print(title, anchor);
    std::printf("%-34s %9.3f   (anchor: libavcodec, one picture)\n\n", "decode one picture",
                anchor);
  }
  SDL_Quit();
  return 0;
}
