// CRendererInputPin: the one input pin of every renderer. The base input pin
// (connection, allocator, sample checks) with a thin layer that hands every
// stream event to its CBaseRenderer: samples, end of stream, flushing,
// activation, media-type tests and connection changes.
//
// Its own policy: when the renderer fails a sample (outside a stop, a flush or
// an abort), the pin reports EC_ERRORABORT to the graph once, completes the
// stream (EC_COMPLETE when running) and sets the run-time error, so later
// samples are refused until the filter stops or a flush ends.
//
// Lifetime: none of its own. AddRef/Release reach the renderer; the renderer
// creates the pin on the first request for pin 0 and destroys it.
//
// Locks and threads (order: the renderer's interfaceLock, then rendererLock):
//   Receive          streaming thread; no lock around ProcessSample, the error
//                    path takes interfaceLock then rendererLock
//   EndOfStream,     streaming or another upstream thread; interfaceLock then
//   BeginFlush,      rendererLock. BeginFlush releases a streaming thread
//   EndFlush         blocked in the renderer before it waits for it to leave
//   connection hooks application thread, interfaceLock (the pin lock) held by
//                    the base pin's connection code
#pragma once

#include "filterbase/base_input_pin.h"
#include "platform/media/media.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
 public:
  // The pin lock is the renderer's interfaceLock. result: passed to the base.
  CRendererInputPin(CBaseRenderer *filterOwner, HRESULT *result, LPCWSTR pinName);
  ~CRendererInputPin() override;

  // --- Forwarded to the renderer.
  HRESULT ActivatePin() override;    // BecomeActive
  HRESULT DeactivatePin() override;  // clears the run-time error, BecomeInactive
  HRESULT TestMediaType(const AM_MEDIA_TYPE *type) override;   // ValidateMediaType
  HRESULT AdoptMediaType(const AM_MEDIA_TYPE *type) override;  // base, then ApplyMediaType
  HRESULT UndoConnection() override;  // ReleaseConnection, then base
  HRESULT ConcludeConnection(IPin *peer) override;  // FinishConnection, then base

  // --- IPin
  // A fresh task-memory copy of "In" on every call.
  STDMETHODIMP QueryId(LPWSTR *id) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // --- IMemInputPin
  STDMETHODIMP Receive(IMediaSample *sample) override;

  // The base Receive's checks and property filling, for the renderer's
  // AdmitSample. Streaming thread.
  HRESULT CheckAndReadSample(IMediaSample *sample) { return CBaseInputPin::Receive(sample); }

 private:
  CBaseRenderer *const renderer;  // not counted: the pin lives inside it
};
