// The renderer's timing against the graph clock: when a held sample is drawn,
// and when the end of the stream is reported.
//
// A sample's start time (stream time) is due at reference time = run start +
// start. PlanSample asks the clock to signal renderEvent then; the streaming
// thread waits for it in AwaitRenderingTime with no lock held. EC_COMPLETE is
// due at run start + the stop time of the last sample; 50 ms or more ahead, a
// one-shot multimedia timer delivers it from the timer thread.
//
// Per held sample:
//   admitted -> scheduled (advise out, or renderEvent set) -> due (event
//   consumed, cookie 0) -> drawn -> released -> DeliverCompletion ->
//   CancelClockAdvise
// End-of-stream timer:
//   none -> pending (DeliverCompletion) -> fired (OnEndOfStreamTimer clears
//   the id) or killed (KillEndOfStreamTimer clears the id)
#include "renderer/base_renderer.h"

#include <cstdint>

#include "platform/win32/windows.h"
#include "renderer/saturating_time.h"

namespace {

// Below this the completion is raised at once rather than by a timer.
constexpr LONG kMinimumTimerDelayMs = 50;
constexpr UINT kTimerResolutionMs = 10;
// The longest delay the multimedia timer takes; a later completion re-arms
// from the callback until it is due.
constexpr LONGLONG kMaximumTimerDelayMs = 1000000;
// Bounds a single wait; a stop or flush ends the wait long before.
constexpr DWORD kWaitSliceMs = 10000;

}  // namespace

HRESULT CBaseRenderer::ResolveSampleTimes(IMediaSample *sample, REFERENCE_TIME *start,
                                          REFERENCE_TIME *stop) {
  if (sample == nullptr || start == nullptr || stop == nullptr) return E_POINTER;
  // Without time stamps the sample is drawn as soon as the filter streams.
  if (FAILED(sample->GetTime(start, stop))) return S_OK;
  if (*stop < *start) return VFW_E_START_TIME_AFTER_END;
  // Without a clock every sample is drawn as fast as it arrives.
  if (ClockNoLock() == nullptr) return S_OK;
  return DecideDrawTiming(sample, start, stop);
}

HRESULT CBaseRenderer::DecideDrawTiming(IMediaSample *, REFERENCE_TIME *, REFERENCE_TIME *) {
  return S_FALSE;
}

BOOL CBaseRenderer::PlanSample(IMediaSample *sample) {
  if (sample == nullptr) return FALSE;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  const HRESULT hr = ResolveSampleTimes(sample, &start, &stop);
  if (FAILED(hr)) return FALSE;
  IReferenceClock *graphClock = ClockNoLock();
  if (hr == S_OK || graphClock == nullptr) {
    renderEvent.Set();
    return TRUE;
  }
  DWORD_PTR cookie = 0;
  if (FAILED(graphClock->AdviseTime(StartTime(), start,
                               reinterpret_cast<HEVENT>(renderEvent.Handle()), &cookie))) {
    return FALSE;
  }
  // The advise may already have fired and the streaming thread cleared the
  // cookie: a stale cookie only makes a later Unadvise find nothing.
  __atomic_store_n(&adviseCookie, cookie, __ATOMIC_RELEASE);
  return TRUE;
}

HRESULT CBaseRenderer::AwaitRenderingTime() {
  NoteWaitBegin();
  const HANDLE handles[3] = {threadSignal.Handle(), releaseSignal.Handle(), renderEvent.Handle()};
  DWORD result;
  do {
    result = WaitForMultipleObjects(3, handles, FALSE, kWaitSliceMs);
  } while (result == WAIT_TIMEOUT);
  NoteWaitFinish();
  // Either signal wins over the render event.
  if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1) return VFW_E_STATE_CHANGED;
  __atomic_store_n(&adviseCookie, static_cast<DWORD_PTR>(0), __ATOMIC_RELEASE);
  return S_OK;
}

HRESULT CBaseRenderer::CancelClockAdvise() {
  ScopedLock hold(&rendererLock);
  const DWORD_PTR cookie =
      __atomic_exchange_n(&adviseCookie, static_cast<DWORD_PTR>(0), __ATOMIC_ACQ_REL);
  IReferenceClock *graphClock = ClockNoLock();
  if (cookie != 0 && graphClock != nullptr) graphClock->Unadvise(cookie);
  renderEvent.Reset();  // a pending signal is discarded
  return cookie != 0 ? S_OK : S_FALSE;
}

HRESULT CBaseRenderer::DeliverCompletion() {
  ScopedLock hold(&rendererLock);
  if (!endOfStream || completionDelivered || PendingEndOfStreamTimer() != 0) return S_OK;
  IReferenceClock *graphClock = ClockNoLock();
  if (graphClock == nullptr) return SignalCompletion();

  REFERENCE_TIME now = 0;
  if (FAILED(graphClock->GetTime(&now))) return SignalCompletion();
  const REFERENCE_TIME due = AddTimesSaturated(StartTime(), signalTime);
  // 100 ns to ms, truncated toward zero.
  LONGLONG delayMs = SubtractTimesSaturated(due, now) / 10000;
  if (delayMs > kMaximumTimerDelayMs) delayMs = kMaximumTimerDelayMs;
  if (delayMs < kMinimumTimerDelayMs) return SignalCompletion();

  // rendererLock is held, so the callback cannot run before the id is stored.
  const UINT id = timeSetEvent(static_cast<UINT>(delayMs), kTimerResolutionMs,
                               &CBaseRenderer::EndOfStreamTimerProc,
                               reinterpret_cast<DWORD_PTR>(this), TIME_ONESHOT);
  if (id == 0) return SignalCompletion();
  __atomic_store_n(&endOfStreamTimer, id, __ATOMIC_RELEASE);
  return S_OK;
}

void CALLBACK CBaseRenderer::EndOfStreamTimerProc(UINT, UINT, DWORD_PTR user, DWORD_PTR,
                                                  DWORD_PTR) {
  reinterpret_cast<CBaseRenderer *>(user)->OnEndOfStreamTimer();
}

void CBaseRenderer::OnEndOfStreamTimer() {
  ScopedLock hold(&rendererLock);
  // Zero means the timer was killed while this callback was on its way.
  if (__atomic_exchange_n(&endOfStreamTimer, 0u, __ATOMIC_ACQ_REL) == 0) return;
  // Raises EC_COMPLETE now, or arms a new timer if the clock fell behind.
  DeliverCompletion();
}

void CBaseRenderer::KillEndOfStreamTimer() {
  const UINT id = __atomic_exchange_n(&endOfStreamTimer, 0u, __ATOMIC_ACQ_REL);
  // Waits for a callback already running, which takes rendererLock.
  if (id != 0) timeKillEvent(id);
}
