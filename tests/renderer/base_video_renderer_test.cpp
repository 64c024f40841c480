// The video renderer's decisions on constructed cases: when a frame is drawn
// at its time, at once or dropped; the quality record it sends upstream; the
// throttle it takes from quality notices; and its IQualProp statistics.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/win32/windows.h"
#include "tests/renderer/fakes/fake_event_graph.h"
#include "tests/renderer/fakes/fake_media_sample.h"
#include "tests/renderer/fakes/fake_output_pin.h"
#include "tests/renderer/fakes/manual_reference_clock.h"
#include "tests/renderer/fakes/recording_renderer.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;
constexpr int kFrame = 400000;  // 40 ms, 25 frames per second

// Opens the statistics and decision state to the test.
class VideoProbe : public fakes::RecordingVideoRenderer {
 public:
  using CBaseVideoRenderer::accuracySquares;
  using CBaseVideoRenderer::duration;
  using CBaseVideoRenderer::earliness;
  using CBaseVideoRenderer::frameAverage;
  using CBaseVideoRenderer::framesDrawn;
  using CBaseVideoRenderer::framesDropped;
  using CBaseVideoRenderer::frameTimeSquares;
  using CBaseVideoRenderer::frameTimeTotal;
  using CBaseVideoRenderer::heldFrameTime;
  using CBaseVideoRenderer::heldLateness;
  using CBaseVideoRenderer::lastDraw;
  using CBaseVideoRenderer::normalCount;
  using CBaseVideoRenderer::rememberedStamp;
  using CBaseVideoRenderer::renderAverage;
  using CBaseVideoRenderer::streamingStart;
  using CBaseVideoRenderer::supplierHandlesQuality;
  using CBaseVideoRenderer::totalAccuracy;
  using CBaseVideoRenderer::waitAverage;
};

class VideoRenderer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, video->SetSyncSource(&clock));
    // Quality records go to the fake pin; it answers S_FALSE (not acted on).
    upstream.SetQualityAnswer(S_FALSE);
    ASSERT_EQ(S_OK, video->SetSink(&upstream));
  }
  void TearDown() override { video->SetSink(nullptr); }

  // A frame of `length` starting at `start` (before the 8 ms bias), decided
  // with the clock at `now`.
  HRESULT Decide(REFERENCE_TIME start, REFERENCE_TIME length, REFERENCE_TIME now,
                 REFERENCE_TIME *adjusted = nullptr, bool discontinuity = false) {
    clock.SetTime(now);
    fakes::FakeMediaSample sample(start, start + length);
    sample.SetDiscontinuityFlag(discontinuity);
    REFERENCE_TIME s = start;
    REFERENCE_TIME e = start + length;
    const HRESULT hr = video->DecideDrawTiming(&sample, &s, &e);
    if (adjusted != nullptr) *adjusted = s;
    return hr;
  }

  // The steady state of a renderer that has been playing at 25 fps.
  void Playing(REFERENCE_TIME lastDrawn) {
    video->frameAverage = kFrame;
    video->duration = kFrame;
    video->normalCount = 5;
    video->lastDraw = lastDrawn;
  }

  fakes::ManualReferenceClock clock;
  fakes::FakeOutputPin upstream;
  fakes::FilterHolder<VideoProbe> video{new VideoProbe};
};

TEST_F(VideoRenderer, AnEarlyFrameWaitsForItsTimeEightMillisecondsEarly) {
  REFERENCE_TIME start = 0;
  EXPECT_EQ(S_FALSE, Decide(40 * kMs, kFrame, 0, &start));
  EXPECT_EQ(32 * kMs, start);
  EXPECT_EQ(32 * kMs, video->rememberedStamp);
  EXPECT_EQ(1, video->normalCount);
  // The first frame sets the reference duration.
  EXPECT_EQ(kFrame, video->duration);
  EXPECT_EQ(kFrame, video->frameAverage);
  EXPECT_EQ(32 * kMs, video->lastDraw);
  EXPECT_EQ(0, video->heldLateness);  // the earliness applied: none yet
  EXPECT_EQ(80000, video->waitAverage);  // a quarter of the 32 ms wait
}

TEST_F(VideoRenderer, TheBiasAppliesFromEightMilliseconds) {
  REFERENCE_TIME start = 0;
  Decide(80000 - 1, kFrame, 0, &start);
  EXPECT_EQ(80000 - 1, video->rememberedStamp);  // left alone below 8 ms
  EXPECT_EQ(80000 - 1, start);
  Decide(80000, kFrame, 0, &start);
  EXPECT_EQ(0, video->rememberedStamp);  // never made negative
}

TEST_F(VideoRenderer, AFrameDueNowIsDrawnAtOnce) {
  Playing(0);
  EXPECT_EQ(S_OK, Decide(kFrame + 80000, kFrame, kFrame));
  EXPECT_EQ(6, video->normalCount);  // still at its normal time
  EXPECT_EQ(kFrame, video->lastDraw);
  EXPECT_EQ(0, video->heldLateness);
}

TEST_F(VideoRenderer, AFrameHalfAFrameLateIsDroppedWhenDrawingIsCostly) {
  Playing(1600000);
  video->renderAverage = kFrame / 2;  // more than a third of the frame time
  const LONGLONG now = 2000000;
  // Half a frame late, upstream ignores quality, nothing waits, drawn 40 ms ago.
  EXPECT_EQ(E_FAIL, Decide(now - kFrame / 2 + 80000, kFrame, now));
  EXPECT_EQ(-1, video->normalCount);

  // The next frame is played at once: just dropped.
  // 20 ms early: at its time it would wait (S_FALSE).
  EXPECT_EQ(S_OK, Decide(now + 80000 + 20 * kMs, kFrame, now));
  EXPECT_EQ(0, video->normalCount);
  EXPECT_EQ(now, video->lastDraw);
}

TEST_F(VideoRenderer, JustUnderHalfAFrameLateIsStillDrawn) {
  Playing(1600000);
  video->renderAverage = kFrame / 2;
  const LONGLONG now = 2000000;
  EXPECT_EQ(S_OK, Decide(now - kFrame / 2 + 1 + 80000, kFrame, now));
}

TEST_F(VideoRenderer, AfterADropAFrameFarTooEarlyStillWaitsForItsTime) {
  Playing(0);
  video->normalCount = -1;
  EXPECT_EQ(S_FALSE, Decide(100 * kFrame + 80000, kFrame, 0));  // 4 s early
  EXPECT_EQ(0, video->normalCount);  // counted from the drop
}

TEST_F(VideoRenderer, AUpstreamThatActsOnQualityAllowsFourFramesOfLateness) {
  upstream.SetQualityAnswer(S_OK);
  Playing(1600000);
  video->renderAverage = kFrame / 2;
  const LONGLONG now = 2000000;
  EXPECT_EQ(S_OK, Decide(now - 4 * kFrame + 80000, kFrame, now));
  EXPECT_TRUE(video->supplierHandlesQuality);
  Playing(1600000);
  EXPECT_EQ(E_FAIL, Decide(now - 4 * kFrame - 1 + 80000, kFrame, now));
}

TEST_F(VideoRenderer, RunningBelowTheFrameRateCatchesUpAtOnce) {
  Playing(0);
  video->frameAverage = kFrame * 2;  // frames come every 80 ms
  const LONGLONG now = 10 * kFrame;
  EXPECT_EQ(S_OK, Decide(now + 80000 + 10 * kMs, kFrame, now));  // 10 ms early
  EXPECT_EQ(0, video->normalCount);
  EXPECT_EQ(now, video->lastDraw);
  EXPECT_EQ(-10 * kMs, video->earliness);
}

TEST_F(VideoRenderer, EarlinessFollowsLatenessUpAndDecaysSlowlyDown) {
  Playing(0);
  const LONGLONG now = 10 * kFrame;
  video->earliness = -100000;
  Decide(now + 80000 + 40000, kFrame, now);  // 4 ms early: later than before
  EXPECT_EQ(-40000, video->earliness);
  Decide(now + 80000 + 200000, kFrame, now);  // 20 ms early: an eighth back
  EXPECT_EQ(-35000, video->earliness);
  Decide(now + 80000 - 10000, kFrame, now);  // late: reset
  EXPECT_EQ(0, video->earliness);
}

TEST_F(VideoRenderer, EarlinessMovesTheDrawTimeEarlierByUpToAFrame) {
  Playing(0);
  const LONGLONG now = 10 * kFrame;
  video->earliness = -100000;
  REFERENCE_TIME start = 0;
  EXPECT_EQ(S_FALSE, Decide(now + 80000 + 500000, kFrame, now, &start));
  // Much earlier than the earliness: it decays to -87500 and is applied.
  EXPECT_EQ(now + 500000 - 87500, start);
  EXPECT_EQ(-87500, video->heldLateness);  // the accuracy stashed for the draw

  video->earliness = -2 * kFrame;
  Playing(0);
  Decide(now + 80000 + 3 * kFrame, kFrame, now, &start);
  EXPECT_EQ(now + 3 * kFrame - kFrame, start);  // limited to one frame
}

TEST_F(VideoRenderer, TheQualityRecordReportsLatenessUpstream) {
  Playing(1600000);
  video->renderAverage = kFrame / 2;
  const LONGLONG now = 2000000;
  Decide(now - 20 * kMs + 80000, kFrame, now);  // 20 ms late
  const std::vector<Quality> sent = upstream.QualityMessages();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(Flood, sent[0].Type);  // drawing takes half the frame time
  EXPECT_EQ(980, sent[0].Proportion);
  EXPECT_EQ(20 * kMs + kFrame / 4, sent[0].Late);
  EXPECT_EQ(now, sent[0].TimeStamp);
  EXPECT_FALSE(video->supplierHandlesQuality);
}

TEST_F(VideoRenderer, TheQualityProportionBoundsAndWaitingFrames) {
  Playing(0);
  Decide(0, kFrame, 2 * 1000 * kMs);  // two seconds late
  Playing(0);
  video->waitAverage = 30000;  // frames wait 3 ms on average, early by 4 ms
  Decide(10 * kFrame + 80000 + 40000, kFrame, 10 * kFrame);
  Playing(0);
  video->waitAverage = kFrame;  // waits as long as a frame
  Decide(10 * kFrame + 80000 + 40000, kFrame, 10 * kFrame);
  video->frameAverage = -1;
  Decide(0, kFrame, 0);  // no frame average yet
  const std::vector<Quality> sent = upstream.QualityMessages();
  ASSERT_EQ(4u, sent.size());
  EXPECT_EQ(500, sent[0].Proportion);  // never below half
  EXPECT_EQ(1000, sent[1].Proportion);
  EXPECT_EQ(2000, sent[2].Proportion);
  EXPECT_EQ(1000, sent[3].Proportion);
  EXPECT_EQ(Famine, sent[3].Type);
}

TEST_F(VideoRenderer, WithoutASinkNoRecordIsSentAndTheSupplierIsNotTrusted) {
  video->SetSink(nullptr);
  Decide(0, kFrame, 0);
  EXPECT_TRUE(upstream.QualityMessages().empty());
  EXPECT_FALSE(video->supplierHandlesQuality);
}

TEST_F(VideoRenderer, SetSinkHoldsAReferenceAndReleasesTheOneItReplaces) {
  const ULONG before = upstream.RefCount();
  fakes::FakeOutputPin other;
  ASSERT_EQ(S_OK, video->SetSink(&other));
  EXPECT_EQ(before - 1, upstream.RefCount());
  EXPECT_EQ(1u, other.RefCount());
  ASSERT_EQ(S_OK, video->SetSink(nullptr));
  EXPECT_EQ(0u, other.RefCount());
}

TEST_F(VideoRenderer, ADroppedFrameCountsWhenItCannotBeScheduled) {
  Playing(1600000);
  video->renderAverage = kFrame / 2;
  clock.SetTime(2000000);
  fakes::FakeMediaSample late(2000000 - kFrame / 2 + 80000, 2000000 + kFrame / 2 + 80000);
  EXPECT_FALSE(video->PlanSample(&late));
  int dropped = -1;
  EXPECT_EQ(S_OK, video->get_FramesDroppedInRenderer(&dropped));
  EXPECT_EQ(1, dropped);
}

// --- Quality notices received and the throttle -------------------------------

TEST_F(VideoRenderer, TheThrottleFollowsTheProportionOfReceivedNotices) {
  struct Row {
    LONG proportion;
    int throttle;
    DWORD sleepMs;
  };
  const Row table[] = {{0, 1998622, 199}, {100, 1126479, 112}, {300, 502719, 50},
                       {500, 253028, 25}, {700, 118535, 11},   {900, 34461, 3},
                       {999, 3516, 0},    {1000, 0, 0},        {5000, 0, 0}};
  void *out = nullptr;
  ASSERT_EQ(S_OK, video.Interface()->QueryInterface(IID_IQualityControl, &out));
  auto *control = static_cast<IQualityControl *>(out);
  for (const Row &row : table) {
    EXPECT_EQ(row.throttle, CBaseVideoRenderer::ThrottleForProportion(row.proportion));
    Quality q{Famine, row.proportion, 0, 0};
    EXPECT_EQ(S_OK, control->Notify(nullptr, q));
    EXPECT_EQ(row.sleepMs, video->ThrottleSleepMs()) << row.proportion;
  }
  control->Release();
}

TEST_F(VideoRenderer, ANegativeProportionGivesNoThrottle) {
  // Near -167 the formula would sleep up to 38.9 s with both locks held.
  for (LONG proportion : {-1, -100, -166, -167, -168, INT_MIN}) {
    EXPECT_EQ(S_OK, video->Notify(nullptr, Quality{Flood, proportion, 0, 0}));
    EXPECT_EQ(0u, video->ThrottleSleepMs()) << proportion;
  }
}

TEST_F(VideoRenderer, AbsurdTimesSaturateInsteadOfOverflowing) {
  // {start, stop, now}, each decided on the state the one before left.
  const REFERENCE_TIME rows[][3] = {{0, REFERENCE_TIME{1} << 31, 0}, {0, INT64_MAX, 0},
                                    {INT64_MIN, INT64_MAX, INT64_MAX},
                                    {INT64_MAX - 1, INT64_MAX, INT64_MIN}, {0, kFrame, 0}};
  for (const auto &row : rows) {
    clock.SetTime(row[2]);
    fakes::FakeMediaSample sample(row[0], row[1]);
    REFERENCE_TIME start = row[0], stop = row[1];
    video->DecideDrawTiming(&sample, &start, &stop);
    EXPECT_TRUE(video->duration >= 0 && video->duration <= 500000000) << row[0];  // 50 s
    EXPECT_LE(video->frameAverage, 500000000) << row[0];
  }
}

// Its destructor starts as a concrete renderer's must, and notes what is left.
struct DestroyedProbe : VideoProbe {
  using CBaseRenderer::endOfStream;
  using CBaseRenderer::signalTime;
  ~DestroyedProbe() override {
    StopTimedCallbacks();
    *left = PendingEndOfStreamTimer() +
            static_cast<fakes::ManualReferenceClock *>(ClockNoLock())->PendingCount();
  }
  std::size_t *left = nullptr;
};

TEST_F(VideoRenderer, TheTimerAndTheAdviseStopBeforeTheDerivedPartsGo) {
  std::size_t left = 1;
  auto *probe = new DestroyedProbe;
  probe->left = &left;
  IBaseFilter *filter = probe;
  filter->AddRef();
  probe->SetSyncSource(&clock);
  fakes::FakeMediaSample future(kFrame * 1000, kFrame * 1001);
  ASSERT_TRUE(probe->PlanSample(&future));
  // Due in 2000 s, beyond the longest timer: a timer is armed all the same.
  probe->endOfStream = TRUE;
  probe->signalTime = 20000000000;
  probe->DeliverCompletion();
  ASSERT_NE(0u, probe->PendingEndOfStreamTimer() * clock.PendingCount());
  filter->Release();
  EXPECT_EQ(0u, left);
}

// --- Statistics ----------------------------------------------------------------

TEST_F(VideoRenderer, EveryGetterRefusesANullOutPointer) {
  EXPECT_EQ(E_POINTER, video->get_FramesDroppedInRenderer(nullptr));
  EXPECT_EQ(E_POINTER, video->get_FramesDrawn(nullptr));
  EXPECT_EQ(E_POINTER, video->get_AvgFrameRate(nullptr));
  EXPECT_EQ(E_POINTER, video->get_Jitter(nullptr));
  EXPECT_EQ(E_POINTER, video->get_AvgSyncOffset(nullptr));
  EXPECT_EQ(E_POINTER, video->get_DevSyncOffset(nullptr));
}

struct Stats {
  int drawn, jitter, avgSync, devSync;
};

Stats Read(CBaseVideoRenderer *v) {
  Stats s{-1, -1, -1, -1};
  EXPECT_EQ(S_OK, v->get_FramesDrawn(&s.drawn));
  EXPECT_EQ(S_OK, v->get_Jitter(&s.jitter));
  EXPECT_EQ(S_OK, v->get_AvgSyncOffset(&s.avgSync));
  EXPECT_EQ(S_OK, v->get_DevSyncOffset(&s.devSync));
  return s;
}

TEST_F(VideoRenderer, TheFirstFramesNeverCountIntoTheStatistics) {
  Stats s = Read(video.get());
  EXPECT_EQ(0, s.drawn);
  EXPECT_EQ(0, s.jitter);
  EXPECT_EQ(0, s.avgSync);
  EXPECT_EQ(0, s.devSync);

  video->LogFrameLateness(50 * 10000, 40 * 10000);
  s = Read(video.get());
  EXPECT_EQ(1, s.drawn);
  EXPECT_EQ(0, s.avgSync);  // one frame: no sync statistics

  video->LogFrameLateness(70 * 10000, 40 * 10000);
  s = Read(video.get());
  EXPECT_EQ(2, s.drawn);
  EXPECT_EQ(0, s.jitter);
  EXPECT_EQ(0, s.avgSync);
  EXPECT_EQ(0, s.devSync);
  EXPECT_EQ(0, video->totalAccuracy);
}

TEST_F(VideoRenderer, SyncOffsetAndJitterFromLoggedFrames) {
  const int lateMs[] = {5, 10, 20, 30, 40};
  const int frameMs[] = {40, 40, 40, 50, 30};
  for (int i = 0; i < 5; ++i) video->LogFrameLateness(lateMs[i] * 10000, frameMs[i] * 10000);
  EXPECT_EQ(90, video->totalAccuracy);      // frames 3 to 5
  EXPECT_EQ(2900, video->accuracySquares);
  EXPECT_EQ(80, video->frameTimeTotal);     // frames 4 and 5
  EXPECT_EQ(3400, video->frameTimeSquares);
  const Stats s = Read(video.get());
  EXPECT_EQ(5, s.drawn);
  EXPECT_EQ(22, s.avgSync);   // 90 / 4
  EXPECT_EQ(17, s.devSync);   // sqrt((2900 - 90*90/4) / 3)
  EXPECT_EQ(25, s.jitter);    // sqrt((3400 - 80*80/3) / 2)

  // Without a clock the timing statistics read 0.
  ASSERT_EQ(S_OK, video->SetSyncSource(nullptr));
  const Stats noClock = Read(video.get());
  EXPECT_EQ(5, noClock.drawn);
  EXPECT_EQ(0, noClock.avgSync);
  EXPECT_EQ(0, noClock.devSync);
  EXPECT_EQ(0, noClock.jitter);
}

TEST_F(VideoRenderer, OutlyingLatenessIsClampedToOneSecond) {
  video->LogFrameLateness(5000 * 10000, 0);  // first frame: counted as 0
  video->LogFrameLateness(0, 0);
  video->LogFrameLateness(5000 * 10000, 2000 * 10000);
  video->LogFrameLateness(-5000 * 10000, -10000);
  EXPECT_EQ(0, video->totalAccuracy);  // +1000 and -1000
  EXPECT_EQ(2000000, video->accuracySquares);
  EXPECT_EQ(1000, video->frameTimeTotal);  // a negative frame time counts as 1 s
}

TEST_F(VideoRenderer, TheAverageFrameRateIsPerHundredSeconds) {
  video->framesDrawn = 5;
  video->streamingStart = 2000;  // not streaming: the last period's length in ms
  int rate = -1;
  EXPECT_EQ(S_OK, video->get_AvgFrameRate(&rate));
  EXPECT_EQ(250, rate);  // 2.5 frames per second
  video->streamingStart = 0;
  EXPECT_EQ(S_OK, video->get_AvgFrameRate(&rate));
  EXPECT_EQ(0, rate);
}

TEST(VideoRendererMath, IntegerSquareRoot) {
  EXPECT_EQ(0, CBaseVideoRenderer::IntegerSquareRoot(0));
  EXPECT_EQ(1, CBaseVideoRenderer::IntegerSquareRoot(1));
  EXPECT_EQ(1, CBaseVideoRenderer::IntegerSquareRoot(2));
  EXPECT_EQ(2, CBaseVideoRenderer::IntegerSquareRoot(4));
  EXPECT_EQ(10, CBaseVideoRenderer::IntegerSquareRoot(100));
  EXPECT_EQ(17, CBaseVideoRenderer::IntegerSquareRoot(291));
  EXPECT_EQ(32767, CBaseVideoRenderer::IntegerSquareRoot(0x40000000 - 1));
  EXPECT_EQ(32768, CBaseVideoRenderer::IntegerSquareRoot(0x40000000));
  EXPECT_EQ(32768, CBaseVideoRenderer::IntegerSquareRoot(0x40000001));
  EXPECT_EQ(32768, CBaseVideoRenderer::IntegerSquareRoot(INT_MAX));
  EXPECT_EQ(0, CBaseVideoRenderer::IntegerSquareRoot(-1));
}

TEST(VideoRendererMath, ClampTimeDiffKeepsFiftySeconds) {
  EXPECT_EQ(-500000000, CBaseVideoRenderer::ClampTimeDiff(-500000001));
  EXPECT_EQ(500000000, CBaseVideoRenderer::ClampTimeDiff(LLONG_MAX));
  EXPECT_EQ(-123, CBaseVideoRenderer::ClampTimeDiff(-123));
}

// --- Graph membership ---------------------------------------------------------

TEST_F(VideoRenderer, LeavingAGraphRaisesWindowDestroyedAndJoiningRaisesNothing) {
  fakes::FakeEventGraph graph;
  ASSERT_EQ(S_OK, video->JoinFilterGraph(&graph, L"video"));
  EXPECT_TRUE(graph.Events().empty());
  ASSERT_EQ(S_OK, video->JoinFilterGraph(nullptr, nullptr));
  const auto events = graph.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(EC_WINDOW_DESTROYED, events[0].code);
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(video.Interface()), events[0].param1);
  EXPECT_EQ(0, events[0].param2);
  // Not in a graph any more: leaving again raises nothing.
  ASSERT_EQ(S_OK, video->JoinFilterGraph(nullptr, nullptr));
  EXPECT_EQ(1u, graph.Events().size());
}

TEST_F(VideoRenderer, QualityInterfacesAreHandedOutAndLeadBackToTheFilter) {
  void *prop = nullptr;
  ASSERT_EQ(S_OK, video.Interface()->QueryInterface(IID_IQualProp, &prop));
  void *filter = nullptr;
  ASSERT_EQ(S_OK, static_cast<IQualProp *>(prop)->QueryInterface(IID_IBaseFilter, &filter));
  EXPECT_EQ(static_cast<void *>(video.Interface()), filter);
  static_cast<IUnknown *>(filter)->Release();
  static_cast<IUnknown *>(prop)->Release();
}

}  // namespace
