// A filter graph that only collects the events its filters raise, from any
// thread, and lets the test wait for them.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/media/graph.h"
#include "platform/media/guids.h"

namespace fakes {

class FakeEventGraph final : public IFilterGraph, public IMediaEventSink {
 public:
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  FakeEventGraph() = default;
  FakeEventGraph(const FakeEventGraph &) = delete;
  FakeEventGraph &operator=(const FakeEventGraph &) = delete;
  ~FakeEventGraph() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IFilterGraph) {
      *out = static_cast<IFilterGraph *>(this);
    } else if (iid == IID_IMediaEventSink) {
      *out = static_cast<IMediaEventSink *>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }

  STDMETHODIMP Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.push_back({eventCode, param1, param2});
    arrived_.notify_all();
    return S_OK;
  }

  STDMETHODIMP AddFilter(IBaseFilter *, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Reconnect(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }

  std::vector<Event> Events() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
  }
  std::size_t Count(LONG code) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<std::size_t>(std::count_if(
        events_.begin(), events_.end(), [code](const Event &e) { return e.code == code; }));
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.clear();
  }
  // Blocks until `count` events of `code` have arrived; false on time-out.
  bool WaitFor(LONG code, std::size_t count = 1,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> hold(mutex_);
    return arrived_.wait_for(hold, timeout, [&] {
      return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                    [code](const Event &e) {
                                                      return e.code == code;
                                                    })) >= count;
    });
  }

 private:
  std::atomic<ULONG> refs_{0};
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Event> events_;
};

}  // namespace fakes
