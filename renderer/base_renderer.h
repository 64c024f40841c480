// CBaseRenderer: a filter with one input pin and no output that holds at most
// one media sample, waits on the streaming thread until the sample's time on
// the graph clock, hands it to the derived class to be drawn and reports the
// end of the stream to the graph.
//
// Threads:
//   application thread  Stop, Pause, Run, GetState, FindPin, connection,
//                       interface queries
//   streaming thread    ProcessSample, MarkEndOfStream, EnterFlush/LeaveFlush
//                       (through CRendererInputPin)
//   clock thread        signals renderEvent when an advise fires (no lock)
//   timer thread        OnEndOfStreamTimer (renderer lock only)
//
// Lock order: interfaceLock -> rendererLock -> the position pass-through's
// lock, never the reverse. objectCreationLock is taken alone (with or without
// interfaceLock held outside it). The streaming thread holds no lock while it
// waits for a sample's time (AwaitRenderingTime) and draws with interfaceLock
// and rendererLock held. KillEndOfStreamTimer waits for a running timer
// callback, which takes rendererLock: never call it with rendererLock held.
//
// Filter states as the renderer reports them (GetState):
//
//            Pause                          Run
//   Stopped -------> Paused (intermediate) -----> Running (streaming)
//      ^               |  first sample or           |
//      |               |  end of stream             |
//      |               v                            |
//      |             Paused (complete) --Run------->+
//      |               |                            |
//      +------Stop-----+----------Stop--------------+
//
// "intermediate" = stateComplete reset, GetState answers
// VFW_S_STATE_INTERMEDIATE; Pause from Running is complete only with a held
// sample or end of stream. An unconnected renderer changes state at once and
// Run raises EC_COMPLETE.
//
// Contract for derived renderers:
//  - Supply DrawSample (streaming thread, interfaceLock and rendererLock held;
//    its result is ignored) and ValidateMediaType (application thread during
//    connection, pin lock = interfaceLock held; or streaming thread for a type
//    carried by a sample).
//  - ApplyMediaType runs after the pin stored an agreed type.
//  - Per drawn sample, in order, on the streaming thread:
//      AdmitSample (both locks): PlanSample -> ResolveSampleTimes ->
//        DecideDrawTiming (only with a clock)
//      [paused: OnPrerollSample (both locks)]
//      AwaitRenderingTime (no lock): NoteWaitBegin, NoteWaitFinish
//      PrepareToDraw (no lock)
//      PresentSample (both locks): NoteRenderBegin, DrawSample, NoteRenderFinish
//  - NoteStreamingBegin / NoteStreamingFinish run under rendererLock (and
//    interfaceLock) when the filter starts and stops streaming.
//  - A derived destructor starts with StopTimedCallbacks.
#pragma once

#include "filterbase/base_filter.h"
#include "filterbase/critical_lock.h"
#include "filterbase/sync_event.h"
#include "platform/media/media.h"

class CRendererInputPin;
class CRendererPosPassThru;

class CBaseRenderer : public CBaseFilter {
 public:
  // name: diagnostic, not kept. result: not written.
  CBaseRenderer(REFCLSID filterClassId, LPCWSTR objectName, IUnknown *outer, HRESULT *result);
  ~CBaseRenderer() override;

  // IMediaPosition and IMediaSeeking come from the position pass-through.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  int PinCount() override;
  // Pin 0, created on first request ("In"); null for any other index or when
  // the pin cannot be created. No reference added. objectCreationLock.
  CBasePin *PinAt(int index) override;

  // --- IMediaFilter / IBaseFilter (interfaceLock, except GetState)
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  // Waits (pumping messages, no lock) for the last transition to complete.
  STDMETHODIMP GetState(DWORD milliseconds, FILTER_STATE *state) override;
  // Only "In" (case-sensitive). E_OUTOFMEMORY with a null pin when the pin
  // cannot be created.
  STDMETHODIMP FindPin(LPCWSTR id, IPin **pin) override;

  // --- Own virtual operations, in table order.

  // Creates the position pass-through on first use. objectCreationLock.
  virtual HRESULT ProvidePositionInterface(REFIID iid, void **out);
  // TRUE lets the streaming thread wait for a sample's time; anything else
  // releases a waiting thread and keeps later waits from blocking.
  virtual HRESULT AllowSourceToWait(BOOL allow);
  // Streaming thread, no lock: S_OK when the sample is due,
  // VFW_E_STATE_CHANGED when a stop or flush released the thread.
  virtual HRESULT AwaitRenderingTime();
  // Whether a pause is complete; sets or resets stateComplete.
  virtual HRESULT SettleStateChange(FILTER_STATE oldState);
  virtual void OnPrerollSample(IMediaSample *sample);
  virtual void NoteRenderBegin(IMediaSample *sample);
  virtual void NoteRenderFinish(IMediaSample *sample);
  virtual HRESULT NoteStreamingBegin();
  virtual HRESULT NoteStreamingFinish();
  virtual void NoteWaitBegin();
  virtual void NoteWaitFinish();
  virtual void PrepareToDraw();
  // Schedules a sample: TRUE = it will be drawn (render event set now or on
  // the advise), FALSE = it cannot be scheduled. rendererLock.
  virtual BOOL PlanSample(IMediaSample *sample);
  // S_OK draw at once, S_FALSE draw at *start, failure do not schedule.
  virtual HRESULT ResolveSampleTimes(IMediaSample *sample, REFERENCE_TIME *start,
                                     REFERENCE_TIME *stop);
  // Only with a clock; may move *start and *stop. Base: S_FALSE.
  virtual HRESULT DecideDrawTiming(IMediaSample *sample, REFERENCE_TIME *start,
                                   REFERENCE_TIME *stop);
  // Raises EC_COMPLETE now or arms the end-of-stream timer. rendererLock.
  virtual HRESULT DeliverCompletion();
  // Kills the timer (outside rendererLock), then clears the end-of-stream state.
  virtual HRESULT ClearEndOfStreamState();
  // End of stream from the pin (both locks).
  virtual HRESULT MarkEndOfStream();
  // S_OK when an advise was cancelled, S_FALSE when there was none.
  virtual HRESULT CancelClockAdvise();
  virtual HRESULT ReleaseHeldSample();
  // The pin calls these when the filter leaves / enters State_Stopped.
  virtual HRESULT BecomeActive();
  virtual HRESULT BecomeInactive();
  // rendererLock.
  virtual HRESULT BeginStreamingRun();
  virtual HRESULT EndStreamingRun();
  // IPin::BeginFlush / EndFlush (both locks).
  virtual HRESULT EnterFlush();
  virtual HRESULT LeaveFlush();
  // The pin disconnects (interfaceLock).
  virtual HRESULT ReleaseConnection();
  // After the pin stored an agreed type. Base: S_OK.
  virtual HRESULT ApplyMediaType(const AM_MEDIA_TYPE *type);
  // The connection completed (interfaceLock held by the connecting caller).
  virtual HRESULT FinishConnection(IPin *peer);
  // First half of receiving; interfaceLock for its whole length.
  virtual HRESULT AdmitSample(IMediaSample *sample);
  // One sample from IMemInputPin::Receive; streaming thread, no lock on entry.
  virtual HRESULT ProcessSample(IMediaSample *sample);
  virtual BOOL HasHeldSample();
  // The held sample with a new reference, or null.
  virtual IMediaSample *AcquireHeldSample();
  // Draws with the hooks; S_FALSE (nothing drawn) for a null sample or while
  // not streaming. Both locks.
  virtual HRESULT PresentSample(IMediaSample *sample);
  virtual HRESULT DrawSample(IMediaSample *sample) = 0;
  virtual HRESULT ValidateMediaType(const AM_MEDIA_TYPE *type) = 0;

  // --- Not virtual.

  // Spins (1 ms sleeps) until the streaming thread has left the stretch
  // between admission and retaking interfaceLock. Stop and EnterFlush do not:
  // with the decoders busy on every core, the thread they released may get a
  // CPU only milliseconds later, and the caller (the game) another few after
  // its sleep. The thread finds itself released when it runs (see below) and
  // leaves without drawing. Before what it may touch goes, wait here.
  void AwaitReceiveExit();
  // Stop and EnterFlush (interfaceLock): the sample being received, if any,
  // is let go.
  void MarkReleased() {
    __atomic_add_fetch(&releases, 1, __ATOMIC_ACQ_REL);
    releaseSignal.Set();
  }
  // A stop or flush came after the sample being received was admitted.
  // Streaming thread.
  bool ReleasedSinceAdmission() const {
    return __atomic_load_n(&releases, __ATOMIC_ACQUIRE) != admittedAfter;
  }
  void SetRepaintAllowed(BOOL allowed);
  // Raises EC_COMPLETE when streaming. rendererLock.
  HRESULT SignalCompletion();
  // No lock; must not be called with rendererLock held (see above).
  void KillEndOfStreamTimer();
  // Timer thread: takes rendererLock.
  void OnEndOfStreamTimer();
  static void CALLBACK EndOfStreamTimerProc(UINT timerId, UINT msg, DWORD_PTR user,
                                            DWORD_PTR reserved1, DWORD_PTR reserved2);

  CriticalLock *InterfaceLock() { return &interfaceLock; }
  CriticalLock *RendererLock() { return &rendererLock; }
  // rendererLock (or interfaceLock for the abort flag).
  BOOL IsStreaming() const { return streaming; }
  BOOL IsAborting() const { return abortFlag; }
  BOOL CompletionDelivered() const { return completionDelivered; }
  BOOL EndOfStreamSeen() const { return endOfStream; }
  // The pending end-of-stream timer id, 0 for none. Any thread.
  UINT PendingEndOfStreamTimer() const {
    return __atomic_load_n(&endOfStreamTimer, __ATOMIC_ACQUIRE);
  }

 protected:
  // The input pin's IPin, or null when it cannot be created.
  IPin *InputPinInterface();
  // The pass-through once created, else null. Any thread.
  CRendererPosPassThru *PositionPassThru() const {
    return __atomic_load_n(&positionPassThru, __ATOMIC_ACQUIRE);
  }
  bool InputConnected();
  // Kills the end-of-stream timer and cancels the clock advise. The most
  // derived destructor calls it first: either could otherwise call into the
  // object after its derived parts are gone. ~CBaseRenderer repeats it.
  // No lock held on entry.
  void StopTimedCallbacks();
  void SetInReceive(BOOL value) {
    __atomic_store_n(&inReceive, value, __ATOMIC_RELEASE);
    if (!value) receiveLeft.Set();
  }

  // --- objectCreationLock to create; atomic reads from any thread
  CRendererPosPassThru *positionPassThru;  // owned; null until first asked for

  // --- kernel events (no lock)
  SyncEvent renderEvent;    // auto-reset: the held sample is due
  SyncEvent threadSignal;   // manual-reset: while set, waits end at once
  SyncEvent stateComplete;  // manual-reset: set = last transition complete
  SyncEvent receiveLeft;    // auto-reset: inReceive went FALSE; ends a spin's sleep early
  // manual-reset: a stop or flush came since the last admission; ends that
  // sample's wait, also once a pause or the flush's end reset threadSignal
  SyncEvent releaseSignal;

  // --- interfaceLock
  BOOL abortFlag;  // samples refused, errors not reported; nothing here sets it

  // --- rendererLock
  BOOL streaming;            // between BeginStreamingRun and EndStreamingRun
  DWORD_PTR adviseCookie;    // outstanding AdviseTime; 0 = none; atomic access
                             // (the streaming thread clears it without a lock)
  IMediaSample *heldSample;  // one reference; null = none
  BOOL endOfStream;          // the pin received end of stream
  BOOL completionDelivered;  // EC_COMPLETE raised for this stream

  // --- objectCreationLock
  CRendererInputPin *inputPin;  // owned; created on first request

  CriticalLock interfaceLock;  // the filter lock and the pin lock
  CriticalLock rendererLock;

  // --- interfaceLock (video renderer's quality messages)
  IQualityControl *qualitySink;  // one reference; released by ReleaseConnection

  // --- rendererLock
  BOOL repaintAllowed;  // kept for derived renderers; nothing here reads it

  // --- streaming thread writes, AwaitReceiveExit polls; atomic access
  BOOL volatile inReceive;
  // --- bumped by Stop and EnterFlush under interfaceLock (with releaseSignal); atomic access
  LONG releases;
  // --- streaming thread: `releases` when the sample being received was admitted
  LONG admittedAfter;

  // --- rendererLock
  REFERENCE_TIME signalTime;  // stop time of the last admitted sample

  // --- atomic access: armed under rendererLock, cleared by the kill without it
  UINT endOfStreamTimer;  // pending one-shot timer; 0 = none

  CriticalLock objectCreationLock;
};
