// Short test movies made with the ffmpeg command in a temporary directory,
// and readers for the picture they carry.
//
// The picture: four solid quadrants over a counter strip.
//
//   +-------+-------+
//   |  red  | green |   top half of the upper part
//   +-------+-------+
//   | blue  | white |
//   +-------+-------+
//   | grey 16 + 8 n |   strip of the bottom quarter: n = frame number
//   +---------------+
//
// The sound: a sine tone.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace testmovies {

// A directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/mediagraph-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~TempDir() {
    if (path_ != "/tmp") {
      const std::string command = "rm -rf '" + path_ + "'";
      if (std::system(command.c_str()) != 0) std::perror("rm");
    }
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &Path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline bool RunFfmpeg(const std::string &arguments) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments;
  return std::system(command.c_str()) == 0;
}

struct PatternSpec {
  int width = 64;   // the strip takes the bottom quarter, the quadrants the rest
  int height = 64;
  int rate = 25;        // pictures per second
  double seconds = 1.0;
  bool sound = true;
  int toneHz = 440;
  int sampleRate = 44100;
  double toneVolume = 0.5;  // amplitude of the sine, 1 = full scale
  std::string videoCodec = "-c:v libx264 -pix_fmt yuv420p";
  std::string audioCodec = "-c:a aac";
  std::string extra;  // more output options (container flags)
};

// Rows of the quadrant part and of the strip.
inline int QuadrantRows(const PatternSpec &pattern) { return pattern.height - pattern.height / 4; }

inline std::string PatternFilter(const PatternSpec &pattern) {
  const int w = pattern.width;
  const int left = w / 2;
  const int right = w - left;
  const int upper = QuadrantRows(pattern);
  const int topRows = upper / 2;
  const int bottomRows = upper - topRows;
  const int strip = pattern.height - upper;
  auto color = [&](const char *name, int cw, int ch) {
    return std::string("color=c=") + name + ":s=" + std::to_string(cw) + "x" +
           std::to_string(ch) + ":r=" + std::to_string(pattern.rate) +
           ":d=" + std::to_string(pattern.seconds);
  };
  std::string graph;
  graph += color("red", left, topRows) + "[tl];";
  graph += color("lime", right, topRows) + "[tr];";
  graph += color("blue", left, bottomRows) + "[bl];";
  graph += color("white", right, bottomRows) + "[br];";
  graph += color("black", w, strip) + ",format=yuv444p,geq=lum='16+8*N':cb=128:cr=128[cnt];";
  graph += "[tl][tr]hstack[top];[bl][br]hstack[bot];[top][bot][cnt]vstack=inputs=3[v]";
  if (pattern.sound) {
    graph += ";sine=frequency=" + std::to_string(pattern.toneHz) +
             ":sample_rate=" + std::to_string(pattern.sampleRate) +
             ":duration=" + std::to_string(pattern.seconds) +
             ",volume=" + std::to_string(pattern.toneVolume * 8.0) + "[a]";
  }
  return graph;
}

// Writes the pattern movie to `path`; false when ffmpeg fails.
inline bool MakePatternMovie(const PatternSpec &pattern, const std::string &path) {
  std::string arguments = "-filter_complex \"" + PatternFilter(pattern) + "\" -map \"[v]\" ";
  if (pattern.sound) arguments += "-map \"[a]\" " + pattern.audioCodec + " ";
  arguments += pattern.videoCodec + " " + pattern.extra + " '" + path + "'";
  return RunFfmpeg(arguments);
}

struct Bgr {
  int b, g, r;
};

// The pixel at picture column x, picture row y (0 = top) of a bottom-up
// frame with 4-byte row padding.
inline Bgr PixelAt(const uint8_t *frame, int width, int height, int x, int y) {
  const int stride = (width * 3 + 3) & ~3;
  const uint8_t *p = frame + static_cast<size_t>(height - 1 - y) * stride + x * 3;
  return Bgr{p[0], p[1], p[2]};
}

inline bool Near(const Bgr &pixel, int r, int g, int b, int tolerance) {
  return std::abs(pixel.r - r) <= tolerance && std::abs(pixel.g - g) <= tolerance &&
         std::abs(pixel.b - b) <= tolerance;
}

// Checks the four quadrant centres; empty when right, else what is wrong.
inline std::string CheckQuadrants(const uint8_t *frame, const PatternSpec &pattern,
                                  int tolerance = 40) {
  const int w = pattern.width;
  const int upper = QuadrantRows(pattern);
  const int xs[2] = {w / 4, w / 2 + w / 4};
  const int ys[2] = {upper / 4, upper / 2 + upper / 4};
  const int expected[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  const char *names[4] = {"red", "green", "blue", "white"};
  std::string problems;
  for (int q = 0; q < 4; ++q) {
    const Bgr pixel = PixelAt(frame, w, pattern.height, xs[q % 2], ys[q / 2]);
    if (!Near(pixel, expected[q][0], expected[q][1], expected[q][2], tolerance)) {
      problems += std::string(names[q]) + " quadrant is (" + std::to_string(pixel.r) + "," +
                  std::to_string(pixel.g) + "," + std::to_string(pixel.b) + ") ";
    }
  }
  return problems;
}

// The frame number the strip shows, or -1 when the strip is not grey.
inline int FrameNumber(const uint8_t *frame, const PatternSpec &pattern) {
  const int upper = QuadrantRows(pattern);
  const int y = upper + (pattern.height - upper) / 2;
  const Bgr pixel = PixelAt(frame, pattern.width, pattern.height, pattern.width / 2, y);
  if (std::abs(pixel.r - pixel.g) > 24 || std::abs(pixel.g - pixel.b) > 24) return -1;
  // Limited-range luma 16 + 8n becomes 8n * 255 / 219 in full-range RGB.
  const double level = (pixel.r + pixel.g + pixel.b) / 3.0;
  return static_cast<int>(level * 219.0 / 255.0 / 8.0 + 0.5);
}

// Reads a whole file; empty when it cannot be read.
inline std::vector<uint8_t> ReadFile(const std::string &path) {
  std::vector<uint8_t> bytes;
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  std::fclose(file);
  return bytes;
}

inline bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  // fwrite must not see the null data() of an empty vector.
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace testmovies
