// FilterGraph: positions and seeking (IMediaSeeking, IMediaPosition), through the
// video renderer's position pass-through to the source, and the loop hint.

#include "mediagraph/graph/filter_graph.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mediagraph {

namespace {
constexpr double kUnitsPerSecond = 1e7;
constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

// Seconds to 100 ns units; false for values that have none.
bool ToReferenceTime(REFTIME seconds, LONGLONG *out) {
  const double units = std::round(seconds * kUnitsPerSecond);
  if (!std::isfinite(units) || units >= 9.2e18 || units <= -9.2e18) return false;
  *out = static_cast<LONGLONG>(units);
  return true;
}

REFTIME ToSeconds(LONGLONG units) { return static_cast<double>(units) / kUnitsPerSecond; }
}  // namespace

ComPtr<IMediaSeeking> FilterGraph::SeekingTarget() {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  ComPtr<IMediaSeeking> seeking;
  if (videoRenderer_ && Find(videoRenderer_)) {
    videoRenderer_->QueryInterface(IID_IMediaSeeking, seeking.put_void());
    if (seeking) return seeking;
  }
  for (IBaseFilter *renderer : Renderers()) {
    renderer->QueryInterface(IID_IMediaSeeking, seeking.put_void());
    if (seeking) return seeking;
  }
  return {};
}

void FilterGraph::NoteSegmentStart(IMediaSeeking *target) {
  // The pass-through asks the source, which knows where it stands in the movie.
  LONGLONG current = 0;
  LONGLONG stop = 0;
  if (SUCCEEDED(target->GetPositions(&current, &stop))) segmentStart_ = current;
}

// Forwards one call to the video renderer's seeking interface.
#define FORWARD_SEEKING(call)                      \
  do {                                             \
    ComPtr<IMediaSeeking> forwardTo = SeekingTarget(); \
    if (!forwardTo) return E_NOTIMPL;               \
    return forwardTo->call;                         \
  } while (0)

STDMETHODIMP FilterGraph::GetCapabilities(DWORD *capabilities) {
  FORWARD_SEEKING(GetCapabilities(capabilities));
}
STDMETHODIMP FilterGraph::CheckCapabilities(DWORD *capabilities) {
  FORWARD_SEEKING(CheckCapabilities(capabilities));
}
STDMETHODIMP FilterGraph::IsFormatSupported(const GUID *format) {
  FORWARD_SEEKING(IsFormatSupported(format));
}
STDMETHODIMP FilterGraph::QueryPreferredFormat(GUID *format) {
  FORWARD_SEEKING(QueryPreferredFormat(format));
}
STDMETHODIMP FilterGraph::GetTimeFormat(GUID *format) { FORWARD_SEEKING(GetTimeFormat(format)); }
STDMETHODIMP FilterGraph::IsUsingTimeFormat(const GUID *format) {
  FORWARD_SEEKING(IsUsingTimeFormat(format));
}
STDMETHODIMP FilterGraph::SetTimeFormat(const GUID *format) {
  FORWARD_SEEKING(SetTimeFormat(format));
}
STDMETHODIMP FilterGraph::GetDuration(LONGLONG *duration) {
  FORWARD_SEEKING(GetDuration(duration));
}
STDMETHODIMP FilterGraph::GetStopPosition(LONGLONG *stop) {
  FORWARD_SEEKING(GetStopPosition(stop));
}
STDMETHODIMP FilterGraph::GetCurrentPosition(LONGLONG *current) {
  if (!current) return E_POINTER;
  ComPtr<IMediaSeeking> target = SeekingTarget();
  if (!target) return E_NOTIMPL;
  REFERENCE_TIME position = 0;
  {
    std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
    if (state_ == State_Stopped) return target->GetCurrentPosition(current);
    const REFERENCE_TIME streamTime =
        state_ == State_Running && !startPending_ ? Now() - startTime_ : pausedAt_;
    position = segmentStart_ + std::max<REFERENCE_TIME>(0, streamTime - segmentBase_);
  }
  LONGLONG stop = 0;
  if (SUCCEEDED(target->GetStopPosition(&stop))) position = std::min(position, stop);
  *current = position;
  return S_OK;
}
STDMETHODIMP FilterGraph::ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat,
                                            LONGLONG source, const GUID *sourceFormat) {
  FORWARD_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
STDMETHODIMP FilterGraph::GetPositions(LONGLONG *current, LONGLONG *stop) {
  FORWARD_SEEKING(GetPositions(current, stop));
}
STDMETHODIMP FilterGraph::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
  FORWARD_SEEKING(GetAvailable(earliest, latest));
}
STDMETHODIMP FilterGraph::SetRate(double rate) { FORWARD_SEEKING(SetRate(rate)); }
STDMETHODIMP FilterGraph::GetRate(double *rate) { FORWARD_SEEKING(GetRate(rate)); }
STDMETHODIMP FilterGraph::GetPreroll(LONGLONG *preroll) { FORWARD_SEEKING(GetPreroll(preroll)); }

#undef FORWARD_SEEKING

STDMETHODIMP FilterGraph::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                       DWORD stopFlags) {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  ComPtr<IMediaSeeking> target = SeekingTarget();
  if (!target) return E_NOTIMPL;
  const bool moves = (currentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
  if (!moves) return target->SetPositions(current, currentFlags, stop, stopFlags);

  // Completions of the old segment no longer count, nor does a notice waiting
  // for its end.
  completion_.Disarm();
  endNotice_.Cancel();
  if (state_ != State_Running || startPending_) {
    // The next run starts the new segment at stream time 0; a pending one waits
    // for the new segment's first picture.
    armOnRun_ = true;
    heldPicture_ = false;  // the new segment's picture is to come
    if (startPending_) {
      ++startSerial_;
      startChanged_.notify_all();
    }
    const HRESULT hr = target->SetPositions(current, currentFlags, stop, stopFlags);
    pausedAt_ = 0;
    segmentBase_ = 0;
    NoteSegmentStart(target.get());
    Cue();  // stopped: the next run's first picture is made meanwhile
    return hr;
  }
  // Running: the source starts the new segment at the stream time reached, on
  // the running clock, so its first sample is due at once and nothing pauses.
  // Counting starts before the seek: a very short segment may complete before
  // it returns.
  ArmCompletion();
  segmentBase_ = std::max<REFERENCE_TIME>(0, Now() - startTime_);
  const HRESULT hr = target->SetPositions(current, currentFlags, stop, stopFlags);
  // The source knows where it started: a loop's pass starts where the last
  // one ended, a little ahead of the seek.
  if (source_) segmentBase_ = source_->SegmentBase();
  NoteSegmentStart(target.get());
  return hr;
}

// --- ILoopHint

STDMETHODIMP FilterGraph::SetRepetitive(BOOL repetitive) {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  repetitive_ = repetitive != FALSE;
  if (source_) source_->SetLooping(repetitive_);
  // A looping movie's end is told a little early, for the seek to its start.
  // If that end is still waiting or queued and no loop follows, it is told
  // when the movie has really played to its end.
  if (!repetitive_ && source_ && state_ != State_Stopped &&
      (endNotice_.Pending() || events_.Retract(EC_COMPLETE))) {
    endNotice_.Due(source_->StreamEnd(), endNotice_.Generation());
  }
  return S_OK;
}

// --- IMediaPosition

STDMETHODIMP FilterGraph::get_Duration(REFTIME *length) {
  if (!length) return E_POINTER;
  LONGLONG units = 0;
  const HRESULT hr = GetDuration(&units);
  if (SUCCEEDED(hr)) *length = ToSeconds(units);
  return hr;
}

STDMETHODIMP FilterGraph::put_CurrentPosition(REFTIME time) {
  LONGLONG units = 0;
  if (!ToReferenceTime(time, &units)) return E_INVALIDARG;
  return SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

STDMETHODIMP FilterGraph::get_CurrentPosition(REFTIME *time) {
  if (!time) return E_POINTER;
  LONGLONG units = 0;
  const HRESULT hr = GetCurrentPosition(&units);
  if (SUCCEEDED(hr)) *time = ToSeconds(units);
  return hr;
}

STDMETHODIMP FilterGraph::get_StopTime(REFTIME *time) {
  if (!time) return E_POINTER;
  LONGLONG units = 0;
  const HRESULT hr = GetStopPosition(&units);
  if (SUCCEEDED(hr)) *time = ToSeconds(units);
  return hr;
}

STDMETHODIMP FilterGraph::put_StopTime(REFTIME time) {
  LONGLONG units = 0;
  if (!ToReferenceTime(time, &units)) return E_INVALIDARG;
  return SetPositions(nullptr, AM_SEEKING_NoPositioning, &units, AM_SEEKING_AbsolutePositioning);
}

STDMETHODIMP FilterGraph::get_PrerollTime(REFTIME *time) {
  if (!time) return E_POINTER;
  LONGLONG units = 0;
  const HRESULT hr = GetPreroll(&units);
  if (SUCCEEDED(hr)) *time = ToSeconds(units);
  return hr;
}

STDMETHODIMP FilterGraph::put_PrerollTime(REFTIME) { return E_NOTIMPL; }

STDMETHODIMP FilterGraph::put_Rate(double rate) { return SetRate(rate); }

STDMETHODIMP FilterGraph::get_Rate(double *rate) {
  if (!rate) return E_POINTER;
  return GetRate(rate);
}

STDMETHODIMP FilterGraph::CanSeekForward(LONG *canSeek) {
  if (!canSeek) return E_POINTER;
  DWORD caps = 0;
  const HRESULT hr = GetCapabilities(&caps);
  *canSeek = SUCCEEDED(hr) && (caps & AM_SEEKING_CanSeekForwards) ? OATRUE : OAFALSE;
  return hr;
}

STDMETHODIMP FilterGraph::CanSeekBackward(LONG *canSeek) {
  if (!canSeek) return E_POINTER;
  DWORD caps = 0;
  const HRESULT hr = GetCapabilities(&caps);
  *canSeek = SUCCEEDED(hr) && (caps & AM_SEEKING_CanSeekBackwards) ? OATRUE : OAFALSE;
  return hr;
}

}  // namespace mediagraph
