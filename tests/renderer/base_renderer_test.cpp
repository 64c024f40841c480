// The base renderer without a streaming thread: an unconnected renderer's
// state changes, its one pin and its identifiers, connection checks and the
// position pass-through's states.
#include <gtest/gtest.h>

#include <memory>

#include "platform/win32/windows.h"
#include "tests/renderer/fakes/fake_event_graph.h"
#include "tests/renderer/fakes/fake_media_sample.h"
#include "tests/renderer/fakes/fake_output_pin.h"
#include "tests/renderer/fakes/manual_reference_clock.h"
#include "tests/renderer/fakes/recording_renderer.h"

namespace {

using fakes::FilterHolder;
using fakes::RecordingRenderer;

constexpr REFERENCE_TIME kMs = 10000;

class BaseRenderer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, renderer->JoinFilterGraph(&graph, L"renderer")); }
  void TearDown() override {
    renderer->Stop();
    upstream.DisconnectBoth();
    renderer->JoinFilterGraph(nullptr, nullptr);
  }
  FILTER_STATE State(HRESULT *result) {
    FILTER_STATE state = State_Stopped;
    *result = renderer->GetState(0, &state);
    return state;
  }

  fakes::ManualReferenceClock clock;
  fakes::FakeEventGraph graph;
  fakes::FakeMediaSample timed{30 * kMs, 70 * kMs};
  fakes::FakeMediaSample untimed;
  fakes::FakeOutputPin upstream;
  FilterHolder<RecordingRenderer> renderer{new RecordingRenderer};
};

TEST_F(BaseRenderer, AnUnconnectedRendererChangesStateAtOnceAndCompletesOnRun) {
  HRESULT hr = E_FAIL;
  EXPECT_EQ(State_Stopped, State(&hr));
  EXPECT_EQ(S_OK, hr);  // a new renderer's state is complete

  EXPECT_EQ(S_OK, renderer->Pause());
  EXPECT_EQ(State_Paused, State(&hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_TRUE(graph.Events().empty());

  EXPECT_EQ(S_OK, renderer->Run(0));
  EXPECT_EQ(State_Running, State(&hr));
  const auto events = graph.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(EC_COMPLETE, events[0].code);
  EXPECT_EQ(S_OK, events[0].param1);
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(renderer.Interface()), events[0].param2);

  EXPECT_EQ(S_OK, renderer->Run(0));  // already running: nothing more
  EXPECT_EQ(1u, graph.Count(EC_COMPLETE));
  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(State_Stopped, State(&hr));
}

TEST_F(BaseRenderer, GetStateRefusesANullOutPointer) {
  EXPECT_EQ(E_POINTER, renderer->GetState(0, nullptr));
}

TEST_F(BaseRenderer, ItHasOnePinNamedInAndFindsItCaseSensitively) {
  EXPECT_EQ(1, renderer->PinCount());
  CBasePin *pin = renderer->PinAt(0);
  ASSERT_NE(nullptr, pin);
  EXPECT_EQ(pin, renderer->PinAt(0));
  EXPECT_EQ(nullptr, renderer->PinAt(1));
  EXPECT_EQ(nullptr, renderer->PinAt(-1));

  IPin *found = nullptr;
  ASSERT_EQ(S_OK, renderer->FindPin(L"In", &found));
  EXPECT_EQ(static_cast<IPin *>(pin), found);
  found->Release();

  found = renderer->InputPin();
  EXPECT_EQ(VFW_E_NOT_FOUND, renderer->FindPin(L"in", &found));
  EXPECT_EQ(nullptr, found);
  found = renderer->InputPin();
  EXPECT_EQ(VFW_E_NOT_FOUND, renderer->FindPin(nullptr, &found));
  EXPECT_EQ(nullptr, found);
  EXPECT_EQ(E_POINTER, renderer->FindPin(L"In", nullptr));
}

TEST_F(BaseRenderer, FindPinHoldsAReferenceOnTheFilter) {
  IPin *found = nullptr;
  ASSERT_EQ(S_OK, renderer->FindPin(L"In", &found));
  // The pin counts on the filter: two references now, the test's and the pin's.
  EXPECT_EQ(3u, renderer.Interface()->AddRef());
  renderer.Interface()->Release();
  found->Release();
}

TEST_F(BaseRenderer, QueryIdHandsOutAFreshInEachTime) {
  LPWSTR first = nullptr;
  LPWSTR second = nullptr;
  ASSERT_EQ(S_OK, renderer->InputPin()->QueryId(&first));
  ASSERT_EQ(S_OK, renderer->InputPin()->QueryId(&second));
  EXPECT_NE(first, second);
  EXPECT_EQ(0, lstrcmpW(first, L"In"));
  EXPECT_EQ(0, lstrcmpW(second, L"In"));
  CoTaskMemFree(first);
  CoTaskMemFree(second);
  EXPECT_EQ(E_POINTER, renderer->InputPin()->QueryId(nullptr));
}

TEST_F(BaseRenderer, PositionInterfacesComeFromOnePassThroughCreatedOnDemand) {
  EXPECT_EQ(nullptr, renderer->PositionPassThru());
  void *seeking = nullptr;
  void *position = nullptr;
  ASSERT_EQ(S_OK, renderer.Interface()->QueryInterface(IID_IMediaSeeking, &seeking));
  CRendererPosPassThru *created = renderer->PositionPassThru();
  ASSERT_NE(nullptr, created);
  ASSERT_EQ(S_OK, renderer.Interface()->QueryInterface(IID_IMediaPosition, &position));
  EXPECT_EQ(created, renderer->PositionPassThru());

  // Aggregated: each interface leads back to the filter and to the other.
  void *again = nullptr;
  ASSERT_EQ(S_OK, static_cast<IMediaPosition *>(position)->QueryInterface(IID_IMediaSeeking,
                                                                          &again));
  EXPECT_EQ(seeking, again);
  void *filter = nullptr;
  ASSERT_EQ(S_OK, static_cast<IMediaSeeking *>(seeking)->QueryInterface(IID_IBaseFilter,
                                                                        &filter));
  EXPECT_EQ(static_cast<void *>(renderer.Interface()), filter);

  // Unconnected: nothing upstream to ask.
  LONGLONG value = 0;
  EXPECT_EQ(E_NOTIMPL, static_cast<IMediaSeeking *>(seeking)->GetDuration(&value));
  EXPECT_EQ(E_NOTIMPL, static_cast<IMediaSeeking *>(seeking)->GetCurrentPosition(&value));

  static_cast<IUnknown *>(filter)->Release();
  static_cast<IUnknown *>(again)->Release();
  static_cast<IUnknown *>(position)->Release();
  static_cast<IUnknown *>(seeking)->Release();
  EXPECT_EQ(E_POINTER, renderer.Interface()->QueryInterface(IID_IMediaSeeking, nullptr));
}

TEST_F(BaseRenderer, ATypeTheRendererRefusesLeavesThePinUnconnected) {
  AM_MEDIA_TYPE audio = fakes::VideoMediaType();
  audio.majortype = MEDIATYPE_Audio;
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, upstream.ConnectTo(renderer->InputPin(), audio));
  IPin *peer = nullptr;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, renderer->InputPin()->ConnectedTo(&peer));
  EXPECT_EQ(0u, upstream.RefCount());
}

TEST_F(BaseRenderer, APausedRendererCannotBeDisconnected) {
  ASSERT_EQ(S_OK, upstream.ConnectTo(renderer->InputPin(), fakes::VideoMediaType()));
  EXPECT_EQ(S_FALSE, renderer->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, renderer->InputPin()->Disconnect());
  EXPECT_EQ(S_OK, renderer->Stop());
  EXPECT_EQ(S_OK, upstream.DisconnectBoth());
  EXPECT_EQ(0u, upstream.RefCount());
}

class PositionPassThru : public BaseRenderer {
 protected:
  void SetUp() override {
    BaseRenderer::SetUp();
    ASSERT_EQ(S_OK, upstream.ConnectTo(renderer->InputPin(), fakes::VideoMediaType()));
    void *out = nullptr;
    ASSERT_EQ(S_OK, renderer.Interface()->QueryInterface(IID_IMediaSeeking, &out));
    seeking = static_cast<IMediaSeeking *>(out);
    passThru = renderer->PositionPassThru();
    upstream.SetCurrentPosition(5 * kMs);
    upstream.SetStopPosition(500 * kMs);
  }
  void TearDown() override {
    seeking->Release();
    BaseRenderer::TearDown();
  }
  LONGLONG Current() {
    LONGLONG value = -1;
    EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&value));
    return value;
  }

  IMediaSeeking *seeking = nullptr;
  CRendererPosPassThru *passThru = nullptr;
};

TEST_F(PositionPassThru, WithoutSampleTimesTheCurrentPositionIsAskedUpstream) {
  EXPECT_EQ(5 * kMs, Current());
  EXPECT_EQ(1, upstream.CurrentPositionQueries());
  LONGLONG start = 0;
  EXPECT_EQ(E_FAIL, passThru->CurrentMediaTimes(&start, nullptr));
  EXPECT_EQ(E_FAIL, passThru->SnapToStopPosition());  // nothing to snap yet
  EXPECT_EQ(5 * kMs, Current());
}

TEST_F(PositionPassThru, TrackingAnswersWithTheLastAdmittedSample) {
  ASSERT_EQ(S_OK, passThru->RecordSampleTimes(&timed));
  EXPECT_EQ(30 * kMs, Current());
  EXPECT_EQ(0, upstream.CurrentPositionQueries());
  LONGLONG start = 0;
  LONGLONG stop = 0;
  EXPECT_EQ(S_OK, passThru->CurrentMediaTimes(&start, &stop));
  EXPECT_EQ(30 * kMs, start);
  EXPECT_EQ(70 * kMs, stop);

  // A sample without time stamps leaves the position where it was.
  EXPECT_TRUE(FAILED(passThru->RecordSampleTimes(&untimed)));
  EXPECT_EQ(30 * kMs, Current());
}

TEST_F(PositionPassThru, AtEndTheCurrentPositionIsTheStopPosition) {
  ASSERT_EQ(S_OK, passThru->RecordSampleTimes(&timed));
  EXPECT_EQ(S_OK, passThru->SnapToStopPosition());
  EXPECT_EQ(500 * kMs, Current());
  LONGLONG start = 0;
  LONGLONG stop = 0;
  EXPECT_EQ(S_OK, passThru->CurrentMediaTimes(&start, &stop));
  EXPECT_EQ(500 * kMs, stop);

  // Forgetting returns to upstream answers.
  EXPECT_EQ(S_OK, passThru->ForgetSampleTimes());
  EXPECT_EQ(5 * kMs, Current());
  EXPECT_EQ(1, upstream.CurrentPositionQueries());
}

TEST_F(PositionPassThru, StoppingTheRendererForgetsTheSampleTimes) {
  ASSERT_EQ(S_FALSE, renderer->Pause());
  ASSERT_EQ(S_OK, passThru->RecordSampleTimes(&timed));
  EXPECT_EQ(30 * kMs, Current());
  ASSERT_EQ(S_OK, renderer->Stop());  // the pin goes inactive
  EXPECT_EQ(5 * kMs, Current());
}

}  // namespace
