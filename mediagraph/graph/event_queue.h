// The graph's queue of events for the application.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/host/spinning_mutex.h"
#include "platform/win32/types.h"

namespace mediagraph {

// Events wait here until the application takes them with Get. A manual-reset event
// handle mirrors the queue: signalled while it holds anything, for applications that
// wait on it themselves.
//
// Threads: Post from any thread (streaming, clock, timer, application); Get from any
// thread. lock_ is a leaf: nothing else is locked or called while it is held, apart
// from setting and resetting the handle.
class EventQueue {
 public:
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  EventQueue();
  ~EventQueue();
  EventQueue(const EventQueue &) = delete;
  EventQueue &operator=(const EventQueue &) = delete;

  // False when the handle could not be created.
  bool Valid() const { return handle_ != nullptr; }
  HANDLE Handle() const { return handle_; }

  void Post(const Event &event);
  // Takes the oldest event, waiting up to `milliseconds` (INFINITE: no limit) for one.
  // False when none came in time.
  bool Get(Event *event, DWORD milliseconds);
  void Clear();
  // Takes back the newest queued event with `code`; false when there is none.
  bool Retract(LONG code);

 private:
  void UpdateHandle();  // lock_ held

  const HANDLE handle_;  // manual reset; signalled while events_ is not empty
  SpinningMutex lock_;  // the game's thread polls it every frame
  std::condition_variable_any posted_;
  std::deque<Event> events_;  // guarded by lock_
};

}  // namespace mediagraph
