// The graph's one EC_COMPLETE per end of the movie, held until the stream time
// has reached that end.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/media/streaming.h"

namespace mediagraph {

// A renderer may complete before the end of its stream (the video renderer up
// to 50 ms before the last picture's stop time), and the last picture must
// still get its whole time. So once every renderer has completed, the notice
// waits on the graph clock until run start + the end's stream time, and only
// then posts.
//
//   idle --Due(end)--> pending --clock reaches start + end while running--> posted (idle)
//                       |   ^
//               Pause   |   |  Run(clock, start): waits again against the new start
//                       v   |
//                       held
//   Cancel (seek) takes any state back to idle without posting; Stop does too
//   and forgets the run, so nothing waits against its start until the next Run.
//
// Each Cancel and Stop starts a new generation. A completion is counted in the
// generation its renderers were armed in and is due in that one only: one that
// was on its way while a seek or stop disarmed never posts.
//
// Threads: Run and Pause on the graph's worker, Cancel there and on the
// application's thread (a jump or stop asked); Due from any thread
// (the one that delivered the last completion); the clock's advise wakes a
// waiter thread of our own, started with the first wait. The post is made under
// lock_, so once Cancel returns no notice of the old end can still come.
// lock_ is taken before the clock's lock and the event queue's, never after.
class EndNotice {
 public:
  using Post = std::function<void()>;

  explicit EndNotice(Post post);
  ~EndNotice();
  EndNotice(const EndNotice &) = delete;
  EndNotice &operator=(const EndNotice &) = delete;

  // The graph runs: stream time 0 falls on `start` of `clock` (not counted; it
  // must outlive the notice's use of it).
  void Run(IReferenceClock *clock, REFERENCE_TIME start);
  // The graph pauses: a pending notice waits for the next Run.
  void Pause();
  // Forgets a pending notice and starts a new generation.
  void Cancel();
  // The graph stops: as Cancel, and the run is over.
  void Stop();
  // The generation completions armed from now on belong to.
  uint64_t Generation() const;
  // Every renderer armed in `generation` has completed; the movie ends at
  // stream time `end`. Posts at once when that time has come (or there is no
  // clock); nothing when a later generation has begun.
  void Due(REFERENCE_TIME end, uint64_t generation);
  // As Due, for a graph without a movie: no end to wait for.
  void DueNow(uint64_t generation);

  // A notice is waiting for its time (for tests).
  bool Pending() const;

 private:
  void WaitLocked();      // lock_ held
  void PostIfDueLocked();  // lock_ held
  void Serve();           // waiter thread

  const Post post_;
  const HANDLE fired_;  // auto reset: an advise fired, or the notice closes

  mutable std::mutex lock_;
  // --- guarded by lock_
  bool pending_ = false;
  bool running_ = false;
  bool closing_ = false;
  uint64_t generation_ = 0;
  IReferenceClock *clock_ = nullptr;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME end_ = 0;
  DWORD_PTR cookie_ = 0;  // the clock advise for start_ + end_, 0 = none
  std::thread waiter_;
};

}  // namespace mediagraph
