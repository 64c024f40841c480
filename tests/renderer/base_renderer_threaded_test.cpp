// The base renderer with a real streaming thread on a manual clock: state
// changes, the one held sample, end of stream, the completion timer, flushing
// and stopping a waiting thread, and the one-shot error report.
#include <gtest/gtest.h>

#include "platform/win32/windows.h"
#include "tests/renderer/fakes/connected_renderer_fixture.h"

namespace {

using fakes::Delivery;
using fakes::FakeEventGraph;
using fakes::RecordingRenderer;

constexpr REFERENCE_TIME kMs = 10000;
constexpr REFERENCE_TIME kFarFuture = 1000000000000LL;  // a day and more

class BaseRendererThreaded : public fakes::ConnectedRendererFixture<RecordingRenderer> {
 protected:
  LONG_PTR Self() { return reinterpret_cast<LONG_PTR>(renderer.Interface()); }

  // Pauses and waits until `sample` is held and the streaming thread waits.
  Delivery PauseWithHeld(IMediaSample *sample) {
    EXPECT_EQ(S_FALSE, renderer->Pause());
    Delivery delivery = Deliver(sample);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(State_Paused, StateAfter(10000, &hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(renderer->WaitForWaits(1));
    return delivery;
  }
};

TEST_F(BaseRendererThreaded, PauseStaysIntermediateUntilTheFirstSample) {
  EXPECT_EQ(S_FALSE, renderer->Pause());
  HRESULT hr = S_OK;
  EXPECT_EQ(State_Paused, StateAfter(0, &hr));
  EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, hr);
  EXPECT_EQ(1, upstream.Allocator().Commits());

  auto *sample = Sample(0, 40 * kMs);
  Delivery delivery = Deliver(sample);
  EXPECT_EQ(State_Paused, StateAfter(10000, &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_TRUE(renderer->HasHeldSample());
  EXPECT_EQ(1u, sample->RefCount());  // the renderer's own reference

  // Held, not drawn: the thread waits for the run.
  EXPECT_TRUE(renderer->WaitForWaits(1));
  EXPECT_FALSE(Finished(delivery));
  EXPECT_EQ(0u, renderer->DrawCount());
  // Pausing again with a held sample is complete at once.
  EXPECT_EQ(S_OK, renderer->Pause());
}

TEST_F(BaseRendererThreaded, RunDrawsTheHeldSampleAtItsTime) {
  auto *sample = Sample(100 * kMs, 140 * kMs);
  Delivery delivery = PauseWithHeld(sample);

  EXPECT_EQ(S_OK, renderer->Run(0));
  HRESULT hr = E_FAIL;
  EXPECT_EQ(State_Running, StateAfter(0, &hr));
  EXPECT_EQ(S_OK, hr);
  ASSERT_TRUE(clock.WaitForPending());
  EXPECT_EQ(100 * kMs, clock.LastDue());

  clock.SetTime(100 * kMs - 1);
  EXPECT_EQ(0u, renderer->DrawCount());
  EXPECT_EQ(1u, clock.PendingCount());

  clock.SetTime(100 * kMs);
  EXPECT_EQ(S_OK, ResultOf(delivery));
  ASSERT_EQ(1u, renderer->DrawCount());
  EXPECT_EQ(sample, renderer->Drawn()[0]);
  EXPECT_FALSE(renderer->HasHeldSample());
  EXPECT_EQ(0u, sample->RefCount());
}

TEST_F(BaseRendererThreaded, RunFromStoppedPausesFirstAndDrawsSamplesInTurn) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  auto *first = Sample(10 * kMs, 20 * kMs);
  auto *second = Sample(20 * kMs, 30 * kMs);
  Delivery one = Deliver(first);
  Delivery two = Deliver(second);
  ASSERT_TRUE(clock.WaitForPending());
  clock.SetTime(10 * kMs);
  EXPECT_EQ(S_OK, ResultOf(one));
  ASSERT_TRUE(clock.WaitForPending());
  EXPECT_EQ(20 * kMs, clock.LastDue());
  clock.SetTime(20 * kMs);
  EXPECT_EQ(S_OK, ResultOf(two));
  EXPECT_EQ((std::vector<IMediaSample *>{first, second}), renderer->Drawn());
}

TEST_F(BaseRendererThreaded, SamplesWithoutTimeStampsAreDrawnAtOnce) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(UntimedSample())));
  EXPECT_EQ(S_OK, ResultOf(Deliver(UntimedSample())));
  EXPECT_EQ(2u, renderer->DrawCount());
  EXPECT_EQ(0, clock.AdviseCalls());
}

TEST_F(BaseRendererThreaded, PauseFromRunningIsCompleteOnlyWithData) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_FALSE, renderer->Pause());  // nothing held

  EXPECT_EQ(S_OK, renderer->Run(0));
  auto *sample = Sample(kFarFuture, kFarFuture + 1);
  Delivery delivery = Deliver(sample);
  ASSERT_TRUE(clock.WaitForPending());
  EXPECT_EQ(S_OK, renderer->Pause());  // held sample: complete
  EXPECT_EQ(0u, clock.PendingCount());  // the advise is cancelled
  EXPECT_FALSE(Finished(delivery));
  // Running again schedules the same sample again.
  EXPECT_EQ(S_OK, renderer->Run(0));
  ASSERT_TRUE(clock.WaitForPending());
  EXPECT_EQ(kFarFuture, clock.LastDue());
}

TEST_F(BaseRendererThreaded, StopReleasesAThreadWaitingForAFarFutureSampleWithoutDrawing) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  auto *sample = Sample(kFarFuture, kFarFuture + 1);
  Delivery delivery = Deliver(sample);
  ASSERT_TRUE(clock.WaitForPending());

  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(S_OK, ResultOf(delivery));
  EXPECT_EQ(0u, renderer->DrawCount());
  EXPECT_EQ(0u, sample->RefCount());
  EXPECT_EQ(0u, clock.PendingCount());
  EXPECT_EQ(1, upstream.Allocator().Decommits());
  HRESULT hr = E_FAIL;
  EXPECT_EQ(State_Stopped, StateAfter(0, &hr));
  EXPECT_EQ(S_OK, hr);
  // Stopping again changes nothing.
  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(1, upstream.Allocator().Decommits());
}

TEST_F(BaseRendererThreaded, StopReleasesAThreadHeldWhilePaused) {
  auto *sample = Sample(0, kMs);
  Delivery delivery = PauseWithHeld(sample);
  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(S_OK, ResultOf(delivery));
  EXPECT_EQ(0u, renderer->DrawCount());
  EXPECT_EQ(0u, sample->RefCount());
}

TEST_F(BaseRendererThreaded, FlushReleasesAThreadWaitingForAFarFutureSampleWithoutDrawing) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  auto *sample = Sample(kFarFuture, kFarFuture + 1);
  Delivery delivery = Deliver(sample);
  ASSERT_TRUE(clock.WaitForPending());

  EXPECT_EQ(S_OK, upstream.BeginFlushDownstream());
  EXPECT_EQ(S_OK, ResultOf(delivery));
  EXPECT_EQ(0u, renderer->DrawCount());
  EXPECT_EQ(0u, sample->RefCount());
  EXPECT_EQ(0u, clock.PendingCount());
  // While flushing, samples are dropped without complaint or report.
  EXPECT_EQ(E_FAIL, ResultOf(Deliver(Sample(0, kMs))));
  EXPECT_EQ(0u, graph.Count(EC_ERRORABORT));

  EXPECT_EQ(S_OK, upstream.EndFlushDownstream());
  auto *next = Sample(0, kMs);
  EXPECT_EQ(S_OK, ResultOf(Deliver(next)));
  ASSERT_EQ(1u, renderer->DrawCount());
  EXPECT_EQ(next, renderer->Drawn()[0]);
}

// A stop or flush does not wait for a thread it released that cannot run yet:
// when it runs, after a pause or the flush's end reset the thread signal, it
// leaves without drawing and without completing the new pause.
TEST_F(BaseRendererThreaded, AReleasedThreadThatRunsLateLeavesWithoutDrawing) {
  for (const bool flush : {false, true}) {
    SCOPED_TRACE(flush ? "flush" : "stop");
    EXPECT_EQ(S_OK, renderer->Run(0));
    renderer->HoldInWait(true);
    auto *sample = Sample(0, kMs);  // due at once
    Delivery delivery = Deliver(sample);
    ASSERT_TRUE(renderer->WaitForWaits(flush ? 2 : 1));
    if (flush) {
      EXPECT_EQ(S_OK, upstream.BeginFlushDownstream());
      EXPECT_EQ(S_OK, upstream.EndFlushDownstream());
    } else {
      EXPECT_EQ(S_OK, renderer->Stop());
      EXPECT_EQ(S_FALSE, renderer->Pause());
    }
    EXPECT_TRUE(renderer->HeldInWait());  // nobody waited for it
    renderer->HoldInWait(false);
    EXPECT_EQ(S_OK, ResultOf(delivery));
    EXPECT_EQ(0u, renderer->DrawCount());
    EXPECT_EQ(0u, sample->RefCount());
    HRESULT hr = S_OK;
    StateAfter(0, &hr);
    EXPECT_EQ(flush ? S_OK : VFW_S_STATE_INTERMEDIATE, hr);
  }
}

TEST_F(BaseRendererThreaded, FlushWhilePausedDropsTheHeldSampleAndMakesThePauseIntermediate) {
  auto *sample = Sample(0, kMs);
  Delivery delivery = PauseWithHeld(sample);
  EXPECT_EQ(S_OK, upstream.BeginFlushDownstream());
  EXPECT_EQ(S_OK, ResultOf(delivery));
  EXPECT_EQ(0u, sample->RefCount());
  HRESULT hr = S_OK;
  EXPECT_EQ(State_Paused, StateAfter(0, &hr));
  EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, hr);

  EXPECT_EQ(S_OK, upstream.EndFlushDownstream());
  Deliver(Sample(0, kMs));
  EXPECT_EQ(State_Paused, StateAfter(10000, &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_TRUE(renderer->HasHeldSample());
}

TEST_F(BaseRendererThreaded, ASecondSampleWhileOneIsHeldIsRefusedAndTheFirstStays) {
  auto *first = Sample(0, kMs);
  Delivery delivery = PauseWithHeld(first);
  auto *second = Sample(kMs, 2 * kMs);
  EXPECT_EQ(E_UNEXPECTED, MemInput()->Receive(second));  // another upstream thread
  EXPECT_EQ(0u, second->RefCount());
  EXPECT_TRUE(renderer->HasHeldSample());
  EXPECT_EQ(1u, first->RefCount());
  EXPECT_FALSE(Finished(delivery));
}

TEST_F(BaseRendererThreaded, EndOfStreamAfterTheLastSampleCompletesAtItsStopTime) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  // Due at once; its stop lies 49 ms ahead: below the timer threshold.
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, 49 * kMs))));
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
  EXPECT_EQ(0u, renderer->PendingEndOfStreamTimer());
  const auto events = graph.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(S_OK, events[0].param1);
  EXPECT_EQ(Self(), events[0].param2);
}

TEST_F(BaseRendererThreaded, EndOfStreamFiftyMillisecondsAheadArmsATimer) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, 50 * kMs))));
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  EXPECT_EQ(0u, graph.Count(EC_COMPLETE));
  EXPECT_NE(0u, renderer->PendingEndOfStreamTimer());

  // The timer finds the clock at the stop time and completes.
  clock.SetTime(50 * kMs);
  ASSERT_TRUE(graph.WaitFor(EC_COMPLETE));
  EXPECT_EQ(0u, renderer->PendingEndOfStreamTimer());
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
}

TEST_F(BaseRendererThreaded, TheTimerKeepsWaitingWhileTheClockHasNotReachedTheStopTime) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, 60 * kMs))));
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  // The clock has not moved: when the timer fires it arms another one.
  const UINT first = renderer->PendingEndOfStreamTimer();
  UINT now = first;
  for (int i = 0; i < 10000 && (now == first || now == 0); ++i, Sleep(1)) {
    now = renderer->PendingEndOfStreamTimer();
  }
  ASSERT_NE(first, now);
  EXPECT_EQ(0u, graph.Count(EC_COMPLETE));
  clock.SetTime(60 * kMs);
  EXPECT_TRUE(graph.WaitFor(EC_COMPLETE));
}

TEST_F(BaseRendererThreaded, TheTimerResolutionIsRaisedExactlyWhileStreaming) {
  const int depth = StandInTimerPeriodDepth();
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, renderer->Run(0));  // already running: raised once
  EXPECT_EQ(depth + 1, StandInTimerPeriodDepth());
  EXPECT_EQ(S_FALSE, renderer->Pause());
  EXPECT_EQ(depth, StandInTimerPeriodDepth());
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(depth, StandInTimerPeriodDepth());
}

TEST_F(BaseRendererThreaded, ASampleMayChangeTheTypeOnlyToOneTheRendererTakes) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  AM_MEDIA_TYPE changed = fakes::VideoMediaType();
  changed.lSampleSize = 777;
  auto *first = Sample(0, kMs);
  first->SetTypeChange(&changed);
  EXPECT_EQ(S_OK, ResultOf(Deliver(first)));
  AM_MEDIA_TYPE agreed{};
  ASSERT_EQ(S_OK, renderer->InputPin()->ConnectionMediaType(&agreed));
  EXPECT_EQ(777u, agreed.lSampleSize);
  FreeMediaTypeContents(&agreed);
  changed.majortype = MEDIATYPE_Audio;
  auto *second = Sample(kMs, 2 * kMs);
  second->SetTypeChange(&changed);
  EXPECT_EQ(E_FAIL, ResultOf(Deliver(second)));
  EXPECT_EQ(1u, renderer->DrawCount());
  EXPECT_EQ(1u, graph.Count(EC_ERRORABORT));
}

TEST_F(BaseRendererThreaded, PauseKillsThePendingTimerAndRunArmsItAgain) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, 100 * kMs))));
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  ASSERT_NE(0u, renderer->PendingEndOfStreamTimer());

  EXPECT_EQ(S_OK, renderer->Pause());  // end of stream seen: complete
  EXPECT_EQ(0u, renderer->PendingEndOfStreamTimer());
  EXPECT_EQ(0u, graph.Count(EC_COMPLETE));

  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_NE(0u, renderer->PendingEndOfStreamTimer());
  clock.SetTime(100 * kMs);
  ASSERT_TRUE(graph.WaitFor(EC_COMPLETE));
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
}

TEST_F(BaseRendererThreaded, EndOfStreamWhilePausedCompletesThePauseAndIsDeliveredOnlyAtRun) {
  EXPECT_EQ(S_FALSE, renderer->Pause());
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  HRESULT hr = E_FAIL;
  EXPECT_EQ(State_Paused, StateAfter(0, &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ(0u, graph.Count(EC_COMPLETE));

  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
  // A sample after the end of the stream is refused.
  EXPECT_EQ(E_UNEXPECTED, ResultOf(Deliver(Sample(0, kMs))));
}

TEST_F(BaseRendererThreaded, EndOfStreamWhileASampleIsHeldCompletesAfterItIsDrawn) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  auto *sample = Sample(100 * kMs, 130 * kMs);
  Delivery delivery = Deliver(sample);
  ASSERT_TRUE(clock.WaitForPending());
  // From another upstream thread while the streaming thread waits.
  EXPECT_EQ(S_OK, renderer->InputPin()->EndOfStream());
  EXPECT_EQ(0u, graph.Count(EC_COMPLETE));

  clock.SetTime(100 * kMs);  // the stop time is then 30 ms ahead
  EXPECT_EQ(S_OK, ResultOf(delivery));
  EXPECT_EQ(1u, renderer->DrawCount());
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
}

TEST_F(BaseRendererThreaded, AFlushForgetsAnEarlierEndOfStream) {
  EXPECT_EQ(S_FALSE, renderer->Pause());
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  EXPECT_TRUE(renderer->EndOfStreamSeen());
  EXPECT_EQ(S_OK, upstream.BeginFlushDownstream());
  EXPECT_FALSE(renderer->EndOfStreamSeen());
  // End of stream while flushing is refused and marks nothing.
  EXPECT_EQ(S_FALSE, ResultOf(DeliverEndOfStream()));
  EXPECT_FALSE(renderer->EndOfStreamSeen());
  EXPECT_EQ(S_OK, upstream.EndFlushDownstream());
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(0u, graph.Count(EC_COMPLETE));
}

TEST_F(BaseRendererThreaded, AFailingSampleIsReportedOnceWithCompletionAfterIt) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  Delivery held = Deliver(Sample(kFarFuture, kFarFuture + 1));
  ASSERT_TRUE(clock.WaitForPending());

  EXPECT_EQ(E_UNEXPECTED, MemInput()->Receive(Sample(0, kMs)));
  // The run-time error now refuses samples before the renderer sees them.
  EXPECT_TRUE(FAILED(MemInput()->Receive(Sample(0, kMs))));

  const auto events = graph.Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(EC_ERRORABORT, events[0].code);
  EXPECT_EQ(E_UNEXPECTED, events[0].param1);
  EXPECT_EQ(0, events[0].param2);
  EXPECT_EQ(EC_COMPLETE, events[1].code);

  // A flush ends the error: samples are taken again.
  EXPECT_EQ(S_OK, upstream.BeginFlushDownstream());
  EXPECT_EQ(S_OK, ResultOf(held));
  EXPECT_EQ(S_OK, upstream.EndFlushDownstream());
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, kMs))));
  EXPECT_EQ(1u, renderer->DrawCount());
}

TEST_F(BaseRendererThreaded, AnErrorCompletionLeavesThePendingTimerForTheStopToKill) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  // Completion held back for ten seconds on a clock that does not move.
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, 10000 * kMs))));
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  const UINT timer = renderer->PendingEndOfStreamTimer();
  ASSERT_NE(0u, timer);

  // A sample after the end of the stream fails: the report completes at once.
  EXPECT_EQ(E_UNEXPECTED, MemInput()->Receive(Sample(kMs, 2 * kMs)));
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
  // The timer is still armed; forgetting its id would let it fire into a
  // renderer released meanwhile.
  EXPECT_EQ(timer, renderer->PendingEndOfStreamTimer());

  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(0u, renderer->PendingEndOfStreamTimer());
  EXPECT_EQ(MMSYSERR_INVALPARAM, timeKillEvent(timer));  // already killed
}

TEST_F(BaseRendererThreaded, AFailingSampleWhileStoppedRaisesNothing) {
  EXPECT_EQ(E_FAIL, ResultOf(Deliver(Sample(0, kMs))));
  EXPECT_TRUE(graph.Events().empty());
}

TEST_F(BaseRendererThreaded, ASampleEndingBeforeItStartsIsDroppedQuietly) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(2 * kMs, kMs))));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(0, 0))));  // stop = start is fine
  ASSERT_EQ(1u, renderer->DrawCount());
  EXPECT_TRUE(graph.Events().empty());
}

TEST_F(BaseRendererThreaded, AFailedAdviseDropsTheSample) {
  EXPECT_EQ(S_OK, renderer->Run(0));
  clock.FailAdvises(true);
  auto *sample = Sample(10 * kMs, 20 * kMs);
  EXPECT_EQ(S_OK, ResultOf(Deliver(sample)));
  EXPECT_EQ(0u, renderer->DrawCount());
  EXPECT_EQ(0u, sample->RefCount());
}

TEST_F(BaseRendererThreaded, WithoutAClockSamplesAreDrawnAtOnceAndCompletionIsImmediate) {
  ASSERT_EQ(S_OK, renderer->SetSyncSource(nullptr));
  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(S_OK, ResultOf(Deliver(Sample(kFarFuture, kFarFuture + 10 * kMs))));
  EXPECT_EQ(1u, renderer->DrawCount());
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
}

TEST_F(BaseRendererThreaded, APositionQueryFollowsTheAdmittedSampleAndEndsAtTheStopPosition) {
  void *seekingOut = nullptr;
  ASSERT_EQ(S_OK, renderer.Interface()->QueryInterface(IID_IMediaSeeking, &seekingOut));
  auto *seeking = static_cast<IMediaSeeking *>(seekingOut);
  upstream.SetCurrentPosition(7 * kMs);
  upstream.SetStopPosition(900 * kMs);

  LONGLONG position = 0;
  EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&position));
  EXPECT_EQ(7 * kMs, position);  // answered upstream
  EXPECT_EQ(1, upstream.CurrentPositionQueries());

  // While the sample still waits for its time.
  Delivery delivery = PauseWithHeld(Sample(300 * kMs, 340 * kMs));
  EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&position));
  EXPECT_EQ(300 * kMs, position);
  EXPECT_EQ(1, upstream.CurrentPositionQueries());

  EXPECT_EQ(S_OK, renderer->Run(0));
  clock.SetTime(300 * kMs);
  EXPECT_EQ(S_OK, ResultOf(delivery));
  EXPECT_EQ(S_OK, ResultOf(DeliverEndOfStream()));
  ASSERT_EQ(1u, graph.Count(EC_COMPLETE));
  EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&position));
  EXPECT_EQ(900 * kMs, position);

  // A flush forgets the times: upstream answers again.
  EXPECT_EQ(S_OK, upstream.BeginFlushDownstream());
  EXPECT_EQ(S_OK, upstream.EndFlushDownstream());
  EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&position));
  EXPECT_EQ(7 * kMs, position);
  EXPECT_EQ(2, upstream.CurrentPositionQueries());
  seeking->Release();
}

}  // namespace
