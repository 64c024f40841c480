// A filter with scripted pins, built on the framework's own base classes:
// TestFilter (a CBaseFilter holding any number of pins, with holes where a pin
// could not be created), TestInputPin (CBaseInputPin) and TestOutputPin
// (CBasePin, output side, which agrees an allocator with its receiver the way
// a source's output pin does). Every hook call is written to the filter's log
// as "<hook>:<pin name>", so tests can check order across pins.
//
// Single-threaded use, except where a test says otherwise (the log is not
// locked).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "filterbase/base_pin.h"
#include "filterbase/critical_lock.h"
#include "filterbase/media_type.h"
#include "platform/media/media.h"

namespace fbtest {

DEFINE_GUID_CONST(CLSID_TestFilter, 0x7E570001, 0xAAAA, 0xBBBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00,
                  0x11, 0x22, 0x33);

using CallLog = std::vector<std::wstring>;

// What a test pin does in each hook, and what it saw.
struct PinScript {
  // Types the pin proposes, in order (ProposedMediaType answers S_FALSE past
  // the end). Empty and proposesNothing: the base answer (E_UNEXPECTED).
  std::vector<MediaTypeRecord> proposed;
  bool proposesNothing = true;
  // TestMediaType's answer; null accepts everything.
  std::function<HRESULT(const AM_MEDIA_TYPE *)> accept;
  HRESULT activateResult = S_OK;
  HRESULT deactivateResult = S_OK;
  HRESULT startResult = S_OK;
  HRESULT concludeResult = S_OK;
  HRESULT undoResult = S_OK;
  // Subtypes TestMediaType was asked about, in order.
  std::vector<GUID> tested;
  std::vector<int> proposedAsked;
  int endOfStreams = 0;
  int receives = 0;
  REFERENCE_TIME lastStart = -1;
};

class TestFilter;

// Shared hook bodies of the two test pins.
class PinHooks {
 public:
  PinHooks(CallLog *callLog, LPCWSTR pinName) : log(callLog), label(pinName) {}
  PinScript script;

 protected:
  void Note(const wchar_t *hook) { log->push_back(std::wstring(hook) + L":" + label); }
  HRESULT Test(const AM_MEDIA_TYPE *type) {
    Note(L"TestMediaType");
    if (type != nullptr) script.tested.push_back(type->subtype);
    return script.accept ? script.accept(type) : S_OK;
  }
  HRESULT ProposeAt(int position, MediaTypeRecord *type, HRESULT base) {
    script.proposedAsked.push_back(position);
    if (script.proposesNothing && script.proposed.empty()) return base;
    if (position < 0 || position >= static_cast<int>(script.proposed.size())) return S_FALSE;
    return AssignMediaType(type, &script.proposed[static_cast<size_t>(position)]);
  }

  CallLog *const log;
  const std::wstring label;
};

class TestInputPin : public CBaseInputPin, public PinHooks {
 public:
  TestInputPin(CBaseFilter *owningFilter, CriticalLock *lock, CallLog *callLog, LPCWSTR pinName)
      : CBaseInputPin(L"test input pin", owningFilter, lock, nullptr, pinName),
        PinHooks(callLog, pinName) {}

  HRESULT TestMediaType(const AM_MEDIA_TYPE *type) override { return Test(type); }
  HRESULT ProposedMediaType(int position, MediaTypeRecord *type) override {
    return ProposeAt(position, type, CBaseInputPin::ProposedMediaType(position, type));
  }
  HRESULT ActivatePin() override {
    Note(L"ActivatePin");
    return script.activateResult;
  }
  HRESULT DeactivatePin() override {
    Note(L"DeactivatePin");
    return script.deactivateResult;
  }
  HRESULT StartPinRun(REFERENCE_TIME start) override {
    Note(L"StartPinRun");
    script.lastStart = start;
    return script.startResult;
  }
  HRESULT ConcludeConnection(IPin *peer) override {
    Note(L"ConcludeConnection");
    const HRESULT hr = CBaseInputPin::ConcludeConnection(peer);
    return FAILED(hr) ? hr : script.concludeResult;
  }
  HRESULT UndoConnection() override {
    Note(L"UndoConnection");
    if (FAILED(script.undoResult)) return script.undoResult;
    return CBaseInputPin::UndoConnection();
  }
  STDMETHODIMP EndOfStream() override {
    ++script.endOfStreams;
    return CBaseInputPin::EndOfStream();
  }
  STDMETHODIMP Receive(IMediaSample *sample) override {
    ++script.receives;
    return CBaseInputPin::Receive(sample);
  }

  // Makes the pin propose these types.
  void Propose(std::vector<MediaTypeRecord> types) {
    script.proposed = std::move(types);
    script.proposesNothing = false;
    IncrementTypeListVersion();
  }
  using CBasePin::IncrementTypeListVersion;
};

// The output side: on ConcludeConnection it asks the receiver for its
// allocator and hands it back with NotifyAllocator, keeping one reference;
// UndoConnection lets it go.
class TestOutputPin : public CBasePin, public PinHooks {
 public:
  TestOutputPin(CBaseFilter *owningFilter, CriticalLock *lock, CallLog *callLog, LPCWSTR pinName)
      : CBasePin(L"test output pin", owningFilter, lock, nullptr, pinName, PINDIR_OUTPUT),
        PinHooks(callLog, pinName) {}
  ~TestOutputPin() override {
    if (allocator != nullptr) allocator->Release();
  }

  HRESULT TestMediaType(const AM_MEDIA_TYPE *type) override { return Test(type); }
  HRESULT ProposedMediaType(int position, MediaTypeRecord *type) override {
    return ProposeAt(position, type, CBasePin::ProposedMediaType(position, type));
  }
  HRESULT ActivatePin() override {
    Note(L"ActivatePin");
    return script.activateResult;
  }
  HRESULT DeactivatePin() override {
    Note(L"DeactivatePin");
    return script.deactivateResult;
  }
  HRESULT StartPinRun(REFERENCE_TIME start) override {
    Note(L"StartPinRun");
    script.lastStart = start;
    return script.startResult;
  }
  HRESULT ConcludeConnection(IPin *peer) override {
    Note(L"ConcludeConnection");
    if (FAILED(script.concludeResult)) return script.concludeResult;
    HRESULT hr = negotiateAllocator ? DecideAllocator(peer) : S_OK;
    return FAILED(hr) ? hr : script.concludeResult;
  }
  HRESULT UndoConnection() override {
    Note(L"UndoConnection");
    if (FAILED(script.undoResult)) return script.undoResult;
    if (allocator != nullptr) allocator->Release();
    allocator = nullptr;
    return S_OK;
  }

  void Propose(std::vector<MediaTypeRecord> types) {
    script.proposed = std::move(types);
    script.proposesNothing = false;
    IncrementTypeListVersion();
  }
  IMemAllocator *Allocator() const { return allocator; }
  // False: ConcludeConnection agrees no allocator (for receivers that have none).
  bool negotiateAllocator = true;

 private:
  HRESULT DecideAllocator(IPin *peer) {
    IMemInputPin *input = nullptr;
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input));
    if (FAILED(hr)) return hr;
    IMemAllocator *offered = nullptr;
    hr = input->GetAllocator(&offered);
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(offered, FALSE);
    input->Release();
    if (FAILED(hr)) {
      if (offered != nullptr) offered->Release();
      return hr;
    }
    allocator = offered;  // keeps GetAllocator's reference
    return S_OK;
  }

  IMemAllocator *allocator = nullptr;
};

// A filter whose pins the test adds. Pins are destroyed with the filter; a
// null slot stands for a pin that could not be created.
class TestFilter : public CBaseFilter {
 public:
  explicit TestFilter(int *destroyedCount = nullptr, IUnknown *outer = nullptr)
      : CBaseFilter(L"test filter", outer, &interfaceLock, CLSID_TestFilter),
        destroyed(destroyedCount) {}
  ~TestFilter() override {
    pins.clear();
    if (destroyed != nullptr) ++*destroyed;
  }

  int PinCount() override { return static_cast<int>(pins.size()); }
  CBasePin *PinAt(int index) override {
    if (index < 0 || index >= PinCount()) return nullptr;
    return pins[static_cast<size_t>(index)].get();
  }
  const FilterRegistrationRecord *RegistrationData() override { return registration; }

  TestInputPin *AddInputPin(LPCWSTR pinName) {
    auto *pin = new TestInputPin(this, &interfaceLock, &log, pinName);
    pins.emplace_back(pin);
    IncrementPinListVersion();
    return pin;
  }
  TestOutputPin *AddOutputPin(LPCWSTR pinName) {
    auto *pin = new TestOutputPin(this, &interfaceLock, &log, pinName);
    pins.emplace_back(pin);
    IncrementPinListVersion();
    return pin;
  }
  void AddMissingPin() {
    pins.emplace_back(nullptr);
    IncrementPinListVersion();
  }
  void ChangePinList() { IncrementPinListVersion(); }
  // Moves the filter's state without telling any pin.
  void ForceState(FILTER_STATE newState) { SetState(newState); }

  IBaseFilter *Interface() { return static_cast<IBaseFilter *>(this); }
  // The count, read by an AddRef/Release pair: only while the test itself
  // holds a reference (from 0 the Release would destroy the filter).
  ULONG RefCount() {
    Interface()->AddRef();
    return Interface()->Release();
  }

  CallLog log;
  const FilterRegistrationRecord *registration = nullptr;
  CriticalLock interfaceLock;

 private:
  int *const destroyed;
  std::vector<std::unique_ptr<CBasePin>> pins;
};

}  // namespace fbtest
