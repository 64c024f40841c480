// A movie's sound through the whole graph, captured by OpenAL Soft's wave
// driver: the tone comes out at its pitch and for as long as the movie, also
// when the movie stops looping just before its end, and IBasicAudio's volume
// scale holds (-6 dB halves, the bottom is silence).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mediagraph/audio/audio_device.h"
#include "mediagraph/audio/sound_output.h"
#include "mediagraph/clock/system_clock.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/packet_buffer.h"
#include "mediagraph/decode/sound_resampler.h"
#include "mediagraph/decode/stream_decoder.h"
#include "mediagraph/graph/loop_hint.h"
#include "mediagraph/source/packet_reader.h"
#include "mediagraph/source/sound_streamer.h"
#include "platform/media/media.h"
#include "platform/win32/sync.h"
#include "platform/win32/threads.h"
#include "tests/mediagraph/fakes/wave_capture.h"
#include "tests/mediagraph/support/movie_player.h"

using namespace mediagraph_test;

namespace {

// OpenAL reads its configuration once per process, before main.
testmovies::TempDir &CaptureDir() {
  static testmovies::TempDir dir;
  return dir;
}
const std::string &WavePath() {
  static const std::string path = CaptureDir().File("played.wav");
  return path;
}
const bool kWaveDriver = (testmovies::UseWaveDriver(WavePath()), true);

constexpr double kSeconds = 2.0;

class SoundPlayback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testmovies::TempDir();
    testmovies::PatternSpec recipe;
    recipe.seconds = kSeconds;
    recipe.toneHz = 440;
    recipe.toneVolume = 0.5;
    recipe.audioCodec = "-c:a aac -b:a 192k";
    const std::string path = dir_->File("tone.mp4");
    movie_ = new std::string(testmovies::MakePatternMovie(recipe, path) ? path : "");
  }
  static void TearDownTestSuite() {
    delete movie_;
    delete dir_;
  }
  void SetUp() override { ASSERT_FALSE(movie_->empty()) << "ffmpeg could not make the movie"; }

  // Plays the movie to its end at `volume`; with `loopsUntilMs`, the graph is
  // told that the movie loops, then that it does not at that time after Run
  // (kUntilTheEndIsTold: once the end, told early for the loop, is queued).
  static constexpr DWORD kUntilTheEndIsTold = 0xFFFFFFFF;
  static void Play(LONG volume, DWORD loopsUntilMs = 0) {
    MoviePlayer player;
    ASSERT_EQ(S_OK, player.Load(*movie_));  // S_OK: the sound is played
    mediagraph::ComPtr<ILoopHint> hint;
    ASSERT_EQ(S_OK, player.graph->QueryInterface(IID_ILoopHint, hint.put_void()));
    if (loopsUntilMs > 0) hint->SetRepetitive(TRUE);
    ASSERT_EQ(S_OK, player.audio->put_Volume(volume));
    LONG got = 1;
    ASSERT_EQ(S_OK, player.audio->get_Volume(&got));
    EXPECT_EQ(volume, got);
    const REFERENCE_TIME latency = DeviceLatency();
    const REFERENCE_TIME before = mediagraph::SystemClock::Now();
    ASSERT_EQ(S_OK, player.control->Run());
    // Far enough ahead for the device's latency (less the part of a mixing
    // period a start on one of its blocks saves), also before the sound's
    // thread has looked at the device: a closer start loses the first sound.
    // (The start is chosen once the first picture is in.)
    ASSERT_TRUE(player.renderer->WaitForFrames(1, kPatienceMs));
    EXPECT_GE(player.renderer->StartTime() - before, latency - MixPeriod());
    if (loopsUntilMs == kUntilTheEndIsTold) {
      OAEVENT queued = 0;
      ASSERT_EQ(S_OK, player.events->GetEventHandle(&queued));
      ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reinterpret_cast<HANDLE>(queued), kPatienceMs));
      hint->SetRepetitive(FALSE);
    } else if (loopsUntilMs > 0) {
      Sleep(loopsUntilMs);
      hint->SetRepetitive(FALSE);
    }
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
    if (loopsUntilMs == kUntilTheEndIsTold) {
      // Told again at the real end, not where it was told for the loop: the
      // game stops the movie then, and what is not heard by then never is.
      REFTIME at = 0;
      ASSERT_EQ(S_OK, player.position->get_CurrentPosition(&at));
      EXPECT_GE(at, kSeconds - 0.01);
      ASSERT_EQ(S_OK, player.control->Stop());
    }
    // Nothing more is heard while the movie stands at its end.
    EXPECT_EQ(0, player.CountWithin(EC_COMPLETE, 200));
    EXPECT_EQ(static_cast<size_t>(kSeconds * 25), player.renderer->FrameCount());
  }

  static REFERENCE_TIME DeviceLatency() {
    auto probe = mediagraph::SoundOutput::Create(mediagraph::AudioDevice::Acquire(), 48000, 2);
    return probe ? probe->GetPosition().latencyNs / 100 : 0;
  }
  static REFERENCE_TIME MixPeriod() {
    auto probe = mediagraph::SoundOutput::Create(mediagraph::AudioDevice::Acquire(), 48000, 2);
    return probe ? probe->MixPeriodNs() / 100 : 0;
  }

  // The capture's left channel; the device must be closed (the file complete).
  static std::vector<double> Captured(int *rate) {
    testmovies::WaveData wave;
    EXPECT_TRUE(testmovies::ReadWave(WavePath(), &wave));
    *rate = wave.rate;
    return testmovies::LeftChannel(wave);
  }

  static testmovies::TempDir *dir_;
  static std::string *movie_;
};

testmovies::TempDir *SoundPlayback::dir_ = nullptr;
std::string *SoundPlayback::movie_ = nullptr;

TEST_F(SoundPlayback, ToneComesOutAtItsPitchForAsLongAsTheMovie) {
  {
    // One device for all movies, so that all land in one capture. The second
    // stops looping once the start of its sound is queued behind its end, the
    // third once its end has been told: neither is cut short.
    auto device = mediagraph::AudioDevice::Acquire();
    ASSERT_TRUE(device);
    Play(0);
    Play(0, 1900);
    Play(0, kUntilTheEndIsTold);
  }
  int rate = 0;
  const auto left = Captured(&rate);
  ASSERT_EQ(48000, rate);
  const auto runs = testmovies::SoundingRuns(left, 0.01, 480);
  ASSERT_EQ(3u, runs.size());
  // Keeping the sound on the clock may stretch it by up to 0.5 % (2.2 Hz) on a
  // slow machine; a wrong rate or channel layout is off by far more.
  EXPECT_NEAR(440.0, testmovies::Frequency(left, runs[0], rate), 2.5);
  // Nothing of the start is lost to a run that starts too close ahead of the
  // device's latency (34 ms here without the allowance), and nothing of the
  // start is heard after the end.
  for (const auto &run : runs) {
    EXPECT_NEAR(kSeconds, static_cast<double>(run.end - run.begin) / rate, 0.02);
  }
}

TEST_F(SoundPlayback, MinusSixDecibelsHalvesTheAmplitude) {
  {
    // One device for both movies, so that both land in one capture.
    auto device = mediagraph::AudioDevice::Acquire();
    ASSERT_TRUE(device);
    Play(0);
    Play(-600);
  }
  int rate = 0;
  const auto left = Captured(&rate);
  const auto runs = testmovies::SoundingRuns(left, 0.005, 480);
  ASSERT_EQ(2u, runs.size());
  const double ratio = testmovies::Rms(left, runs[1]) / testmovies::Rms(left, runs[0]);
  EXPECT_NEAR(0.5, ratio, 0.5 * 0.05);
}

TEST_F(SoundPlayback, PauseHoldsTheSoundAndRunGoesOnWhereItStopped) {
  {
    MoviePlayer player;
    ASSERT_EQ(S_OK, player.Load(*movie_));
    ASSERT_EQ(S_OK, player.control->Run());
    ASSERT_TRUE(player.renderer->WaitForFrames(1, kPatienceMs));  // the run has started
    Sleep(700);
    player.control->Pause();
    Sleep(500);
    ASSERT_EQ(S_OK, player.control->Run());
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  }
  int rate = 0;
  const auto left = Captured(&rate);
  const auto runs = testmovies::SoundingRuns(left, 0.01, 480);
  ASSERT_EQ(2u, runs.size());
  // Nothing lost or played twice across the pause, which is heard as silence.
  const double heard = static_cast<double>(runs[0].end - runs[0].begin + runs[1].end -
                                           runs[1].begin) / rate;
  EXPECT_NEAR(kSeconds, heard, 0.06);
  EXPECT_NEAR(0.5, static_cast<double>(runs[1].begin - runs[0].end) / rate, 0.1);
}

TEST_F(SoundPlayback, SeekToStartWhileRunningPlaysTheSoundAgain) {
  {
    MoviePlayer player;
    ASSERT_EQ(S_OK, player.Load(*movie_));
    ASSERT_EQ(S_OK, player.control->Run());
    ASSERT_TRUE(player.renderer->WaitForFrames(1, kPatienceMs));  // the run has started
    Sleep(1000);
    ASSERT_EQ(S_OK, player.position->put_CurrentPosition(0.0));
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
    EXPECT_EQ(0, player.CountWithin(EC_COMPLETE, 200));
  }
  int rate = 0;
  const auto left = Captured(&rate);
  const auto runs = testmovies::SoundingRuns(left, 0.01, 480);
  ASSERT_FALSE(runs.empty());
  // About a second of the first round, then the whole movie; a seek may leave
  // no audible gap at all, so the two rounds can run into one.
  const double heard = static_cast<double>(runs.back().end - runs.front().begin) / rate;
  EXPECT_NEAR(1.0 + kSeconds, heard, 0.15);
  EXPECT_NEAR(440.0, testmovies::Frequency(left, runs.back(), rate), 2.0);
}

TEST_F(SoundPlayback, LowestVolumeIsSilentAndTheMovieStillCompletes) {
  Play(-10000);
  int rate = 0;
  const auto left = Captured(&rate);
  EXPECT_GT(left.size(), static_cast<size_t>(kSeconds * rate * 0.9));  // it did play
  EXPECT_EQ(0.0, testmovies::Peak(left));
}

// The sound handed to the output over three passes of a loop, with the
// sound thread stopped and started at each wrap as the source does: every
// pass hands over the same samples, as long as the picture (late or short
// sound padded with silence), the next right after the last.
TEST(SoundLoopJoin, EveryPassHandsOverTheSameSamplesForThePicturesLength) {
  using namespace mediagraph;
  testmovies::TempDir dir;
  const std::string picture = "-f lavfi -i color=s=64x48:r=20:d=0.5 ";
  const std::string tone = "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*500*t):s=48000:d=";
  struct Case {
    const char *file;
    std::string sound;
    int silentFrames;  // at the start
    const char *video = "-c:v mpeg4";
  };
  // Matroska stamps to the millisecond; Vorbis there has no end trimming;
  // Opus skips its first samples and WebM puts the picture 7 ms after them.
  for (const Case &c : {Case{"tone.mov", tone + "0.5\" -c:a pcm_s16le", 0},
                        Case{"short.mp4", tone + "0.3\" -c:a aac", 0},
                        Case{"late.mp4", "-itsoffset 0.25 " + tone + "0.25\" -c:a aac", 10000},
                        Case{"tone.mkv", tone + "0.5\" -c:a pcm_s16le", 0},
                        Case{"vorbis.mkv", tone + "0.5\" -c:a libvorbis", 0},
                        Case{"opus.webm", tone + "0.5\" -c:a libopus", 0, "-c:v libvpx"}}) {
    SCOPED_TRACE(c.file);
    const std::string path = dir.File(c.file);
    ASSERT_TRUE(testmovies::RunFfmpeg(picture + c.sound + " " + c.video + " '" + path + "'"));
    std::unique_ptr<MovieFile> file;
    ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));
    auto resampler = SoundResampler::Create(file->AudioStream()->codecpar);
    ASSERT_TRUE(resampler);
    const int channels = resampler->Channels();
    ASSERT_EQ(48000, resampler->Rate());
    auto output = SoundOutput::Create(AudioDevice::Acquire(), 48000, channels);
    ASSERT_TRUE(output);
    std::vector<int16_t> handed;
    output->SetTap([&handed, channels](const int16_t *pcm, int frames) {
      handed.insert(handed.end(), pcm, pcm + frames * channels);
    });
    SoundStreamer sound(file.get(), StreamDecoder::Create(file->AudioStream(), 1),
                        std::move(resampler), std::move(output), [] {});
    sound.SetLooping(true);
    PacketBuffer buffer;
    buffer.EnableStream(PacketBuffer::kAudio, true);
    PacketReader reader;
    Segment segment{0, kToTheEnd, 0};
    for (int pass = 0; pass < 3; ++pass) {
      if (pass > 0) {
        ASSERT_TRUE(file->SeekTo(0));
      }
      buffer.Reset();
      sound.Start(&buffer, &reader, segment);
      reader.Start(file.get(), &buffer);
      if (pass == 0) sound.Run(nullptr, 0);  // free-running: nothing skipped to catch up
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!sound.ContinuesIntoStart() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ASSERT_TRUE(sound.ContinuesIntoStart());
      buffer.Abort();
      sound.Stop(true);
      reader.Join();
      ASSERT_TRUE(sound.CarriedFrom(&segment.base));
      EXPECT_EQ((pass + 1) * 5000000, segment.base);
    }
    sound.Stop();
    const size_t pass = 24000u * channels;
    ASSERT_GT(handed.size(), 3 * pass);
    EXPECT_TRUE(std::all_of(handed.begin(), handed.begin() + c.silentFrames * channels,
                            [](int16_t x) { return x == 0; }));
    // AAC's noise substitution draws new noise each time: a few steps at most.
    // A frame skipped or repeated in the 500 Hz tone is off by a thousand.
    for (size_t at = pass; at + pass <= handed.size(); at += pass) {
      int worst = 0;
      for (size_t i = 0; i < pass; ++i) worst = std::max(worst, std::abs(handed[i] - handed[at + i]));
      EXPECT_LE(worst, 128) << "the pass from frame " << at / channels;
    }
  }
}

}  // namespace
