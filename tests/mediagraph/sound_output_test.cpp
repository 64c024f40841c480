// One movie's sound output on OpenAL Soft's wave driver: the volume scale,
// the shared device, what is queued comes out whole, positions and pausing.
// (Volume levels heard are tested through the graph.)
#define AL_ALEXT_PROTOTYPES  // alcGetThreadContext

#include <sched.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mediagraph/audio/audio_device.h"
#include "mediagraph/audio/mix_timeline.h"
#include "mediagraph/audio/sound_output.h"
#include "platform/host/background_thread.h"
#include "tests/mediagraph/fakes/wave_capture.h"
#include "tests/mediagraph/support/test_movies.h"

namespace mediagraph {
namespace {

using namespace std::chrono_literals;

// Before main: OpenAL reads its configuration once per process.
testmovies::TempDir &Dir() {
  static testmovies::TempDir dir;
  return dir;
}
const std::string &WavePath() {
  static const std::string path = Dir().File("out.wav");
  return path;
}
const bool kWaveDriver = (testmovies::UseWaveDriver(WavePath()), true);

std::vector<int16_t> Tone(int hz, int rate, double seconds, double amplitude) {
  std::vector<int16_t> pcm(static_cast<size_t>(rate * seconds));
  for (size_t i = 0; i < pcm.size(); ++i) {
    pcm[i] = static_cast<int16_t>(std::lround(
        amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate)));
  }
  return pcm;
}

// Queues in chunks as a streaming thread does, then waits for the end.
void PlayThrough(SoundOutput *output, const std::vector<int16_t> &pcm) {
  const int chunk = 1024;
  const size_t total = pcm.size() / output->Channels();
  size_t at = 0;
  bool started = false;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (at < total && std::chrono::steady_clock::now() < deadline) {
    const int frames = static_cast<int>(std::min<size_t>(chunk, total - at));
    if (output->Queue(pcm.data() + at * output->Channels(), frames)) {
      at += frames;
      if (!started && at >= 8u * chunk) {
        output->Play();
        started = true;
      }
    } else {
      std::this_thread::sleep_for(5ms);
    }
  }
  output->Play();
  while (!output->IsIdle() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
}

testmovies::WaveData Captured() {
  testmovies::WaveData wave;
  EXPECT_TRUE(testmovies::ReadWave(WavePath(), &wave));
  return wave;
}

TEST(SoundOutputTest, VolumeLevelsMapToGain) {
  EXPECT_FLOAT_EQ(1.0f, SoundOutput::GainForLevel(0));
  EXPECT_NEAR(0.5012, SoundOutput::GainForLevel(-600), 1e-4);
  EXPECT_NEAR(0.1, SoundOutput::GainForLevel(-2000), 1e-6);
  EXPECT_FLOAT_EQ(0.0f, SoundOutput::GainForLevel(-10000));
  EXPECT_FLOAT_EQ(0.0f, SoundOutput::GainForLevel(-20000));
  EXPECT_FLOAT_EQ(1.0f, SoundOutput::GainForLevel(300));
}

TEST(SoundOutputTest, RefusesFormatsItCannotPlay) {
  auto device = AudioDevice::Acquire();
  ASSERT_TRUE(device);
  EXPECT_FALSE(SoundOutput::Create(device, 44100, 3));
  EXPECT_FALSE(SoundOutput::Create(device, 0, 2));
  EXPECT_FALSE(SoundOutput::Create(nullptr, 44100, 2));
}

// A movie loaded right after the last one was released finds the device
// still open rather than paying for opening it again.
TEST(SoundOutputTest, DeviceIsSharedWhileHeldAndKeptOpenAfter) {
  auto first = AudioDevice::Acquire();
  auto second = AudioDevice::Acquire();
  ASSERT_TRUE(first);
  EXPECT_EQ(first.get(), second.get());
  const int opens = AudioDevice::Opens();
  first.reset();
  second.reset();
  auto third = AudioDevice::Acquire();
  ASSERT_TRUE(third);
  EXPECT_EQ(opens, AudioDevice::Opens());
  EXPECT_EQ(48000, third->MixRate());
}

// A game with an OpenAL context of its own, current for the whole process
// (here a second context on the same device), and a looping source in it:
// whatever the movie's sound does, on the game's thread or another, the
// game's calls still go to its context and its source plays on as it was.
TEST(SoundOutputTest, TheGamesContextAndSourcesStayAsTheyWere) {
  auto device = AudioDevice::Acquire();
  ASSERT_TRUE(device);
  ALCcontext *game = alcCreateContext(device->Device(), nullptr);
  ASSERT_TRUE(game);
  ASSERT_TRUE(alcMakeContextCurrent(game));
  ALuint music = 0;
  ALuint silence = 0;
  alGenSources(1, &music);
  alGenBuffers(1, &silence);
  const std::vector<int16_t> quiet(4800, 0);
  alBufferData(silence, AL_FORMAT_MONO16, quiet.data(), 9600, 48000);
  alSourcei(music, AL_BUFFER, static_cast<ALint>(silence));
  alSourcei(music, AL_LOOPING, AL_TRUE);
  alSourcef(music, AL_GAIN, 0.25f);
  alSourcePlay(music);
  const auto gameAsItWas = [&] {
    ALfloat gain = 0;
    ALint state = 0;
    alGetSourcef(music, AL_GAIN, &gain);
    alGetSourcei(music, AL_SOURCE_STATE, &state);
    return alcGetCurrentContext() == game && alcGetThreadContext() == nullptr &&
           alGetError() == AL_NO_ERROR && gain == 0.25f && state == AL_PLAYING;
  };
  {
    auto output = SoundOutput::Create(device, 48000, 1);
    ASSERT_TRUE(output);
    EXPECT_TRUE(gameAsItWas());
    const std::vector<int16_t> pcm = Tone(300, 48000, 0.2, 0.3);
    std::thread([&output, &pcm] {  // a movie's streaming thread
      ASSERT_TRUE(output->Queue(pcm.data(), static_cast<int>(pcm.size())));
      output->Play();
    }).join();
    output->SetVolume(-600);  // the game's thread
    output->Pause();
    EXPECT_TRUE(gameAsItWas());
    output->Reset();
  }
  EXPECT_TRUE(gameAsItWas());
  alDeleteSources(1, &music);
  alDeleteBuffers(1, &silence);
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(game);
}

// Movie records live for the process, so their sound may still stream while
// it ends: no complaint from OpenAL about an open device, no crash from a
// thread calling it while it tears down.
TEST(SoundOutputDeathTest, ExitWhileAThreadStreamsIsQuiet) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, no device open
  EXPECT_EXIT(
      {
        std::shared_ptr<SoundOutput> output = SoundOutput::Create(AudioDevice::Acquire(), 48000, 1);
        if (!output) std::_Exit(3);
        const std::vector<int16_t> pcm = Tone(300, 48000, 0.02, 0.3);
        std::thread([output, pcm] {
          for (;;) {
            if (!output->Queue(pcm.data(), static_cast<int>(pcm.size()))) std::this_thread::yield();
            output->Play();
            output->GetPosition();
          }
        }).detach();
        std::this_thread::sleep_for(100ms);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("alc_cleanup")));
}

// A process that ends while the device is still opening ends quietly.
TEST(SoundOutputDeathTest, AnExitWhileTheDeviceOpensIsQuiet) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, no device open
  EXPECT_EXIT(
      {
        std::thread([] { AudioDevice::Acquire(); }).detach();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("alc_cleanup")));
}

// OpenAL's mixing thread takes the scheduling of the thread that opens the
// device, and its name: for a caller the library has made a batch thread,
// the device is still opened on an ordinary one.
TEST(SoundOutputDeathTest, TheDevicesMixingThreadIsAnOrdinaryOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, no device open
  EXPECT_EXIT(
      {
        RunInLongTurns();
        auto device = AudioDevice::Acquire();
        // The opener ends once the device is taken; OpenAL's threads keep
        // its name.
        const auto ordinary = [] {
          const std::vector<std::string> named = mediagraph_test::ThreadsNamed("cl-audio");
          for (const std::string &id : named) {
            if (sched_getscheduler(std::stoi(id)) != SCHED_OTHER) return false;
          }
          return !named.empty();
        };
        bool mixersOrdinary = false;
        for (int i = 0; i < 400 && !mixersOrdinary; ++i) {
          std::this_thread::sleep_for(5ms);
          mixersOrdinary = ordinary();
        }
        std::exit(device && mixersOrdinary ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SoundOutputTest, QueuedToneComesOutWhole) {
  {
    auto output = SoundOutput::Create(AudioDevice::Acquire(), 44100, 1);
    ASSERT_TRUE(output);
    PlayThrough(output.get(), Tone(440, 44100, 1.0, 0.5));
    EXPECT_EQ(44100, output->QueuedFrames());
    EXPECT_EQ(0, output->PendingFrames());
  }
  const testmovies::WaveData wave = Captured();
  ASSERT_EQ(48000, wave.rate);
  const auto left = testmovies::LeftChannel(wave);
  const auto runs = testmovies::SoundingRuns(left, 0.01, 480);
  ASSERT_EQ(1u, runs.size());
  EXPECT_NEAR(440.0, testmovies::Frequency(left, runs[0], wave.rate), 1.0);
  EXPECT_NEAR(1.0, (runs[0].end - runs[0].begin) / 48000.0, 0.01);
}

TEST(SoundOutputTest, PositionAdvancesOnlyWhilePlaying) {
  auto output = SoundOutput::Create(AudioDevice::Acquire(), 48000, 1);
  ASSERT_TRUE(output);
  const std::vector<int16_t> pcm = Tone(300, 48000, 0.5, 0.3);
  for (size_t at = 0; at < pcm.size(); at += 4800) {
    ASSERT_TRUE(output->Queue(pcm.data() + at, 4800));
  }
  EXPECT_EQ(0, output->GetPosition().played);
  EXPECT_TRUE(output->IsIdle());
  output->Play();
  std::this_thread::sleep_for(150ms);
  SoundOutput::Position moving = output->GetPosition();
  EXPECT_TRUE(moving.playing);
  EXPECT_GT(moving.played, 0);
  SoundOutput::Timing timing{};
  ASSERT_TRUE(output->GetTiming(&timing));  // the wave driver keeps a clock
  EXPECT_GE(timing.played, moving.played);
  EXPECT_EQ(moving.latencyNs, timing.latencyNs);
  output->Pause();
  const int64_t paused = output->GetPosition().played;
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(paused, output->GetPosition().played);
  SoundOutput::Timing held{};
  ASSERT_TRUE(output->GetTiming(&held));
  EXPECT_EQ(paused, held.played);
  EXPECT_GT(held.mixAtNs, timing.mixAtNs);  // the device mixes on without it
  EXPECT_FALSE(output->GetPosition().playing);
  EXPECT_EQ(24000 - paused, output->PendingFrames());
  output->Reset();
  EXPECT_EQ(0, output->GetPosition().played);
  EXPECT_EQ(0, output->QueuedFrames());
  // Skipping late frames on start counts them as played.
  for (size_t at = 0; at < pcm.size(); at += 4800) {
    ASSERT_TRUE(output->Queue(pcm.data() + at, 4800));
  }
  output->Play(12000);
  EXPECT_GE(output->GetPosition().played, 12000);
}

// Readings every 2 ms of a device mixing 20 ms blocks, each written out a
// little after it is due, and heard 40 ms after it is mixed.
TEST(MixTimelineTest, TheEarliestReadingAfterAMixPlacesTheBlocks) {
  constexpr int64_t kMs = 10000;  // 100 ns units
  constexpr int64_t kOrigin = 7000 * kMs;
  const int64_t lateMs[] = {3, 1, 6, 2, 5};  // how late each mix comes
  MixTimeline timeline;
  int64_t device = 0;
  for (int64_t now = kOrigin + 10 * kMs; now < kOrigin + 100 * kMs; now += 2 * kMs) {
    const int64_t block = (now - kOrigin) / (20 * kMs);
    // Block k is mixed (and the clock moves past it) lateMs[k] after it is due.
    if (block > 0 && now >= kOrigin + block * 20 * kMs + lateMs[block - 1] * kMs) {
      device = block * 20000000;
    }
    timeline.Note(now, device, 40000000);
    if (now < kOrigin + 24 * kMs) {
      EXPECT_FALSE(timeline.Known()) << now;  // the first mix is seen at 24 ms
    }
  }
  ASSERT_TRUE(timeline.Known());
  // Best seen: block 2, mixed 1 ms late, read 1 ms after that (42 ms).
  EXPECT_NEAR(kOrigin + 40 * kMs + 2 * kMs, timeline.HeardAt(0), kMs / 100);
  EXPECT_EQ(timeline.HeardAt(0) + 20 * kMs, timeline.HeardAt(20000000));

  // Read before the last one and noted after it (another thread): a bound
  // like any other.
  timeline.Note(kOrigin + 101 * kMs, 20000000, 40000000);
  EXPECT_TRUE(timeline.Known());
  EXPECT_NEAR(kOrigin + 42 * kMs, timeline.HeardAt(0), kMs / 100);
  EXPECT_EQ(20000000, timeline.PeriodNs());
}

}  // namespace
}  // namespace mediagraph
