#include "renderer/base_video_renderer.h"

#include <algorithm>
#include <cstdint>

#include "filterbase/mul_div.h"
#include "platform/win32/windows.h"
#include "renderer/renderer_input_pin.h"
#include "renderer/saturating_time.h"

namespace {

constexpr int kTimeDiffLimit = 500000000;         // 50 s
constexpr REFERENCE_TIME kStartBias = 80000;      // draw 8 ms early
constexpr LONGLONG kMaxFrameTime = 10000000;      // 1 s
constexpr int kWaitWorthKeeping = 80000;          // 8 ms
constexpr int kFarTooEarly = -9000000;            // 0.9 s
constexpr int kSlackForQuality = 20000;           // 2 ms
constexpr LONG kFullProportion = 1000;
constexpr LONG kThrottleNumerator = 388880000;
constexpr LONG kThrottleOffset = 167;
constexpr LONG kThrottleBase = 330000;

}  // namespace

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID filterClassId, LPCWSTR objectName,
                                       IUnknown *outer, HRESULT *result)
    : CBaseRenderer(filterClassId, objectName, outer, result),
      supplierHandlesQuality(FALSE),
      framesDropped(0),
      framesDrawn(0) {
  // Not through the table: a derived override is not constructed yet.
  CBaseVideoRenderer::ResetQualityStatistics();
}

CBaseVideoRenderer::~CBaseVideoRenderer() { StopTimedCallbacks(); }

STDMETHODIMP CBaseVideoRenderer::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IQualProp) return HandOutInterface(static_cast<IQualProp *>(this), out);
  if (iid == IID_IQualityControl) {
    return HandOutInterface(static_cast<IQualityControl *>(this), out);
  }
  return CBaseRenderer::InnerQueryInterface(iid, out);
}

STDMETHODIMP CBaseVideoRenderer::JoinFilterGraph(IFilterGraph *newGraph, LPCWSTR newName) {
  if (newGraph == nullptr && Graph() != nullptr) {
    // Through the interface, so that an outer object answers.
    void *self = nullptr;
    if (SUCCEEDED(static_cast<IBaseFilter *>(this)->QueryInterface(IID_IBaseFilter, &self))) {
      RaiseGraphEvent(EC_WINDOW_DESTROYED, reinterpret_cast<LONG_PTR>(self), 0);
      static_cast<IBaseFilter *>(self)->Release();
    }
  }
  return CBaseRenderer::JoinFilterGraph(newGraph, newName);
}

// --- Quality received -------------------------------------------------------

int CBaseVideoRenderer::ThrottleForProportion(LONG proportion) {
  if (proportion >= kFullProportion) return 0;
  // A negative share of the frame rate means nothing; near -167 the formula
  // would sleep for seconds with both renderer locks held (and divide by zero
  // at -167). No throttle keeps the longest sleep at the one for 0 (199 ms).
  if (proportion < 0) return 0;
  return kThrottleNumerator / (proportion + kThrottleOffset) - kThrottleBase;
}

STDMETHODIMP CBaseVideoRenderer::Notify(IBaseFilter *, Quality q) {
  __atomic_store_n(&throttle, ThrottleForProportion(q.Proportion), __ATOMIC_RELAXED);
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::SetSink(IQualityControl *sink) {
  ScopedLock hold(&interfaceLock);
  if (sink != nullptr) sink->AddRef();
  if (qualitySink != nullptr) qualitySink->Release();
  qualitySink = sink;
  return S_OK;
}

DWORD CBaseVideoRenderer::ThrottleSleepMs() const {
  const int current = __atomic_load_n(&throttle, __ATOMIC_RELAXED);
  return current > 0 ? static_cast<DWORD>(current / 10000) : 0;
}

void CBaseVideoRenderer::ApplyThrottle() { Sleep(ThrottleSleepMs()); }

// --- Statistics -------------------------------------------------------------

void CBaseVideoRenderer::ResetQualityStatistics() {
  lastDraw = -1000;
  streamingStart = static_cast<int>(timeGetTime());
  renderAverage = 0;
  frameAverage = -1;
  duration = 0;
  lastRender = 0;
  waitAverage = 0;
  renderStart = 0;
  framesDropped = 0;
  framesDrawn = 0;
  totalAccuracy = 0;
  accuracySquares = 0;
  frameTimeSquares = 0;
  heldFrameTime = 0;
  heldLateness = 0;
  frameTimeTotal = 0;
  normalCount = 0;
  earliness = 0;
  target = -300000;
  __atomic_store_n(&throttle, 0, __ATOMIC_RELAXED);
  rememberedStamp = 0;
}

void CBaseVideoRenderer::LogFrameLateness(int late, int frameTime) {
  int lateMs = late / 10000;
  if (lateMs > 1000 || lateMs < -1000) {
    if (framesDrawn <= 1) {
      lateMs = 0;
    } else {
      lateMs = lateMs > 0 ? 1000 : -1000;
    }
  }
  // The first frame never counts into the sync statistics, the first two
  // never into the inter-frame ones.
  if (framesDrawn > 1) {
    totalAccuracy += lateMs;
    accuracySquares += lateMs * lateMs;
  }
  if (framesDrawn > 2) {
    int frameMs = frameTime / 10000;
    if (frameMs > 1000 || frameMs < 0) frameMs = 1000;
    frameTimeSquares += frameMs * frameMs;
    frameTimeTotal += frameMs;
  }
  ++framesDrawn;
}

void CBaseVideoRenderer::StashFrameTimings(int late, int frameTime) {
  heldLateness = late;
  heldFrameTime = frameTime;
}

int CBaseVideoRenderer::ClampTimeDiff(LONGLONG difference) {
  if (difference < -kTimeDiffLimit) return -kTimeDiffLimit;
  if (difference > kTimeDiffLimit) return kTimeDiffLimit;
  return static_cast<int>(difference);
}

int CBaseVideoRenderer::IntegerSquareRoot(int x) {
  if (x > 0x40000000) return 0x8000;
  if (x <= 0) return 0;  // a negative value has no root; 0 rather than a division by 0
  LONGLONG s = 1;
  while (s * s < x) s *= 2;
  // Newton steps from above; three are enough from the power of two.
  for (int step = 0; step < 3 && s > 0; ++step) s = (s * s + x) / (2 * s);
  return static_cast<int>(s);
}

HRESULT CBaseVideoRenderer::EstimateStdDev(int n, int *out, LONGLONG sumSquares,
                                           LONGLONG total) {
  if (out == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  if (ClockNoLock() == nullptr || n <= 1) {
    *out = 0;
    return S_OK;
  }
  LONGLONG x = sumSquares - MulDivRound64(total, total, n, 0);
  x /= n - 1;
  // Out of range only for nonsense sums; keep it a valid argument.
  x = std::clamp<LONGLONG>(x, 0, INT32_MAX);
  *out = IntegerSquareRoot(static_cast<int>(x));
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_FramesDroppedInRenderer(int *frames) {
  if (frames == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  *frames = framesDropped;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_FramesDrawn(int *frames) {
  if (frames == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  *frames = framesDrawn;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_AvgFrameRate(int *rate) {
  if (rate == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  // While streaming: ms since it began; afterwards: the length of that period.
  const int elapsed =
      streaming ? static_cast<int>(timeGetTime()) - streamingStart : streamingStart;
  *rate = elapsed > 0
              ? static_cast<int>(MulDivRound64(100000, framesDrawn, elapsed, elapsed / 2))
              : 0;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_Jitter(int *jitter) {
  if (jitter == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  return EstimateStdDev(framesDrawn - 2, jitter, frameTimeSquares, frameTimeTotal);
}

STDMETHODIMP CBaseVideoRenderer::get_AvgSyncOffset(int *offset) {
  if (offset == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  if (ClockNoLock() == nullptr || framesDrawn <= 1) {
    *offset = 0;
  } else {
    *offset = static_cast<int>(totalAccuracy / (framesDrawn - 1));
  }
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_DevSyncOffset(int *deviation) {
  if (deviation == nullptr) return E_POINTER;
  ScopedLock hold(&interfaceLock);
  return EstimateStdDev(framesDrawn - 1, deviation, accuracySquares, totalAccuracy);
}

// --- Hooks of the base renderer ---------------------------------------------

HRESULT CBaseVideoRenderer::ProcessSample(IMediaSample *sample) {
  const HRESULT hr = CBaseRenderer::ProcessSample(sample);
  if (throttleDue) {
    throttleDue = false;
    ApplyThrottle();
  }
  return hr;
}

void CBaseVideoRenderer::NoteRenderBegin(IMediaSample *) {
  LogFrameLateness(heldLateness, heldFrameTime);
  renderStart = static_cast<int>(timeGetTime());
}

void CBaseVideoRenderer::NoteRenderFinish(IMediaSample *) {
  // Held to +-50 s: the running sums below must not leave 32 bits.
  const int taken =
      ClampTimeDiff((timeGetTime() - static_cast<DWORD>(renderStart)) * LONGLONG{10000});
  // An outlier more than twice both the average and the last value is left out.
  if (taken < 2 * renderAverage || taken < 2 * lastRender) {
    renderAverage = (taken + 3 * renderAverage) / 4;
  }
  lastRender = taken;
  throttleDue = true;  // slept by ProcessSample once the locks are let go
}

void CBaseVideoRenderer::NoteImmediateDraw(IMediaSample *) {
  renderAverage = 0;
  lastRender = 5000000;
  LogFrameLateness(heldLateness, heldFrameTime);
  ApplyThrottle();
}

HRESULT CBaseVideoRenderer::NoteStreamingBegin() {
  ResetQualityStatistics();
  return S_OK;
}

HRESULT CBaseVideoRenderer::NoteStreamingFinish() {
  streamingStart = static_cast<int>(timeGetTime()) - streamingStart;
  return S_OK;
}

BOOL CBaseVideoRenderer::PlanSample(IMediaSample *sample) {
  const BOOL planned = CBaseRenderer::PlanSample(sample);
  if (!planned) ++framesDropped;
  return planned;
}

// --- The timing decision ----------------------------------------------------

HRESULT CBaseVideoRenderer::DecideDrawTiming(IMediaSample *sample, REFERENCE_TIME *start,
                                             REFERENCE_TIME *stop) {
  if (sample == nullptr || start == nullptr || stop == nullptr) return E_POINTER;
  // Aim a little early; a start time is never made negative.
  if (*start >= kStartBias) {
    *start -= kStartBias;
    *stop -= kStartBias;
  }
  rememberedStamp = *start;

  REFERENCE_TIME now = 0;
  if (FAILED(CurrentStreamTime(&now))) return S_FALSE;  // wait for the time as is
  const int late = ClampTimeDiff(SubtractTimesSaturated(now, *start));  // positive = late
  supplierHandlesQuality = ReportQuality(late, now) == S_OK;

  // A change of more than about 3 % (or the first frame) resets the reference.
  // Held to +-50 s like every other difference, so that the sums below stay
  // inside 32 bits whatever a damaged file claims.
  const int frameDuration = ClampTimeDiff(SubtractTimesSaturated(*stop, *start));
  const int tolerance = duration / 32;
  if (frameDuration > duration + tolerance || frameDuration < duration - tolerance) {
    frameAverage = frameDuration;
    duration = frameDuration;
  }

  const bool justDropped =
      (supplierHandlesQuality && sample->IsDiscontinuity() == S_OK) || normalCount == -1;

  if (late > 0) {
    earliness = 0;
  } else if (late >= earliness || justDropped) {
    earliness = late;
  } else {
    earliness -= earliness / 8;  // slides back towards 0
  }

  // Lateness never enters the wait average.
  const int newWaitAverage = (std::max(-late, 0) + 3 * waitAverage) / 4;

  const LONGLONG sinceLastDraw = SubtractTimesSaturated(now, lastDraw);
  int frameTime = ClampTimeDiff(std::min(sinceLastDraw, kMaxFrameTime));

  const LONGLONG late64 = late;
  const LONGLONG duration64 = duration;
  const bool draw =
      3LL * renderAverage <= frameAverage ||  // drawing costs little of the frame time
      (supplierHandlesQuality ? late64 <= 4 * duration64    // under four frames late
                              : 2 * late64 < duration64) ||  // under half a frame late
      waitAverage > kWaitWorthKeeping ||
      sinceLastDraw > kMaxFrameTime;  // nothing drawn for over a second
  if (!draw) {
    waitAverage = newWaitAverage;
    normalCount = -1;
    return E_FAIL;
  }

  // Running below the frame rate (but not ten frames early) catches up at once.
  bool playAtOnce = justDropped || (frameAverage > duration + duration / 16 &&
                                    late64 > -10 * duration64);
  if (late < kFarTooEarly) playAtOnce = false;

  if (playAtOnce) {
    normalCount = 0;
    waitAverage = (3 * waitAverage) / 4;
    frameAverage = (frameTime + 3 * frameAverage) / 4;
    StashFrameTimings(late, frameTime);
    lastDraw = now;
    if (earliness > late) earliness = late;
    return S_OK;
  }

  ++normalCount;
  frameAverage = duration;
  // Start up to one frame earlier, as early as frames have been playing.
  *start = AddTimesSaturated(*start, std::max(earliness, -frameAverage));
  const int delay = -late;
  const HRESULT result = delay > 0 ? S_FALSE : S_OK;
  waitAverage = newWaitAverage;
  if (result == S_FALSE) {
    frameTime = ClampTimeDiff(SubtractTimesSaturated(*start, lastDraw));
    lastDraw = *start;
  } else {
    lastDraw = now;
  }
  const int accuracy =
      delay > 0 ? ClampTimeDiff(SubtractTimesSaturated(*start, rememberedStamp)) : late;
  StashFrameTimings(accuracy, frameTime);
  return result;
}

HRESULT CBaseVideoRenderer::ReportQuality(REFERENCE_TIME late, REFERENCE_TIME now) {
  Quality q;
  // Famine: most of the frame time is spent elsewhere; Flood: drawing dominates.
  q.Type = (frameAverage < 0 || frameAverage > 2 * renderAverage) ? Famine : Flood;
  LONG proportion = kFullProportion;
  if (frameAverage >= 0) {
    if (late > 0) {
      proportion = std::max<LONG>(kFullProportion - static_cast<LONG>(late / 10000), 500);
    } else if (waitAverage > kSlackForQuality && late < -kSlackForQuality) {
      if (waitAverage >= frameAverage) {
        proportion = 2000;
      } else if (frameAverage + kSlackForQuality > waitAverage) {
        proportion = (frameAverage / (frameAverage + kSlackForQuality - waitAverage)) * 1000;
        proportion = std::min<LONG>(proportion, 2000);
      } else {
        proportion = 2000;
      }
    }
  }
  q.Proportion = proportion;
  q.Late = late + renderAverage / 2;
  q.TimeStamp = now;

  if (qualitySink == nullptr) {
    CRendererInputPin *pin = __atomic_load_n(&inputPin, __ATOMIC_ACQUIRE);
    IPin *peer = pin != nullptr ? pin->ConnectedPeer() : nullptr;
    void *sink = nullptr;
    if (peer != nullptr && SUCCEEDED(peer->QueryInterface(IID_IQualityControl, &sink))) {
      qualitySink = static_cast<IQualityControl *>(sink);  // keeps the reference
    }
  }
  if (qualitySink == nullptr) return S_FALSE;
  return qualitySink->Notify(static_cast<IBaseFilter *>(this), q);
}
