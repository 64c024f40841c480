// Renderers for tests: they accept any video type, record every drawn sample
// and let the test wait until the streaming thread waits for a sample's time.
// FilterHolder keeps the one reference a test holds on such a filter.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "filterbase/base_pin.h"
#include "platform/media/media.h"
#include "renderer/base_renderer.h"
#include "renderer/base_video_renderer.h"
#include "renderer/renderer_pos_pass_thru.h"

namespace fakes {

// {6B1E4F0C-3A52-4C1B-9E7D-2F4A61C0B8D3}
inline constexpr CLSID CLSID_RecordingRenderer = {
    0x6B1E4F0C, 0x3A52, 0x4C1B, {0x9E, 0x7D, 0x2F, 0x4A, 0x61, 0xC0, 0xB8, 0xD3}};

// Video, RGB24, VIDEOINFO, without a format block.
inline AM_MEDIA_TYPE VideoMediaType() {
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = 1;
  type.formattype = FORMAT_VideoInfo;
  return type;
}

template <class Base>
class Recording : public Base {
 public:
  Recording() : Base(CLSID_RecordingRenderer, L"recording renderer", nullptr, nullptr) {}

  // Streaming thread, both renderer locks held.
  HRESULT DrawSample(IMediaSample *sample) override {
    std::lock_guard<std::mutex> hold(mutex_);
    drawn_.push_back(sample);
    changed_.notify_all();
    return drawResult_;
  }
  HRESULT ValidateMediaType(const AM_MEDIA_TYPE *type) override {
    if (type == nullptr) return E_POINTER;
    return type->majortype == MEDIATYPE_Video ? S_OK : E_FAIL;
  }
  // Held here while `held` (where a video renderer draws ahead), as a thread
  // that gets no CPU; let go after kPatience-like 10 s at the latest.
  void NoteWaitBegin() override {
    Base::NoteWaitBegin();
    std::unique_lock<std::mutex> hold(mutex_);
    ++waits_;
    changed_.notify_all();
    changed_.wait_for(hold, std::chrono::seconds(10), [this] { return !held_; });
    held_ = false;
  }
  void HoldInWait(bool held) {
    std::lock_guard<std::mutex> hold(mutex_);
    held_ = held;
    changed_.notify_all();
  }
  bool HeldInWait() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return held_;
  }

  std::vector<IMediaSample *> Drawn() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return drawn_;
  }
  std::size_t DrawCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return drawn_.size();
  }
  void SetDrawResult(HRESULT hr) {
    std::lock_guard<std::mutex> hold(mutex_);
    drawResult_ = hr;
  }
  // Blocks until the streaming thread has begun its `count`-th wait for a
  // sample's time; false on time-out.
  bool WaitForWaits(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, timeout, [&] { return waits_ >= count; });
  }
  bool WaitForDraws(std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, timeout, [&] { return drawn_.size() >= count; });
  }

  IPin *InputPin() { return static_cast<IPin *>(this->PinAt(0)); }
  using Base::PositionPassThru;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<IMediaSample *> drawn_;  // not counted: identity only
  int waits_ = 0;
  bool held_ = false;
  HRESULT drawResult_ = S_OK;
};

using RecordingRenderer = Recording<CBaseRenderer>;
using RecordingVideoRenderer = Recording<CBaseVideoRenderer>;

// Holds one reference on a framework filter for the test's lifetime.
template <class Filter>
class FilterHolder {
 public:
  explicit FilterHolder(Filter *filter) : filter_(filter) { Interface()->AddRef(); }
  ~FilterHolder() { Interface()->Release(); }
  FilterHolder(const FilterHolder &) = delete;
  FilterHolder &operator=(const FilterHolder &) = delete;

  Filter *operator->() const { return filter_; }
  Filter *get() const { return filter_; }
  IBaseFilter *Interface() const { return static_cast<IBaseFilter *>(filter_); }

 private:
  Filter *filter_;
};

}  // namespace fakes
