// The texture renderer's three decisions: which type it takes, what it
// records from the agreed type, and how a due sample reaches the frame sink.
#include "frames/texture_renderer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "../renderer/fakes/fake_event_graph.h"
#include "../renderer/fakes/fake_media_sample.h"
#include "../renderer/fakes/fake_output_pin.h"
#include "../renderer/fakes/manual_reference_clock.h"

namespace {

class RecordingSink : public TextureFlushInterface {
 public:
  bool PrepareFormat(const BITMAPINFOHEADER *header) override {
    prepared.push_back(*header);
    return prepareResult;
  }
  bool FlushFrame(BYTE *buffer, LONG length, LONG stride) override {
    frames.push_back({buffer, length, stride});
    return flushResult;
  }
  void PrepareFrame(BYTE *buffer, LONG, LONG, const std::atomic<int> &) override {
    std::lock_guard<std::mutex> hold(aheadLock);
    ahead.push_back(buffer);
    aheadDrawn.notify_all();
  }
  void NotifyStopped() override {}
  void ReleaseSurfaces() override {}

  // Waits until `count` frames were drawn ahead; false after 10 s.
  bool WaitForAhead(size_t count) {
    std::unique_lock<std::mutex> hold(aheadLock);
    return aheadDrawn.wait_for(hold, std::chrono::seconds(10),
                               [&] { return ahead.size() >= count; });
  }
  size_t AheadCount() {
    std::lock_guard<std::mutex> hold(aheadLock);
    return ahead.size();
  }

  struct Frame {
    BYTE *buffer;
    LONG length;
    LONG stride;
  };
  std::vector<BITMAPINFOHEADER> prepared;
  std::vector<Frame> frames;
  bool prepareResult = true;
  bool flushResult = true;
  std::mutex aheadLock;
  std::condition_variable aheadDrawn;
  std::vector<BYTE *> ahead;  // aheadLock
};

class Owner : public FrameSinkOwner {
 public:
  explicit Owner(TextureFlushInterface *sink) : FrameSinkOwner(sink) {}
};

class TextureRendererTest : public testing::Test {
 protected:
  TextureRendererTest() : owner(&sink) {
    HRESULT hr = E_FAIL;
    renderer = new CTextureRenderer(&owner, &hr);
    EXPECT_EQ(S_OK, hr);
    filter = renderer;
    filter->AddRef();
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 5;
    info.bmiHeader.biHeight = 2;
    info.bmiHeader.biBitCount = 24;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = sizeof info;
    type.pbFormat = reinterpret_cast<BYTE *>(&info);
  }
  ~TextureRendererTest() override { EXPECT_EQ(0u, filter->Release()); }

  RecordingSink sink;
  Owner owner;
  CTextureRenderer *renderer = nullptr;
  IBaseFilter *filter = nullptr;
  VIDEOINFOHEADER info{};
  AM_MEDIA_TYPE type{};
};

TEST_F(TextureRendererTest, AcceptsOnlyRgb24VideoInfo) {
  EXPECT_EQ(S_OK, renderer->ValidateMediaType(&type));
  EXPECT_EQ(E_POINTER, renderer->ValidateMediaType(nullptr));

  AM_MEDIA_TYPE t = type;
  t.pbFormat = nullptr;  // right identifiers but no format block
  EXPECT_EQ(E_INVALIDARG, renderer->ValidateMediaType(&t));

  for (const GUID &sub : {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB565, MEDIATYPE_Video}) {
    t = type;
    t.subtype = sub;
    EXPECT_EQ(E_FAIL, renderer->ValidateMediaType(&t));
  }
  // The format tests run first: audio with a video format block is E_FAIL,
  // with any other format type E_INVALIDARG.
  t = type;
  t.majortype = MEDIATYPE_Audio;
  EXPECT_EQ(E_FAIL, renderer->ValidateMediaType(&t));
  t.formattype = FORMAT_WaveFormatEx;
  EXPECT_EQ(E_INVALIDARG, renderer->ValidateMediaType(&t));
}

TEST_F(TextureRendererTest, RowStrideRoundsThreeBytesPerPixelUpToFour) {
  const LONG widths[] = {1, 2, 3, 4, 5, 320, 640, 641};
  const LONG strides[] = {4, 8, 12, 12, 16, 960, 1920, 1924};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(strides[i], CTextureRenderer::RowStrideFor(widths[i]));
}

TEST_F(TextureRendererTest, AgreedTypePreparesTheSinkAndSetsTheStride) {
  EXPECT_EQ(S_OK, renderer->ApplyMediaType(&type));
  ASSERT_EQ(1u, sink.prepared.size());
  EXPECT_EQ(5, sink.prepared[0].biWidth);
  EXPECT_EQ(2, sink.prepared[0].biHeight);

  fakes::FakeMediaSample sample(64);
  EXPECT_EQ(S_OK, renderer->DrawSample(&sample));
  ASSERT_EQ(1u, sink.frames.size());
  BYTE *expected = nullptr;
  sample.GetPointer(&expected);
  EXPECT_EQ(expected, sink.frames[0].buffer);
  EXPECT_EQ(64, sink.frames[0].length);  // the allocated size, not the data length
  EXPECT_EQ(16, sink.frames[0].stride);

  sink.prepareResult = false;
  EXPECT_EQ(E_FAIL, renderer->ApplyMediaType(&type));
}

TEST_F(TextureRendererTest, RefusedFramesAndNullSamples) {
  EXPECT_EQ(S_OK, renderer->ApplyMediaType(&type));
  EXPECT_EQ(E_POINTER, renderer->DrawSample(nullptr));
  EXPECT_TRUE(sink.frames.empty());
  sink.flushResult = false;
  fakes::FakeMediaSample sample(32);
  EXPECT_EQ(E_FAIL, renderer->DrawSample(&sample));
}

TEST_F(TextureRendererTest, IdentityInTheGraph) {
  CLSID id{};
  EXPECT_EQ(S_OK, filter->GetClassID(&id));
  EXPECT_EQ(CLSID_TextureRenderer, id);
  IPin *pin = nullptr;
  EXPECT_EQ(S_OK, filter->FindPin(L"In", &pin));
  ASSERT_NE(nullptr, pin);
  pin->Release();
}

// Connected to an upstream pin on a manual clock: samples arrive on a
// streaming thread as the movie source sends them.
class TextureRendererThreaded : public TextureRendererTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, filter->JoinFilterGraph(&graph, L"renderer"));
    ASSERT_EQ(S_OK, filter->SetSyncSource(&clock));
    IPin *input = nullptr;
    ASSERT_EQ(S_OK, filter->FindPin(L"In", &input));
    input->Release();
    ASSERT_EQ(S_OK, upstream.ConnectTo(input, type));
  }
  void TearDown() override {
    filter->Stop();
    upstream.DisconnectBoth();
    filter->SetSyncSource(nullptr);
    filter->JoinFilterGraph(nullptr, nullptr);
  }

  fakes::ManualReferenceClock clock;
  fakes::FakeEventGraph graph;
  fakes::FakeOutputPin upstream;
};

// A picture cued while paused is drawn ahead once, and only shown at its
// time. A later sample in the same buffer (the allocator hands buffers out
// again) is new: drawn ahead again, never taken for the one drawn before.
TEST_F(TextureRendererThreaded, ACuedPictureIsDrawnAheadOnceAndShownAtItsTime) {
  constexpr REFERENCE_TIME kMs = 10000;
  fakes::FakeMediaSample sample(0, 40 * kMs, 64);
  BYTE *buffer = nullptr;
  sample.GetPointer(&buffer);
  EXPECT_EQ(S_FALSE, filter->Pause());
  std::future<HRESULT> first = upstream.Deliver(&sample);
  ASSERT_TRUE(sink.WaitForAhead(1));
  EXPECT_EQ(buffer, sink.ahead[0]);
  EXPECT_TRUE(sink.frames.empty());

  // A seek while paused drops it; the same buffer comes back with the new picture.
  upstream.BeginFlushDownstream();
  upstream.EndFlushDownstream();
  EXPECT_EQ(S_OK, first.get());
  std::future<HRESULT> second = upstream.Deliver(&sample);
  ASSERT_TRUE(sink.WaitForAhead(2));

  EXPECT_EQ(S_OK, filter->Run(0));
  clock.SetTime(0);
  EXPECT_EQ(S_OK, second.get());
  ASSERT_EQ(1u, sink.frames.size());
  EXPECT_EQ(buffer, sink.frames[0].buffer);
  EXPECT_EQ(2u, sink.AheadCount());
}

}  // namespace
