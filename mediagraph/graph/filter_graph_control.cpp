// FilterGraph: state changes of the whole graph (IMediaControl).

#include "mediagraph/graph/filter_graph.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

namespace {
// A filter's success codes other than S_OK mean its transition is still under way.
HRESULT Merge(HRESULT so_far, HRESULT hr) {
  if (FAILED(so_far)) return so_far;
  if (FAILED(hr)) return hr;
  return (so_far != S_OK || hr != S_OK) ? S_FALSE : S_OK;
}

// How far ahead of now a run starts: far enough for the sound to be heard
// from its first sample on.
REFERENCE_TIME RunLead(MovieSource *source) {
  return kRunLead + (source != nullptr ? source->SoundLatency() : 0);
}
}  // namespace

HRESULT FilterGraph::PauseFilters() {
  HRESULT result = S_OK;
  for (const auto &filter : StateOrder()) {
    result = Merge(result, filter->Pause());
    if (FAILED(result)) return result;
  }
  return result;
}

HRESULT FilterGraph::RunFilters(REFERENCE_TIME start) {
  HRESULT result = S_OK;
  for (const auto &filter : StateOrder()) {
    result = Merge(result, filter->Run(start));
    if (FAILED(result)) return result;
  }
  return result;
}

HRESULT FilterGraph::StopFilters() {
  HRESULT result = S_OK;
  for (const auto &filter : StateOrder()) {
    const HRESULT hr = filter->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

bool FilterGraph::Cued() const {
  for (const auto &filter : StateOrder()) {
    FILTER_STATE state = State_Stopped;
    if (filter->GetState(0, &state) != S_OK) return false;
  }
  return true;
}

void FilterGraph::Cue() {
  if (state_ != State_Stopped || cued_ || !source_) return;
  if (SUCCEEDED(PauseFilters())) {
    cued_ = true;
  } else {
    StopFilters();
  }
  // The starter is made here, in the load, rather than by the game's first
  // play: a new thread can take the CPU from the thread that made it.
  if (!starter_.joinable()) {
    try {
      starter_ = std::thread(&FilterGraph::ServeStarts, this);
    } catch (const std::system_error &) {
      // Run tries again.
    }
  }
}

void FilterGraph::Uncue() {
  if (!cued_) return;
  cued_ = false;
  StopFilters();
}

void FilterGraph::ArmCompletion() {
  armOnRun_ = false;
  endNotice_.Cancel();
  // A graph without renderers has nothing to wait for.
  if (completion_.Arm(Renderers(), endNotice_.Generation())) {
    events_.Post({EC_COMPLETE, S_OK, 0});
  }
}

HRESULT FilterGraph::StartRun() {
  startPending_ = false;
  if (armOnRun_) ArmCompletion();
  const REFERENCE_TIME now = Now();
  const REFERENCE_TIME start =
      (source_ ? source_->EarliestStart(now, kRunLead) : now + kRunLead) - pausedAt_;
  const HRESULT hr = RunFilters(start);
  if (FAILED(hr)) {
    PauseFilters();
    return hr;
  }
  startTime_ = start;
  endNotice_.Run(clock_.get(), start);
  return S_OK;
}

void FilterGraph::CancelStart() {
  if (!startPending_) return;
  startPending_ = false;
  ++startSerial_;
  startChanged_.notify_all();
}

void FilterGraph::ServeStarts() {
  NameThisThread("cl-start");
  // Woken by the game's play, which must not lose its core to this thread;
  // then the first picture's arrival must start the run at once. The policy
  // changes are system calls, made outside the lock the game's calls take.
  RunAsBackgroundThread();
  GiveWayToStarter();
  std::unique_lock<SpinningRecursiveMutex> hold(stateLock_);
  for (;;) {
    startChanged_.wait(hold, [this] { return closing_ || startPending_; });
    if (closing_) return;
    const uint64_t serial = startSerial_;
    // From the play: the starter may have been woken some ms later.
    const auto began = startAsked_;
    const std::vector<ComPtr<IBaseFilter>> filters = StateOrder();
    const ComPtr<MovieSource> source = source_;
    hold.unlock();
    RunAsForegroundThread();
    // In short waits, so that a start taken back is noticed soon; a picture
    // that arrives ends the wait at once. So does the first picture decoded,
    // or far enough along: what is left of it takes far less than the run's
    // lead and the sound's latency, and the renderer takes it while running
    // as well. A first picture being decoded ahead is trusted kTrust after
    // the play unless its rows say it is slow: its decoder's set-up gives no
    // rows to go by, and in a new process (fresh memory) takes 7 ms at 1080p,
    // 25 to 55 ms at 4K, where the picture then decodes and converts in 25.
    const REFERENCE_TIME within = RunLead(source.get());
    constexpr DWORD kSliceMs = 10;
    constexpr auto kTrust = std::chrono::milliseconds(5);
    const auto deadline = began + std::chrono::milliseconds(kCueWaitMs);
    size_t cued = 0;
    while (cued < filters.size() && startSerial_ == serial &&
           std::chrono::steady_clock::now() < deadline) {
      const auto waited = std::chrono::steady_clock::now() - began;
      const DWORD slice = waited < kTrust
          ? static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(kTrust - waited).count())
          : kSliceMs;
      if (source && source->AwaitFirstPicture(slice, within)) break;
      if (source && std::chrono::steady_clock::now() - began >= kTrust &&
          source->FirstPictureUnderWay()) {
        break;
      }
      FILTER_STATE state = State_Stopped;
      if (filters[cued]->GetState(source ? 0 : kSliceMs, &state) != VFW_S_STATE_INTERMEDIATE) {
        ++cued;
      }
    }
    RunAsBackgroundThread();
    hold.lock();
    if (closing_) return;
    if (!startPending_ || startSerial_ != serial) continue;  // taken back, or a new cue
    const HRESULT hr = StartRun();
    if (FAILED(hr)) {
      state_ = State_Paused;
      runFailure_ = hr;
    }
  }
}

HRESULT FilterGraph::RunLocked() {
  if (state_ == State_Running) return S_OK;
  heldPicture_ = false;
  if (state_ == State_Stopped) {
    // Before the pause: then the source still tells where it will start.
    if (ComPtr<IMediaSeeking> target = SeekingTarget()) NoteSegmentStart(target.get());
    const HRESULT hr = PauseFilters();
    cued_ = false;
    if (FAILED(hr)) {
      StopFilters();
      return hr;
    }
    state_ = State_Paused;
    pausedAt_ = 0;
    segmentBase_ = 0;
  }
  if (Cued()) {
    // Nothing to wait for (a resume with its picture held): the run starts now.
    const HRESULT hr = StartRun();
    if (FAILED(hr)) return hr;
    state_ = State_Running;
    return S_OK;
  }
  // The first picture is still being decoded: the starter thread starts the run
  // when it is in, so that it is on time at stream time 0 rather than late (and
  // dropped); the game's thread does not wait for it.
  state_ = State_Running;
  startPending_ = true;
  startAsked_ = std::chrono::steady_clock::now();
  ++startSerial_;
  if (!starter_.joinable()) starter_ = std::thread(&FilterGraph::ServeStarts, this);
  startChanged_.notify_all();
  return S_OK;
}

STDMETHODIMP FilterGraph::Run() {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  return RunLocked();
}

STDMETHODIMP FilterGraph::Pause() {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  FILTER_STATE old = state_;
  if (startPending_) {
    // Never started: the filters are paused already, at the stream time they
    // paused at.
    CancelStart();
    old = State_Paused;
  } else if (old == State_Running) {
    pausedAt_ = std::max<REFERENCE_TIME>(0, Now() - startTime_);
  }
  endNotice_.Pause();
  const HRESULT hr = PauseFilters();
  cued_ = false;
  if (FAILED(hr)) {
    if (old == State_Stopped) StopFilters();
    return hr;
  }
  state_ = State_Paused;
  // Paused while running, the picture on show stays: nothing to wait for,
  // although the renderer may still wait for the next picture to hold.
  if (old == State_Running) heldPicture_ = true;
  return heldPicture_ ? S_OK : hr;
}

STDMETHODIMP FilterGraph::Stop() {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  CancelStart();
  runFailure_ = S_OK;
  heldPicture_ = false;
  completion_.Disarm();
  endNotice_.Stop();
  armOnRun_ = true;
  const HRESULT hr = StopFilters();
  cued_ = false;
  state_ = State_Stopped;
  pausedAt_ = 0;
  segmentBase_ = 0;
  return hr;
}

STDMETHODIMP FilterGraph::GetState(LONG milliseconds, OAFilterState *state) {
  if (!state) return E_POINTER;
  std::vector<ComPtr<IBaseFilter>> filters;
  {
    std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
    *state = state_;
    if (FAILED(runFailure_)) return runFailure_;
    // Stopped (also while cueing), a pending start and a pause of a running
    // graph have nothing to wait for.
    if (state_ == State_Stopped || startPending_ || heldPicture_) return S_OK;
    filters = StateOrder();
  }
  // The wait happens without the graph lock: the filters finish on their own threads.
  const bool forever = milliseconds < 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
  for (const auto &filter : filters) {
    DWORD wait = INFINITE;
    if (!forever) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      wait = DWORD(std::max<int64_t>(0, left.count()));
    }
    FILTER_STATE filterState = State_Stopped;
    const HRESULT hr = filter->GetState(wait, &filterState);
    if (FAILED(hr)) return hr;
    if (hr == VFW_S_STATE_INTERMEDIATE) return VFW_S_STATE_INTERMEDIATE;
  }
  return S_OK;
}

STDMETHODIMP FilterGraph::RenderFile(BSTR fileName) { return RenderFile(fileName, nullptr); }
STDMETHODIMP FilterGraph::AddSourceFilter(BSTR, IDispatch **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::get_FilterCollection(IDispatch **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::get_RegFilterCollection(IDispatch **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::StopWhenReady() { return E_NOTIMPL; }

}  // namespace mediagraph
