// A reference clock that reports whatever time (and result) the test sets.
#pragma once

#include <atomic>
#include <functional>

#include "tests/filterbase/fakes/counted_object.h"

namespace fbtest {

class FakeClock final : public CountedObject<IReferenceClock> {
 public:
  ~FakeClock() = default;
  std::atomic<REFERENCE_TIME> now{0};
  HRESULT timeResult = S_OK;
  std::function<void()> onGetTime;  // runs inside every GetTime

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IReferenceClock) return E_NOINTERFACE;
    *out = static_cast<IReferenceClock *>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP GetTime(REFERENCE_TIME *time) override {
    if (onGetTime) onGetTime();
    if (FAILED(timeResult)) return timeResult;
    *time = now.load();
    return timeResult;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};

}  // namespace fbtest
