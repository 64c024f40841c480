// The decoding core's conversions: a picture of another size into the graph's
// frame layout, and many-channel sound down to 16-bit stereo; and the forecast
// of a picture's end from the rows its decoder reports. (Opening,
// times, pixels and repositioning are tested through the source filter.)
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "mediagraph/decode/frame_converter.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/sound_resampler.h"
#include "mediagraph/decode/stream_decoder.h"
#include "mediagraph/decode/yuv420_to_bgr24.h"
#include "mediagraph/source/rows_forecast.h"
#include "tests/mediagraph/fakes/test_movies.h"

namespace mediagraph {
namespace {

class DecodeCoreTest : public ::testing::Test {
 protected:
  testmovies::TempDir dir_;
};

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

// libswscale's special converters write 8 pixels at a time and leave out the
// last ones of a row too tight for them (4:2:2 at 61 to 63 pixels, say): every
// column of every layout, at every width and scaled, holds the picture.
TEST_F(DecodeCoreTest, ConverterWritesEveryColumnAtEveryWidth) {
  for (AVPixelFormat format : {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV444P,
                               AV_PIX_FMT_NV12, AV_PIX_FMT_YUV420P}) {
    for (int width = 56; width <= 72; ++width) {
      // Red in limited range, flat: every pixel converts alike.
      FramePtr frame = MakeFrame();
      frame->width = width;
      frame->height = 6;
      frame->format = format;
      ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
      const uint8_t value[3] = {81, 90, 240};
      const bool interleaved = format == AV_PIX_FMT_NV12;
      for (int plane = 0; plane < (interleaved ? 2 : 3); ++plane) {
        for (int i = 0; i < frame->linesize[plane] * frame->height; ++i) {
          frame->data[plane][i] = interleaved && plane == 1 ? value[1 + i % 2] : value[plane];
        }
      }
      // At the coded size, and scaled to square pixels of a third wider.
      for (const PictureShape &shape :
           {PictureShape::Square(width, 6), PictureShape::Square(width * 4 / 3, 6)}) {
        FrameConverter converter(shape);
        std::vector<uint8_t> image(converter.ImageSize(), 0xA5);
        ASSERT_TRUE(converter.Convert(frame.get(), image.data(), image.size()));
        for (int y = 0; y < 6; ++y) {
          for (int x = 0; x < shape.width; ++x) {
            ASSERT_TRUE(testmovies::Near(
                testmovies::PixelAt(image.data(), shape.width, 6, x, y), 255, 0, 0, 8))
                << av_get_pix_fmt_name(format) << " " << width << " to " << shape.width
                << " at " << x << "," << y;
          }
        }
      }
    }
  }
}

// 4:2:0 at the output's size takes our own conversion: each row kernel gives
// the plain loop's bytes, and every pixel is the colour space's matrix in its
// range within rounding, for odd sizes too (where libswscale's own converter
// leaves the last row and column wrong).
TEST_F(DecodeCoreTest, ConverterTurnsYuv420IntoLibswscalesColoursWithEveryRow) {
  std::mt19937 random(5);
  std::vector<Yuv420Row *> rows = {Yuv420ToBgr24RowScalar};
#ifdef MEDIAGRAPH_X86_KERNELS
  if (__builtin_cpu_supports("avx2")) rows.push_back(Yuv420ToBgr24RowAvx2);
#endif
  const Yuv420Matrix matrix = MakeYuv420Matrix(sws_getCoefficients(SWS_CS_ITU709), false);
  std::vector<uint8_t> y(200), u(100), v(100);
  for (int width = 1; width <= 200; ++width) {
    for (auto *bytes : {&y, &u, &v}) {
      for (uint8_t &b : *bytes) b = static_cast<uint8_t>(random());
    }
    std::vector<uint8_t> expected(width * 3 + 16, 0xA5);
    Yuv420ToBgr24RowFrom(y.data(), u.data(), v.data(), expected.data(), 0, width, matrix);
    for (Yuv420Row *row : rows) {
      std::vector<uint8_t> got(width * 3 + 16, 0xA5);
      row(y.data(), u.data(), v.data(), got.data(), width, matrix);
      ASSERT_EQ(expected, got) << "width " << width;  // nothing written past the row
    }
  }

  struct Case {
    int width, height;
    AVColorSpace space;
    AVColorRange range;
  };
  for (const Case &c : {Case{67, 5, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_MPEG},
                        Case{96, 4, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG},
                        Case{33, 3, AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG},
                        Case{1, 1, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG}}) {
    FramePtr frame = MakeFrame();
    frame->width = c.width;
    frame->height = c.height;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->colorspace = c.space;
    frame->color_range = c.range;
    ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane) {
      for (int i = 0; i < frame->linesize[plane] * c.height; ++i) {
        frame->data[plane][i] = static_cast<uint8_t>(random());
      }
    }
    FrameConverter converter(c.width, c.height);
    std::vector<uint8_t> image(converter.ImageSize());
    ASSERT_TRUE(converter.Convert(frame.get(), image.data(), image.size()));

    // The colour space's matrix and range in floating point, nearest chroma.
    const int *table = sws_getCoefficients(
        c.space == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : static_cast<int>(c.space));
    const bool full = c.range == AVCOL_RANGE_JPEG;
    const double narrow = full ? 224.0 / 255.0 : 1.0;
    const double luma = full ? 1.0 : 255.0 / 219.0;
    const int stride = FrameConverter::RowStride(c.width);
    int worst = 0;
    for (int row = 0; row < c.height; ++row) {
      const int picture = c.height - 1 - row;  // bottom-up
      for (int x = 0; x < c.width; ++x) {
        const int lumaByte = frame->data[0][picture * frame->linesize[0] + x];
        const double l = luma * (lumaByte - (full ? 0 : 16));
        const double cu = frame->data[1][picture / 2 * frame->linesize[1] + x / 2] - 128.0;
        const double cv = frame->data[2][picture / 2 * frame->linesize[2] + x / 2] - 128.0;
        const double bgr[3] = {l + narrow * table[1] / 65536.0 * cu,
                               l - narrow * (table[2] * cu + table[3] * cv) / 65536.0,
                               l + narrow * table[0] / 65536.0 * cv};
        for (int k = 0; k < 3; ++k) {
          const long exact = std::lround(std::clamp(bgr[k], 0.0, 255.0));
          worst = std::max<long>(worst, std::labs(exact - image[row * stride + x * 3 + k]));
        }
      }
    }
    EXPECT_LE(worst, 1) << c.width << "x" << c.height;
  }
}

// The decoder's pictures come from 2 MB-aligned blocks of our own, and hold
// exactly what FFmpeg decodes into its own buffers: odd sizes, planar and
// chroma-subsampled formats, frame threads, and one thread telling the rows
// done (H.264 does, in bands, to within a macroblock row of the end).
TEST_F(DecodeCoreTest, PicturesInOurOwnBuffersMatchFfmpegsOwn) {
  const char *const cases[] = {"-s 98x62 -c:v libx264 -pix_fmt yuv420p",
                               "-s 130x72 -c:v libx264 -pix_fmt yuv444p",
                               "-s 64x48 -c:v mpeg4 -pix_fmt yuv420p",
                               "-s 33x17 -c:v ffv1 -pix_fmt gbrp"};
  for (int c = 0; c < 8; ++c) {
    const char *const options = cases[c % 4];
    const int threads = c < 4 ? 2 : 1;
    const std::string path = dir_.File("pictures.mkv");
    ASSERT_TRUE(testmovies::RunFfmpeg("-f lavfi -i testsrc2=r=10:d=1 " + std::string(options) +
                                      " '" + path + "'"));
    std::unique_ptr<MovieFile> file;
    ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));
    std::vector<int> rowsDone;
    PictureBuffers::RowsDone watcher;
    if (threads == 1) watcher = [&](int rows, int height) { rowsDone.push_back(rows - height); };
    auto ours = StreamDecoder::Create(file->VideoStream(), threads);
    ASSERT_TRUE(ours);
    if (watcher) ours->WatchRows(watcher);
    const AVCodecParameters *par = file->VideoStream()->codecpar;
    CodecContextPtr theirs(avcodec_alloc_context3(avcodec_find_decoder(par->codec_id)));
    ASSERT_EQ(0, avcodec_parameters_to_context(theirs.get(), par));
    ASSERT_EQ(0, avcodec_open2(theirs.get(), nullptr, nullptr));
    // Frame threads give pictures later than a single one: all are kept.
    std::vector<FramePtr> mine;
    std::vector<FramePtr> fromFfmpeg;
    const auto collect = [&] {
      for (FramePtr frame = MakeFrame(); ours->Receive(frame.get()) == 0; frame = MakeFrame()) {
        mine.push_back(std::move(frame));
      }
      for (FramePtr frame = MakeFrame(); avcodec_receive_frame(theirs.get(), frame.get()) == 0;
           frame = MakeFrame()) {
        fromFfmpeg.push_back(std::move(frame));
      }
    };
    PacketPtr packet = MakePacket();
    while (file->ReadPacket(packet.get()) == 0) {
      if (packet->stream_index == file->VideoIndex()) {
        ASSERT_TRUE(ours->Send(packet.get()));
        ASSERT_EQ(0, avcodec_send_packet(theirs.get(), packet.get()));
        collect();
      }
      av_packet_unref(packet.get());
    }
    ours->Send(nullptr);
    avcodec_send_packet(theirs.get(), nullptr);
    collect();
    ASSERT_EQ(10u, mine.size()) << options;
    ASSERT_EQ(10u, fromFfmpeg.size()) << options;
    EXPECT_TRUE(std::all_of(rowsDone.begin(), rowsDone.end(), [](int d) { return d <= 0; }));
    if (threads == 1 && c % 4 < 2) {
      // The last band of each picture ends within a macroblock row of its end.
      EXPECT_EQ(10, std::count_if(rowsDone.begin(), rowsDone.end(), [](int d) { return d > -16; }))
          << options;
    }
    for (size_t i = 0; i < mine.size(); ++i) {
      const AVFrame *a = mine[i].get();
      const AVFrame *b = fromFfmpeg[i].get();
      EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(a->buf[0]->data) % (uintptr_t(2) << 20));
      const auto format = static_cast<AVPixelFormat>(a->format);
      const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
      for (int p = 0; p < 4 && a->data[p] != nullptr; ++p) {
        const bool chroma = p == 1 || p == 2;
        const int w = av_image_get_linesize(format, a->width, p);
        const int h = chroma ? AV_CEIL_RSHIFT(a->height, d->log2_chroma_h) : a->height;
        for (int y = 0; y < h; ++y) {
          ASSERT_EQ(0, std::memcmp(a->data[p] + y * a->linesize[p], b->data[p] + y * b->linesize[p],
                                   static_cast<size_t>(w)))
              << options << " picture " << i << " plane " << p << " row " << y;
        }
      }
    }
  }
}

// And a stretch adds exactly the frames asked for (the sound thread counts
// the movie's time by it), the few it holds back coming out on Drain.
TEST(RowsForecastTest, PaceCountsFromTheFirstRowsReportedNotFromTheDecodersSetUp) {
  using namespace std::chrono_literals;
  const RowsForecast::Clock::time_point t0;
  constexpr REFERENCE_TIME kWithin = 57 * 10000;  // 57 ms
  struct Report {
    int done;
    std::chrono::microseconds at;
    bool soon;
    bool judged;  // rows enough to go by: a "no" then means too slow
  };
  const struct {
    const char *what;
    std::vector<Report> reports;
  } cases[] = {
      // 40 ms of set-up, then rows at 5 us each: 4 x 10 ms left fits.
      {"slow set-up", {{16, 40000us, false, false}, {160, 40720us, true, true}}},
      {"too few rows to go by", {{16, 0us, false, false}, {100, 840us, false, false}}},
      // 2000 rows left at 20 us: 4 x 40 ms does not fit, 4 x 12 ms does.
      {"slow rows", {{16, 0us, false, false}, {216, 4000us, false, true}, {1560, 30880us, true, true}}},
      {"the whole picture in one band", {{2160, 5000us, false, false}}},
      {"two bands", {{1080, 5000us, false, false}, {2160, 9000us, true, true}}},
  };
  for (const auto &c : cases) {
    RowsForecast forecast;
    for (const Report &r : c.reports) {
      EXPECT_EQ(r.soon, forecast.Soon(r.done, 2160, t0 + r.at, kWithin))
          << c.what << ", at " << r.done << " rows";
      EXPECT_EQ(r.judged, forecast.Judged()) << c.what << ", at " << r.done << " rows";
    }
  }
}

TEST_F(DecodeCoreTest, SoundBecomesStereo16BitAtItsOwnRateAndAStretchAddsWhatItAsks) {
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
  int64_t in = 0;
  while (file->ReadPacket(packet.get()) == 0) {
    if (packet->stream_index == file->AudioIndex()) {
      ASSERT_TRUE(decoder->Send(packet.get()));
      while (decoder->Receive(frame.get()) == 0) {
        ASSERT_TRUE(resampler->Convert(frame.get(), &pcm));
        if (in == 0) resampler->Compensate(240, 12000);
        in += frame->nb_samples;
        av_frame_unref(frame.get());
      }
    }
    av_packet_unref(packet.get());
  }
  EXPECT_NEAR(24000.0, in, 1200.0);
  const int64_t held = resampler->Delay();
  EXPECT_GT(held, 0);
  EXPECT_EQ(in + 240 - held, static_cast<int64_t>(pcm.size() / 2));
  ASSERT_TRUE(resampler->Drain(&pcm));
  EXPECT_EQ(in + 240, static_cast<int64_t>(pcm.size() / 2));
  int peak = 0;
  for (int16_t sample : pcm) peak = std::max(peak, std::abs(static_cast<int>(sample)));
  EXPECT_GT(peak, 1000);  // the tone survived the down-mix
}

TEST_F(DecodeCoreTest, SoundEndsWhereATrustedContainerSaysNotWithTheEncodersPadding) {
  // AAC in MP4 decodes to 1002.7 ms (1216 ms for 1.2 s); the edit list says
  // 1 s (1.2 s, also where the picture is shorter). A transport stream's
  // lengths are guessed from time stamps: no end is trusted there.
  struct Case {
    const char *name;
    const char *sound;
    int64_t end;
  };
  for (const Case &c : {Case{"padded.mp4", "1", 10000000}, Case{"longer.mp4", "1.2", 12000000},
                        Case{"guessed.ts", "1", INT64_MAX}}) {
    const std::string path = dir_.File(c.name);
    ASSERT_TRUE(testmovies::RunFfmpeg(
        "-f lavfi -i color=d=1:r=25 -f lavfi -i sine=sample_rate=48000:d=" +
        std::string(c.sound) + " -c:v mpeg4 -c:a aac '" + path + "'"));
    std::unique_ptr<MovieFile> file;
    ASSERT_EQ(OpenStatus::kOk, MovieFile::Open(path, &file));
    EXPECT_EQ(c.end, file->SoundEnd()) << c.name;
  }
}

}  // namespace
}  // namespace mediagraph
