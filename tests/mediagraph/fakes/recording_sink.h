// A sink filter with one RGB24 input pin that records everything an upstream
// output pin does to it: samples with their times and pixels, end of stream,
// flushes and new segments. It takes samples at once (no clock), or, with the
// gate closed, holds the streaming thread in Receive as a paused renderer
// does, until the gate opens or a flush begins.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "platform/media/media.h"

namespace testmovies {

// {3C9A5E10-7B42-4D6F-8E15-A2C7D9034B61}
inline constexpr CLSID CLSID_RecordingSink = {
    0x3C9A5E10, 0x7B42, 0x4D6F, {0x8E, 0x15, 0xA2, 0xC7, 0xD9, 0x03, 0x4B, 0x61}};

class RecordingSink : public CBaseFilter {
 public:
  struct Arrival {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool timed = false;
    bool discontinuity = false;
    LONG actual = 0;
    std::string check;  // what the inspector said about the pixels
  };
  struct Segment {
    REFERENCE_TIME start, stop;
    double rate;
  };
  // Looks at one picture (bottom-up RGB24) while the sample is held.
  using Inspector = std::function<std::string(const uint8_t *picture, LONG size)>;

  RecordingSink() : CBaseFilter(L"recording sink", nullptr, &lock_, CLSID_RecordingSink),
                    pin_(this) {}

  int PinCount() override { return 1; }
  CBasePin *PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

  IPin *InputPin() { return static_cast<IPin *>(&pin_); }
  CBaseInputPin *Input() { return &pin_; }
  void SetInspector(Inspector inspector) {
    std::lock_guard<std::mutex> hold(mutex_);
    inspector_ = std::move(inspector);
  }
  // A closed gate holds every sample in Receive until it opens or a flush begins.
  void SetGate(bool closed) {
    std::lock_guard<std::mutex> hold(mutex_);
    gateClosed_ = closed;
    changed_.notify_all();
  }

  std::vector<Arrival> Arrivals() {
    std::lock_guard<std::mutex> hold(mutex_);
    return arrivals_;
  }
  int EndOfStreams() {
    std::lock_guard<std::mutex> hold(mutex_);
    return endOfStreams_;
  }
  std::vector<Segment> Segments() {
    std::lock_guard<std::mutex> hold(mutex_);
    return segments_;
  }
  // "B" for BeginFlush, "E" for EndFlush, "S" for NewSegment, "R" for a
  // sample, "X" for end of stream, in the order they came.
  std::string Log() {
    std::lock_guard<std::mutex> hold(mutex_);
    return log_;
  }
  void ClearRecords() {
    std::lock_guard<std::mutex> hold(mutex_);
    arrivals_.clear();
    segments_.clear();
    endOfStreams_ = 0;
    log_.clear();
  }
  // Waits until `done` holds (checked under the recorder's mutex).
  bool WaitUntil(const std::function<bool()> &done, int ms = 20000) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(ms), done);
  }
  size_t ArrivalCountLocked() const { return arrivals_.size(); }
  int EndOfStreamsLocked() const { return endOfStreams_; }

 private:
  class Pin final : public CBaseInputPin {
   public:
    explicit Pin(RecordingSink *sink)
        : CBaseInputPin(L"recording input", sink, &sink->lock_, nullptr, L"In"), sink_(sink) {}

    HRESULT TestMediaType(const AM_MEDIA_TYPE *type) override {
      return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24 &&
                     type->formattype == FORMAT_VideoInfo && type->pbFormat != nullptr
                 ? S_OK
                 : S_FALSE;
    }
    STDMETHODIMP Receive(IMediaSample *sample) override {
      HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr != S_OK) return hr;
      return sink_->Take(sample, SampleProps());
    }
    STDMETHODIMP EndOfStream() override { return sink_->Note('X'); }
    STDMETHODIMP BeginFlush() override {
      CBaseInputPin::BeginFlush();
      return sink_->Note('B');
    }
    STDMETHODIMP EndFlush() override {
      CBaseInputPin::EndFlush();
      return sink_->Note('E');
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
      CBaseInputPin::NewSegment(start, stop, rate);
      {
        std::lock_guard<std::mutex> hold(sink_->mutex_);
        sink_->segments_.push_back({start, stop, rate});
      }
      return sink_->Note('S');
    }

   private:
    RecordingSink *const sink_;
  };

  HRESULT Take(IMediaSample *sample, const AM_SAMPLE2_PROPERTIES &props) {
    Arrival arrival;
    arrival.timed = (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
    arrival.start = props.tStart;
    arrival.stop = props.tStop;
    arrival.discontinuity = (props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0;
    arrival.actual = props.lActual;
    std::unique_lock<std::mutex> hold(mutex_);
    BYTE *data = nullptr;
    if (inspector_ && SUCCEEDED(sample->GetPointer(&data))) {
      arrival.check = inspector_(data, sample->GetSize());
    }
    arrivals_.push_back(arrival);
    log_ += 'R';
    changed_.notify_all();
    changed_.wait(hold, [this] { return !gateClosed_ || pin_.IsFlushing(); });
    return S_OK;
  }
  HRESULT Note(char what) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (what == 'X') ++endOfStreams_;
    log_ += what;
    changed_.notify_all();
    return S_OK;
  }

  CriticalLock lock_;
  Pin pin_;
  std::mutex mutex_;
  // --- guarded by mutex_
  std::condition_variable changed_;
  Inspector inspector_;
  bool gateClosed_ = false;
  std::vector<Arrival> arrivals_;
  std::vector<Segment> segments_;
  int endOfStreams_ = 0;
  std::string log_;
};

}  // namespace testmovies
