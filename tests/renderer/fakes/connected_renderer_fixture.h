// A test fixture with a renderer connected to a fake upstream pin, on a
// manual reference clock, in a graph that records events. Samples go to the
// renderer on the upstream pin's real streaming thread; each delivery's result
// comes back as a future, and tear-down stops the renderer and waits for every
// delivery before anything is destroyed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <vector>

#include "tests/renderer/fakes/fake_event_graph.h"
#include "tests/renderer/fakes/fake_media_sample.h"
#include "tests/renderer/fakes/fake_output_pin.h"
#include "tests/renderer/fakes/manual_reference_clock.h"
#include "tests/renderer/fakes/recording_renderer.h"

namespace fakes {

using Delivery = std::shared_future<HRESULT>;

// Generous: only a broken renderer ever waits this long.
inline constexpr std::chrono::seconds kPatience{10};

template <class Renderer>
class ConnectedRendererFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, renderer->JoinFilterGraph(&graph, L"renderer"));
    ASSERT_EQ(S_OK, renderer->SetSyncSource(&clock));
    ASSERT_EQ(S_OK, upstream.ConnectTo(renderer->InputPin(), VideoMediaType()));
  }

  void TearDown() override {
    renderer->Stop();
    for (const Delivery &delivery : deliveries) {
      ASSERT_EQ(std::future_status::ready, delivery.wait_for(kPatience));
    }
    upstream.DisconnectBoth();
    renderer->JoinFilterGraph(nullptr, nullptr);
  }

  FakeMediaSample *Sample(REFERENCE_TIME start, REFERENCE_TIME stop) {
    samples.push_back(std::make_unique<FakeMediaSample>(start, stop));
    return samples.back().get();
  }
  FakeMediaSample *UntimedSample() {
    samples.push_back(std::make_unique<FakeMediaSample>());
    return samples.back().get();
  }

  Delivery Deliver(IMediaSample *sample) {
    deliveries.push_back(upstream.Deliver(sample).share());
    return deliveries.back();
  }
  Delivery DeliverEndOfStream() {
    deliveries.push_back(upstream.DeliverEndOfStream().share());
    return deliveries.back();
  }

  static bool Finished(const Delivery &delivery) {
    return delivery.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  // The delivery's result, once it has returned (a failure if it never does).
  static HRESULT ResultOf(const Delivery &delivery) {
    if (delivery.wait_for(kPatience) != std::future_status::ready) {
      ADD_FAILURE() << "the streaming thread never returned";
      return E_FAIL;
    }
    return delivery.get();
  }

  FILTER_STATE StateAfter(DWORD milliseconds, HRESULT *result) {
    FILTER_STATE state = State_Stopped;
    *result = renderer->GetState(milliseconds, &state);
    return state;
  }

  IMemInputPin *MemInput() {
    void *mem = nullptr;
    renderer->InputPin()->QueryInterface(IID_IMemInputPin, &mem);
    memInputs.emplace_back(static_cast<IMemInputPin *>(mem));
    return memInputs.back().get();
  }

  struct Releaser {
    void operator()(IUnknown *unknown) const { unknown->Release(); }
  };

  // Declared so that destruction runs renderer first, then what it refers to.
  ManualReferenceClock clock;
  FakeEventGraph graph;
  std::deque<std::unique_ptr<FakeMediaSample>> samples;
  FakeOutputPin upstream;
  FilterHolder<Renderer> renderer{new Renderer};
  std::vector<std::unique_ptr<IMemInputPin, Releaser>> memInputs;
  std::vector<Delivery> deliveries;
};

}  // namespace fakes
