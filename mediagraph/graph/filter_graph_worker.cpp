// FilterGraph: the worker thread, which makes every change of the graph's
// state in the order it was asked for, and takes the graph apart at the end.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "mediagraph/graph/filter_graph.h"
#include "platform/host/exit_deadline.h"
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

// Graphs released and not yet taken apart by their workers, which run
// detached: the game's last Release does not wait for them. Never destroyed,
// so that a worker ending at exit finds it.
struct Released {
  std::mutex lock;
  std::condition_variable none;
  int count = 0;  // lock
  bool exitHooked = false;
};

Released &TheReleased() {
  static auto *released = new Released;
  return *released;
}

void AwaitAtExit() {
  const auto left = ExitDeadline() - std::chrono::steady_clock::now();
  AwaitReleasedGraphs(DWORD(std::max<int64_t>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count())));
}

}  // namespace

bool AwaitReleasedGraphs(DWORD milliseconds) {
  Released &released = TheReleased();
  std::unique_lock<std::mutex> hold(released.lock);
  return released.none.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                [&released] { return released.count == 0; });
}

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
  if (ComPtr<IMediaSeeking> target = FindSeekingTarget()) NoteSegmentStart(target.get());
  if (SUCCEEDED(PauseFilters())) {
    cued_ = true;
  } else {
    StopFilters();
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

void FilterGraph::ForgetEnd() {
  endNotice_.Cancel();
  while (events_.Retract(EC_COMPLETE)) {
  }
}

void FilterGraph::TakeBackCompletion() {
  completion_.Disarm();
  ForgetEnd();
}

void FilterGraph::StartRun() {
  startPending_ = false;
  if (armOnRun_) ArmCompletion();
  const REFERENCE_TIME now = Now();
  REFERENCE_TIME start =
      (source_ ? source_->EarliestStart(now, kRunLead) : now + kRunLead) - pausedAt_;
  // A pause taken back at once (a game's quick pause and play): the stream
  // goes on from where it stood, rather than a lead later each time. The
  // sound catches up by skipping what it missed.
  if (heldPicture_ && pausedAt_ > 0 &&
      std::chrono::steady_clock::now() - pauseBegan_ <
          std::chrono::microseconds(RunLead(source_.get()) / 10)) {
    start = std::max(startTime_, now - pausedAt_);
  }
  heldPicture_ = false;
  const HRESULT hr = RunFilters(start);
  if (FAILED(hr)) {
    PauseFilters();
    state_ = State_Paused;
    runFailure_ = hr;
    return;
  }
  startTime_ = start;
  endNotice_.Run(clock_.get(), start);
}

void FilterGraph::DoRun() {
  if (state_ == State_Running) return;
  if (state_ == State_Stopped) {
    // Before the pause: then the source still tells where it will start.
    if (!cued_) {
      if (ComPtr<IMediaSeeking> target = FindSeekingTarget()) NoteSegmentStart(target.get());
    }
    const HRESULT hr = PauseFilters();
    cued_ = false;
    if (FAILED(hr)) {
      StopFilters();
      runFailure_ = hr;
      return;
    }
    state_ = State_Paused;
    pausedAt_ = 0;
    segmentBase_ = 0;
    heldPicture_ = false;
  }
  state_ = State_Running;
  if (heldPicture_ || Cued()) {
    // Nothing to wait for (a resume with its picture held): the run starts now.
    StartRun();
    return;
  }
  // The first picture is still being decoded: the run starts when it is in,
  // so that it is on time at stream time 0 rather than late (and dropped).
  startPending_ = true;
  startAsked_ = std::chrono::steady_clock::now();
}

void FilterGraph::DoPause() {
  FILTER_STATE old = state_;
  if (startPending_) {
    // Never started: the filters are paused already.
    startPending_ = false;
    old = State_Paused;
  } else if (old == State_Running) {
    pausedAt_ = std::max<REFERENCE_TIME>(0, Now() - startTime_);
    pauseBegan_ = std::chrono::steady_clock::now();
  }
  endNotice_.Pause();
  const HRESULT hr = PauseFilters();
  cued_ = false;
  if (FAILED(hr)) {
    if (old == State_Stopped) StopFilters();
    return;
  }
  state_ = State_Paused;
  // Paused while running, the picture on show stays: nothing to wait for.
  if (old == State_Running) heldPicture_ = true;
}

void FilterGraph::DoStop() {
  startPending_ = false;
  runFailure_ = S_OK;
  heldPicture_ = false;
  TakeBackCompletion();
  endNotice_.Stop();
  armOnRun_ = true;
  StopFilters();
  cued_ = false;
  state_ = State_Stopped;
  pausedAt_ = 0;
  segmentBase_ = 0;
}

void FilterGraph::DoSeek(const Command &command) {
  ComPtr<IMediaSeeking> target = FindSeekingTarget();
  if (!target) return;
  LONGLONG current = command.current;
  LONGLONG stop = command.stop;
  const bool moves =
      (command.currentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
  if (!moves) {
    target->SetPositions(&current, command.currentFlags, &stop, command.stopFlags);
    return;
  }
  // Completions of the old segment no longer count, nor does a notice waiting
  // for its end.
  TakeBackCompletion();
  if (state_ != State_Running || startPending_) {
    // The next run starts the new segment at stream time 0; a pending one
    // waits for the new segment's first picture.
    armOnRun_ = true;
    heldPicture_ = false;
    target->SetPositions(&current, command.currentFlags, &stop, command.stopFlags);
    pausedAt_ = 0;
    segmentBase_ = 0;
    NoteSegmentStart(target.get());
    if (startPending_) startAsked_ = std::chrono::steady_clock::now();
    return;
  }
  // Running: the source starts the new segment at the stream time reached, on
  // the running clock, so its first sample is due at once and nothing pauses.
  // Counting starts before the seek: a very short segment may complete before
  // it returns.
  ArmCompletion();
  previousStart_ = segmentStart_;
  previousBase_ = segmentBase_;
  target->SetPositions(&current, command.currentFlags, &stop, command.stopFlags);
  // The source knows where it started: a loop's pass starts where the last
  // one ended, a little ahead of the seek.
  segmentBase_ = source_ ? source_->SegmentBase() : std::max<REFERENCE_TIME>(0, Now() - startTime_);
  NoteSegmentStart(target.get());
}

void FilterGraph::DoLoop(LONG hint) {
  const bool repetitive = (hint & kLoops) != 0;
  if (!source_) return;
  source_->SetLooping(repetitive);
  // A looping movie's end is told a little early, for the seek to its start.
  // If that end is still waiting or queued and no loop follows, it is told
  // when the movie has really played to its end.
  if (!repetitive && state_ != State_Stopped &&
      (endNotice_.Pending() || (hint & kEndTakenBack) != 0 || events_.Retract(EC_COMPLETE))) {
    endNotice_.Due(source_->StreamEnd(), endNotice_.Generation());
  }
}

void FilterGraph::Execute(const Command &command) {
  switch (command.kind) {
    case Command::kCue: break;  // the worker cues once it is idle
    case Command::kRun: DoRun(); break;
    case Command::kPause: DoPause(); break;
    case Command::kStop: DoStop(); break;
    case Command::kSeek: DoSeek(command); break;
    case Command::kVolume:
      if (source_) source_->SetVolume(command.value);
      break;
    case Command::kLoop: DoLoop(command.value); break;
    case Command::kTearDown: break;
  }
}

void FilterGraph::Publish() {
  std::lock_guard<SpinningMutex> hold(lock_);
  published_.state = state_;
  published_.startPending = startPending_;
  published_.heldPicture = heldPicture_;
  published_.cued = cued_;
  published_.startTime = startTime_;
  published_.pausedAt = pausedAt_;
  published_.segmentStart = segmentStart_;
  published_.segmentBase = segmentBase_;
  published_.previousStart = previousStart_;
  published_.previousBase = previousBase_;
  published_.runFailure = runFailure_;
  if (jumping_ && std::none_of(queue_.begin(), queue_.end(), [](const Command &queued) {
        return queued.kind == Command::kSeek;
      })) {
    jumping_ = false;
  }
}

bool FilterGraph::AwaitStartable(const StartWait &wait) {
  const auto commandCame = [this] {
    std::lock_guard<SpinningMutex> hold(lock_);
    return !queue_.empty();
  };
  // In short waits, so that a command is taken soon; a picture that arrives
  // ends the wait at once. So does the first picture decoded, or far enough
  // along: what is left of it takes far less than the run's lead and the
  // sound's latency, and the renderer takes it while running as well. A
  // first picture being decoded ahead is trusted kTrust after the play unless
  // its rows say it is slow: its decoder's set-up gives no rows to go by, and
  // in a new process (fresh memory) takes 7 ms at 1080p, 25 to 55 ms at 4K,
  // where the picture then decodes and converts in 25.
  MovieSource *source = wait.source.get();
  const REFERENCE_TIME within = RunLead(source);
  constexpr DWORD kSliceMs = 10;
  constexpr auto kTrust = std::chrono::milliseconds(5);
  const auto deadline = wait.began + std::chrono::milliseconds(kCueWaitMs);
  size_t cued = 0;
  while (cued < wait.filters.size()) {
    if (commandCame()) return false;
    if (std::chrono::steady_clock::now() >= deadline) return true;
    const auto waited = std::chrono::steady_clock::now() - wait.began;
    const DWORD slice =
        waited < kTrust
            ? static_cast<DWORD>(
                  std::chrono::ceil<std::chrono::milliseconds>(kTrust - waited).count())
            : kSliceMs;
    if (source && source->AwaitFirstPicture(slice, within)) return true;
    if (source && std::chrono::steady_clock::now() - wait.began >= kTrust &&
        source->FirstPictureUnderWay()) {
      return true;
    }
    FILTER_STATE state = State_Stopped;
    if (wait.filters[cued]->GetState(source ? 0 : kSliceMs, &state) !=
        VFW_S_STATE_INTERMEDIATE) {
      ++cued;
    }
  }
  return true;
}

FilterGraph::Command FilterGraph::NextCommand() {
  for (;;) {
    {
      std::lock_guard<SpinningMutex> hold(lock_);
      if (!queue_.empty()) {
        Command command = queue_.front();
        queue_.pop_front();
        working_ = true;
        return command;
      }
    }
    StartWait wait;
    bool pending = false;
    {
      std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
      if (state_ == State_Stopped && !cued_ && source_) {
        Cue();
        Publish();
      }
      pending = startPending_;
      if (pending) wait = {StateOrder(), source_, startAsked_};
    }
    {
      std::unique_lock<SpinningMutex> hold(lock_);
      working_ = false;
      settled_.notify_all();
      if (!pending) {
        // Nothing to do until asked: the worker sleeps.
        queued_.wait(hold, [this] { return !queue_.empty(); });
        continue;
      }
    }
    if (!AwaitStartable(wait)) continue;
    std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
    if (!startPending_) continue;
    StartRun();
    Publish();
  }
}

void FilterGraph::Work() {
  NameThisThread("cl-graph");
  for (;;) {
    const Command command = NextCommand();
    if (command.kind == Command::kTearDown) {
      TearDown();  // deletes this
      return;
    }
    std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
    Execute(command);
    Publish();
  }
}

bool FilterGraph::Init(IReferenceClock *clock) {
  if (clock != nullptr) {
    clock_ = ComPtr<IReferenceClock>(clock);
  } else {
    SystemClock *own = nullptr;
    if (FAILED(SystemClock::Create(&own))) return false;
    clock_ = ComPtr<IReferenceClock>::Adopt(static_cast<IReferenceClock *>(own));
  }
  if (!events_.Valid()) return false;
  try {
    worker_ = std::thread(&FilterGraph::Work, this);
  } catch (const std::system_error &) {
    return false;
  }
  return true;
}

STDMETHODIMP_(ULONG) FilterGraph::Release() {
  const LONG left = --refs_;
  if (left != 0) return static_cast<ULONG>(left);
  if (!worker_.joinable()) {
    delete this;  // never started
    return 0;
  }
  Released &released = TheReleased();
  {
    std::lock_guard<std::mutex> hold(released.lock);
    ++released.count;
    if (!released.exitHooked) released.exitHooked = std::atexit(&AwaitAtExit) == 0;
  }
  std::lock_guard<SpinningMutex> hold(lock_);
  queue_.clear();
  queue_.push_back({Command::kTearDown});
  queued_.notify_all();
  return 0;
}

void FilterGraph::TearDown() {
  {
    std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
    StopFilters();
    completion_.Disarm();
    endNotice_.Stop();
    playing_ = nullptr;
    // Take the connections apart before anything goes, so that no filter is
    // left holding a peer of a filter that is released.
    for (auto &member : members_) {
      for (const auto &pin : PinsOf(member.filter.get())) pin->Disconnect();
    }
    for (auto &member : members_) {
      member.filter->SetSyncSource(nullptr);
      member.filter->JoinFilterGraph(nullptr, nullptr);
    }
    videoRenderer_ = nullptr;
    source_.reset();
    {
      std::lock_guard<SpinningMutex> published(lock_);
      target_.reset();
    }
    members_.clear();  // the source's last reference joins its threads here
  }
  worker_.detach();
  delete this;
  Released &released = TheReleased();
  std::lock_guard<std::mutex> hold(released.lock);
  if (--released.count == 0) released.none.notify_all();
}

}  // namespace mediagraph
