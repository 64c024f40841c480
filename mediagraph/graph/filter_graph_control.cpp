// FilterGraph: what the application asks of the graph's state (IMediaControl).
// Every change is queued for the worker (filter_graph_worker.cpp); nothing
// here waits for it, unless GetState is given a time to.

#include "mediagraph/graph/filter_graph.h"

#include <algorithm>
#include <chrono>

namespace mediagraph {

void FilterGraph::PostLocked(const Command &command) {
  const auto drop = [this](std::initializer_list<Command::Kind> kinds) {
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&kinds](const Command &queued) {
                                  return std::find(kinds.begin(), kinds.end(), queued.kind) !=
                                         kinds.end();
                                }),
                 queue_.end());
  };
  switch (command.kind) {
    case Command::kSeek: {
      // Replaces a queued jump and the load's cue; what the new one leaves
      // as it is (the current or the stop position), the queued one still sets.
      Command merged = command;
      const auto positioned = [](DWORD flags) {
        return (flags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
      };
      for (const Command &queued : queue_) {
        if (queued.kind != Command::kSeek) continue;
        if (!positioned(command.currentFlags) && positioned(queued.currentFlags)) {
          merged.current = queued.current;
          merged.currentFlags = queued.currentFlags;
        }
        if (!positioned(command.stopFlags) && positioned(queued.stopFlags)) {
          merged.stop = queued.stop;
          merged.stopFlags = queued.stopFlags;
        }
      }
      drop({Command::kSeek, Command::kCue});
      queue_.push_back(merged);
      break;
    }
    case Command::kStop:
      drop({Command::kRun, Command::kPause, Command::kSeek, Command::kCue});
      queue_.push_back(command);
      break;
    case Command::kVolume:
    case Command::kLoop:
      // Only the last one asked counts.
      drop({command.kind});
      queue_.push_back(command);
      break;
    default:
      queue_.push_back(command);
      break;
  }
  queued_.notify_all();
}

STDMETHODIMP FilterGraph::Run() {
  std::lock_guard<SpinningMutex> hold(lock_);
  if (asked_ == State_Running) return S_OK;
  asked_ = State_Running;
  // A Pause the worker has not taken yet, of a graph it runs: both go.
  if (TakeBackLastLocked(Command::kPause, State_Running)) return S_OK;
  PostLocked({Command::kRun});
  return S_OK;
}

bool FilterGraph::TakeBackLastLocked(Command::Kind kind, FILTER_STATE state) {
  if (queue_.empty() || queue_.back().kind != kind || published_.state != state) return false;
  // Only where nothing else queued changes the state.
  const auto changesState = [](const Command &queued) {
    return queued.kind == Command::kRun || queued.kind == Command::kPause ||
           queued.kind == Command::kStop;
  };
  if (std::count_if(queue_.begin(), queue_.end(), changesState) != 1) return false;
  queue_.pop_back();
  return true;
}

STDMETHODIMP FilterGraph::Pause() {
  {
    std::lock_guard<SpinningMutex> hold(lock_);
    const bool settled = SettledLocked();
    const FILTER_STATE before = asked_;
    const Published shown = published_;
    asked_ = State_Paused;
    // A Run the worker has not taken yet, of a graph it pauses: both go.
    if (!TakeBackLastLocked(Command::kRun, State_Paused) && before != State_Paused) {
      PostLocked({Command::kPause});
    }
    if (!settled) return S_FALSE;
    // A running graph keeps the picture on show: nothing to wait for.
    if (shown.state == State_Running && !shown.startPending) return S_OK;
    if (shown.heldPicture) return S_OK;
    if (shown.state == State_Running || (shown.state == State_Stopped && !shown.cued)) {
      return S_FALSE;
    }
  }
  // Paused or cued already: complete once every filter has its picture.
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  return Cued() ? S_OK : S_FALSE;
}

STDMETHODIMP FilterGraph::Stop() {
  ForgetEnd();  // the end of what played is no news once the game stopped
  std::lock_guard<SpinningMutex> hold(lock_);
  if (asked_ == State_Stopped && SettledLocked() && published_.runFailure == S_OK) return S_OK;
  asked_ = State_Stopped;
  jumping_ = false;
  PostLocked({Command::kStop});
  return S_OK;
}

STDMETHODIMP FilterGraph::GetState(LONG milliseconds, OAFilterState *state) {
  if (!state) return E_POINTER;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::max<LONG>(0, milliseconds));
  {
    std::unique_lock<SpinningMutex> hold(lock_);
    *state = asked_;
    if (milliseconds < 0) {
      return FAILED(published_.runFailure) && SettledLocked() ? published_.runFailure : S_OK;
    }
    if (!settled_.wait_until(hold, deadline, [this] { return SettledLocked(); })) {
      return VFW_S_STATE_INTERMEDIATE;
    }
    if (FAILED(published_.runFailure)) return published_.runFailure;
    if (asked_ != State_Paused || published_.heldPicture) return S_OK;
  }
  std::vector<ComPtr<IBaseFilter>> filters;
  {
    std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
    filters = StateOrder();
  }
  // The filters finish pausing on their own threads.
  for (const auto &filter : filters) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    FILTER_STATE filterState = State_Stopped;
    const HRESULT hr = filter->GetState(DWORD(std::max<int64_t>(0, left.count())), &filterState);
    if (FAILED(hr)) return hr;
    if (hr == VFW_S_STATE_INTERMEDIATE) return VFW_S_STATE_INTERMEDIATE;
  }
  return S_OK;
}

void FilterGraph::AwaitSettled() {
  std::unique_lock<SpinningMutex> hold(lock_);
  settled_.wait(hold, [this] { return SettledLocked(); });
}

STDMETHODIMP FilterGraph::RenderFile(BSTR fileName) { return RenderFile(fileName, nullptr); }
STDMETHODIMP FilterGraph::AddSourceFilter(BSTR, IDispatch **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::get_FilterCollection(IDispatch **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::get_RegFilterCollection(IDispatch **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::StopWhenReady() { return E_NOTIMPL; }

}  // namespace mediagraph
