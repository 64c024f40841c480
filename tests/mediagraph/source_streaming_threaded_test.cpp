// The movie source against a recording sink, without a graph or a clock:
// opening and its failures, the connection and its media type, every picture
// delivered in order with its times and pixels, end of stream, seeking with
// flush and new segment, the stop position, and threads that all end.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mediagraph/source/movie_source.h"
#include "platform/com/unknown.h"
#include "platform/win32/errors.h"
#include "tests/mediagraph/fakes/recording_sink.h"
#include "tests/mediagraph/fakes/test_movies.h"
#include "tests/mediagraph/support/test_movies.h"

namespace {

using testmovies::PatternSpec;
using testmovies::RecordingSink;

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

// "n=<frame number>" and any quadrant problem, for the sink to record.
RecordingSink::Inspector PatternInspector(const PatternSpec &recipe) {
  return [recipe](const uint8_t *picture, LONG size) {
    const LONG needed = ((recipe.width * 3 + 3) & ~3) * recipe.height;
    if (size < needed) return std::string("short buffer");
    return "n=" + std::to_string(testmovies::FrameNumber(picture, recipe)) +
           testmovies::CheckQuadrants(picture, recipe);
  };
}

std::string Expect(int number) { return "n=" + std::to_string(number); }

class SourceStreamingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    dir_ = new testmovies::TempDir();
    PatternSpec recipe;
    movieOk_ = testmovies::MakePatternMovie(recipe, dir_->File("pattern.mp4"));
  }
  static void TearDownTestSuite() {
    delete dir_;
    CoUninitialize();
  }

  void SetUp() override {
    ASSERT_TRUE(movieOk_) << "ffmpeg could not make the test movie";
    sink_ = new RecordingSink();
    sink_->NonDelegatingUnknown()->AddRef();
  }
  void TearDown() override {
    if (source_ != nullptr) {
      source_->Filter()->Stop();
      sink_->Stop();
      source_->VideoPin()->Disconnect();
      sink_->InputPin()->Disconnect();
      source_->Release();
    }
    sink_->NonDelegatingUnknown()->Release();
  }

  // Opens the movie and connects it to the sink.
  void Open(const std::string &path, const PatternSpec &recipe) {
    ASSERT_EQ(S_OK, CreateMovieSource(Wide(path).c_str(), &source_));
    sink_->SetInspector(PatternInspector(recipe));
    ASSERT_EQ(S_OK, source_->VideoPin()->Connect(sink_->InputPin(), nullptr));
  }
  void RunBoth() {
    ASSERT_EQ(S_OK, sink_->Run(0));
    ASSERT_EQ(S_OK, source_->Filter()->Run(0));
  }
  bool WaitForEnd() {
    return sink_->WaitUntil([this] { return sink_->EndOfStreamsLocked() > 0; });
  }

  static testmovies::TempDir *dir_;
  static bool movieOk_;
  RecordingSink *sink_ = nullptr;
  MovieSource *source_ = nullptr;
};

testmovies::TempDir *SourceStreamingTest::dir_ = nullptr;
bool SourceStreamingTest::movieOk_ = false;

TEST_F(SourceStreamingTest, FailuresNameTheirCauseAndLeaveNothing) {
  MovieSource *source = reinterpret_cast<MovieSource *>(0x1);
  EXPECT_EQ(E_POINTER, CreateMovieSource(L"x", nullptr));
  EXPECT_EQ(E_INVALIDARG, CreateMovieSource(nullptr, &source));
  EXPECT_EQ(nullptr, source);

  SetLastError(0);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            CreateMovieSource(Wide(dir_->File("missing.mp4")).c_str(), &source));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(nullptr, source);

  const std::string text = dir_->File("words.avi");
  const std::string words = "RIFF but not really a movie; just words in a file\n";
  ASSERT_TRUE(testmovies::WriteFile(text, std::vector<uint8_t>(words.begin(), words.end())));
  EXPECT_EQ(VFW_E_UNKNOWN_FILE_TYPE, CreateMovieSource(Wide(text).c_str(), &source));
  const std::string empty = dir_->File("empty.mpg");
  ASSERT_TRUE(testmovies::WriteFile(empty, {}));
  EXPECT_EQ(VFW_E_UNKNOWN_FILE_TYPE, CreateMovieSource(Wide(empty).c_str(), &source));

  const std::string tone = dir_->File("tone.mp3");
  ASSERT_TRUE(testmovies::RunFfmpeg("-f lavfi -i sine=d=0.3 '" + tone + "'"));
  EXPECT_EQ(VFW_E_CANNOT_RENDER, CreateMovieSource(Wide(tone).c_str(), &source));
  EXPECT_EQ(nullptr, source);
}

TEST_F(SourceStreamingTest, ProposesBottomUpRgb24AndAgreesAnAllocator) {
  PatternSpec recipe;
  Open(dir_->File("pattern.mp4"), recipe);
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(S_OK, source_->VideoPin()->ConnectionMediaType(&type));
  EXPECT_TRUE(type.majortype == MEDIATYPE_Video);
  EXPECT_TRUE(type.subtype == MEDIASUBTYPE_RGB24);
  ASSERT_TRUE(type.formattype == FORMAT_VideoInfo);
  ASSERT_GE(type.cbFormat, sizeof(VIDEOINFOHEADER));
  VIDEOINFOHEADER format;
  std::memcpy(&format, type.pbFormat, sizeof format);
  EXPECT_EQ(64, format.bmiHeader.biWidth);
  EXPECT_EQ(64, format.bmiHeader.biHeight);
  EXPECT_EQ(24, format.bmiHeader.biBitCount);
  EXPECT_EQ(BI_RGB, format.bmiHeader.biCompression);
  EXPECT_EQ(192u * 64u, format.bmiHeader.biSizeImage);
  EXPECT_EQ(400000, format.AvgTimePerFrame);
  CoTaskMemFree(type.pbFormat);

  ASSERT_NE(nullptr, sink_->Input()->Allocator());
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(S_OK, sink_->Input()->Allocator()->GetProperties(&props));
  EXPECT_GE(props.cbBuffer, 192 * 64);
  EXPECT_GE(props.cBuffers, 2);

  // The pin only takes its own type back.
  VIDEOINFOHEADER other = format;
  other.bmiHeader.biHeight = -64;
  AM_MEDIA_TYPE topDown = type;
  topDown.pbFormat = reinterpret_cast<BYTE *>(&other);
  EXPECT_EQ(S_FALSE, source_->VideoPin()->QueryAccept(&topDown));

  // Quality messages are refused: a renderer told they were acted on would
  // show the first picture of each run at once, before its time.
  IQualityControl *quality = nullptr;
  ASSERT_EQ(S_OK, source_->VideoPin()->QueryInterface(IID_IQualityControl,
                                                      reinterpret_cast<void **>(&quality)));
  EXPECT_EQ(E_NOTIMPL, quality->Notify(source_->Filter(), Quality{}));
  quality->Release();
}

TEST_F(SourceStreamingTest, EveryPictureInOrderThenOneEndOfStream) {
  PatternSpec recipe;
  Open(dir_->File("pattern.mp4"), recipe);
  RunBoth();
  ASSERT_TRUE(WaitForEnd());
  const auto arrivals = sink_->Arrivals();
  ASSERT_EQ(25u, arrivals.size());
  for (size_t i = 0; i < arrivals.size(); ++i) {
    const auto &a = arrivals[i];
    EXPECT_TRUE(a.timed);
    EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 400000, a.start) << "picture " << i;
    EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * 400000, a.stop) << "picture " << i;
    EXPECT_EQ(i == 0, a.discontinuity) << "picture " << i;
    EXPECT_EQ(192 * 64, a.actual);
    EXPECT_EQ(Expect(static_cast<int>(i)), a.check) << "picture " << i;
  }
  EXPECT_EQ("S" + std::string(25, 'R') + "X", sink_->Log());
  const auto segments = sink_->Segments();
  ASSERT_EQ(1u, segments.size());
  EXPECT_EQ(0, segments[0].start);
  EXPECT_EQ(1.0, segments[0].rate);
}

TEST_F(SourceStreamingTest, SeekWhilePausedFlushesAndStartsANewSegment) {
  PatternSpec recipe;
  Open(dir_->File("pattern.mp4"), recipe);
  sink_->SetGate(true);  // a paused renderer holds the first picture
  ASSERT_EQ(S_OK, sink_->Pause());
  ASSERT_EQ(S_OK, source_->Filter()->Pause());
  ASSERT_TRUE(sink_->WaitUntil([this] { return sink_->ArrivalCountLocked() == 1; }));

  LONGLONG position = 4800000;
  ASSERT_EQ(S_OK, source_->Seeking()->SetPositions(
                      &position, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr,
                      AM_SEEKING_NoPositioning));
  EXPECT_EQ(4800000, position);
  ASSERT_TRUE(sink_->WaitUntil([this] { return sink_->ArrivalCountLocked() == 2; }));
  const auto held = sink_->Arrivals();
  EXPECT_EQ(Expect(12), held[1].check);
  EXPECT_EQ(0, held[1].start);
  EXPECT_TRUE(held[1].discontinuity);
  EXPECT_EQ("SRBESR", sink_->Log());
  ASSERT_EQ(2u, sink_->Segments().size());
  EXPECT_EQ(4800000, sink_->Segments()[1].start);

  // Running on delivers the rest of the movie from there.
  sink_->SetGate(false);
  ASSERT_EQ(S_OK, sink_->Run(0));
  ASSERT_EQ(S_OK, source_->Filter()->Run(0));
  ASSERT_TRUE(WaitForEnd());
  const auto arrivals = sink_->Arrivals();
  ASSERT_EQ(1u + 13u, arrivals.size());
  EXPECT_EQ(Expect(24), arrivals.back().check);
  EXPECT_EQ(12 * 400000, arrivals.back().start);
}

TEST_F(SourceStreamingTest, SeekToStartAtTheEndReplaysEverything) {
  PatternSpec recipe;
  Open(dir_->File("pattern.mp4"), recipe);
  RunBoth();
  ASSERT_TRUE(WaitForEnd());
  sink_->ClearRecords();
  LONGLONG zero = 0;
  ASSERT_EQ(S_OK, source_->Seeking()->SetPositions(&zero, AM_SEEKING_AbsolutePositioning,
                                                   nullptr, AM_SEEKING_NoPositioning));
  ASSERT_TRUE(WaitForEnd());
  const auto arrivals = sink_->Arrivals();
  ASSERT_EQ(25u, arrivals.size());
  EXPECT_EQ(Expect(0), arrivals.front().check);
  EXPECT_EQ(0, arrivals.front().start);
  EXPECT_EQ(Expect(24), arrivals.back().check);
}

TEST_F(SourceStreamingTest, StopPositionEndsTheStreamEarly) {
  PatternSpec recipe;
  Open(dir_->File("pattern.mp4"), recipe);
  LONGLONG stop = 4000000;
  ASSERT_EQ(S_OK, source_->Seeking()->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop,
                                                   AM_SEEKING_AbsolutePositioning));
  LONGLONG current = -1;
  ASSERT_EQ(S_OK, source_->Seeking()->GetPositions(&current, &stop));
  EXPECT_EQ(0, current);
  EXPECT_EQ(4000000, stop);
  RunBoth();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(10u, sink_->Arrivals().size());
}

TEST_F(SourceStreamingTest, SeekingInterfaceAnswers) {
  PatternSpec recipe;
  Open(dir_->File("pattern.mp4"), recipe);
  IMediaSeeking *seeking = source_->Seeking();
  LONGLONG duration = 0;
  ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
  EXPECT_NEAR(10000000, duration, 500000);
  EXPECT_EQ(duration, source_->Duration());
  DWORD caps = 0;
  ASSERT_EQ(S_OK, seeking->GetCapabilities(&caps));
  EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);
  caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanPlayBackwards;
  EXPECT_EQ(S_FALSE, seeking->CheckCapabilities(&caps));
  EXPECT_EQ(AM_SEEKING_CanSeekAbsolute, caps);
  EXPECT_EQ(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
  EXPECT_EQ(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
  EXPECT_EQ(E_INVALIDARG, seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
  EXPECT_EQ(S_OK, seeking->SetRate(1.0));
  EXPECT_EQ(E_INVALIDARG, seeking->SetRate(2.0));
  EXPECT_EQ(E_POINTER, seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
  // The pin hands out its seeking interface, counted on the filter.
  IMediaSeeking *asked = nullptr;
  ASSERT_EQ(S_OK, source_->VideoPin()->QueryInterface(IID_IMediaSeeking,
                                                      reinterpret_cast<void **>(&asked)));
  EXPECT_EQ(seeking, asked);
  asked->Release();

  LONG volume = 1;
  EXPECT_EQ(E_INVALIDARG, source_->SetVolume(1));
  EXPECT_EQ(E_INVALIDARG, source_->SetVolume(-10001));
  EXPECT_EQ(S_OK, source_->SetVolume(-600));
  ASSERT_EQ(S_OK, source_->GetVolume(&volume));
  EXPECT_EQ(-600, volume);
}

TEST_F(SourceStreamingTest, DamagedMoviesEndCleanly) {
  const std::vector<uint8_t> whole = testmovies::ReadFile(dir_->File("pattern.mp4"));
  ASSERT_GT(whole.size(), 4000u);
  // Cut in half, and the same length with the middle overwritten by noise.
  const std::string cut = dir_->File("cut.mp4");
  ASSERT_TRUE(testmovies::WriteFile(cut, std::vector<uint8_t>(whole.begin(),
                                                               whole.begin() + whole.size() / 2)));
  std::vector<uint8_t> noisy = whole;
  uint32_t noise = 12345;
  for (size_t i = noisy.size() / 3; i < noisy.size() * 2 / 3; ++i) {
    noise = noise * 1103515245u + 12345u;
    noisy[i] = static_cast<uint8_t>(noise >> 16);
  }
  const std::string broken = dir_->File("noisy.mp4");
  ASSERT_TRUE(testmovies::WriteFile(broken, noisy));

  PatternSpec recipe;
  for (const std::string &path : {cut, broken}) {
    MovieSource *source = nullptr;
    const HRESULT hr = CreateMovieSource(Wide(path).c_str(), &source);
    if (FAILED(hr)) {
      EXPECT_EQ(nullptr, source);
      continue;
    }
    auto *sink = new RecordingSink();
    sink->NonDelegatingUnknown()->AddRef();
    sink->SetInspector(PatternInspector(recipe));
    ASSERT_EQ(S_OK, source->VideoPin()->Connect(sink->InputPin(), nullptr));
    ASSERT_EQ(S_OK, sink->Run(0));
    ASSERT_EQ(S_OK, source->Filter()->Run(0));
    EXPECT_TRUE(sink->WaitUntil([sink] { return sink->EndOfStreamsLocked() > 0; })) << path;
    EXPECT_LE(sink->Arrivals().size(), 25u);
    source->Filter()->Stop();
    sink->Stop();
    source->VideoPin()->Disconnect();
    sink->InputPin()->Disconnect();
    source->Release();
    sink->NonDelegatingUnknown()->Release();
  }
}

TEST_F(SourceStreamingTest, StopAndReleaseEndEveryThreadAndFile) {
  PatternSpec recipe;
  // Warm up once: libraries start their own threads and files on first use.
  Open(dir_->File("pattern.mp4"), recipe);
  RunBoth();
  ASSERT_TRUE(WaitForEnd());
  TearDown();
  source_ = nullptr;
  const int threads = mediagraph_test::SettledThreadCount();
  const int files = mediagraph_test::OpenFileCount();
  for (int round = 0; round < 10; ++round) {
    SetUp();
    Open(dir_->File("pattern.mp4"), recipe);
    RunBoth();
    // Stop half-way through some rounds, at the end in others.
    if (round % 2 == 0) {
      ASSERT_TRUE(WaitForEnd());
    } else {
      sink_->WaitUntil([this] { return sink_->ArrivalCountLocked() >= 5; });
    }
    TearDown();
    source_ = nullptr;
  }
  SetUp();  // TearDown runs once more after the test
  EXPECT_LE(mediagraph_test::ThreadCountOnceBackTo(threads), threads);
  EXPECT_EQ(files, mediagraph_test::OpenFileCount());
}

}  // namespace
