#include "filterbase/base_filter.h"

#include <new>

#include "filterbase/base_pin.h"
#include "filterbase/counted_slot.h"
#include "filterbase/enum_pins.h"
#include "platform/win32/strings.h"

CBaseFilter::CBaseFilter(LPCWSTR label, IUnknown *outer, CriticalLock *lock, REFCLSID clsid)
    : CUnknown(label, outer),
      state(State_Stopped),
      clock(nullptr),
      startTime(0),
      classId(clsid),
      filterLock(lock),
      name(nullptr),
      graph(nullptr),
      eventSink(nullptr),
      pinListVersion(1) {}

CBaseFilter::~CBaseFilter() {
  delete[] name;
  if (clock != nullptr) clock->Release();
}

STDMETHODIMP CBaseFilter::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
    return HandOutInterface(static_cast<IBaseFilter *>(this), out);
  }
  if (iid == IID_IAMovieSetup) return HandOutInterface(static_cast<IAMovieSetup *>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

HRESULT CBaseFilter::CurrentStreamTime(REFERENCE_TIME *time) {
  if (time == nullptr) return E_POINTER;
  IReferenceClock *current = AcquireFromSlot(&clockSlotLock, &clock);
  if (current == nullptr) return VFW_E_NO_CLOCK;
  const HRESULT hr = current->GetTime(time);
  current->Release();
  if (FAILED(hr)) return hr;
  *time -= StartTime();
  return S_OK;
}

LONG CBaseFilter::PinListVersion() { return __atomic_load_n(&pinListVersion, __ATOMIC_ACQUIRE); }

const FilterRegistrationRecord *CBaseFilter::RegistrationData() { return nullptr; }

STDMETHODIMP CBaseFilter::GetClassID(CLSID *out) {
  if (out == nullptr) return E_POINTER;
  *out = classId;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  ScopedLock guard(filterLock);
  HRESULT result = S_OK;
  if (state != State_Stopped) {
    // Every pin is told, whatever an earlier one answered.
    const int count = PinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin *pin = PinAt(i);
      if (pin == nullptr || !pin->IsConnected()) continue;
      const HRESULT hr = pin->DeactivatePin();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  SetState(State_Stopped);
  return result;
}

STDMETHODIMP CBaseFilter::Pause() {
  ScopedLock guard(filterLock);
  if (state == State_Stopped) {
    const int count = PinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin *pin = PinAt(i);
      if (pin == nullptr || !pin->IsConnected()) continue;
      const HRESULT hr = pin->ActivatePin();
      if (FAILED(hr)) return hr;
    }
  }
  SetState(State_Paused);
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME start) {
  ScopedLock guard(filterLock);
  __atomic_store_n(&startTime, start, __ATOMIC_RELEASE);
  if (state == State_Stopped) {
    // Through the interface, so that a derived Pause runs.
    const HRESULT hr = static_cast<IBaseFilter *>(this)->Pause();
    if (FAILED(hr)) return hr;
  }
  if (state != State_Running) {
    const int count = PinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin *pin = PinAt(i);
      if (pin == nullptr || !pin->IsConnected()) continue;
      const HRESULT hr = pin->StartPinRun(start);
      if (FAILED(hr)) return hr;
    }
  }
  SetState(State_Running);
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE *out) {
  if (out == nullptr) return E_POINTER;
  *out = StateNoLock();
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock *newClock) {
  ScopedLock guard(filterLock);
  if (newClock != nullptr) newClock->AddRef();
  IReferenceClock *old = ExchangeSlot(&clockSlotLock, &clock, newClock);
  if (old != nullptr) old->Release();
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock **out) {
  if (out == nullptr) return E_POINTER;
  ScopedLock guard(filterLock);
  if (clock != nullptr) clock->AddRef();
  *out = clock;
  return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins **pins) {
  if (pins == nullptr) return E_POINTER;
  CEnumPins *enumerator = new (std::nothrow) CEnumPins(this, nullptr, nullptr);
  *pins = enumerator;
  return enumerator != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR id, IPin **out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (id == nullptr) return VFW_E_NOT_FOUND;
  const int count = PinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin *pin = PinAt(i);
    if (pin == nullptr) continue;
    LPWSTR pinId = nullptr;
    if (FAILED(pin->QueryId(&pinId)) || pinId == nullptr) continue;
    const bool same = lstrcmpW(pinId, id) == 0;
    CoTaskMemFree(pinId);
    if (same) {
      *out = static_cast<IPin *>(pin);
      (*out)->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO *info) {
  if (info == nullptr) return E_POINTER;
  if (name != nullptr) {
    lstrcpynW(info->achName, name, MAX_FILTER_NAME);
  } else {
    info->achName[0] = L'\0';
  }
  info->pGraph = graph;
  if (graph != nullptr) graph->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph *newGraph, LPCWSTR newName) {
  ScopedLock guard(filterLock);
  graph = newGraph;
  IMediaEventSink *sink = nullptr;
  // The filter lives inside the graph: keeping a reference on the graph's
  // sink would keep the graph alive through its own filter.
  if (newGraph != nullptr &&
      SUCCEEDED(newGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink))) &&
      sink != nullptr) {
    sink->Release();
  } else {
    sink = nullptr;
  }
  __atomic_store_n(&eventSink, sink, __ATOMIC_RELEASE);

  delete[] name;
  name = nullptr;
  if (newName != nullptr) {
    const int length = lstrlenW(newName);
    name = new (std::nothrow) WCHAR[length + 1];
    if (name != nullptr) lstrcpyW(name, newName);
  }
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

STDMETHODIMP CBaseFilter::Register() {
  const FilterRegistrationRecord *record = RegistrationData();
  if (record == nullptr) return S_FALSE;
  const HRESULT init = CoInitialize(nullptr);
  IFilterMapper *mapper = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IFilterMapper, reinterpret_cast<void **>(&mapper)))) {
    RunRegistrationWalk(record, mapper, TRUE);
    mapper->Release();
  }
  CoFreeUnusedLibraries();
  // A CoInitialize that failed must not be balanced: that would take away the
  // caller's own initialisation.
  if (SUCCEEDED(init)) CoUninitialize();
  return S_OK;
}

STDMETHODIMP CBaseFilter::Unregister() {
  const FilterRegistrationRecord *record = RegistrationData();
  if (record == nullptr) return S_FALSE;
  const HRESULT init = CoInitialize(nullptr);
  IFilterMapper *mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper, reinterpret_cast<void **>(&mapper));
  if (SUCCEEDED(hr)) {
    hr = RunRegistrationWalk(record, mapper, FALSE);
    mapper->Release();
  }
  CoFreeUnusedLibraries();
  if (SUCCEEDED(init)) CoUninitialize();
  return hr == RegistrationNothingFound ? S_OK : hr;
}

HRESULT CBaseFilter::RaiseGraphEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink *sink = __atomic_load_n(&eventSink, __ATOMIC_ACQUIRE);
  if (sink == nullptr) return E_NOTIMPL;
  if (eventCode == EC_COMPLETE) {
    param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this));
  }
  return sink->Notify(eventCode, param1, param2);
}
