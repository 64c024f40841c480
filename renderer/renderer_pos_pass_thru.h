// CRendererPosPassThru: the renderer's answer to IMediaSeeking and
// IMediaPosition. Every call goes upstream (CPosPassThru) except the current
// position, which comes from the time stamps of the sample the renderer last
// admitted, or from the upstream stop position once the end of the stream has
// been delivered.
//
// States of the remembered times:
//
//   reset --RecordSampleTimes--> tracking --SnapToStopPosition--> at end
//     ^                              |                               |
//     +------ForgetSampleTimes-------+-------ForgetSampleTimes-------+
//
//   reset:    current position answered upstream (construction, end of a
//             flush, renderer inactive)
//   tracking: the start of the last admitted sample
//   at end:   the upstream stop position
//
// Lock: the position lock is innermost. It is taken after the renderer's
// interface and renderer locks, and nothing else is taken while it is held
// except what ConvertTimeFormat takes upstream.
#pragma once

#include "filterbase/critical_lock.h"
#include "filterbase/pos_pass_thru.h"
#include "platform/media/media.h"

class CRendererPosPassThru : public CPosPassThru {
 public:
  // rendererPin: the renderer's input pin; null makes the base report E_POINTER
  // through `result`.
  CRendererPosPassThru(LPCWSTR label, IUnknown *outer, HRESULT *result, IPin *rendererPin);
  ~CRendererPosPassThru() override;

  // The times of the sample about to be held. A sample without time stamps
  // returns GetTime's failure and leaves the state as it was.
  // Streaming thread, inside the renderer's locks.
  HRESULT RecordSampleTimes(IMediaSample *sample);
  // Back to reset. Application or streaming thread.
  HRESULT ForgetSampleTimes();
  // At end: both times become the upstream stop position. E_FAIL while reset.
  // Streaming or timer thread, inside the renderer lock; asks upstream before
  // taking the position lock.
  HRESULT SnapToStopPosition();

  // The remembered times in the current time format; E_FAIL while reset.
  // Any thread (usually the application thread's GetCurrentPosition).
  HRESULT CurrentMediaTimes(LONGLONG *start, LONGLONG *stop) override;

 private:
  CriticalLock positionLock;
  // --- with the position lock
  LONGLONG sampleStart;  // stream time, 100 ns
  LONGLONG sampleStop;
  BOOL resetFlag;  // no time known; read without the lock by SnapToStopPosition
};
