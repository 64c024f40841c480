// The streaming thread's view of the input pin while the application thread
// changes state and flushes: Receive reads the flags and the filter state
// without the pin lock, and every answer must still be one of the allowed ones.
#include "filterbase/base_input_pin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/filterbase/fakes/fake_graph.h"
#include "tests/filterbase/fakes/fake_sample.h"
#include "tests/filterbase/fakes/test_filter.h"

namespace {

TEST(BaseInputPinThreadedTest, ReceiveAnswersConsistentlyWhileTheStateChanges) {
  int destroyed = 0;
  auto *filter = new fbtest::TestFilter(&destroyed);
  filter->Interface()->AddRef();
  fbtest::FakeGraph graph;
  filter->JoinFilterGraph(&graph, L"sink");
  fbtest::TestInputPin *in = filter->AddInputPin(L"In");
  filter->ForceState(State_Running);

  constexpr int kSamples = 20000;
  std::atomic<bool> streaming{true};
  int unexpected = 0;
  std::thread upstream([&] {
    fbtest::FakeSample sample;
    for (int i = 0; i < kSamples; ++i) {
      IMemInputPin *pin = in;
      pin->AddRef();  // counted on the filter, from this thread too
      const HRESULT hr = pin->Receive(&sample);
      pin->Release();
      if (hr == S_OK) {
        if (in->SampleProps().tStop != 200) ++unexpected;
      } else if (hr != S_FALSE && hr != VFW_E_WRONG_STATE && hr != VFW_E_RUNTIME_ERROR) {
        ++unexpected;
      }
    }
    streaming = false;
  });

  for (int round = 0; streaming; ++round) {
    switch (round % 4) {
      case 0:
        in->BeginFlush();
        break;
      case 1:
        in->SetRuntimeError(true);
        in->EndFlush();  // clears both
        break;
      case 2:
        filter->Stop();
        break;
      default:
        filter->Run(0);
        break;
    }
    std::this_thread::yield();
  }
  upstream.join();

  EXPECT_EQ(unexpected, 0);
  EXPECT_EQ(in->script.receives, kSamples);
  EXPECT_TRUE(graph.Events().empty());
  filter->Stop();
  EXPECT_EQ(filter->Interface()->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
