// The filter graph manager (CLSID_FilterGraph): holds the filters, builds the
// decoding chain for a movie file, changes the state of every filter together,
// seeks, and turns the filters' events into the application's event queue.
#pragma once

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mediagraph/clock/system_clock.h"
#include "mediagraph/graph/com_ptr.h"
#include "mediagraph/graph/completion_tracker.h"
#include "mediagraph/graph/end_notice.h"
#include "mediagraph/graph/event_queue.h"
#include "mediagraph/graph/loop_hint.h"
#include "mediagraph/graph/movie_streams.h"
#include "mediagraph/source/movie_source.h"
#include "platform/host/spinning_mutex.h"
#include "platform/media/media.h"

namespace mediagraph {

// AddFilter gave the filter a name other than the one asked for.
constexpr HRESULT kDuplicateNameRenamed = MAKE_HRESULT_CONST(0x0004022D);
// How far ahead of now a run starts, so that every filter is running before stream
// time 0 falls due (plus the sound device's latency, when the movie has sound).
// Less puts the sound measurably later against the pictures (8 to 11 ms at 5 ms
// here, on OpenAL's wave device), though the sound thread corrects its start.
constexpr REFERENCE_TIME kRunLead = 10 * 10000;  // 10 ms
// How long a pending start waits for the filters to finish pausing (the first
// picture to reach the renderer) before it picks the start time all the same.
constexpr DWORD kCueWaitMs = 2000;

// Graph state, as every filter's:
//
//   Stopped --Pause--> Paused --Run--> Running
//      |                 ^  <--Pause--    |
//      +------Run--------|--------------->|      (Run from Stopped pauses first)
//      ^                 |                |
//      +------Stop-------+------Stop------+
//
// One worker thread per graph makes every change of state, in the order the
// application asked for them. Run, Pause, Stop, the position setters, the
// volume, the loop hint and the graph's last Release put a command on its
// queue and return; nothing on the application's thread waits for a filter,
// a picture or a thread to end. Queued commands are merged where that is
// safe: a newer jump replaces a queued one, Stop drops a queued Run, Pause or
// jump, a Pause and Run that cancel out before the worker took the first
// are both dropped, and the last Release drops everything.
//
// The worker runs each command with plain synchronous code. A change goes to
// the renderers first (filters with input pins and no output pin), then to
// the source, so that nothing is delivered to a filter that is not ready for
// it and the source's threads are joined last on Stop.
// - Run from Stopped pauses the filters first; the clock then starts once the
//   first picture is in (or close to it, see AwaitStartable), kRunLead plus
//   the sound's latency ahead, or up to a mixing period sooner on the start
//   of a block of the sound device's (MovieSource::EarliestStart), less the
//   stream time already played when resuming. While it waits the start is
//   pending: the graph is Running to the application, Pause and Stop take
//   the start back, a jump makes it wait for the new segment's picture. A
//   resume that comes within a run's lead of its pause goes on from where
//   the pause left the stream, without a new lead.
// - Pause of a running graph keeps the picture on show.
// - Stop joins the source's threads; Stopped with a movie, the worker then
//   cues it: the filters are paused (reported as Stopped) so that the first
//   picture of the next run is ready.
// - A jump while running changes the segment on the running clock: the source
//   flushes, repositions and starts a new segment at the stream time reached.
//   Otherwise the next run starts the new segment at stream time 0.
// A run the filters refuse leaves the graph paused and GetState returning
// that failure until the next Stop.
//
// Queries never wait: GetState, positions, the duration, the volume and the
// event queue read what the worker published (the state asked for, the
// segment's start and base, the clock's start) or ask the source, which
// answers under its position lock alone.
//
// Completion: EC_COMPLETE from a filter is counted, not passed on. The
// renderers of a run (plus the source when it plays sound itself) are counted
// from the first Run after a Stop or a jump; when the last of them has
// completed, the end notice holds one EC_COMPLETE for the application until
// the stream time reaches the end of the movie. Pause holds it, Run lets it
// wait again, Stop and jumps cancel it and take back one already queued
// (asked, and again when the worker makes them), and a completion counted
// before them never posts (the notice's generation).
//
// Threads and locks: lock_ (small, taken by the application's calls and the
// worker) guards the queue and what the worker publishes. stateLock_ is held
// by the worker while it runs a command, and by the calls that change the
// filters or their connections (only while stopped: a load), which may wait
// for a command under way. Filters call Notify from any thread; it takes only
// the event queue's and the completion tracker's own locks. Order: stateLock_,
// then lock_.
class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEvent,
                          public IMediaEventSink,
                          public IMediaPosition,
                          public IMediaSeeking,
                          public IBasicAudio,
                          public ILoopHint,
                          public IMovieStreams {
 public:
  // New graph with one reference. Its clock is `clock` when given (tests run it
  // on a manual one), else a system clock of its own.
  static HRESULT Create(FilterGraph **out, IReferenceClock *clock = nullptr);
  // Class factory for the component registry (no aggregation).
  static HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **out);

  // --- IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // --- IDispatch of the automation interfaces: no type information here.
  STDMETHODIMP GetTypeInfoCount(UINT *count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale,
                             DISPID *ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *params,
                      VARIANT *result, EXCEPINFO *exception, UINT *argError) override;

  // --- IFilterGraph (stopped graph only, except FindFilterByName)
  // Joins the filter to the graph under `name` (made unique with a number when
  // taken; kDuplicateNameRenamed then) and gives it the graph's clock.
  STDMETHODIMP AddFilter(IBaseFilter *filter, LPCWSTR name) override;
  // Disconnects the filter's pins, takes its clock and membership away and drops it.
  STDMETHODIMP RemoveFilter(IBaseFilter *filter) override;
  STDMETHODIMP EnumFilters(IEnumFilters **enumerator) override;  // E_NOTIMPL
  STDMETHODIMP FindFilterByName(LPCWSTR name, IBaseFilter **filter) override;
  // out->Connect(in, type); both pins' filters must be in the graph.
  STDMETHODIMP ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *mediaType) override;
  STDMETHODIMP Reconnect(IPin *pin) override;  // E_NOTIMPL
  // Disconnects one end of a connection (call it for both ends).
  STDMETHODIMP Disconnect(IPin *pin) override;
  // Gives the graph's clock to every filter again.
  STDMETHODIMP SetDefaultSyncSource() override;

  // --- IGraphBuilder
  // ConnectDirect with any type.
  STDMETHODIMP Connect(IPin *out, IPin *in) override;
  // Connects an output pin to the first free input pin in the graph that takes it.
  STDMETHODIMP Render(IPin *out) override;
  // Opens the movie with a new source filter, adds it and connects its picture to
  // the renderer already in the graph. Failures leave the graph as it was: the
  // source's failure code (the last error names a missing file), or
  // VFW_E_CANNOT_RENDER when no renderer takes the picture. A movie whose sound
  // cannot be played renders its picture and gives VFW_S_AUDIO_NOT_RENDERED.
  STDMETHODIMP RenderFile(LPCWSTR file, LPCWSTR playList) override;
  STDMETHODIMP AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName,
                               IBaseFilter **filter) override;  // E_NOTIMPL
  STDMETHODIMP SetLogFile(DWORD_PTR file) override;             // E_NOTIMPL
  STDMETHODIMP Abort() override;                                // E_NOTIMPL
  STDMETHODIMP ShouldOperationContinue() override;              // E_NOTIMPL

  // --- IMediaControl: queued for the worker (see above).
  STDMETHODIMP Run() override;
  // S_OK when the pause is complete at once (a running graph keeps its picture,
  // or a settled one whose filters have finished pausing), else S_FALSE.
  STDMETHODIMP Pause() override;
  STDMETHODIMP Stop() override;
  // The state asked for. Negative `milliseconds` (INFINITE): at once, the
  // worker finishes every transition in order. Otherwise waits up to that long
  // for the worker to finish what was asked and, paused, for every filter to
  // finish pausing; VFW_S_STATE_INTERMEDIATE when they have not. A pending
  // start is no transition.
  STDMETHODIMP GetState(LONG milliseconds, OAFilterState *state) override;
  STDMETHODIMP RenderFile(BSTR fileName) override;
  STDMETHODIMP AddSourceFilter(BSTR fileName, IDispatch **unknown) override;  // E_NOTIMPL
  STDMETHODIMP get_FilterCollection(IDispatch **unknown) override;            // E_NOTIMPL
  STDMETHODIMP get_RegFilterCollection(IDispatch **unknown) override;         // E_NOTIMPL
  STDMETHODIMP StopWhenReady() override;                                      // E_NOTIMPL

  // --- IMediaEvent
  // A manual-reset event handle, signalled while events are queued.
  STDMETHODIMP GetEventHandle(OAEVENT *event) override;
  // E_ABORT when no event is queued within `milliseconds` (negative: no limit).
  STDMETHODIMP GetEvent(LONG *eventCode, LONG_PTR *param1, LONG_PTR *param2,
                        LONG milliseconds) override;
  STDMETHODIMP WaitForCompletion(LONG milliseconds, LONG *eventCode) override;  // E_NOTIMPL
  STDMETHODIMP CancelDefaultHandling(LONG eventCode) override;                 // E_NOTIMPL
  STDMETHODIMP RestoreDefaultHandling(LONG eventCode) override;                // E_NOTIMPL
  // No event of this graph carries anything to free.
  STDMETHODIMP FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;

  // --- IMediaEventSink (any thread)
  STDMETHODIMP Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;

  // --- IMediaPosition: seconds over the IMediaSeeking below.
  STDMETHODIMP get_Duration(REFTIME *length) override;
  STDMETHODIMP put_CurrentPosition(REFTIME time) override;
  STDMETHODIMP get_CurrentPosition(REFTIME *time) override;
  STDMETHODIMP get_StopTime(REFTIME *time) override;
  STDMETHODIMP put_StopTime(REFTIME time) override;
  STDMETHODIMP get_PrerollTime(REFTIME *time) override;
  STDMETHODIMP put_PrerollTime(REFTIME time) override;  // E_NOTIMPL
  STDMETHODIMP put_Rate(double rate) override;
  STDMETHODIMP get_Rate(double *rate) override;
  STDMETHODIMP CanSeekForward(LONG *canSeek) override;
  STDMETHODIMP CanSeekBackward(LONG *canSeek) override;

  // --- IMediaSeeking: forwarded to the video renderer's position pass-through
  // (and so to the source's output pin); E_NOTIMPL without such a renderer.
  // SetPositions with a new current position starts a new segment (see above)
  // and counts the renderers' completions afresh.
  // GetCurrentPosition while running or paused is the graph's own: where the
  // segment started in the movie plus the stream time played since it started
  // (the renderer only knows times within the segment).
  STDMETHODIMP GetCapabilities(DWORD *capabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD *capabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID *format) override;
  STDMETHODIMP QueryPreferredFormat(GUID *format) override;
  STDMETHODIMP GetTimeFormat(GUID *format) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID *format) override;
  STDMETHODIMP SetTimeFormat(const GUID *format) override;
  STDMETHODIMP GetDuration(LONGLONG *duration) override;
  STDMETHODIMP GetStopPosition(LONGLONG *stop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG *current) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                                 const GUID *sourceFormat) override;
  STDMETHODIMP SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                            DWORD stopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG *current, LONGLONG *stop) override;
  STDMETHODIMP GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
  STDMETHODIMP SetRate(double rate) override;
  STDMETHODIMP GetRate(double *rate) override;
  STDMETHODIMP GetPreroll(LONGLONG *preroll) override;

  // --- IBasicAudio: the volume of the movie source's sound, in hundredths of a
  // decibel (-10000 to 0). E_NOTIMPL while no movie is rendered.
  STDMETHODIMP put_Volume(LONG volume) override;
  STDMETHODIMP get_Volume(LONG *volume) override;
  STDMETHODIMP put_Balance(LONG balance) override;  // E_NOTIMPL
  STDMETHODIMP get_Balance(LONG *balance) override;  // E_NOTIMPL

  // --- ILoopHint: kept, and passed to the movie source (also one rendered later).
  STDMETHODIMP SetRepetitive(BOOL repetitive) override;

  STDMETHODIMP PlaysSound() override;

 private:
  struct Member {
    ComPtr<IBaseFilter> filter;
    std::wstring name;
  };

  // What the application asked, waiting for the worker.
  struct Command {
    enum Kind { kCue, kRun, kPause, kStop, kSeek, kVolume, kLoop, kTearDown };
    Kind kind = kCue;
    // kSeek: absolute positions and their positioning flags (AM_SEEKING_*).
    REFERENCE_TIME current = 0;
    DWORD currentFlags = 0;
    REFERENCE_TIME stop = 0;
    DWORD stopFlags = 0;
    LONG value = 0;  // kVolume: the level; kLoop: kLoops and kEndTakenBack
  };
  static constexpr LONG kLoops = 1;         // the movie loops
  static constexpr LONG kEndTakenBack = 2;  // a queued end was taken back for it

  // What the worker published after its last step, for the queries.
  struct Published {
    FILTER_STATE state = State_Stopped;
    bool startPending = false;
    bool heldPicture = false;
    bool cued = false;
    REFERENCE_TIME startTime = 0;
    REFERENCE_TIME pausedAt = 0;
    REFERENCE_TIME segmentStart = 0;
    REFERENCE_TIME segmentBase = 0;
    // The segment before, which plays on until the stream reaches segmentBase
    // (a loop's next pass starts where the last one ends).
    REFERENCE_TIME previousStart = 0;
    REFERENCE_TIME previousBase = 0;
    HRESULT runFailure = S_OK;
  };

  // What a pending start waits for, taken from the worker's state.
  struct StartWait {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<MovieSource> source;
    std::chrono::steady_clock::time_point began;
  };

  FilterGraph() = default;
  ~FilterGraph();
  bool Init(IReferenceClock *clock);
  REFERENCE_TIME Now() const;

  // --- application threads, lock_ held
  void PostLocked(const Command &command);
  // Takes back the last command queued where it is of `kind`, the only one
  // queued that changes the state, and the worker's graph is in `state`:
  // asked at once, it and the one now asked cancel out.
  bool TakeBackLastLocked(Command::Kind kind, FILTER_STATE state);
  // The worker has nothing queued or under way.
  bool SettledLocked() const { return queue_.empty() && !working_; }
  // Waits until it is: the calls that change filters or connections (a load,
  // stopped) come after what was asked before them.
  void AwaitSettled();

  // --- the worker
  void Work();
  // The next command, waiting for one; serves a pending start and cues a
  // stopped movie meanwhile.
  Command NextCommand();
  // Waits for a pending start's first picture (at most kCueWaitMs after it was
  // asked); false when a command came first.
  bool AwaitStartable(const StartWait &wait);
  void Execute(const Command &command);  // stateLock_ held
  void DoRun();
  void DoPause();
  void DoStop();
  void DoSeek(const Command &command);
  void DoLoop(LONG hint);
  // Copies the worker's state for the queries. stateLock_ held.
  void Publish();
  // The last Release: stops and takes the graph apart, then deletes it.
  void TearDown();

  // --- called with stateLock_ held
  Member *Find(const IBaseFilter *filter);
  HRESULT AddFilterLocked(IBaseFilter *filter, LPCWSTR name);
  HRESULT RemoveFilterLocked(IBaseFilter *filter);
  std::wstring UniqueName(LPCWSTR wanted, bool *renamed) const;
  // The filters in state-change order: renderers first, then the rest.
  std::vector<ComPtr<IBaseFilter>> StateOrder() const;
  // The filters whose completion ends a run.
  std::vector<IBaseFilter *> Renderers() const;
  // The first free input pin of a filter other than `except` that accepts `out`.
  HRESULT ConnectToFreeInput(IPin *out, const IBaseFilter *except, IBaseFilter **connectedTo);
  HRESULT PauseFilters();
  HRESULT RunFilters(REFERENCE_TIME start);
  HRESULT StopFilters();
  // Stopped with a movie: pauses the filters, so that the first picture of the
  // next run is decoded and held while the graph stays Stopped.
  void Cue();
  // Stops the filters of a cued graph before its connections change.
  void Uncue();
  // Every filter has finished pausing (waits for none).
  bool Cued() const;
  // Runs the filters from now on: the start of a run. Refused, the graph is
  // left paused with the failure for GetState.
  void StartRun();
  // Starts counting the renderers' completions for a new run.
  void ArmCompletion();
  // Forgets completions of the segment that ends, and one already queued.
  void TakeBackCompletion();
  // Forgets a notice of the end waiting for its time, and one already queued.
  // Any thread: the application's when it asks a stop or a jump, the worker's
  // when it makes them.
  void ForgetEnd();
  // The video renderer's seeking interface (position pass-through), kept in
  // target_ for the queries.
  ComPtr<IMediaSeeking> FindSeekingTarget();
  void RefreshSeekingTarget();
  // target_, for the queries (any thread, without stateLock_).
  ComPtr<IMediaSeeking> QueryTarget();
  // Records where the source's next segment starts in the movie.
  void NoteSegmentStart(IMediaSeeking *target);

  std::atomic<LONG> refs_{0};

  ComPtr<IReferenceClock> clock_;  // set by Init, never changes
  EventQueue events_;
  CompletionTracker completion_;
  EndNotice endNotice_{[this] { events_.Post({EC_COMPLETE, S_OK, 0}); }};
  // The rendered movie, for where it ends; set and cleared under stateLock_
  // while stopped, read from any thread.
  std::atomic<MovieSource *> playing_{nullptr};

  SpinningRecursiveMutex stateLock_;
  // --- guarded by stateLock_ (the worker; structural calls while stopped)
  std::vector<Member> members_;          // in the order they were added
  FILTER_STATE state_ = State_Stopped;
  REFERENCE_TIME startTime_ = 0;         // clock time of stream time 0 of this run
  REFERENCE_TIME pausedAt_ = 0;          // stream time reached when the run paused
  std::chrono::steady_clock::time_point pauseBegan_;  // when it paused
  REFERENCE_TIME segmentStart_ = 0;      // movie position at stream time segmentBase_
  REFERENCE_TIME segmentBase_ = 0;       // stream time at which the segment started
  REFERENCE_TIME previousStart_ = 0;     // the same of the segment before a running jump
  REFERENCE_TIME previousBase_ = 0;
  bool armOnRun_ = true;                 // a Stop or a seek since completions were armed
  ComPtr<MovieSource> source_;           // the rendered movie, if any
  IBaseFilter *videoRenderer_ = nullptr;  // where the picture goes; a member, not counted
  bool startPending_ = false;            // Running, the filters still paused
  std::chrono::steady_clock::time_point startAsked_;  // when the pending start was asked for
  HRESULT runFailure_ = S_OK;            // the filters refused a run
  bool heldPicture_ = false;             // paused while running: no cue to wait for
  bool cued_ = false;                    // Stopped, the filters paused (see Cue)

  SpinningMutex lock_;
  std::condition_variable_any queued_;   // a command was queued
  std::condition_variable_any settled_;  // the worker has nothing left to do
  // --- guarded by lock_
  std::deque<Command> queue_;
  bool working_ = false;                 // the worker runs a command or a cue
  FILTER_STATE asked_ = State_Stopped;   // the state once the queue has run
  bool jumping_ = false;                 // a jump is queued or under way
  REFERENCE_TIME jumpTo_ = 0;            // its target
  LONG volume_ = 0;                      // the level last asked
  bool repetitive_ = false;              // the loop hint last given
  Published published_;
  ComPtr<IMediaSeeking> target_;         // where seeking goes, if anywhere
  std::thread worker_;                   // detached by TearDown
};

// Every pin of a filter, each with a reference.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter);

// Waits up to `milliseconds` until every graph released so far has been taken
// apart by its worker; false when one has not. The library's exit waits so
// (bounded), and tests that check what a release left.
bool AwaitReleasedGraphs(DWORD milliseconds);

}  // namespace mediagraph
