// A stand-alone pin at the other end of a connection, not built on the
// framework: it only counts references and records what is asked of it.
// Its direction is chosen (an upstream output pin by default). With
// `memInput` it also offers IMemInputPin, answering ReceiveCanBlock with
// `canBlock`.
#pragma once

#include "tests/filterbase/fakes/counted_object.h"

namespace fbtest {

class FakePeerPin final : public CountedObject<IPin>, public IMemInputPin {
 public:
  explicit FakePeerPin(PIN_DIRECTION pinDirection = PINDIR_OUTPUT, bool memInput = false)
      : direction(pinDirection), hasMemInput(memInput) {}
  ~FakePeerPin() = default;

  HRESULT directionResult = S_OK;
  HRESULT receiveConnectionResult = S_OK;
  HRESULT canBlock = S_OK;
  int receiveConnections = 0;
  int disconnects = 0;

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin) {
      *out = static_cast<IPin *>(this);
    } else if (hasMemInput && iid == IID_IMemInputPin) {
      *out = static_cast<IMemInputPin *>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return CountedObject<IPin>::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return CountedObject<IPin>::Release(); }

  STDMETHODIMP Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override {
    ++receiveConnections;
    return receiveConnectionResult;
  }
  STDMETHODIMP Disconnect() override {
    ++disconnects;
    return S_OK;
  }
  STDMETHODIMP ConnectedTo(IPin **pin) override {
    *pin = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryDirection(PIN_DIRECTION *out) override {
    if (FAILED(directionResult)) return directionResult;
    *out = direction;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE *) override { return S_OK; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes **types) override {
    *types = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return S_OK; }
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  STDMETHODIMP GetAllocator(IMemAllocator **) override { return E_NOTIMPL; }
  STDMETHODIMP NotifyAllocator(IMemAllocator *, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample *) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveMultiple(IMediaSample **, LONG, LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveCanBlock() override { return canBlock; }

 private:
  const PIN_DIRECTION direction;
  const bool hasMemInput;
};

}  // namespace fbtest
