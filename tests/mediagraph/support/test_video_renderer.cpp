#include "tests/mediagraph/support/test_video_renderer.h"

#include <chrono>

namespace mediagraph_test {

namespace {
// {6B1C2F40-3E51-4D7A-9C0B-6A1F2E3D4C5B}
constexpr GUID kTestRendererClsid = {
    0x6B1C2F40, 0x3E51, 0x4D7A, {0x9C, 0x0B, 0x6A, 0x1F, 0x2E, 0x3D, 0x4C, 0x5B}};
}  // namespace

TestVideoRenderer::TestVideoRenderer(HRESULT *result)
    : CBaseVideoRenderer(kTestRendererClsid, L"test video renderer", nullptr, result) {}

TestVideoRenderer *TestVideoRenderer::Create() {
  HRESULT hr = S_OK;
  auto *renderer = new TestVideoRenderer(&hr);
  renderer->Filter()->AddRef();
  return renderer;
}

void TestVideoRenderer::SetProbes(std::vector<Point> points) {
  std::lock_guard<std::mutex> hold(lock_);
  probes_ = std::move(points);
}

int TestVideoRenderer::Width() const {
  std::lock_guard<std::mutex> hold(lock_);
  return width_;
}
int TestVideoRenderer::Height() const {
  std::lock_guard<std::mutex> hold(lock_);
  return height_;
}
int TestVideoRenderer::Stride() const {
  std::lock_guard<std::mutex> hold(lock_);
  return stride_;
}
int TestVideoRenderer::TypesOffered() const {
  std::lock_guard<std::mutex> hold(lock_);
  return typesOffered_;
}

std::vector<DrawnFrame> TestVideoRenderer::Frames() const {
  std::lock_guard<std::mutex> hold(lock_);
  return frames_;
}

size_t TestVideoRenderer::FrameCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return frames_.size();
}

void TestVideoRenderer::ClearFrames() {
  std::lock_guard<std::mutex> hold(lock_);
  frames_.clear();
}

bool TestVideoRenderer::WaitForFrames(size_t count, int ms) const {
  std::unique_lock<std::mutex> hold(lock_);
  return drawn_.wait_for(hold, std::chrono::milliseconds(ms),
                         [&] { return frames_.size() >= count; });
}

HRESULT TestVideoRenderer::ValidateMediaType(const AM_MEDIA_TYPE *type) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++typesOffered_;
  }
  if (!type || type->majortype != MEDIATYPE_Video || type->subtype != MEDIASUBTYPE_RGB24 ||
      type->formattype != FORMAT_VideoInfo || type->cbFormat < sizeof(VIDEOINFOHEADER) ||
      !type->pbFormat) {
    return E_FAIL;
  }
  const auto *info = reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat);
  if (info->bmiHeader.biBitCount != 24 || info->bmiHeader.biCompression != BI_RGB ||
      info->bmiHeader.biWidth <= 0 || info->bmiHeader.biHeight == 0) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT TestVideoRenderer::ApplyMediaType(const AM_MEDIA_TYPE *type) {
  const auto *info = reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat);
  std::lock_guard<std::mutex> hold(lock_);
  width_ = info->bmiHeader.biWidth;
  height_ = info->bmiHeader.biHeight;
  stride_ = (width_ * 3 + 3) & ~3;
  return S_OK;
}

HRESULT TestVideoRenderer::DecideDrawTiming(IMediaSample *sample, REFERENCE_TIME *start,
                                            REFERENCE_TIME *stop) {
  const HRESULT hr = CBaseVideoRenderer::DecideDrawTiming(sample, start, stop);
  return hr == E_FAIL ? S_OK : hr;
}

HRESULT TestVideoRenderer::DrawSample(IMediaSample *sample) {
  Record(sample, &frames_);
  return S_OK;
}

void TestVideoRenderer::OnPrerollSample(IMediaSample *sample) { Record(sample, &held_); }

std::vector<DrawnFrame> TestVideoRenderer::Held() const {
  std::lock_guard<std::mutex> hold(lock_);
  return held_;
}

void TestVideoRenderer::Record(IMediaSample *sample, std::vector<DrawnFrame> *into) {
  DrawnFrame frame;
  frame.hasTime = SUCCEEDED(sample->GetTime(&frame.start, &frame.stop));
  frame.discontinuity = sample->IsDiscontinuity() == S_OK;
  BYTE *data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();

  std::lock_guard<std::mutex> hold(lock_);
  const int rows = height_ < 0 ? -height_ : height_;
  for (const Point &p : probes_) {
    // Rows are stored bottom-up: the top row of the picture is the last one.
    const int row = height_ > 0 ? rows - 1 - p.y : p.y;
    const long offset = long(row) * stride_ + long(p.x) * 3;
    if (p.x < 0 || p.x >= width_ || p.y < 0 || p.y >= rows || offset + 3 > length) {
      frame.probes.push_back({-1, -1, -1});
    } else {
      frame.probes.push_back({data[offset], data[offset + 1], data[offset + 2]});
    }
  }
  into->push_back(std::move(frame));
  drawn_.notify_all();
}

}  // namespace mediagraph_test
