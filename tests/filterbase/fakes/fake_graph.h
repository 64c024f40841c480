// A filter graph that only records the events its filters raise. With
// `withSink` false it has no IMediaEventSink at all.
#pragma once

#include <mutex>
#include <vector>

#include "tests/filterbase/fakes/counted_object.h"

namespace fbtest {

class FakeGraph final : public CountedObject<IFilterGraph>, public IMediaEventSink {
 public:
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  explicit FakeGraph(bool withSink = true) : sink(withSink) {}
  ~FakeGraph() = default;

  HRESULT notifyResult = S_OK;

  std::vector<Event> Events() {
    std::lock_guard<std::mutex> hold(mutex);
    return events;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IFilterGraph) {
      *out = static_cast<IFilterGraph *>(this);
    } else if (sink && iid == IID_IMediaEventSink) {
      *out = static_cast<IMediaEventSink *>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return CountedObject<IFilterGraph>::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return CountedObject<IFilterGraph>::Release(); }

  STDMETHODIMP Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    std::lock_guard<std::mutex> hold(mutex);
    events.push_back({code, param1, param2});
    return notifyResult;
  }

  STDMETHODIMP AddFilter(IBaseFilter *, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP Reconnect(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }

 private:
  const bool sink;
  std::mutex mutex;
  std::vector<Event> events;
};

}  // namespace fbtest
