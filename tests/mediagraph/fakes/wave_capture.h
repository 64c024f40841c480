// What OpenAL Soft's wave driver played, read back from its file, and the
// measurements the sound tests make on it.
//
// Usage: call UseWaveDriver(path) before the process's first OpenAL call (the
// library reads its configuration once); the device writes the file while it
// is open and completes it when it closes.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/mediagraph/fakes/test_movies.h"

namespace testmovies {

// Stereo 16-bit at 48 kHz into `wavePath`; the configuration file sits beside it.
inline void UseWaveDriver(const std::string &wavePath) {
  const std::string conf = wavePath + ".conf";
  // No dither, so that silence is exactly zero.
  const std::string text =
      "[general]\nchannels=stereo\nsample-type=int16\nfrequency=48000\ndither=false\n"
      "[wave]\nfile=" + wavePath + "\n";
  WriteFile(conf, std::vector<uint8_t>(text.begin(), text.end()));
  setenv("ALSOFT_DRIVERS", "wave", 1);
  setenv("ALSOFT_CONF", conf.c_str(), 1);
}

struct WaveData {
  int channels = 0;
  int rate = 0;
  std::vector<int16_t> samples;  // interleaved
  size_t Frames() const { return channels > 0 ? samples.size() / channels : 0; }
};

// 16-bit PCM files only (what UseWaveDriver asks for); false otherwise.
inline bool ReadWave(const std::string &path, WaveData *out) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                 static_cast<uint32_t>(bytes[at + 3]) << 24);
  };
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
  size_t at = 12;
  int bits = 0;
  while (at + 8 <= bytes.size()) {
    const uint32_t size = u32(at + 4);
    const size_t body = at + 8;
    if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
      out->channels = u16(body + 2);
      out->rate = static_cast<int>(u32(body + 4));
      bits = u16(body + 14);
    } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
      // A file still being written may carry a size of 0 or too large.
      size_t length = bytes.size() - body;
      if (size != 0 && size < length) length = size;
      out->samples.resize(length / 2);
      std::memcpy(out->samples.data(), bytes.data() + body, out->samples.size() * 2);
      return bits == 16 && out->channels > 0;
    }
    at = body + size + (size & 1);
  }
  return false;
}

// The left channel as doubles in [-1, 1].
inline std::vector<double> LeftChannel(const WaveData &wave) {
  std::vector<double> left(wave.Frames());
  for (size_t i = 0; i < left.size(); ++i) left[i] = wave.samples[i * wave.channels] / 32768.0;
  return left;
}

struct Run {
  size_t begin;
  size_t end;  // one past the last frame
};

// Stretches where the signal is louder than `threshold`, with gaps shorter
// than `bridge` frames joined (a sine crosses zero every half period).
inline std::vector<Run> SoundingRuns(const std::vector<double> &signal, double threshold,
                                     size_t bridge) {
  std::vector<Run> runs;
  size_t last = 0;
  bool open = false;
  for (size_t i = 0; i < signal.size(); ++i) {
    if (std::fabs(signal[i]) <= threshold) continue;
    if (open && i - last <= bridge) {
      last = i;
      runs.back().end = i + 1;
      continue;
    }
    runs.push_back({i, i + 1});
    open = true;
    last = i;
  }
  return runs;
}

// Frequency from the rising zero crossings over the run.
inline double Frequency(const std::vector<double> &signal, const Run &run, int rate) {
  size_t first = 0;
  size_t lastCrossing = 0;
  int crossings = 0;
  for (size_t i = run.begin + 1; i < run.end; ++i) {
    if (signal[i - 1] < 0.0 && signal[i] >= 0.0) {
      if (crossings == 0) first = i;
      lastCrossing = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(lastCrossing - first);
}

// Root mean square over the middle of the run (its edges may fade).
inline double Rms(const std::vector<double> &signal, const Run &run) {
  const size_t margin = (run.end - run.begin) / 10;
  double sum = 0.0;
  size_t count = 0;
  for (size_t i = run.begin + margin; i < run.end - margin; ++i) {
    sum += signal[i] * signal[i];
    ++count;
  }
  return count > 0 ? std::sqrt(sum / count) : 0.0;
}

inline double Peak(const std::vector<double> &signal) {
  double peak = 0.0;
  for (double value : signal) peak = std::max(peak, std::fabs(value));
  return peak;
}

}  // namespace testmovies
