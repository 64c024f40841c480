// The filter graph manager without a movie: interfaces, membership, the event
// queue, the single EC_COMPLETE held until the end's stream time (on a manual
// clock) and state changes over unconnected renderers.
#include "mediagraph/graph/filter_graph.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "mediagraph/graph/com_ptr.h"
#include "mediagraph/graph/completion_tracker.h"
#include "mediagraph/graph/end_notice.h"
#include "platform/media/media.h"
#include "platform/win32/windows.h"
#include "tests/mediagraph/support/test_video_renderer.h"
#include "tests/renderer/fakes/manual_reference_clock.h"

using mediagraph::ComPtr;
using mediagraph::CompletionTracker;
using mediagraph::EndNotice;
using mediagraph_test::TestVideoRenderer;

namespace {

constexpr LONG kPatienceMs = 10000;

class FilterGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                               graph.put_void()),
              S_OK);
    control = graph.As<IMediaControl>(IID_IMediaControl);
    events = graph.As<IMediaEvent>(IID_IMediaEvent);
    sink = graph.As<IMediaEventSink>(IID_IMediaEventSink);
    ASSERT_TRUE(control && events && sink);
  }
  void TearDown() override {
    control.reset();
    events.reset();
    sink.reset();
    graph.reset();
    // Taken apart by its worker: before what it may still use (a test's clock) goes.
    EXPECT_TRUE(mediagraph::AwaitReleasedGraphs(kPatienceMs));
    CoUninitialize();
  }

  ComPtr<IBaseFilter> AddRenderer(LPCWSTR name, HRESULT expected = S_OK) {
    auto renderer = ComPtr<IBaseFilter>::Adopt(TestVideoRenderer::Create()->Filter());
    EXPECT_EQ(graph->AddFilter(renderer.get(), name), expected);
    return renderer;
  }

  // Waits for the graph's worker to finish what was asked (bounded).
  void Settle() {
    OAFilterState state = -1;
    control->GetState(kPatienceMs, &state);
  }

  // Every event queued once the worker is done, in order.
  std::vector<LONG> Drain() {
    Settle();
    std::vector<LONG> codes;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
      codes.push_back(code);
      events->FreeEventParams(code, p1, p2);
    }
    return codes;
  }

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ComPtr<IMediaEventSink> sink;
};

// An upstream output pin that connects and then never delivers anything.
class SilentUpstreamPin final : public IPin {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IPin) return E_NOINTERFACE;
    *out = static_cast<IPin *>(this);
    return S_OK;
  }
  // Lives on the test's stack, longer than any reference to it.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect() override { return S_OK; }
  STDMETHODIMP ConnectedTo(IPin **pin) override {
    *pin = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryDirection(PIN_DIRECTION *direction) override {
    *direction = PINDIR_OUTPUT;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
};

int Count(const std::vector<LONG> &codes, LONG code) {
  return int(std::count(codes.begin(), codes.end(), code));
}

// Connects the renderer's input to `upstream`, which never delivers: the
// renderer cannot finish pausing until its input is told the stream ended.
ComPtr<IPin> ConnectSilently(IBaseFilter *renderer, SilentUpstreamPin *upstream) {
  ComPtr<IPin> input;
  EXPECT_EQ(renderer->FindPin(L"In", input.put()), S_OK);
  VIDEOINFOHEADER format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), 64, 48, 1, 24, BI_RGB, 64 * 48 * 3, 0, 0, 0, 0};
  AM_MEDIA_TYPE type{MEDIATYPE_Video, MEDIASUBTYPE_RGB24, TRUE, FALSE, 64 * 48 * 3,
                     FORMAT_VideoInfo, nullptr, sizeof format,
                     reinterpret_cast<BYTE *>(&format)};
  EXPECT_EQ(input->ReceiveConnection(upstream, &type), S_OK);
  return input;
}

FILTER_STATE StateOf(IBaseFilter *filter) {
  FILTER_STATE state = State_Stopped;
  filter->GetState(0, &state);
  return state;
}

}  // namespace

TEST_F(FilterGraphTest, AnswersEveryGraphInterfaceOnOneObject) {
  ComPtr<IUnknown> identity = graph.As<IUnknown>(IID_IUnknown);
  for (const IID *iid : {&IID_IFilterGraph, &IID_IGraphBuilder, &IID_IMediaControl,
                         &IID_IMediaEvent, &IID_IMediaEventSink, &IID_IMediaPosition,
                         &IID_IMediaSeeking, &IID_IBasicAudio}) {
    ComPtr<IUnknown> face = graph.As<IUnknown>(*iid);
    ASSERT_TRUE(face);
    EXPECT_EQ(face.As<IUnknown>(IID_IUnknown).get(), identity.get());
  }
  void *none = reinterpret_cast<void *>(1);
  EXPECT_EQ(graph->QueryInterface(IID_IPin, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  UINT count = 0;
  EXPECT_EQ(control->GetTypeInfoCount(&count), E_NOTIMPL);
}

TEST_F(FilterGraphTest, AddedFilterJoinsWithItsNameAndTheGraphClock) {
  ComPtr<IBaseFilter> renderer = AddRenderer(L"TEXTURERENDERER");
  FILTER_INFO info{};
  ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"TEXTURERENDERER");
  EXPECT_EQ(static_cast<IUnknown *>(info.pGraph),
            static_cast<IUnknown *>(graph.As<IFilterGraph>(IID_IFilterGraph).get()));
  info.pGraph->Release();
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(renderer->GetSyncSource(clock.put()), S_OK);
  EXPECT_TRUE(clock);

  EXPECT_EQ(graph->AddFilter(renderer.get(), L"again"), E_INVALIDARG);
  EXPECT_EQ(graph->AddFilter(nullptr, L"none"), E_POINTER);
  ComPtr<IBaseFilter> second = AddRenderer(L"TEXTURERENDERER", mediagraph::kDuplicateNameRenamed);
  ComPtr<IBaseFilter> found;
  ASSERT_EQ(graph->FindFilterByName(L"TEXTURERENDERER 0001", found.put()), S_OK);
  EXPECT_EQ(found.get(), second.get());
  EXPECT_EQ(graph->FindFilterByName(L"texturerenderer", found.put()), VFW_E_NOT_FOUND);
  EXPECT_FALSE(found);
}

TEST_F(FilterGraphTest, RemovedFilterLeavesWithoutGraphOrClock) {
  ComPtr<IBaseFilter> renderer = AddRenderer(L"r");
  ASSERT_EQ(graph->RemoveFilter(renderer.get()), S_OK);
  FILTER_INFO info{};
  ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  ComPtr<IReferenceClock> clock;
  renderer->GetSyncSource(clock.put());
  EXPECT_FALSE(clock);
  EXPECT_EQ(graph->RemoveFilter(renderer.get()), VFW_E_NOT_FOUND);
}

TEST_F(FilterGraphTest, ReleasingTheGraphLetsItsFiltersGo) {
  ComPtr<IBaseFilter> renderer = AddRenderer(L"r");
  ASSERT_EQ(control->Run(), S_OK);
  TearDown();
  ASSERT_TRUE(mediagraph::AwaitReleasedGraphs(kPatienceMs));  // taken apart by its worker
  FILTER_INFO info{};
  ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  FILTER_STATE state = State_Running;
  EXPECT_EQ(renderer->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  SetUp();
}

TEST_F(FilterGraphTest, EventQueueSignalsItsHandleWhileNotEmpty) {
  LONG code = -1;
  LONG_PTR p1 = -1, p2 = -1;
  EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
  EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 20), E_ABORT);
  EXPECT_EQ(events->GetEvent(nullptr, &p1, &p2, 0), E_POINTER);
  OAEVENT handle = 0;
  ASSERT_EQ(events->GetEventHandle(&handle), S_OK);
  HANDLE event = reinterpret_cast<HANDLE>(handle);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  EXPECT_EQ(sink->Notify(EC_ERRORABORT, E_FAIL, 0), S_OK);
  EXPECT_EQ(sink->Notify(EC_USERABORT, 0, 0), S_OK);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(p1, LONG_PTR(E_FAIL));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // one still queued
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_USERABORT);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST_F(FilterGraphTest, OneCompletionForAllRenderersOfARun) {
  ComPtr<IBaseFilter> first = AddRenderer(L"first");
  ComPtr<IBaseFilter> second = AddRenderer(L"second");
  // Unconnected renderers report completion as soon as they run.
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_EQ(Count(Drain(), EC_COMPLETE), 1);
  // Completions that come again, or from filters that are no renderer of this
  // graph, are not passed on.
  sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(first.get()));
  sink->Notify(EC_COMPLETE, S_OK, 0x1234);
  EXPECT_EQ(Count(Drain(), EC_COMPLETE), 0);

  // Resuming from a pause is the same run: nothing new.
  ASSERT_EQ(control->Pause(), S_OK);
  Settle();
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_EQ(Count(Drain(), EC_COMPLETE), 0);

  // A new run after a stop is counted afresh.
  ASSERT_EQ(control->Stop(), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_EQ(Count(Drain(), EC_COMPLETE), 1);
  // Nothing is counted while stopped.
  ASSERT_EQ(control->Stop(), S_OK);
  Settle();
  sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(second.get()));
  EXPECT_EQ(Count(Drain(), EC_COMPLETE), 0);
}

TEST(CompletionTracker, WaitsForEveryRendererOnce) {
  CompletionTracker tracker;
  auto *a = reinterpret_cast<IBaseFilter *>(0x10);
  auto *b = reinterpret_cast<IBaseFilter *>(0x20);
  uint64_t generation = 0;
  EXPECT_FALSE(tracker.Complete(a, &generation));  // not armed
  EXPECT_FALSE(tracker.Arm({a, b}, 4));
  EXPECT_FALSE(tracker.Complete(a, &generation));
  EXPECT_FALSE(tracker.Complete(a, &generation));
  EXPECT_FALSE(tracker.Complete(reinterpret_cast<IBaseFilter *>(0x30), &generation));
  EXPECT_TRUE(tracker.Complete(b, &generation));
  EXPECT_EQ(4u, generation);  // the run's, for the end notice to check
  EXPECT_FALSE(tracker.Complete(b, &generation));  // told once only

  EXPECT_FALSE(tracker.Arm({a, b}, 5));
  EXPECT_FALSE(tracker.Complete(a, &generation));
  tracker.Disarm();
  EXPECT_FALSE(tracker.Complete(b, &generation));
  EXPECT_TRUE(tracker.Arm({}, 6));  // nothing to wait for
}

// The end notice on a clock that only moves when told: posts counted by the
// waiter thread are awaited, never timed.
class EndNoticeTest : public ::testing::Test {
 protected:
  void Advance(REFERENCE_TIME to) { clock.SetTime(to); }
  // Waits for the notice to have posted `count` times in all (false if it does not).
  bool PostedWithin(int count) {
    std::unique_lock<std::mutex> hold(mutex);
    return posted_.wait_for(hold, std::chrono::seconds(10), [&] { return posts >= count; });
  }
  int Posts() {
    std::lock_guard<std::mutex> hold(mutex);
    return posts;
  }

  fakes::ManualReferenceClock clock;
  std::mutex mutex;
  std::condition_variable posted_;
  int posts = 0;
  EndNotice notice{[this] {
    std::lock_guard<std::mutex> hold(mutex);
    ++posts;
    posted_.notify_all();
  }};
};

TEST_F(EndNoticeTest, HeldUntilTheStreamTimeReachesTheEndThenPostedOnce) {
  notice.Run(&clock, 1000);
  notice.Due(5000, notice.Generation());  // due at clock time 6000
  EXPECT_TRUE(notice.Pending());
  Advance(5999);
  EXPECT_EQ(Posts(), 0);
  Advance(6000);
  ASSERT_TRUE(PostedWithin(1));
  Advance(20000);
  EXPECT_FALSE(notice.Pending());
  EXPECT_EQ(clock.PendingCount(), 0u);
  EXPECT_EQ(Posts(), 1);

  // An end already reached posts at once.
  notice.Due(4000, notice.Generation());
  EXPECT_EQ(Posts(), 2);
}

TEST_F(EndNoticeTest, PauseHoldsAndRunMovesTheNotice) {
  notice.Run(&clock, 0);
  notice.Due(3000, notice.Generation());
  notice.Pause();
  Advance(5000);
  EXPECT_EQ(Posts(), 0);
  // Resumed with 1000 still to play: due 1000 after the new start.
  notice.Run(&clock, 3000);
  Advance(5999);
  EXPECT_EQ(Posts(), 0);
  Advance(6000);
  ASSERT_TRUE(PostedWithin(1));

  // Completed while paused: nothing until the run, then at its time.
  notice.Pause();
  notice.Due(1000, notice.Generation());
  Advance(9000);
  notice.Run(&clock, 8500);
  EXPECT_EQ(Posts(), 1);
  Advance(9500);
  ASSERT_TRUE(PostedWithin(2));
}

TEST_F(EndNoticeTest, CancelForgetsTheNoticeForGood) {
  notice.Run(&clock, 0);
  notice.Due(3000, notice.Generation());
  notice.Cancel();  // a stop or a seek
  EXPECT_EQ(clock.PendingCount(), 0u);
  Advance(10000);
  notice.Run(&clock, 0);
  EXPECT_FALSE(notice.Pending());
  EXPECT_EQ(Posts(), 0);
  // The next end is held and posted as usual.
  notice.Due(12000, notice.Generation());
  Advance(12000);
  ASSERT_TRUE(PostedWithin(1));
  EXPECT_EQ(Posts(), 1);
}

// A stop forgets the run: a completion before the next Run waits for that run's
// start, not the old one's. A completion counted before a stop or seek but
// handed over after it never posts.
TEST_F(EndNoticeTest, StopForgetsTheRunAndNoStaleCompletionPosts) {
  notice.Run(&clock, 0);
  const uint64_t before = notice.Generation();
  notice.Stop();
  Advance(10000);
  notice.Due(3000, before);
  EXPECT_FALSE(notice.Pending());
  notice.DueNow(before);
  notice.Due(1000, notice.Generation());  // the old run's start would have it due
  EXPECT_TRUE(notice.Pending());
  EXPECT_EQ(Posts(), 0);
  notice.Run(&clock, 10500);
  Advance(11499);
  EXPECT_EQ(Posts(), 0);
  Advance(11500);
  ASSERT_TRUE(PostedWithin(1));

  const uint64_t seekedFrom = notice.Generation();
  notice.Cancel();  // a seek while running
  notice.Due(500, seekedFrom);
  notice.DueNow(seekedFrom);
  EXPECT_FALSE(notice.Pending());
  notice.DueNow(notice.Generation());
  EXPECT_EQ(Posts(), 2);
}

TEST_F(FilterGraphTest, StateChangesReachEveryFilter) {
  ComPtr<IBaseFilter> renderer = AddRenderer(L"r");
  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(0, nullptr), E_POINTER);
  ASSERT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);

  // Queued for the graph's worker: complete once it has paused the filters.
  ASSERT_EQ(control->Pause(), S_FALSE);
  ASSERT_EQ(control->GetState(kPatienceMs, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(control->Pause(), S_OK);  // paused already
  FILTER_STATE filterState = State_Stopped;
  renderer->GetState(0, &filterState);
  EXPECT_EQ(filterState, State_Paused);

  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_EQ(control->GetState(-1, &state), S_OK);  // never waits
  EXPECT_EQ(state, State_Running);
  Settle();
  renderer->GetState(0, &filterState);
  EXPECT_EQ(filterState, State_Running);
  EXPECT_EQ(control->Run(), S_OK);

  // Membership only changes while stopped.
  ComPtr<IBaseFilter> late = ComPtr<IBaseFilter>::Adopt(TestVideoRenderer::Create()->Filter());
  EXPECT_EQ(graph->AddFilter(late.get(), L"late"), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph->RemoveFilter(renderer.get()), VFW_E_NOT_STOPPED);

  ASSERT_EQ(control->Stop(), S_OK);
  ASSERT_EQ(control->GetState(kPatienceMs, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  renderer->GetState(0, &filterState);
  EXPECT_EQ(filterState, State_Stopped);
}

TEST_F(FilterGraphTest, WithoutAMovieThereIsNothingToSeekOrToHear) {
  AddRenderer(L"r");
  ComPtr<IMediaPosition> position = graph.As<IMediaPosition>(IID_IMediaPosition);
  ComPtr<IBasicAudio> audio = graph.As<IBasicAudio>(IID_IBasicAudio);
  // The renderer is not connected, so its pass-through has no one to ask.
  EXPECT_EQ(position->put_CurrentPosition(0.0), E_NOTIMPL);
  REFTIME length = 0;
  EXPECT_EQ(position->get_Duration(&length), E_NOTIMPL);
  EXPECT_EQ(audio->put_Volume(0), E_NOTIMPL);
  EXPECT_EQ(graph->RenderFile(nullptr, nullptr), E_POINTER);
}

TEST_F(FilterGraphTest, GetStateWaitsForARendererStillWaitingForData) {
  SilentUpstreamPin upstream;
  ComPtr<IBaseFilter> renderer = AddRenderer(L"r");
  ComPtr<IPin> input = ConnectSilently(renderer.get(), &upstream);

  // Connected but without data, the renderer cannot finish pausing.
  EXPECT_EQ(control->Pause(), S_FALSE);
  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(control->GetState(30, &state), VFW_S_STATE_INTERMEDIATE);

  // Without a time-out GetState answers at once; given one, it waits for the
  // end of the stream to complete the pause.
  EXPECT_EQ(control->GetState(-1, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  std::thread streaming([&input] {
    Sleep(50);
    input->EndOfStream();
  });
  EXPECT_EQ(control->GetState(kPatienceMs, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  streaming.join();

  ASSERT_EQ(control->Stop(), S_OK);
  ASSERT_EQ(graph->RemoveFilter(renderer.get()), S_OK);  // lets go of `upstream`
}

// The start of a run on a manual clock, with a renderer whose first picture
// the test lets in (its end of stream completes the pause just as well).
class PendingStartTest : public FilterGraphTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    mediagraph::FilterGraph *raw = nullptr;
    ASSERT_EQ(mediagraph::FilterGraph::Create(&raw, &clock), S_OK);
    graph = ComPtr<IGraphBuilder>::Adopt(static_cast<IGraphBuilder *>(raw));
    control = graph.As<IMediaControl>(IID_IMediaControl);
    events = graph.As<IMediaEvent>(IID_IMediaEvent);
    sink = graph.As<IMediaEventSink>(IID_IMediaEventSink);
    video = TestVideoRenderer::Create();
    renderer = ComPtr<IBaseFilter>::Adopt(video->Filter());
    ASSERT_EQ(graph->AddFilter(renderer.get(), L"r"), S_OK);
    input = ConnectSilently(renderer.get(), &upstream);
    clock.SetTime(kRunAt);
  }
  void TearDown() override {
    if (graph) {
      control->Stop();
      graph->RemoveFilter(renderer.get());  // lets go of `upstream`
    }
    input.reset();
    renderer.reset();
    FilterGraphTest::TearDown();
  }
  // Waits for the worker to bring the renderer to `state` (bounded, never timed).
  bool RendererIn(FILTER_STATE state) {
    for (int i = 0; i < 2000 && StateOf(renderer.get()) != state; ++i) Sleep(5);
    return StateOf(renderer.get()) == state;
  }

  static constexpr REFERENCE_TIME kRunAt = 10000000;
  static constexpr REFERENCE_TIME kPictureAt = 30000000;
  fakes::ManualReferenceClock clock;
  SilentUpstreamPin upstream;
  TestVideoRenderer *video = nullptr;  // counted through `renderer`
  ComPtr<IBaseFilter> renderer;
  ComPtr<IPin> input;
};

TEST_F(PendingStartTest, RunReturnsRunningAndTheClockStartsWhenThePictureIsIn) {
  ASSERT_EQ(control->Run(), S_OK);
  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(-1, &state), S_OK);  // at once, though nothing is in
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(control->GetState(kPatienceMs, &state), S_OK);  // a pending start is no transition
  EXPECT_EQ(StateOf(renderer.get()), State_Paused);

  clock.SetTime(kPictureAt);
  ASSERT_EQ(input->EndOfStream(), S_OK);
  ASSERT_TRUE(RendererIn(State_Running));
  // Chosen when the picture came, a lead ahead: not when Run was called.
  EXPECT_EQ(video->StartTime(), kPictureAt + mediagraph::kRunLead);
}

TEST_F(PendingStartTest, PauseAndStopTakeThePendingStartBack) {
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_EQ(control->Pause(), S_FALSE);  // still no picture
  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  ASSERT_TRUE(RendererIn(State_Paused));
  ASSERT_EQ(input->EndOfStream(), S_OK);
  EXPECT_EQ(control->GetState(-1, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  // Had the worker run the filters after the pause, this run would find them
  // running from the earlier time.
  // (A Pause the worker has not taken yet is taken back with it: the start
  // stays pending, and the picture it waited for is in.)
  clock.SetTime(kPictureAt);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(RendererIn(State_Running));
  EXPECT_EQ(video->StartTime(), kPictureAt + mediagraph::kRunLead);

  ASSERT_EQ(control->Stop(), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_EQ(control->Stop(), S_OK);  // while the start is pending, or before
  EXPECT_EQ(control->GetState(kPatienceMs, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(StateOf(renderer.get()), State_Stopped);
}

TEST_F(PendingStartTest, ReleaseWhileTheStartIsPendingStopsTheRenderer) {
  ASSERT_EQ(control->Run(), S_OK);
  control.reset();
  events.reset();
  sink.reset();
  graph.reset();  // goes while its worker waits for the picture
  ASSERT_TRUE(mediagraph::AwaitReleasedGraphs(kPatienceMs));
  EXPECT_EQ(StateOf(renderer.get()), State_Stopped);
  FILTER_INFO info{};
  ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
}
