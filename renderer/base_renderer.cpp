#include "renderer/base_renderer.h"

#include <new>

#include "filterbase/message_pump_wait.h"
#include "platform/win32/windows.h"
#include "renderer/renderer_input_pin.h"
#include "renderer/renderer_pos_pass_thru.h"

CBaseRenderer::CBaseRenderer(REFCLSID filterClassId, LPCWSTR objectName, IUnknown *outer,
                             HRESULT *)
    : CBaseFilter(objectName, outer, &interfaceLock, filterClassId),
      positionPassThru(nullptr),
      renderEvent(FALSE),
      threadSignal(TRUE),
      stateComplete(TRUE),
      receiveLeft(FALSE),
      releaseSignal(TRUE),
      abortFlag(FALSE),
      streaming(FALSE),
      adviseCookie(0),
      heldSample(nullptr),
      endOfStream(FALSE),
      completionDelivered(FALSE),
      inputPin(nullptr),
      qualitySink(nullptr),
      repaintAllowed(TRUE),
      inReceive(FALSE),
      releases(0),
      admittedAfter(0),
      signalTime(0),
      endOfStreamTimer(0) {
  // A new renderer's (stopped) state is complete.
  stateComplete.Set();
}

CBaseRenderer::~CBaseRenderer() {
  // A timer or an advise left behind would signal into a destroyed object.
  StopTimedCallbacks();
  EndStreamingRun();
  ReleaseHeldSample();
  if (qualitySink != nullptr) {
    qualitySink->Release();
    qualitySink = nullptr;
  }
  delete PositionPassThru();
  __atomic_store_n(&positionPassThru, nullptr, __ATOMIC_RELEASE);
  delete __atomic_load_n(&inputPin, __ATOMIC_ACQUIRE);
  __atomic_store_n(&inputPin, nullptr, __ATOMIC_RELEASE);
}

STDMETHODIMP CBaseRenderer::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IMediaPosition || iid == IID_IMediaSeeking) {
    return ProvidePositionInterface(iid, out);
  }
  return CBaseFilter::InnerQueryInterface(iid, out);
}

HRESULT CBaseRenderer::ProvidePositionInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ScopedLock creating(&objectCreationLock);
  CRendererPosPassThru *existing = PositionPassThru();
  if (existing != nullptr) return existing->InnerQueryInterface(iid, out);

  HRESULT hr = S_OK;
  auto *created =
      new (std::nothrow) CRendererPosPassThru(nullptr, GetOwner(), &hr, InputPinInterface());
  if (created == nullptr) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete created;
    return E_NOINTERFACE;
  }
  __atomic_store_n(&positionPassThru, created, __ATOMIC_RELEASE);
  return created->InnerQueryInterface(iid, out);
}

int CBaseRenderer::PinCount() { return 1; }

CBasePin *CBaseRenderer::PinAt(int index) {
  if (index != 0) return nullptr;
  ScopedLock creating(&objectCreationLock);
  CRendererInputPin *pin = __atomic_load_n(&inputPin, __ATOMIC_ACQUIRE);
  if (pin != nullptr) return pin;
  HRESULT hr = S_OK;
  pin = new (std::nothrow) CRendererInputPin(this, &hr, L"In");
  if (pin == nullptr) return nullptr;
  if (FAILED(hr)) {
    delete pin;
    return nullptr;
  }
  __atomic_store_n(&inputPin, pin, __ATOMIC_RELEASE);
  return pin;
}

IPin *CBaseRenderer::InputPinInterface() {
  CBasePin *pin = PinAt(0);
  return pin != nullptr ? static_cast<IPin *>(pin) : nullptr;
}

void CBaseRenderer::StopTimedCallbacks() {
  KillEndOfStreamTimer();
  CancelClockAdvise();
}

bool CBaseRenderer::InputConnected() {
  CRendererInputPin *pin = __atomic_load_n(&inputPin, __ATOMIC_ACQUIRE);
  return pin != nullptr && pin->IsConnected();
}

// --- IMediaFilter ---------------------------------------------------------

STDMETHODIMP CBaseRenderer::GetState(DWORD milliseconds, FILTER_STATE *out) {
  if (out == nullptr) return E_POINTER;
  const DWORD waited =
      WaitWithMessagePump(stateComplete.Handle(), milliseconds, nullptr, 0, nullptr);
  *out = StateNoLock();
  return waited == WAIT_TIMEOUT ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

STDMETHODIMP CBaseRenderer::Stop() {
  ScopedLock hold(&interfaceLock);
  if (state == State_Stopped) return S_OK;
  if (!InputConnected()) {
    SetState(State_Stopped);
    return S_OK;
  }
  MarkReleased();
  // Deactivates the pin, which drops the held sample.
  CBaseFilter::Stop();
  IMemAllocator *allocator = inputPin->Allocator();
  if (allocator != nullptr) allocator->Decommit();

  SetRepaintAllowed(TRUE);
  EndStreamingRun();
  AllowSourceToWait(FALSE);  // releases a streaming thread waiting for its time
  ClearEndOfStreamState();
  CancelClockAdvise();
  stateComplete.Set();
  abortFlag = FALSE;
  return S_OK;
}

STDMETHODIMP CBaseRenderer::Pause() {
  ScopedLock hold(&interfaceLock);
  const FILTER_STATE oldState = state;
  if (oldState == State_Paused) return SettleStateChange(State_Paused);
  if (!InputConnected()) {
    SetState(State_Paused);
    return SettleStateChange(State_Paused);
  }
  const HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr)) return hr;

  SetRepaintAllowed(TRUE);
  EndStreamingRun();
  AllowSourceToWait(TRUE);
  CancelClockAdvise();
  KillEndOfStreamTimer();
  IMemAllocator *allocator = inputPin->Allocator();
  if (allocator != nullptr) allocator->Commit();
  if (oldState == State_Stopped) {
    // A sample kept from before the stop is not shown again.
    abortFlag = FALSE;
    ReleaseHeldSample();
  }
  return SettleStateChange(oldState);
}

STDMETHODIMP CBaseRenderer::Run(REFERENCE_TIME start) {
  ScopedLock hold(&interfaceLock);
  const FILTER_STATE oldState = state;
  if (oldState == State_Running) return S_OK;
  if (!InputConnected()) {
    RaiseGraphEvent(EC_COMPLETE, S_OK,
                    reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
    SetState(State_Running);
    return S_OK;
  }
  stateComplete.Set();
  // From Stopped this runs Pause first, which resets stateComplete without data.
  const HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;

  AllowSourceToWait(TRUE);
  SetRepaintAllowed(FALSE);
  IMemAllocator *allocator = inputPin->Allocator();
  if (allocator != nullptr) allocator->Commit();
  if (oldState == State_Stopped) {
    abortFlag = FALSE;
    ReleaseHeldSample();
  }
  return BeginStreamingRun();
}

HRESULT CBaseRenderer::SettleStateChange(FILTER_STATE oldState) {
  if (!InputConnected()) {
    stateComplete.Set();
    return S_OK;
  }
  ScopedLock hold(&rendererLock);
  if (endOfStream || (heldSample != nullptr && oldState != State_Stopped)) {
    stateComplete.Set();
    return S_OK;
  }
  stateComplete.Reset();
  return S_FALSE;
}

STDMETHODIMP CBaseRenderer::FindPin(LPCWSTR id, IPin **out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (id == nullptr || lstrcmpW(id, L"In") != 0) return VFW_E_NOT_FOUND;
  IPin *pin = InputPinInterface();
  if (pin == nullptr) return E_OUTOFMEMORY;
  pin->AddRef();
  *out = pin;
  return S_OK;
}

// --- Streaming state --------------------------------------------------------

HRESULT CBaseRenderer::BeginStreamingRun() {
  ScopedLock hold(&rendererLock);
  if (streaming) return S_OK;
  streaming = TRUE;
  timeBeginPeriod(1);
  NoteStreamingBegin();
  // A completion held back while paused is sent now.
  if (heldSample == nullptr) return DeliverCompletion();
  // A held sample that cannot be scheduled is drawn at once.
  if (!PlanSample(heldSample)) renderEvent.Set();
  return S_OK;
}

HRESULT CBaseRenderer::EndStreamingRun() {
  ScopedLock hold(&rendererLock);
  completionDelivered = FALSE;
  if (streaming) {
    streaming = FALSE;
    NoteStreamingFinish();
    timeEndPeriod(1);
  }
  return S_OK;
}

HRESULT CBaseRenderer::AllowSourceToWait(BOOL allow) {
  if (allow == TRUE) {
    threadSignal.Reset();
  } else {
    threadSignal.Set();
  }
  return S_OK;
}

void CBaseRenderer::SetRepaintAllowed(BOOL allowed) {
  ScopedLock hold(&rendererLock);
  repaintAllowed = allowed;
}

HRESULT CBaseRenderer::BecomeActive() { return S_OK; }

HRESULT CBaseRenderer::BecomeInactive() {
  CRendererPosPassThru *position = PositionPassThru();
  if (position != nullptr) position->ForgetSampleTimes();
  ReleaseHeldSample();
  return S_OK;
}

// --- The held sample --------------------------------------------------------

BOOL CBaseRenderer::HasHeldSample() {
  ScopedLock hold(&rendererLock);
  return heldSample != nullptr;
}

IMediaSample *CBaseRenderer::AcquireHeldSample() {
  ScopedLock hold(&rendererLock);
  if (heldSample != nullptr) heldSample->AddRef();
  return heldSample;
}

HRESULT CBaseRenderer::ReleaseHeldSample() {
  ScopedLock hold(&rendererLock);
  if (heldSample != nullptr) {
    heldSample->Release();
    heldSample = nullptr;
  }
  return S_OK;
}

// --- Receiving ----------------------------------------------------------------

HRESULT CBaseRenderer::AdmitSample(IMediaSample *sample) {
  ScopedLock hold(&interfaceLock);
  SetInReceive(TRUE);
  CRendererInputPin *pin = __atomic_load_n(&inputPin, __ATOMIC_ACQUIRE);
  // Stopped, flushing (S_FALSE) or after a run-time error.
  if (pin == nullptr || pin->CheckAndReadSample(sample) != S_OK) {
    SetInReceive(FALSE);
    return E_FAIL;
  }
  const AM_SAMPLE2_PROPERTIES &props = pin->SampleProps();
  if (props.pMediaType != nullptr) {
    // The format changed with this sample.
    const HRESULT hr = pin->AdoptMediaType(props.pMediaType);
    if (FAILED(hr)) {
      SetInReceive(FALSE);
      return hr;
    }
  }

  ScopedLock holdRenderer(&rendererLock);
  if (heldSample != nullptr || endOfStream || abortFlag) {
    stateComplete.Set();
    SetInReceive(FALSE);
    return E_UNEXPECTED;
  }
  CRendererPosPassThru *position = PositionPassThru();
  if (position != nullptr) position->RecordSampleTimes(sample);
  if (streaming && !PlanSample(sample)) {
    SetInReceive(FALSE);
    return VFW_E_SAMPLE_REJECTED;
  }
  // A sample without a stop time completes the stream at the run start.
  signalTime = (props.dwSampleFlags & AM_SAMPLE_STOPVALID) != 0 ? props.tStop : 0;
  heldSample = sample;
  heldSample->AddRef();
  admittedAfter = __atomic_load_n(&releases, __ATOMIC_ACQUIRE);
  releaseSignal.Reset();
  if (!streaming) SetRepaintAllowed(TRUE);
  // inReceive stays TRUE until the thread is about to take interfaceLock again.
  return S_OK;
}

HRESULT CBaseRenderer::ProcessSample(IMediaSample *sample) {
  const HRESULT admitted = AdmitSample(sample);
  if (admitted == VFW_E_SAMPLE_REJECTED) return S_OK;  // dropped without complaint
  if (FAILED(admitted)) return admitted;

  if (StateNoLock() == State_Paused) {
    PrepareToDraw();
    SetInReceive(FALSE);
    {
      ScopedLock hold(&interfaceLock);
      // Released meanwhile, maybe paused again since: not this sample's pause.
      if (state == State_Stopped || ReleasedSinceAdmission()) return S_OK;
      SetInReceive(TRUE);
      ScopedLock holdRenderer(&rendererLock);
      OnPrerollSample(sample);
    }
    // The transition to paused is complete.
    stateComplete.Set();
  }

  if (FAILED(AwaitRenderingTime())) {
    // A stop or flush released the thread; it dropped the sample too.
    SetInReceive(FALSE);
    return S_OK;
  }
  PrepareToDraw();
  SetInReceive(FALSE);

  ScopedLock hold(&interfaceLock);
  if (state == State_Stopped || ReleasedSinceAdmission()) return S_OK;
  ScopedLock holdRenderer(&rendererLock);
  PresentSample(heldSample);
  ReleaseHeldSample();
  DeliverCompletion();
  CancelClockAdvise();
  return S_OK;
}

HRESULT CBaseRenderer::PresentSample(IMediaSample *sample) {
  if (sample == nullptr || !streaming) return S_FALSE;
  NoteRenderBegin(sample);
  DrawSample(sample);  // a frame the derived class cannot draw is skipped
  NoteRenderFinish(sample);
  return S_OK;
}

void CBaseRenderer::AwaitReceiveExit() {
  while (__atomic_load_n(&inReceive, __ATOMIC_ACQUIRE)) {
    // Lets messages sent to this thread through while it spins.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    // A 1 ms sleep that ends when the thread leaves: the thread released
    // just before is usually out within tens of microseconds, and a whole
    // sleep (then a wait for a CPU the decoders hold) was most of a stop.
    if (__atomic_load_n(&inReceive, __ATOMIC_ACQUIRE)) receiveLeft.Wait(1);
  }
  // The peeks may have hidden a posted message from the thread's own loop.
  if ((HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0) {
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
  }
}

// --- End of stream and flushing ---------------------------------------------

HRESULT CBaseRenderer::MarkEndOfStream() {
  ScopedLock hold(&rendererLock);
  if (state == State_Stopped) return S_OK;
  endOfStream = TRUE;
  // With a sample held, completion follows once it has been drawn.
  if (heldSample != nullptr) return S_OK;
  stateComplete.Set();  // a pause waiting for data is complete
  if (streaming) DeliverCompletion();
  return S_OK;
}

HRESULT CBaseRenderer::ClearEndOfStreamState() {
  KillEndOfStreamTimer();
  ScopedLock hold(&rendererLock);
  endOfStream = FALSE;
  completionDelivered = FALSE;
  signalTime = 0;
  return S_OK;
}

HRESULT CBaseRenderer::SignalCompletion() {
  ScopedLock hold(&rendererLock);
  if (!streaming) return S_OK;
  // A timer still pending here (the pin's error report completes early) keeps
  // its id: forgotten, no stop or destructor could kill it, and it would fire
  // into a released renderer. Left armed it fires harmlessly, the completion
  // being delivered. The timer's own path has cleared the id already.
  CRendererPosPassThru *position = PositionPassThru();
  if (position != nullptr) position->SnapToStopPosition();
  completionDelivered = TRUE;
  return RaiseGraphEvent(EC_COMPLETE, S_OK,
                         reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
}

HRESULT CBaseRenderer::EnterFlush() {
  MarkReleased();
  // A pause becomes intermediate until new data arrives.
  if (state == State_Paused) stateComplete.Reset();
  AllowSourceToWait(FALSE);
  CancelClockAdvise();
  ReleaseHeldSample();
  return S_OK;
}

HRESULT CBaseRenderer::LeaveFlush() {
  CRendererPosPassThru *position = PositionPassThru();
  if (position != nullptr) position->ForgetSampleTimes();
  AllowSourceToWait(TRUE);
  return S_OK;
}

// --- Connection -------------------------------------------------------------

HRESULT CBaseRenderer::ReleaseConnection() {
  if (qualitySink != nullptr) {
    qualitySink->Release();
    qualitySink = nullptr;
  }
  if (!InputConnected()) return S_FALSE;
  if (state != State_Stopped && !inputPin->CanReconnectWhenActive()) return VFW_E_NOT_STOPPED;
  // A thread the stop released may still be on its way out.
  AwaitReceiveExit();
  SetRepaintAllowed(FALSE);
  ClearEndOfStreamState();
  ReleaseHeldSample();
  abortFlag = FALSE;
  if (state == State_Running) EndStreamingRun();
  return S_OK;
}

HRESULT CBaseRenderer::ApplyMediaType(const AM_MEDIA_TYPE *) { return S_OK; }

HRESULT CBaseRenderer::FinishConnection(IPin *) {
  abortFlag = FALSE;
  if (state == State_Running) {
    const HRESULT hr = BeginStreamingRun();
    if (FAILED(hr)) return hr;
    SetRepaintAllowed(FALSE);
  } else {
    SetRepaintAllowed(TRUE);
  }
  return S_OK;
}

// --- Hooks with nothing to do here --------------------------------------------

void CBaseRenderer::OnPrerollSample(IMediaSample *) {}
void CBaseRenderer::NoteRenderBegin(IMediaSample *) {}
void CBaseRenderer::NoteRenderFinish(IMediaSample *) {}
HRESULT CBaseRenderer::NoteStreamingBegin() { return S_OK; }
HRESULT CBaseRenderer::NoteStreamingFinish() { return S_OK; }
void CBaseRenderer::NoteWaitBegin() {}
void CBaseRenderer::NoteWaitFinish() {}
void CBaseRenderer::PrepareToDraw() {}
