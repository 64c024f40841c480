// CBaseVideoRenderer: CBaseRenderer with video quality management. For every
// sample the clock schedules it decides to draw it at its time, draw it at
// once to catch up, or drop it; it tells the upstream filter how late frames
// are drawn (IQualityControl::Notify sent upstream); it takes quality
// notices addressed to itself, which set a throttle slept after each drawn
// frame; and it keeps the frame statistics that IQualProp reports.
//
// Times are in 100 ns unless marked ms. Differences are 32-bit, sums 64-bit.
//
// Normal count (frames drawn in a row at their time):
//   -1 after a drop -> 0 after a frame played at once -> 1, 2, ... at their time
//
// Locks and threads:
//   DecideDrawTiming, ReportQuality  via PlanSample, interfaceLock and
//                       rendererLock held: streaming thread (AdmitSample) or
//                       application thread (BeginStreamingRun from Run)
//   NoteRenderBegin/Finish  streaming thread, both locks
//   ApplyThrottle      streaming thread, after a drawn frame, no lock: even
//                       Sleep(0) gives the core to the decoders for
//                       milliseconds, and the game's next call on the
//                       renderer waited for its locks that long
//   NoteStreamingBegin/Finish  under both locks (Run, Pause, Stop)
//   Notify (received)  any thread, no lock: writes only the throttle (atomic)
//   IQualProp getters  interfaceLock, which every writer of the statistics holds
//   SetSink            interfaceLock, like every other writer of qualitySink
//
// Contract for derived renderers: as CBaseRenderer. Overriding DecideDrawTiming
// or PlanSample replaces the quality decisions.
#pragma once

#include "platform/media/media.h"
#include "renderer/base_renderer.h"

class CBaseVideoRenderer : public CBaseRenderer, public IQualProp, public IQualityControl {
 public:
  CBaseVideoRenderer(REFCLSID filterClassId, LPCWSTR objectName, IUnknown *outer,
                     HRESULT *result);
  ~CBaseVideoRenderer() override;

  FORWARD_IUNKNOWN_TO_OWNER

  // IQualProp and IQualityControl, then CBaseRenderer's identifiers.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  // --- CBaseRenderer overrides
  // The base's, then the throttle after a drawn frame, with no lock held.
  HRESULT ProcessSample(IMediaSample *sample) override;
  void NoteRenderBegin(IMediaSample *sample) override;
  void NoteRenderFinish(IMediaSample *sample) override;
  HRESULT NoteStreamingBegin() override;
  HRESULT NoteStreamingFinish() override;
  // Counts a sample that cannot be scheduled as dropped.
  BOOL PlanSample(IMediaSample *sample) override;
  // S_FALSE draw at (the adjusted) *start, S_OK draw now, E_FAIL drop.
  HRESULT DecideDrawTiming(IMediaSample *sample, REFERENCE_TIME *start,
                           REFERENCE_TIME *stop) override;

  // --- Own virtual operations, in table order.
  // Adds one frame's lateness and inter-frame time to the statistics.
  virtual void LogFrameLateness(int late, int frameTime);
  virtual void NoteImmediateDraw(IMediaSample *sample);
  virtual void ResetQualityStatistics();
  // Sends a quality record upstream: S_OK when the upstream filter takes it,
  // S_FALSE without a sink.
  virtual HRESULT ReportQuality(REFERENCE_TIME late, REFERENCE_TIME now);

  // --- IBaseFilter: leaving a graph raises EC_WINDOW_DESTROYED first.
  STDMETHODIMP JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;

  // --- IQualityControl (received)
  // Sets the throttle from the proportion. No lock.
  STDMETHODIMP Notify(IBaseFilter *sender, Quality q) override;
  // Keeps one reference on the new sink and releases the replaced one.
  STDMETHODIMP SetSink(IQualityControl *sink) override;

  // --- IQualProp
  STDMETHODIMP get_FramesDroppedInRenderer(int *frames) override;
  STDMETHODIMP get_FramesDrawn(int *frames) override;
  // Frames per second times 100 over the current (or last) streaming period.
  STDMETHODIMP get_AvgFrameRate(int *rate) override;
  STDMETHODIMP get_Jitter(int *jitter) override;
  STDMETHODIMP get_AvgSyncOffset(int *offset) override;
  STDMETHODIMP get_DevSyncOffset(int *deviation) override;

  // --- Not virtual.
  // Sleeps the throttle after a drawn frame (Sleep(0) without one).
  void ApplyThrottle();
  // The sleep ApplyThrottle takes, in ms.
  DWORD ThrottleSleepMs() const;
  void StashFrameTimings(int late, int frameTime);
  // Sample standard deviation from n values' sum of squares and total, in the
  // unit of the values; 0 without a clock or for n <= 1. Takes interfaceLock.
  HRESULT EstimateStdDev(int n, int *out, LONGLONG sumSquares, LONGLONG total);
  static int IntegerSquareRoot(int x);
  // Clamped to +-50 s.
  static int ClampTimeDiff(LONGLONG difference);
  // The throttle a received proportion (thousandths) sets, in 100 ns.
  static int ThrottleForProportion(LONG proportion);

 protected:
  // --- interfaceLock and rendererLock (written through PlanSample and the
  //     render hooks), read by the getters under interfaceLock
  int normalCount;      // see the diagram above
  BOOL supplierHandlesQuality;  // the last quality record was answered S_OK
  int throttle;         // atomic access: written by Notify on any thread
  int renderAverage;    // running average of the time to draw a frame
  int lastRender;       // time taken to draw the last frame
  int renderStart;      // ms, timeGetTime just before the last draw
  bool throttleDue = false;  // streaming thread: a frame was drawn in this call
  int earliness;        // at most 0; how early frames play, decays to 0
  int target;           // set by ResetQualityStatistics; nothing reads it
  int waitAverage;      // running average of waits before the time (no lateness)
  int frameAverage;     // running average of the time between frames; -1 unknown
  int duration;         // frame duration last taken as reference
  REFERENCE_TIME rememberedStamp;  // start after the 8 ms bias, before earliness
  int framesDropped;    // refused to schedule since streaming began
  int framesDrawn;      // counted into the statistics (LogFrameLateness)
  LONGLONG totalAccuracy;     // sum of sync offsets, ms
  LONGLONG accuracySquares;   // sum of squared sync offsets, ms^2
  REFERENCE_TIME lastDraw;    // stream time the last frame was (will be) drawn
  LONGLONG frameTimeSquares;  // sum of squared inter-frame times, ms^2
  LONGLONG frameTimeTotal;    // sum of inter-frame times, ms
  int heldLateness;     // of the frame being drawn, stashed by DecideDrawTiming
  int heldFrameTime;    // likewise
  int streamingStart;   // ms, timeGetTime at streaming start; after it ends the
                        // length of the streaming period
};
