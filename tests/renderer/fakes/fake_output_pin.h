// The upstream end of a renderer's input pin: an output pin that connects to
// the renderer, delivers samples, end of stream and flushes on a real streaming
// thread, answers seeking queries (stop and current position) and records the
// quality messages the renderer sends upstream.
//
// Threads: Deliver*/EndOfStream* run on the pin's own streaming thread and
// hand back a future; everything else runs on the caller's thread. The
// recorded state is guarded by an internal mutex.
#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <vector>

#include "platform/media/codes.h"
#include "platform/media/filters.h"
#include "platform/media/graph.h"
#include "platform/media/guids.h"
#include "platform/media/streaming.h"
#include "platform/win32/strings.h"
#include "tests/renderer/fakes/streaming_thread.h"

namespace fakes {

// An allocator that only counts Commit and Decommit.
class CountingAllocator final : public IMemAllocator {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
      *out = static_cast<IMemAllocator *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES *, ALLOCATOR_PROPERTIES *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
  STDMETHODIMP Commit() override {
    ++commits_;
    return S_OK;
  }
  STDMETHODIMP Decommit() override {
    ++decommits_;
    return S_OK;
  }
  STDMETHODIMP GetBuffer(IMediaSample **, REFERENCE_TIME *, REFERENCE_TIME *, DWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample *) override { return E_NOTIMPL; }

  int Commits() const { return commits_; }
  int Decommits() const { return decommits_; }
  ULONG RefCount() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{0};
  std::atomic<int> commits_{0};
  std::atomic<int> decommits_{0};
};

class FakeOutputPin final : public IPin, public IMediaSeeking, public IQualityControl {
 public:
  FakeOutputPin() = default;
  FakeOutputPin(const FakeOutputPin &) = delete;
  FakeOutputPin &operator=(const FakeOutputPin &) = delete;
  ~FakeOutputPin() {
    if (memInput_ != nullptr) memInput_->Release();
    if (peer_ != nullptr) peer_->Release();
  }

  // Connects to `input` with `type` as the upstream side of a graph does, then
  // gives it the counting allocator. Returns the input pin's answer.
  HRESULT ConnectTo(IPin *input, const AM_MEDIA_TYPE &type) {
    // Never calls into the renderer with mutex_ held: it takes its own locks.
    const HRESULT hr = input->ReceiveConnection(this, &type);
    if (FAILED(hr)) return hr;
    void *mem = nullptr;
    if (SUCCEEDED(input->QueryInterface(IID_IMemInputPin, &mem))) {
      static_cast<IMemInputPin *>(mem)->NotifyAllocator(&allocator_, FALSE);
    }
    input->AddRef();
    std::lock_guard<std::mutex> hold(mutex_);
    peer_ = input;
    memInput_ = static_cast<IMemInputPin *>(mem);
    return hr;
  }

  // Both sides: the renderer's pin first, as the graph does.
  HRESULT DisconnectBoth() {
    IPin *peer = nullptr;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      peer = peer_;
    }
    if (peer == nullptr) return S_FALSE;
    const HRESULT hr = peer->Disconnect();
    if (FAILED(hr)) return hr;
    IMemInputPin *mem = nullptr;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      mem = memInput_;
      memInput_ = nullptr;
      peer_ = nullptr;
    }
    if (mem != nullptr) mem->Release();
    peer->Release();
    return hr;
  }

  // IMemInputPin::Receive on the streaming thread.
  std::future<HRESULT> Deliver(IMediaSample *sample) {
    return thread_.Post([this, sample] { return ConnectedMemInput()->Receive(sample); });
  }
  // IPin::EndOfStream on the streaming thread, behind any sample posted before.
  std::future<HRESULT> DeliverEndOfStream() {
    return thread_.Post([this] { return ConnectedPeer()->EndOfStream(); });
  }
  // Flushes come from an upstream thread while the streaming thread may block.
  HRESULT BeginFlushDownstream() { return ConnectedPeer()->BeginFlush(); }
  HRESULT EndFlushDownstream() { return ConnectedPeer()->EndFlush(); }

  CountingAllocator &Allocator() { return allocator_; }

  // Seeking answers.
  void SetStopPosition(LONGLONG stop) {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = stop;
  }
  void SetCurrentPosition(LONGLONG current) {
    std::lock_guard<std::mutex> hold(mutex_);
    current_ = current;
  }
  int CurrentPositionQueries() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return currentQueries_;
  }

  // Quality: whether IQualityControl is offered and what Notify answers.
  void OfferQualityControl(bool offer) {
    std::lock_guard<std::mutex> hold(mutex_);
    offerQuality_ = offer;
  }
  void SetQualityAnswer(HRESULT answer) {
    std::lock_guard<std::mutex> hold(mutex_);
    qualityAnswer_ = answer;
  }
  std::vector<Quality> QualityMessages() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return quality_;
  }
  ULONG RefCount() const { return refs_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin) {
      *out = static_cast<IPin *>(this);
    } else if (iid == IID_IMediaSeeking) {
      *out = static_cast<IMediaSeeking *>(this);
    } else if (iid == IID_IQualityControl) {
      std::lock_guard<std::mutex> hold(mutex_);
      if (!offerQuality_) return E_NOINTERFACE;
      *out = static_cast<IQualityControl *>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }

  // IPin: an output pin that only answers what a connected input pin asks.
  STDMETHODIMP Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override {
    return E_UNEXPECTED;
  }
  STDMETHODIMP Disconnect() override { return E_NOTIMPL; }
  STDMETHODIMP ConnectedTo(IPin **pin) override {
    if (pin == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> hold(mutex_);
    *pin = peer_;
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO *info) override {
    if (info == nullptr) return E_POINTER;
    info->pFilter = nullptr;
    info->dir = PINDIR_OUTPUT;
    lstrcpyW(info->achName, L"Out");
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION *direction) override {
    if (direction == nullptr) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE *) override { return S_OK; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMediaSeeking: media time only; stop and current position as set.
  STDMETHODIMP GetCapabilities(DWORD *) override { return E_NOTIMPL; }
  STDMETHODIMP CheckCapabilities(DWORD *) override { return E_NOTIMPL; }
  STDMETHODIMP IsFormatSupported(const GUID *format) override {
    return format != nullptr && *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  }
  STDMETHODIMP QueryPreferredFormat(GUID *format) override { return GetTimeFormat(format); }
  STDMETHODIMP GetTimeFormat(GUID *format) override {
    if (format == nullptr) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  STDMETHODIMP IsUsingTimeFormat(const GUID *format) override { return IsFormatSupported(format); }
  STDMETHODIMP SetTimeFormat(const GUID *) override { return E_NOTIMPL; }
  STDMETHODIMP GetDuration(LONGLONG *duration) override { return GetStopPosition(duration); }
  STDMETHODIMP GetStopPosition(LONGLONG *stop) override {
    if (stop == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> hold(mutex_);
    *stop = stop_;
    return S_OK;
  }
  STDMETHODIMP GetCurrentPosition(LONGLONG *current) override {
    if (current == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> hold(mutex_);
    ++currentQueries_;
    *current = current_;
    return S_OK;
  }
  STDMETHODIMP ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                                 const GUID *sourceFormat) override {
    if (target == nullptr) return E_POINTER;
    const auto mediaTime = [](const GUID *f) {
      return f == nullptr || *f == GUID_NULL || *f == TIME_FORMAT_MEDIA_TIME;
    };
    if (!mediaTime(targetFormat) || !mediaTime(sourceFormat)) return E_INVALIDARG;
    *target = source;
    return S_OK;
  }
  STDMETHODIMP SetPositions(LONGLONG *, DWORD, LONGLONG *, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetPositions(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
  STDMETHODIMP GetAvailable(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
  STDMETHODIMP SetRate(double) override { return E_NOTIMPL; }
  STDMETHODIMP GetRate(double *) override { return E_NOTIMPL; }
  STDMETHODIMP GetPreroll(LONGLONG *) override { return E_NOTIMPL; }

  // IQualityControl: what the renderer sends upstream.
  STDMETHODIMP Notify(IBaseFilter *, Quality q) override {
    std::lock_guard<std::mutex> hold(mutex_);
    quality_.push_back(q);
    return qualityAnswer_;
  }
  STDMETHODIMP SetSink(IQualityControl *) override { return S_OK; }

 private:
  IPin *ConnectedPeer() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return peer_;
  }
  IMemInputPin *ConnectedMemInput() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return memInput_;
  }

  std::atomic<ULONG> refs_{0};
  mutable std::mutex mutex_;
  IPin *peer_ = nullptr;              // one reference
  IMemInputPin *memInput_ = nullptr;  // one reference
  CountingAllocator allocator_;
  LONGLONG stop_ = 0;
  LONGLONG current_ = 0;
  int currentQueries_ = 0;
  bool offerQuality_ = true;
  HRESULT qualityAnswer_ = S_OK;
  std::vector<Quality> quality_;
  StreamingThread thread_;  // last: joined first, while the fields above still live
};

}  // namespace fakes
