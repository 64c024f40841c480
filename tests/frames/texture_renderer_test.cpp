// The texture renderer's three decisions: which type it takes, what it
// records from the agreed type, and how a due sample reaches the frame sink.
#include "frames/texture_renderer.h"

#include <gtest/gtest.h>

#include <vector>

#include "../renderer/fakes/fake_media_sample.h"

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
  void NotifyStopped() override {}
  void ReleaseSurfaces() override {}

  struct Frame {
    BYTE *buffer;
    LONG length;
    LONG stride;
  };
  std::vector<BITMAPINFOHEADER> prepared;
  std::vector<Frame> frames;
  bool prepareResult = true;
  bool flushResult = true;
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

}  // namespace
