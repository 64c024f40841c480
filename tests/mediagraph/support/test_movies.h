// Short movies made with the ffmpeg command at test time, and process counters.
//
// The picture of every test movie: four quadrants, top-left red, top-right green,
// bottom-left blue, bottom-right white, and in the top-left corner a 16 x 16 marker
// block whose grey level is 8 times the frame number (modulo 256), so a test can
// tell which frame it sees.
#pragma once

#include <string>
#include <vector>

#include "tests/mediagraph/support/test_video_renderer.h"

namespace mediagraph_test {

struct MovieSpec {
  std::string file;  // name inside the temporary directory; its extension picks the container
  int width = 64;
  int height = 48;
  int fps = 25;
  int frames = 25;
  std::string videoArgs = "-c:v libx264 -pix_fmt yuv420p";
  // Empty for a movie without sound; else the audio encoder arguments. The sound is
  // a 440 Hz sine as long as the picture.
  std::string audioArgs;
  std::string extraArgs;
};

// A recipe from its container (by file name), encoders, size and picture count.
inline MovieSpec Recipe(const std::string &file, const std::string &video,
                        const std::string &audio, int width = 64, int height = 48,
                        int frames = 25, const std::string &extra = "") {
  MovieSpec recipe;
  recipe.file = file;
  recipe.videoArgs = video;
  recipe.audioArgs = audio;
  recipe.width = width;
  recipe.height = height;
  recipe.frames = frames;
  recipe.extraArgs = extra;
  return recipe;
}

// A temporary directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

// Makes the movie in `dir`; the path, or "" when ffmpeg failed.
std::string MakeMovie(const TempDir &dir, const MovieSpec &recipe);
// Runs ffmpeg with `arguments` (inputs and output options) writing `name` in
// `dir`; the path, or "" when ffmpeg failed.
std::string MakeMovieWith(const TempDir &dir, const std::string &name,
                          const std::string &arguments);
// Writes `bytes` to a file in `dir`; its path.
std::string WriteFile(const TempDir &dir, const std::string &name, const std::string &bytes);

std::wstring Wide(const std::string &path);

// Where each quadrant's colour and the marker are read.
Point MarkerPoint();
Point TopLeft(const MovieSpec &recipe);
Point TopRight(const MovieSpec &recipe);
Point BottomLeft(const MovieSpec &recipe);
Point BottomRight(const MovieSpec &recipe);
// The frame number a marker colour stands for (-1 when it is no grey).
int MarkerFrame(const Bgr &colour);
// Whether a colour is within `tolerance` of (r, g, b) in every channel.
bool Near(const Bgr &colour, int r, int g, int b, int tolerance = 24);

// Threads of this process, and its open file descriptors.
int ThreadCount();
int OpenFileCount();
// Threads the libraries detach may still be on their way out (seen on a
// loaded machine). The count once it has held for 100 ms (at most 2 s); and
// the count once it is down to `threads` (at most 2 s).
int SettledThreadCount();
int ThreadCountOnceBackTo(int threads);
// The ids (as /proc/self/task names them) of this process's threads named
// `name`, as the library names its own (and the threads they start).
std::vector<std::string> ThreadsNamed(const std::string &name);

}  // namespace mediagraph_test
