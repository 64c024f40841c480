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

ComPtr<IMediaSeeking> FilterGraph::FindSeekingTarget() {
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

void FilterGraph::RefreshSeekingTarget() {
  ComPtr<IMediaSeeking> target = FindSeekingTarget();
  std::lock_guard<SpinningMutex> hold(lock_);
  target_ = target;
}

ComPtr<IMediaSeeking> FilterGraph::QueryTarget() {
  std::lock_guard<SpinningMutex> hold(lock_);
  return target_;
}

void FilterGraph::NoteSegmentStart(IMediaSeeking *target) {
  // The pass-through asks the source, which knows where it stands in the movie.
  LONGLONG current = 0;
  LONGLONG stop = 0;
  if (SUCCEEDED(target->GetPositions(&current, &stop))) segmentStart_ = current;
}

// Forwards one call to the video renderer's seeking interface. Its queries
// take only the source's position lock: never a wait for the worker.
#define FORWARD_SEEKING(call)                      \
  do {                                             \
    ComPtr<IMediaSeeking> forwardTo = QueryTarget();    \
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
  ComPtr<IMediaSeeking> target;
  Published shown;
  {
    std::lock_guard<SpinningMutex> hold(lock_);
    target = target_;
    if (!target) return E_NOTIMPL;
    shown = published_;
    // Where a jump goes, until its segment is under way; running, the picture
    // on show is the old segment's until then.
    if (jumping_ && (shown.state != State_Running || shown.startPending)) {
      *current = jumpTo_;
      return S_OK;
    }
  }
  // Paused, stopped or about to start: the source tells the picture on show
  // (the start of the segment until one is), in the movie's time; the
  // renderer knows only the segment's.
  if (shown.state != State_Running || shown.startPending) {
    MovieSource *source = playing_.load();
    return source != nullptr ? source->Seeking()->GetCurrentPosition(current)
                             : target->GetCurrentPosition(current);
  }
  const REFERENCE_TIME stream = Now() - shown.startTime;
  // After a jump while running, the last segment is on show until the new
  // one's first picture is.
  const MovieSource *source = playing_.load();
  const bool before = shown.previousBase < shown.segmentBase &&
                      (source != nullptr ? !source->SegmentShown() : stream < shown.segmentBase);
  REFERENCE_TIME position =
      before ? shown.previousStart + std::max<REFERENCE_TIME>(0, stream - shown.previousBase)
             : shown.segmentStart + std::max<REFERENCE_TIME>(0, stream - shown.segmentBase);
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
  const DWORD currentHow = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopHow = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentHow != AM_SEEKING_NoPositioning && current == nullptr) ||
      (stopHow != AM_SEEKING_NoPositioning && stop == nullptr)) {
    return E_POINTER;
  }
  ComPtr<IMediaSeeking> target;
  {
    std::lock_guard<SpinningMutex> hold(lock_);
    target = target_;
  }
  if (!target) return E_NOTIMPL;
  if (currentHow == AM_SEEKING_NoPositioning && stopHow == AM_SEEKING_NoPositioning) return S_OK;
  // Worked out now, against what the game sees, and queued as absolute
  // positions: the worker may take them a moment later.
  LONGLONG now = 0;
  LONGLONG oldStop = 0;
  LONGLONG segmentStart = 0;
  HRESULT hr = GetCurrentPosition(&now);
  if (SUCCEEDED(hr)) hr = target->GetPositions(&segmentStart, &oldStop);
  if (FAILED(hr)) return hr;
  Command command{Command::kSeek};
  command.current = currentHow == AM_SEEKING_AbsolutePositioning      ? *current
                    : currentHow == AM_SEEKING_RelativePositioning    ? now + *current
                    : currentHow == AM_SEEKING_IncrementalPositioning ? segmentStart + *current
                                                                       : now;
  command.current = std::max<LONGLONG>(0, command.current);
  command.currentFlags = currentHow != AM_SEEKING_NoPositioning ? AM_SEEKING_AbsolutePositioning
                                                                 : AM_SEEKING_NoPositioning;
  command.stop = stopHow == AM_SEEKING_AbsolutePositioning ? *stop
                 : stopHow != AM_SEEKING_NoPositioning     ? oldStop + *stop
                                                           : oldStop;
  command.stopFlags = stopHow != AM_SEEKING_NoPositioning ? AM_SEEKING_AbsolutePositioning
                                                          : AM_SEEKING_NoPositioning;
  if ((currentFlags & AM_SEEKING_ReturnTime) && current != nullptr) *current = command.current;
  if ((stopFlags & AM_SEEKING_ReturnTime) && stop != nullptr) {
    *stop = std::max(command.current, command.stop);
  }
  if (currentHow != AM_SEEKING_NoPositioning) ForgetEnd();  // of the segment left
  std::lock_guard<SpinningMutex> hold(lock_);
  if (currentHow != AM_SEEKING_NoPositioning) {
    jumping_ = true;
    jumpTo_ = command.current;
  }
  PostLocked(command);
  return S_OK;
}

// --- ILoopHint

STDMETHODIMP FilterGraph::SetRepetitive(BOOL repetitive) {
  // An end told early for a loop that no longer comes is taken back now, before
  // the game can see it; the worker tells it again at the real end.
  const bool tookBack = repetitive == FALSE && events_.Retract(EC_COMPLETE);
  std::lock_guard<SpinningMutex> hold(lock_);
  repetitive_ = repetitive != FALSE;
  PostLocked({Command::kLoop, 0, 0, 0, 0, (repetitive_ ? kLoops : 0) | (tookBack ? kEndTakenBack : 0)});
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
