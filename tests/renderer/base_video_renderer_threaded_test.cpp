// The video renderer connected and streaming on a manual clock: the quality
// sink it finds upstream and gives back on disconnection, and statistics that
// follow the frames it draws.
#include <gtest/gtest.h>

#include "tests/renderer/fakes/connected_renderer_fixture.h"

namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 40 ms

class VideoRendererThreaded
    : public fakes::ConnectedRendererFixture<fakes::RecordingVideoRenderer> {
 protected:
  int Drawn() {
    int frames = -1;
    EXPECT_EQ(S_OK, renderer->get_FramesDrawn(&frames));
    return frames;
  }
  // Delivers frames 0..count-1 back to back and moves the clock to each one's
  // advise as the renderer asks for it.
  void PlayFrames(int count) {
    for (int i = 0; i < count; ++i) Deliver(Sample(i * kFrame, (i + 1) * kFrame));
    for (int i = 1; i <= count; ++i) {
      while (renderer->DrawCount() < static_cast<std::size_t>(i)) {
        if (clock.WaitForPending(1, std::chrono::milliseconds(10))) clock.SetTime(clock.LastDue());
      }
    }
    for (const fakes::Delivery &delivery : deliveries) EXPECT_EQ(S_OK, ResultOf(delivery));
  }
};

TEST_F(VideoRendererThreaded, TheQualitySinkFoundUpstreamIsReleasedOnDisconnection) {
  const ULONG connected = upstream.RefCount();
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, kFrame))));
  ASSERT_EQ(1u, upstream.QualityMessages().size());
  EXPECT_EQ(connected + 1, upstream.RefCount());  // the sink the renderer keeps

  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(S_OK, upstream.DisconnectBoth());
  EXPECT_EQ(0u, upstream.RefCount());
}

TEST_F(VideoRendererThreaded, StatisticsFollowTheDrawnFramesAndRestartWithStreaming) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  PlayFrames(4);
  EXPECT_EQ(4u, renderer->DrawCount());
  EXPECT_EQ(4, Drawn());
  int dropped = -1;
  EXPECT_EQ(S_OK, renderer->get_FramesDroppedInRenderer(&dropped));
  EXPECT_EQ(0, dropped);
  // Every frame but the first was scheduled against the clock.
  EXPECT_EQ(3, clock.AdviseCalls());

  // Pausing keeps the figures readable; running again starts them afresh.
  EXPECT_EQ(S_FALSE, renderer->Pause());
  EXPECT_EQ(4, Drawn());
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(0, Drawn());
}

TEST_F(VideoRendererThreaded, TheThrottleIsSleptWithNoLockHeld) {
  // 199 ms after each drawn frame: a pause, which takes the renderer's locks,
  // returns while the streaming thread still sleeps it. (Were it slept under
  // the locks, each pause would race the delivery's return: three rounds.)
  for (std::size_t round = 1; round <= 3; ++round) {
    EXPECT_EQ(S_OK, renderer->Run(0));  // which clears the throttle
    EXPECT_EQ(S_OK, renderer->Notify(nullptr, Quality{Famine, 0, 0, 0}));
    const fakes::Delivery delivery = Deliver(Sample(0, kFrame));
    ASSERT_TRUE(renderer->WaitForDraws(round));
    EXPECT_TRUE(SUCCEEDED(renderer->Pause()));
    EXPECT_FALSE(Finished(delivery)) << round;
    EXPECT_EQ(S_OK, ResultOf(delivery));
  }
}

}  // namespace
