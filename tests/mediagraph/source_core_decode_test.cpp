// The decoding core on real files: opening and its failures, pictures in the
// graph's frame layout, times, repositioning and sound conversion.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mediagraph/decode/frame_converter.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/sound_resampler.h"
#include "mediagraph/decode/stream_decoder.h"
#include "tests/mediagraph/fakes/test_movies.h"

namespace mediagraph {
namespace {

using testmovies::PatternSpec;

struct DecodedPicture {
  int64_t time;
  int number;
  std::string quadrantProblems;
};

// Decodes the video stream from the current position, keeping pictures whose
// time is at or after `from`.
std::vector<DecodedPicture> DecodeVideo(MovieFile *file, const PatternSpec &spec,
                                        int64_t from = 0) {
  std::vector<DecodedPicture> pictures;
  auto decoder = StreamDecoder::Create(file->VideoStream(), 2);
  if (!decoder) return pictures;
  FrameConverter converter(spec.width, spec.height);
  std::vector<uint8_t> image(converter.ImageSize());
  PacketPtr packet = MakePacket();
  FramePtr frame = MakeFrame();
  bool draining = false;
  for (;;) {
    int got = decoder->Receive(frame.get());
    if (got == 0) {
      const int64_t time = file->ToMovieTime(file->VideoStream(), frame->best_effort_timestamp);
      if (time >= from) {
        EXPECT_TRUE(converter.Convert(frame.get(), image.data(), image.size()));
        pictures.push_back({time, testmovies::FrameNumber(image.data(), spec),
                            testmovies::CheckQuadrants(image.data(), spec)});
      }
      av_frame_unref(frame.get());
      continue;
    }
    if (draining) break;
    if (file->ReadPacket(packet.get()) < 0) {
      draining = true;
      decoder->Send(nullptr);
      continue;
    }
    if (packet->stream_index == file->VideoIndex()) decoder->Send(packet.get());
    av_packet_unref(packet.get());
  }
  return pictures;
}

class DecodeCoreTest : public ::testing::Test {
 protected:
  testmovies::TempDir dir_;
};

TEST_F(DecodeCoreTest, OpenTellsWhyAFileIsNotAMovie) {
  std::unique_ptr<MovieFile> file;
  EXPECT_EQ(OpenStatus::kNotFound, MovieFile::Open(dir_.File("missing.mp4"), &file));
  EXPECT_EQ(OpenStatus::kNotFound, MovieFile::Open(dir_.File("no/such/dir.mp4"), &file));
  EXPECT_FALSE(file);

  const std::string text = dir_.File("notes.mp4");
  const std::string words = "this is not a movie at all, only some words\n";
  ASSERT_TRUE(testmovies::WriteFile(text, std::vector<uint8_t>(words.begin(), words.end())));
  EXPECT_EQ(OpenStatus::kUnknownFormat, MovieFile::Open(text, &file));

  const std::string empty = dir_.File("empty.avi");
  ASSERT_TRUE(testmovies::WriteFile(empty, {}));
  EXPECT_EQ(OpenStatus::kUnknownFormat, MovieFile::Open(empty, &file));

  const std::string sound = dir_.File("tone.wav");
  ASSERT_TRUE(testmovies::RunFfmpeg("-f lavfi -i sine=d=0.5 '" + sound + "'"));
  EXPECT_EQ(OpenStatus::kNoVideo, MovieFile::Open(sound, &file));
  EXPECT_FALSE(file);
}

TEST_F(DecodeCoreTest, EveryPictureInOrderWithItsTimeAndColours) {
  PatternSpec spec;
  const std::string path = dir_.File("pattern.mp4");
  ASSERT_TRUE(testmovies::MakePatternMovie(spec, path));
  std::unique_ptr<MovieFile> file;
  ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));
  ASSERT_NE(nullptr, file->AudioStream());
  EXPECT_EQ(400000, file->FrameDuration());
  EXPECT_NEAR(10000000, file->Duration(), 500000);

  const auto pictures = DecodeVideo(file.get(), spec);
  ASSERT_EQ(25u, pictures.size());
  for (size_t i = 0; i < pictures.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i), pictures[i].number) << "picture " << i;
    EXPECT_EQ(static_cast<int64_t>(i) * 400000, pictures[i].time) << "picture " << i;
    EXPECT_EQ("", pictures[i].quadrantProblems) << "picture " << i;
  }
}

TEST_F(DecodeCoreTest, OddSizeKeepsRowsBottomUpWithPaddedStride) {
  PatternSpec spec;
  spec.width = 641;
  spec.height = 479;
  spec.seconds = 0.2;
  spec.sound = false;
  spec.videoCodec = "-c:v libx264 -pix_fmt yuv444p";
  const std::string path = dir_.File("odd.mkv");
  ASSERT_TRUE(testmovies::MakePatternMovie(spec, path));
  std::unique_ptr<MovieFile> file;
  ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));
  EXPECT_EQ(nullptr, file->AudioStream());
  EXPECT_EQ(1924, FrameConverter::RowStride(641));
  const auto pictures = DecodeVideo(file.get(), spec);
  ASSERT_EQ(5u, pictures.size());
  for (const auto &picture : pictures) EXPECT_EQ("", picture.quadrantProblems);
}

TEST_F(DecodeCoreTest, ConverterScalesAPictureOfAnotherSizeAndRefusesShortBuffers) {
  FrameConverter converter(8, 4);
  FramePtr frame = MakeFrame();
  frame->width = 16;
  frame->height = 8;
  frame->format = AV_PIX_FMT_RGB24;
  ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  // Top half red, bottom half blue.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      uint8_t *p = frame->data[0] + y * frame->linesize[0] + x * 3;
      p[0] = y < 4 ? 255 : 0;
      p[1] = 0;
      p[2] = y < 4 ? 0 : 255;
    }
  }
  std::vector<uint8_t> image(converter.ImageSize());
  EXPECT_EQ(24u * 4, image.size());
  EXPECT_FALSE(converter.Convert(frame.get(), image.data(), image.size() - 1));
  ASSERT_TRUE(converter.Convert(frame.get(), image.data(), image.size()));
  // The first row in memory is the bottom of the picture: blue.
  EXPECT_TRUE(testmovies::Near(testmovies::PixelAt(image.data(), 8, 4, 3, 3), 0, 0, 255, 8));
  EXPECT_EQ(255, image[0]);
  EXPECT_EQ(0, image[2]);
  EXPECT_TRUE(testmovies::Near(testmovies::PixelAt(image.data(), 8, 4, 3, 0), 255, 0, 0, 8));
}

TEST_F(DecodeCoreTest, SeekingLandsOnAKeyFrameAtOrBeforeTheTarget) {
  PatternSpec spec;
  spec.seconds = 2.0;
  spec.rate = 10;
  spec.videoCodec = "-c:v libx264 -pix_fmt yuv420p -g 5";
  const std::string path = dir_.File("seek.mp4");
  ASSERT_TRUE(testmovies::MakePatternMovie(spec, path));
  std::unique_ptr<MovieFile> file;
  ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));

  ASSERT_TRUE(file->SeekTo(12000000));
  auto pictures = DecodeVideo(file.get(), spec, 12000000);
  ASSERT_FALSE(pictures.empty());
  EXPECT_EQ(12, pictures.front().number);
  EXPECT_EQ(12000000, pictures.front().time);
  EXPECT_EQ(8u, pictures.size());

  // Back to the start after the end, as a loop does.
  ASSERT_TRUE(file->SeekTo(0));
  pictures = DecodeVideo(file.get(), spec);
  ASSERT_EQ(20u, pictures.size());
  EXPECT_EQ(0, pictures.front().number);
}

TEST_F(DecodeCoreTest, SoundBecomesStereo16BitAtItsOwnRate) {
  const std::string path = dir_.File("six.mkv");
  ASSERT_TRUE(testmovies::RunFfmpeg(
      "-f lavfi -i color=d=0.5 -f lavfi -i sine=frequency=1000:sample_rate=48000:d=0.5 "
      "-af pan='5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0' -c:v mpeg4 -c:a flac '" +
      path + "'"));
  std::unique_ptr<MovieFile> file;
  ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));
  ASSERT_NE(nullptr, file->AudioStream());
  auto decoder = StreamDecoder::Create(file->AudioStream(), 1);
  ASSERT_TRUE(decoder);
  auto resampler = SoundResampler::Create(file->AudioStream()->codecpar);
  ASSERT_TRUE(resampler);
  EXPECT_EQ(2, resampler->Channels());
  EXPECT_EQ(48000, resampler->Rate());

  std::vector<int16_t> pcm;
  PacketPtr packet = MakePacket();
  FramePtr frame = MakeFrame();
  while (file->ReadPacket(packet.get()) == 0) {
    if (packet->stream_index == file->AudioIndex()) {
      ASSERT_TRUE(decoder->Send(packet.get()));
      while (decoder->Receive(frame.get()) == 0) {
        ASSERT_TRUE(resampler->Convert(frame.get(), &pcm));
        av_frame_unref(frame.get());
      }
    }
    av_packet_unref(packet.get());
  }
  EXPECT_NEAR(24000.0, pcm.size() / 2.0, 1200.0);
  int peak = 0;
  for (int16_t sample : pcm) peak = std::max(peak, std::abs(static_cast<int>(sample)));
  EXPECT_GT(peak, 1000);  // the tone survived the down-mix
}

}  // namespace
}  // namespace mediagraph
