// What the renderer does when its pin or position pass-through cannot be
// allocated. This executable replaces the non-throwing operator new (which the
// framework uses for its objects) so that allocations of one chosen size fail.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>

#include "renderer/renderer_input_pin.h"
#include "tests/renderer/fakes/recording_renderer.h"

namespace {

std::size_t failingSize = 0;  // 0: nothing fails; test thread only

}  // namespace

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  if (failingSize != 0 && size == failingSize) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using fakes::FilterHolder;
using fakes::RecordingRenderer;

struct FailAllocations {
  explicit FailAllocations(std::size_t size) { failingSize = size; }
  ~FailAllocations() { failingSize = 0; }
};

TEST(RendererAllocationFailure, FindPinFailsWithANullPinWhenThePinCannotBeCreated) {
  FilterHolder<RecordingRenderer> renderer(new RecordingRenderer);
  {
    FailAllocations failing(sizeof(CRendererInputPin));
    IPin *pin = reinterpret_cast<IPin *>(1);
    EXPECT_EQ(E_OUTOFMEMORY, renderer->FindPin(L"In", &pin));
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(nullptr, renderer->PinAt(0));
    // The base filter's operations skip the missing pin.
    EXPECT_EQ(S_OK, renderer->Pause());
    EXPECT_EQ(S_OK, renderer->Stop());
  }
  // Creation is tried again later.
  IPin *pin = nullptr;
  ASSERT_EQ(S_OK, renderer->FindPin(L"In", &pin));
  EXPECT_NE(nullptr, pin);
  pin->Release();
}

TEST(RendererAllocationFailure, NoPositionInterfaceWithoutMemory) {
  FilterHolder<RecordingRenderer> renderer(new RecordingRenderer);
  void *seeking = reinterpret_cast<void *>(1);
  {
    FailAllocations failing(sizeof(CRendererPosPassThru));
    EXPECT_EQ(E_OUTOFMEMORY, renderer.Interface()->QueryInterface(IID_IMediaSeeking, &seeking));
    EXPECT_EQ(nullptr, seeking);
  }
  EXPECT_EQ(nullptr, renderer->PositionPassThru());
}

TEST(RendererAllocationFailure, NoPositionInterfaceWithoutAPin) {
  FilterHolder<RecordingRenderer> renderer(new RecordingRenderer);
  void *seeking = reinterpret_cast<void *>(1);
  {
    // The pass-through is made but refuses a null pin; nothing is kept.
    FailAllocations failing(sizeof(CRendererInputPin));
    EXPECT_EQ(E_NOINTERFACE, renderer.Interface()->QueryInterface(IID_IMediaPosition, &seeking));
    EXPECT_EQ(nullptr, seeking);
  }
  EXPECT_EQ(nullptr, renderer->PositionPassThru());
  ASSERT_EQ(S_OK, renderer.Interface()->QueryInterface(IID_IMediaPosition, &seeking));
  static_cast<IUnknown *>(seeking)->Release();
}

}  // namespace
